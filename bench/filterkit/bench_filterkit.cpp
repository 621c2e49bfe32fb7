// The four primitives and Ziduv's two frame operations at 640 × 480, each as
// a multiple of a memset of the same frame measured in this run.
#include "../Yardstick.h"

#include "engine/AddonLibrary.h"
#include "engine/FilterDriver.h"
#include "engine/Frame.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

namespace {

using tw::bench::measureAgainst;
using tw::bench::yardstickNanos;

struct Setup {
  explicit Setup(int mode) : frame({640, 480, mode, 0}) {
    f.pixelMode = mode;
    f.bytesPerRow = frame.geometry().rowBytes();
    f.frameBytes = frame.geometry().frameBytes();
    f.frame = &frame.info();
  }
  CFilter f;
  tw::Frame frame;
};

void BM_Memset8(benchmark::State& state) {
  std::vector<unsigned char> buf(307200);
  for (auto _ : state) {
    std::memset(buf.data(), 1, buf.size());
    benchmark::ClobberMemory();
  }
}
void BM_Memset32(benchmark::State& state) {
  std::vector<unsigned char> buf(307200 * 4);
  for (auto _ : state) {
    std::memset(buf.data(), 1, buf.size());
    benchmark::ClobberMemory();
  }
}

// 500 lines of a scope: short vertical bars and general-case segments.
template <int Mode>
void BM_Lines(benchmark::State& state) {
  Setup s(Mode);
  const double ys = yardstickNanos(s.frame.size());
  measureAgainst(state, ys, "memsets", [&] {
    for (int i = 0; i < 250; ++i) {
      if constexpr (Mode == 1) {
        s.f.blitLine8(10 + i, 109, 10 + i, 109 - (i * 37 % 100), uint8(i));
        s.f.blitLine8(320, 240, 320 + int(200 * std::cos(i * 0.025)), 240 + int(200 * std::sin(i * 0.025)),
                      52);
      } else {
        s.f.blitLine32(10 + i, 109, 10 + i, 109 - (i * 37 % 100), uint32(i));
        s.f.blitLine32(320, 240, 320 + int(200 * std::cos(i * 0.025)), 240 + int(200 * std::sin(i * 0.025)),
                       0xDF00);
      }
    }
  });
}

// A full-frame clear plus 160 small bars.
template <int Mode>
void BM_Rects(benchmark::State& state) {
  Setup s(Mode);
  const double ys = yardstickNanos(s.frame.size());
  measureAgainst(state, ys, "memsets", [&] {
    if constexpr (Mode == 1) {
      s.f.blitRect8(0, 0, 640, 480, 0);
      for (int i = 0; i < 160; ++i) s.f.blitRect8(4 * i, 300, 4 * i + 3, 320 + i, 250);
    } else {
      s.f.blitRect32(0, 0, 640, 480, 0);
      for (int i = 0; i < 160; ++i) s.f.blitRect32(4 * i, 300, 4 * i + 3, 320 + i, 0xDFDF00);
    }
  });
}

// Ziduv from its built file, on a busy waveform.
template <int Mode>
void BM_Ziduv(benchmark::State& state) {
  std::string why;
  auto lib = tw::AddonLibrary::open(std::string(TW_BENCH_ADDON_DIR) + "/Ziduv", &why);
  if (!lib) {
    state.SkipWithError(why.c_str());
    return;
  }
  tw::FilterDriver driver(lib->create(0));
  tw::FrameGeometry g{640, 480, Mode, 0};
  tw::Frame frame(g);
  driver.load();
  driver.prepare(g, tw_system_palette(), tw_system_palette32());
  for (int i = 0; i < tw::Frame::kSamples; ++i) frame.samples()[i] = int32(12000 * std::sin(i * 0.7));
  const double ys = yardstickNanos(frame.size());
  measureAgainst(state, ys, "memsets", [&] { driver.draw(frame.info()); });
}

}  // namespace

BENCHMARK(BM_Memset8);
BENCHMARK(BM_Memset32);
BENCHMARK(BM_Lines<1>)->Name("blitLine8_500_lines");
BENCHMARK(BM_Lines<2>)->Name("blitLine32_500_lines");
BENCHMARK(BM_Rects<1>)->Name("blitRect8_clear_and_160_bars");
BENCHMARK(BM_Rects<2>)->Name("blitRect32_clear_and_160_bars");
BENCHMARK(BM_Ziduv<1>)->Name("Ziduv_processFrame8");
BENCHMARK(BM_Ziduv<2>)->Name("Ziduv_processFrame32");
BENCHMARK_MAIN();
