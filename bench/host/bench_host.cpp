// The host's work per frame and per render.
// - Analysis of one video frame (both channels' windowed FFT, levels, bands,
//   samples) as a multiple of the bare real FFTs it needs: two of the same
//   size, measured in the same run ("ffts").
// - `render -o null` of Ziduv in 8-bit over 60 s of the demo track at 60 fps:
//   frames per second, and each frame as a multiple of a memset of it.
// - The same render to H.264 (30 s, through ffmpeg): how many times faster
//   than real time. Skipped when ffmpeg is not installed.
// - Decoding three minutes of Ogg Vorbis (the demo track, encoded by ffmpeg
//   at the start of the run) through openSoundFile, in times real time,
//   beside `ffmpeg -i f -f null -` decoding the same file (the whole
//   process) in the same run.
// - The fade of a 640x480 frame, 8-bit and 32-bit, black, sparse (a scope's
//   bars over black) and full: its time as a multiple of a memcpy of the
//   frame ("memcpys"). Each round restores the frame first; the restoring
//   copy, timed alone in the same run, is taken off.
// - `tidewave render` of FFT Scope, 10 s of the demo track, 1920x1080 at
//   60 fps into H.264 with the music, beside `ffmpeg` drawing its own
//   spectrum of the same 10 s (written as a WAV file first) at the same size,
//   rate and encoder settings; both whole-process wall time. "ffmpegs": ours
//   as a multiple of ffmpeg's (below 1: ours is faster). ffmpeg's spectrum
//   comes out as 4:4:4 unless told otherwise; "ffmpegs_420" compares with it
//   made to encode 4:2:0 too, as ours does.
#include "../Yardstick.h"

#include "Render.h"
#include "engine/Analysis.h"
#include "engine/Catalog.h"
#include "engine/Fade.h"
#include "engine/Sound.h"
#include "engine/SoundSource.h"
#include "output/Sinks.h"

#include <benchmark/benchmark.h>
#include <kissfft/kiss_fftr.h>

#include <platform/interface.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
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

std::shared_ptr<const tw::Sound> demoTrack(double seconds) {
  static auto thirty = std::make_shared<const tw::Sound>(tw::makeDemoTrack(30));
  static auto sixty = std::make_shared<const tw::Sound>(tw::makeDemoTrack(60));
  return seconds > 30 ? sixty : thirty;
}

void BM_AnalysisPerFrame(benchmark::State& state) {
  const tw::Sound& sound = *demoTrack(30);
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
  o.sound = [seconds](std::string*) { return tw::makeMemorySource(demoTrack(seconds), "demo track"); };
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

// Three minutes of the demo track as Ogg Vorbis, made once per run; empty
// when ffmpeg is missing or fails.
const std::string& vorbisFile() {
  static const std::string path = [] {
    const std::string ffmpeg = tw::findFfmpeg();
    if (ffmpeg.empty()) return std::string();
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::string wav = (dir / "bench-host-demo.wav").string(),
                      ogg = (dir / "bench-host-demo.ogg").string();
    const tw::Sound demo = tw::makeDemoTrack(180);
    std::string why;
    if (!tw::writeWav(wav, demo, 0, demo.frames(), &why)) return std::string();
    const std::string cmd =
        ffmpeg + " -nostdin -loglevel error -y -i '" + wav + "' -c:a libvorbis '" + ogg + "'";
    const bool made = std::system(cmd.c_str()) == 0;
    std::filesystem::remove(wav);
    std::atexit(
        [] { std::filesystem::remove(std::filesystem::temp_directory_path() / "bench-host-demo.ogg"); });
    return made ? ogg : std::string();
  }();
  return path;
}

void BM_DecodeVorbis(benchmark::State& state) {
  const std::string& file = vorbisFile();
  if (file.empty()) return state.SkipWithError("ffmpeg is not installed or could not encode Vorbis");
  // The yardstick: ffmpeg decoding the same file to nothing, start to exit.
  const std::string cmd = tw::findFfmpeg() + " -nostdin -loglevel error -i '" + file + "' -f null -";
  double ffmpegWall = 1e9;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) return state.SkipWithError("ffmpeg failed to decode the file");
    ffmpegWall = std::min(ffmpegWall, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  std::vector<float> left(4096), right(4096);
  double wall = 0, seconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    std::string why;
    std::unique_ptr<tw::SoundSource> source = tw::openSoundFile(file, &why);
    if (!source) return state.SkipWithError(why.c_str());
    int64_t samples = 0;
    for (int got; (got = source->read(left.data(), right.data(), 4096)) > 0;) samples += got;
    benchmark::DoNotOptimize(left.data());
    wall += std::chrono::duration<double>(Clock::now() - t0).count();
    seconds += double(samples) / source->sampleRate();
  }
  if (wall <= 0) return;
  state.counters["times_real_time"] = seconds / wall;
  state.counters["ffmpeg_times_real_time"] = seconds / state.iterations() / ffmpegWall;
}

// A 640x480 frame to fade: black, a scope's bars (the top quarter, columns
// lit from a random height down to its bottom) or every pixel lit.
enum class Content { Black, Sparse, Full };
void fill(tw::Frame& f, Content content) {
  const tw::FrameGeometry& g = f.geometry();
  const int bytes = g.pixelMode == 2 ? 4 : 1;
  std::mt19937 rng(9);
  f.clear();
  for (int x = 0; x < g.width; ++x) {
    const int top = content == Content::Full     ? 0
                    : content == Content::Sparse ? 20 + int(rng() % 100)
                                                 : g.height;
    const int bottom = content == Content::Full ? g.height : 120;
    for (int y = top; y < bottom; ++y)
      for (int k = 0; k < bytes; ++k)
        f.pixels()[size_t(y) * size_t(g.rowBytes()) + size_t(x * bytes + k)] = uint8(1 + rng() % 255);
  }
}

