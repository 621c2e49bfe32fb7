// TideTorus at 640 × 480 in both modes, from the built Vodid file, as a
// multiple of a memset of the same frame; and, on a copy of the filter linked
// into this program, the share of a frame spent in pre_update (angles,
// levels and the 384 vertices with their 1152 table rotations).
#include "../Yardstick.h"

#include "Basic_addon.h"
#include "engine/AddonLibrary.h"
#include "engine/FilterDriver.h"
#include "engine/Frame.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace {

using tw::bench::measureAgainst;
using tw::bench::yardstickNanos;

// A typical loud passage: strong bass falling off towards the highs, bins 9
// and 10 near the wave threshold.
void fillSpectrum(tw::Frame& frame) {
  float* s = frame.spectrum(1);
  for (int k = 0; k < tw::Frame::kSpectrum; ++k) s[k] = float(1.5e6 * std::exp(-k / 25.0) + 20000.0);
}

void BM_Memset(benchmark::State& state) {
  std::vector<unsigned char> buf(size_t(307200 * state.range(0)));
  for (auto _ : state) {
    std::memset(buf.data(), 1, buf.size());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Memset)->Arg(1)->Arg(4)->ArgName("bytesPerPixel");

// One whole frame (pre_update, 768 lines, post_update) from the add-on file.
void BM_TideTorus(benchmark::State& state) {
  const int mode = int(state.range(0));
  std::string why;
  auto lib = tw::AddonLibrary::open(std::string(TW_BENCH_ADDON_DIR) + "/Vodid", &why);
  if (!lib) {
    state.SkipWithError(why.c_str());
    return;
  }
  tw::FilterDriver driver(lib->create(0));
  const tw::FrameGeometry g{640, 480, mode, 0};
  tw::Frame frame(g);
  fillSpectrum(frame);
  if (!driver.load() || !driver.prepare(g, tw_system_palette(), tw_system_palette32())) {
    state.SkipWithError("TideTorus would not load or prepare");
    return;
  }
  const double ys = yardstickNanos(frame.size());
  measureAgainst(state, ys, "memsets", [&] { driver.draw(frame.info()); });
}
BENCHMARK(BM_TideTorus)->Arg(1)->Arg(2)->ArgName("mode");

// The linked copy: a whole frame and pre_update alone, timed side by side.
void BM_PreUpdateShare(benchmark::State& state) {
  const int mode = int(state.range(0));
  CSampleFftFilter f;
  const tw::FrameGeometry g{640, 480, mode, 0};
  tw::Frame frame(g);
  fillSpectrum(frame);
  f.pixelMode = mode;
  f.bytesPerRow = g.rowBytes();
  f.frameBytes = g.frameBytes();
  f.frame = &frame.info();
  if (!f.load() || !f.prepare()) {
    state.SkipWithError("TideTorus would not load or prepare");
    return;
  }
  const double ys = yardstickNanos(frame.size());
  using clock = std::chrono::steady_clock;
  clock::duration whole{}, pre{};
  int64_t n = 0;
  for (auto _ : state) {
    const auto t0 = clock::now();
    if (mode == 1)
      f.processFrame8(frame.info());
    else
      f.processFrame32(frame.info());
    const auto t1 = clock::now();
    f.pre_update(frame.info().spectrum[1]);
    f.post_update();
    const auto t2 = clock::now();
    benchmark::DoNotOptimize(f.points[0].x);
    whole += t1 - t0;
    pre += t2 - t1;
    ++n;
  }
  if (n == 0) return;
  const double wholeNs = std::chrono::duration<double, std::nano>(whole).count() / double(n);
  const double preNs = std::chrono::duration<double, std::nano>(pre).count() / double(n);
  state.counters["memsets"] = wholeNs / ys;
  state.counters["pre_update_memsets"] = preNs / ys;
  state.counters["pre_update_share"] = preNs / wholeNs;
}
BENCHMARK(BM_PreUpdateShare)->Arg(1)->Arg(2)->ArgName("mode");

}  // namespace

BENCHMARK_MAIN();
