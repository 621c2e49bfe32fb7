// The outputs' own work per frame, each figure a multiple of a memcpy of the
// output picture measured in the same run ("memcpys").
// - The scaler, 640x480 into 1920x1080 and 3840x2160 (contained: 1440x1080
//   and 2880x2160 of picture), nearest and smooth, from 8-bit and 32-bit
//   frames; beside libswscale doing the same (SWS_POINT, SWS_BILINEAR into
//   the same rectangle, the bars cleared alike).
#include "../Yardstick.h"

#include "output/Scaler.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstring>
#include <random>
#include <vector>

namespace {

using tw::bench::measureAgainst;
using tw::bench::yardstickNanos;

// A scope-like frame: mostly black, a band of lit pixels.
struct Source {
  tw::Frame frame;
  uint32_t palette[256];
  explicit Source(int mode) : frame(tw::FrameGeometry{640, 480, mode, 0}) {
    std::mt19937 rng(3);
    for (uint32_t& p : palette) p = rng() & 0xFFFFFF;
    for (size_t i = 0; i < frame.size(); ++i) frame.pixels()[i] = uint8_t(rng());
  }
};

struct Case {
  int mode, outW, outH;
  tw::ScaleFilter filter;
};
Case caseOf(const benchmark::State& state) {
  return {int(state.range(0)), int(state.range(1)), int(state.range(2)), tw::ScaleFilter(state.range(3))};
}

void BM_Scaler(benchmark::State& state) {
  const Case c = caseOf(state);
  Source src(c.mode);
  tw::Scaler scaler(src.frame.geometry(), c.outW, c.outH, tw::Fit::Contain, c.filter);
  std::vector<uint32_t> out(size_t(c.outW) * size_t(c.outH));
  const double memcpy = yardstickNanos(out.size() * 4, true);
  measureAgainst(state, memcpy, "memcpys", [&] {
    scaler.scale(src.frame, src.palette, reinterpret_cast<uint8_t*>(out.data()), size_t(c.outW) * 4);
    benchmark::DoNotOptimize(out.data());
  });
}

void BM_Swscale(benchmark::State& state) {
  const Case c = caseOf(state);
  Source src(c.mode);
  const tw::Placement p = tw::placePicture(640, 480, c.outW, c.outH, tw::Fit::Contain);
  SwsContext* ctx = sws_getContext(640, 480, c.mode == 2 ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_PAL8, p.picture.width,
                                   p.picture.height, AV_PIX_FMT_BGR0,
                                   c.filter == tw::ScaleFilter::Nearest ? SWS_POINT : SWS_BILINEAR, nullptr,
                                   nullptr, nullptr);
  if (ctx == nullptr) return state.SkipWithError("sws_getContext failed");
  std::vector<uint32_t> out(size_t(c.outW) * size_t(c.outH));
  const double memcpy = yardstickNanos(out.size() * 4, true);
  const uint8_t* planes[4] = {src.frame.pixels(), reinterpret_cast<const uint8_t*>(src.palette)};
  const int strides[4] = {src.frame.geometry().rowBytes(), 0};
  const size_t outRow = size_t(c.outW) * 4;
  uint8_t* base = reinterpret_cast<uint8_t*>(out.data());
  uint8_t* dst[4] = {base + size_t(p.picture.y) * outRow + size_t(p.picture.x) * 4};
  const int dstStrides[4] = {int(outRow)};
  measureAgainst(state, memcpy, "memcpys", [&] {
    for (int y = 0; y < c.outH; ++y) {  // the bars, as the scaler clears them
      uint8_t* row = base + size_t(y) * outRow;
      std::memset(row, 0, size_t(p.picture.x) * 4);
      std::memset(row + size_t(p.picture.x + p.picture.width) * 4, 0,
                  size_t(c.outW - p.picture.x - p.picture.width) * 4);
    }
    sws_scale(ctx, planes, strides, 0, 480, dst, dstStrides);
    benchmark::DoNotOptimize(out.data());
  });
  sws_freeContext(ctx);
}

void scaleCases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"mode", "w", "h", "smooth"});
  for (int filter : {0, 1})
    for (int mode : {1, 2})
      for (auto [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) b->Args({mode, w, h, filter});
}

}  // namespace

BENCHMARK(BM_Scaler)->Apply(scaleCases)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Swscale)->Apply(scaleCases)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
