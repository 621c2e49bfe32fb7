// The four voxel flights' frames at 640 × 480 (both modes where a filter has
// them), each as a multiple of a memset of the same frame measured in this
// run, and the terrain generation (a prepare: the map built anew).
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

std::unique_ptr<tw::AddonLibrary> open(benchmark::State& state, const char* deliverable) {
  std::string why;
  auto lib = tw::AddonLibrary::open(std::string(TW_BENCH_ADDON_DIR) + "/" + deliverable, &why);
  if (!lib) state.SkipWithError(why.c_str());
  return lib;
}

// A flight with a moving, turning camera over a busy spectrum.
void flight(benchmark::State& state, const char* deliverable, int32 index, int32 mode) {
  auto lib = open(state, deliverable);
  if (!lib) return;
  tw::FilterDriver driver(lib->create(index));
  const tw::FrameGeometry g{640, 480, mode, 0};
  tw::Frame frame(g);
  driver.load();
  if (!driver.prepare(g, tw_system_palette(), tw_system_palette32())) {
    state.SkipWithError("prepare refused");
    return;
  }
  const double ys = yardstickNanos(frame.size());
  int n = 0;
  measureAgainst(state, ys, "memsets", [&] {
    SFrameInfo& rec = frame.info();
    rec.bands[1][0] = 200000 + 150000 * std::sin(n * 0.3);
    rec.level[1] = 20000;
    for (int i = 0; i < 256; ++i) frame.spectrum(1)[i] = float((i * 7919 + n * 104729) % 2500000);
    ++n;
    driver.draw(rec);
  });
}

void BM_Memset8(benchmark::State& state) {
  std::vector<unsigned char> buf(307200);
  for (auto _ : state) {
    std::memset(buf.data(), 1, buf.size());
    benchmark::ClobberMemory();
  }
}

void BM_VidiviVadu8(benchmark::State& s) { flight(s, "Moorvista", 0, 1); }
void BM_VidiviVadu32(benchmark::State& s) { flight(s, "Moorvista", 0, 2); }
void BM_DevazoDavu8(benchmark::State& s) { flight(s, "Moorvista", 1, 1); }
void BM_DevazoDavu32(benchmark::State& s) { flight(s, "Moorvista", 1, 2); }
void BM_FftMoorvista8(benchmark::State& s) { flight(s, "Fourivale", 0, 1); }
void BM_BiMoorvista8(benchmark::State& s) { flight(s, "Gemelle", 0, 1); }

// prepare of Vidivi Vadu: ComputeMap plus a clear of the 76 800-byte picture.
void BM_ComputeMap(benchmark::State& state) {
  auto lib = open(state, "Moorvista");
  if (!lib) return;
  CFilter* f = lib->create(0);
  f->load();
  const double ys = yardstickNanos(307200);
  measureAgainst(state, ys, "memsets", [&] { f->prepare(); });
  delete f;
}

}  // namespace

BENCHMARK(BM_Memset8);
BENCHMARK(BM_VidiviVadu8)->Name("VidiviVadu_processFrame8");
BENCHMARK(BM_VidiviVadu32)->Name("VidiviVadu_processFrame32");
BENCHMARK(BM_DevazoDavu8)->Name("DevazoDavu_processFrame8");
BENCHMARK(BM_DevazoDavu32)->Name("DevazoDavu_processFrame32");
BENCHMARK(BM_FftMoorvista8)->Name("FftMoorvista_processFrame8");
BENCHMARK(BM_BiMoorvista8)->Name("BiMoorvista_processFrame8");
BENCHMARK(BM_ComputeMap)->Name("ComputeMap_via_prepare")->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
