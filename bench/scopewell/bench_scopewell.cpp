// Each Scopewell filter's frame at 640 × 480 in both pixel modes, from the
// built file, as a multiple of a memset of the same frame measured in this
// run. The sound is loud enough that every bar, line and fan ray is long.
#include "../Yardstick.h"

#include "engine/AddonLibrary.h"
#include "engine/FilterDriver.h"
#include "engine/Frame.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>

namespace {

using tw::bench::measureAgainst;
using tw::bench::yardstickNanos;

// A spectrum that falls off with the bin, with a ripple; levels and bands
// halfway up their panels.
void fillSound(SFrameInfo& rec, int32 frameCount) {
  for (int ch = 0; ch < 2; ++ch) {
    for (int i = 0; i < tw::Frame::kSpectrum; ++i)
      rec.spectrum[ch][i] = float(8.0e6 / (1.0 + 0.05 * i) * (1.2 + std::sin(0.3 * i + ch)));
    rec.level[ch] = 8192.0 * 50;
    for (int b = 0; b < 8; ++b) rec.bands[ch][b] = 8192.0 * (40 + 30 * b);
  }
  rec.frameCount = frameCount;
}

template <int Mode>
void BM_Filter(benchmark::State& state) {
  std::string why;
  auto lib = tw::AddonLibrary::open(std::string(TW_BENCH_ADDON_DIR) + "/Scopewell", &why);
  if (!lib) {
    state.SkipWithError(why.c_str());
    return;
  }
  tw::FilterDriver driver(lib->create(int32(state.range(0))));
  tw::FrameGeometry g{640, 480, Mode, 0};
  tw::Frame frame(g);
  driver.load();
  if (!driver.prepare(g, tw_system_palette(), tw_system_palette32())) {
    state.SkipWithError("prepare failed");
    return;
  }
  state.SetLabel(driver.filter().name);
  fillSound(frame.info(), 0);
  const double ys = yardstickNanos(frame.size());
  int32 count = 0;
  measureAgainst(state, ys, "memsets", [&] {
    frame.info().frameCount = count++ & 1023;  // FFT Central's rows scroll
    driver.draw(frame.info());
  });
}

}  // namespace

BENCHMARK(BM_Filter<1>)->Name("Scopewell_processFrame8")->DenseRange(0, 3);
BENCHMARK(BM_Filter<2>)->Name("Scopewell_processFrame32")->DenseRange(0, 3);
BENCHMARK_MAIN();