void BM_Fade(benchmark::State& state) {
  const int mode = int(state.range(0));
  const Content content = Content(state.range(1));
  tw::Frame pristine(tw::FrameGeometry{640, 480, mode, 0}), frame(tw::FrameGeometry{640, 480, mode, 0});
  fill(pristine, content);
  const tw::Fade fade(0.79f, tw_system_palette());  // FFT Scope's hostFactor
  const size_t bytes = frame.size();
  const double memcpy = yardstickNanos(bytes, true);
  auto median = [&](bool fading) {
    std::vector<double> samples;
    for (int round = 0; round < 101; ++round) {
      const auto t0 = Clock::now();
      for (int i = 0; i < 8; ++i) {
        std::memcpy(frame.pixels(), pristine.pixels(), bytes);
        if (fading) fade.apply(frame);
        benchmark::ClobberMemory();
      }
      samples.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / 8);
    }
    std::nth_element(samples.begin(), samples.begin() + 50, samples.end());
    return samples[50];
  };
  double withFade = 0, copyOnly = 0;
  for (auto _ : state) {
    withFade = median(true);
    copyOnly = median(false);
  }
  state.counters["memcpys"] = std::max(0.0, withFade - copyOnly) / memcpy;
  state.counters["fade_us"] = std::max(0.0, withFade - copyOnly) / 1000;
}

// Wall seconds of a shell command; negative when it fails.
double timedCommand(const std::string& command) {
  const auto t0 = Clock::now();
  const int status = std::system(command.c_str());
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? wall : -1;
}

// 16-bit stereo WAV of samples [first, first + count) of the sound.
bool writeWavFile(const std::string& path, const tw::Sound& sound, int64_t first, int64_t count) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const uint32_t data = uint32_t(count) * 4, rate = uint32_t(sound.sampleRate), byteRate = rate * 4;
  auto u32 = [f](uint32_t v) { std::fwrite(&v, 4, 1, f); };
  auto u16 = [f](uint16_t v) { std::fwrite(&v, 2, 1, f); };
  std::fwrite("RIFF", 1, 4, f), u32(36 + data), std::fwrite("WAVEfmt ", 1, 8, f);
  u32(16), u16(1), u16(2), u32(rate), u32(byteRate), u16(4), u16(16);
  std::fwrite("data", 1, 4, f), u32(data);
  for (int64_t i = first; i < first + count; ++i) {
    const int16_t lr[2] = {int16_t(std::clamp(sound.left[size_t(i)], -32768.0f, 32767.0f)),
                           int16_t(std::clamp(sound.right[size_t(i)], -32768.0f, 32767.0f))};
    std::fwrite(lr, 2, 2, f);
  }
  return std::fclose(f) == 0;
}

void BM_RenderHdScopeBesideFfmpeg(benchmark::State& state) {
  const std::string ffmpeg = tw::findFfmpeg();
  if (ffmpeg.empty()) return state.SkipWithError("ffmpeg is not installed");
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "bench-host-hd";
  std::filesystem::create_directories(dir);
  const double seconds = 10;
  const tw::Sound& sound = *demoTrack(30);
  const std::string wav = (dir / "sound.wav").string();
  if (!writeWavFile(wav, sound, 0, int64_t(seconds * sound.sampleRate)))
    return state.SkipWithError("cannot write the WAV file");
  const std::string ours = std::string(TW_BENCH_TIDEWAVE) + " --add-ons " + TW_BENCH_ADDON_DIR +
                           " render " + wav + " --filter 'FFT Scope' --seconds 10 --fps 60 --video-size 1920x1080 -o " +
                           (dir / "ours.mp4").string() + " >/dev/null 2>&1";
  const std::string theirs = "'" + ffmpeg + "' -nostdin -v error -y -i " + wav +
                             " -filter_complex '[0:a]showspectrum=s=1920x1080:fps=60[v]' -map '[v]' -map 0:a"
                             " -c:v libx264 -preset ultrafast -crf 20 -c:a aac ";
  double a = 0, b = 0, c = 0;
  for (auto _ : state) {
    a = timedCommand(ours);
    b = timedCommand(theirs + (dir / "theirs.mp4").string());
    c = timedCommand(theirs + "-pix_fmt yuv420p " + (dir / "theirs420.mp4").string());
    if (a < 0 || b < 0 || c < 0) {
      state.SkipWithError("a render failed");
      break;
    }
  }
  std::filesystem::remove_all(dir);
  state.counters["ours_s"] = a;
  state.counters["ffmpeg_s"] = b;
  state.counters["ffmpegs"] = a / b;
  state.counters["ffmpegs_420"] = a / c;
}

}  // namespace

BENCHMARK(BM_AnalysisPerFrame);
BENCHMARK(BM_Fade)
    ->ArgNames({"mode", "content"})
    ->ArgsProduct({{1, 2}, {int(Content::Black), int(Content::Sparse), int(Content::Full)}})
    ->Iterations(3);
BENCHMARK(BM_RenderHdScopeBesideFfmpeg)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_RenderNullZiduv8)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RenderH264Ziduv8)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_DecodeVorbis)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_MAIN();
