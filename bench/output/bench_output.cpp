// The outputs' own work per frame, each figure a multiple of a memcpy of the
// XRGB output picture measured in the same run ("memcpys").
// - The scaler, 640x480 into 1920x1080 and 3840x2160 (contained: 1440x1080
//   and 2880x2160 of picture), nearest and smooth, from 8-bit and 32-bit
//   frames; beside libswscale doing the same (SWS_POINT, SWS_BILINEAR into
//   the same rectangle, the bars cleared alike).
// - YUV 4:2:0 of an 8-bit 640x480 frame shown as it is: straight through
//   per-palette-entry tables, beside expanding it to XRGB (the scaler's
//   identity) and converting that, as the sinks do; and of a 1920x1080 XRGB
//   picture.
#include "../Yardstick.h"

#include "output/Scaler.h"
#include "output/Yuv.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
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

// YUV 4:2:0 of an 8-bit frame from per-palette-entry tables (video range):
// the way the host converted 8-bit frames before the scaler, kept here to
// show what expanding to XRGB first costs beside it.
void yuvByTables(const tw::Frame& frame, const uint32_t* palette, uint8_t* out) {
  const int w = frame.geometry().width, h = frame.geometry().height, cw = (w + 1) / 2, ch = (h + 1) / 2;
  const int k[3][3] = {{16829, 33039, 6416}, {-9714, -19071, 28784}, {28784, -24103, -4681}};
  uint8_t yOf[256];
  int uOf[256], vOf[256];
  for (int i = 0; i < 256; ++i) {
    const int r = int(palette[i] >> 16 & 255), g = int(palette[i] >> 8 & 255), b = int(palette[i] & 255);
    yOf[i] = uint8_t(std::clamp(16 + ((k[0][0] * r + k[0][1] * g + k[0][2] * b + 32768) >> 16), 0, 255));
    uOf[i] = k[1][0] * r + k[1][1] * g + k[1][2] * b;
    vOf[i] = k[2][0] * r + k[2][1] * g + k[2][2] * b;
  }
  const uint8_t* px = frame.pixels();
  for (int i = 0; i < w * h; ++i) out[i] = yOf[px[i]];
  uint8_t* u = out + w * h;
  uint8_t* v = u + cw * ch;
  auto chroma = [](int sum) { return uint8_t(std::clamp(128 + ((sum + (1 << 17)) >> 18), 0, 255)); };
  for (int y = 0; y < ch; ++y) {
    const uint8_t* r0 = px + 2 * y * w;
    const uint8_t* r1 = 2 * y + 1 < h ? r0 + w : r0;
    for (int x = 0; x < cw; ++x) {
      const int x0 = 2 * x, x1 = 2 * x + 1 < w ? 2 * x + 1 : 2 * x;
      u[y * cw + x] = chroma(uOf[r0[x0]] + uOf[r0[x1]] + uOf[r1[x0]] + uOf[r1[x1]]);
      v[y * cw + x] = chroma(vOf[r0[x0]] + vOf[r0[x1]] + vOf[r1[x0]] + vOf[r1[x1]]);
    }
  }
}

void BM_YuvOf8BitFrame(benchmark::State& state) {
  const bool throughXrgb = state.range(0) != 0;
  Source src(1);
  tw::Scaler scaler(src.frame.geometry(), 0, 0);
  std::vector<uint32_t> xrgb(640 * 480);
  std::vector<uint8_t> planes(tw::yuv420Bytes(640, 480));
  const double memcpy = yardstickNanos(xrgb.size() * 4, true);
  measureAgainst(state, memcpy, "memcpys", [&] {
    if (throughXrgb) {
      scaler.scale(src.frame, src.palette, reinterpret_cast<uint8_t*>(xrgb.data()), 640 * 4);
      tw::xrgbToYuv420(reinterpret_cast<const uint8_t*>(xrgb.data()), 640, 480, 640 * 4, tw::YuvRange::Video,
                       planes.data());
    } else {
      yuvByTables(src.frame, src.palette, planes.data());
    }
    benchmark::DoNotOptimize(planes.data());
  });
}

void BM_YuvOfHdXrgb(benchmark::State& state) {
  std::mt19937 rng(4);
  std::vector<uint32_t> xrgb(1920 * 1080);
  for (uint32_t& p : xrgb) p = rng() & 0xFFFFFF;
  std::vector<uint8_t> planes(tw::yuv420Bytes(1920, 1080));
  const double memcpy = yardstickNanos(xrgb.size() * 4, true);
  measureAgainst(state, memcpy, "memcpys", [&] {
    tw::xrgbToYuv420(reinterpret_cast<const uint8_t*>(xrgb.data()), 1920, 1080, 1920 * 4, tw::YuvRange::Video,
                     planes.data());
    benchmark::DoNotOptimize(planes.data());
  });
}

}  // namespace

BENCHMARK(BM_YuvOf8BitFrame)->ArgName("through_xrgb")->Arg(0)->Arg(1);
BENCHMARK(BM_YuvOfHdXrgb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scaler)->Apply(scaleCases)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Swscale)->Apply(scaleCases)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
