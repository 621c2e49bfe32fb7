// The host's work per frame and per render.
// - Analysis of one video frame (both channels' windowed FFT, levels, bands,
//   samples) as a multiple of the bare real FFTs it needs: two of the same
//   size, measured in the same run ("ffts").
// - `render -o null` of Ziduv in 8-bit over 60 s of the demo track at 60 fps:
//   frames per second, and each frame as a multiple of a memset of it.
// - The same render to H.264 (30 s, through ffmpeg): how many times faster
//   than real time. Skipped when ffmpeg is not installed.
#include "../Yardstick.h"

#include "Render.h"
#include "engine/Analysis.h"
#include "engine/Catalog.h"
#include "engine/Sound.h"
#include "output/Sinks.h"

#include <benchmark/benchmark.h>
#include <kissfft/kiss_fftr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using tw::bench::measureAgainst;
using tw::bench::yardstickNanos;

// Median time of one bare kiss_fftr of n samples, in nanoseconds.
double fftNanos(int n) {
  kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 0, nullptr, nullptr);
  std::vector<float> in(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) in[size_t(i)] = float(std::sin(i * 0.37) * 1000);
  std::vector<kiss_fft_cpx> out(static_cast<size_t>(n / 2 + 1));
  std::vector<double> samples;
  for (int round = 0; round < 101; ++round) {
    const auto t0 = Clock::now();
    for (int k = 0; k < 16; ++k) {
      kiss_fftr(cfg, in.data(), out.data());
      benchmark::DoNotOptimize(out.data());
      benchmark::ClobberMemory();
    }
    samples.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / 16);
  }
  kiss_fftr_free(cfg);
  std::nth_element(samples.begin(), samples.begin() + 50, samples.end());
  return samples[50];
}

const tw::Sound& demoTrack(double seconds) {
  static tw::Sound thirty = tw::makeDemoTrack(30), sixty = tw::makeDemoTrack(60);
  return seconds > 30 ? sixty : thirty;
}

void BM_AnalysisPerFrame(benchmark::State& state) {
  const tw::Sound& sound = demoTrack(30);
  tw::Analyzer analyzer(sound.sampleRate);
  const double twoFfts = 2 * fftNanos(analyzer.fftSize());
  tw::SoundFrame frame;
  int64_t n = 0;
  measureAgainst(state, twoFfts, "ffts", [&] {
    // Frame by frame through the track, as a render walks it.
    const int64_t centre = (n++ * sound.sampleRate / 60) % sound.frames();
    analyzer.analyse(sound, centre, &frame);
    benchmark::DoNotOptimize(frame.spectrum[1][10]);
  });
  state.counters["fft_size"] = analyzer.fftSize();
}

struct Ziduv {
  tw::Catalog catalog;
  const tw::FilterInfo* filter = nullptr;
  Ziduv() {
    tw::HostDirs dirs = tw::defaultDirs();
    dirs.addons = TW_BENCH_ADDON_DIR;
    std::string why;
    if (tw::openCatalog(dirs, &catalog, &why)) filter = tw::findFilter(catalog, "Ziduv");
  }
};

tw::RenderOptions ziduvRender(const Ziduv& z, double seconds, const std::string& output) {
  tw::RenderOptions o;
  o.filters = {z.filter};
  o.dirs = tw::defaultDirs();
  o.geometry.pixelMode = 1;
  o.seconds = seconds;
  o.sound = &demoTrack(seconds);
  o.output = output;
  o.pace = tw::Pace::Fast;
  return o;
}

// Runs the render once per benchmark iteration; its wall seconds and frames
// in all, or false (the benchmark marked skipped) when a render fails.
bool timedRenders(benchmark::State& state, const tw::RenderOptions& o, double* wall, long* frames) {
  *wall = 0, *frames = 0;
  for (auto _ : state) {
    tw::RenderResult r;
    std::string why;
    const auto t0 = Clock::now();
    if (!tw::render(o, &r, &why)) {
      state.SkipWithError(why.c_str());
      return false;
    }
    *wall += std::chrono::duration<double>(Clock::now() - t0).count();
    *frames += r.frames;
  }
  return *wall > 0;
}

void BM_RenderNullZiduv8(benchmark::State& state) {
  static Ziduv z;
  if (z.filter == nullptr) return state.SkipWithError("Ziduv is not built");
  const double memset = yardstickNanos(640 * 480);
  double wall;
  long frames;
  if (!timedRenders(state, ziduvRender(z, 60, "null"), &wall, &frames)) return;
  state.counters["frames_per_s"] = double(frames) / wall;
  state.counters["memsets_per_frame"] = wall * 1e9 / double(frames) / memset;
}

void BM_RenderH264Ziduv8(benchmark::State& state) {
  static Ziduv z;
  if (z.filter == nullptr) return state.SkipWithError("Ziduv is not built");
  if (tw::findFfmpeg().empty()) return state.SkipWithError("ffmpeg is not installed");
  const std::filesystem::path out = std::filesystem::temp_directory_path() / "bench-host-ziduv.mp4";
  const double seconds = 30;
  double wall;
  long frames;
  const tw::RenderOptions o = ziduvRender(z, seconds, out.string());
  const bool ran = timedRenders(state, o, &wall, &frames);
  std::filesystem::remove(out);
  if (ran) state.counters["times_real_time"] = double(frames) / o.fps / wall;
}

}  // namespace

BENCHMARK(BM_AnalysisPerFrame);
BENCHMARK(BM_RenderNullZiduv8)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RenderH264Ziduv8)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK_MAIN();
