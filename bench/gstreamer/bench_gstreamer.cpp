// What a visualiser element costs per frame beyond the filter's own drawing:
// receiving the sound, the analysis, the fade, the frame into a BGRx buffer
// of the element's pool, the buffer sent. Each figure is per frame at
// 640 × 480, as a multiple of a memcpy of the output frame (640 × 480 × 4
// bytes) measured in the same run ("memcpys").
// - The probe filter, which draws one pixel, in 8-bit mode (the palette
//   lookup into BGRx), with a fade (persistence 0.5) and without (0: the
//   frame cleared).
// - Ziduv in 32-bit mode (the frame copied out), less Ziduv's own drawing
//   time measured by the engine over the same sound in the same run.
#include "../Yardstick.h"

#include "engine/Analysis.h"
#include "engine/Catalog.h"
#include "engine/FrameEngine.h"

#include <benchmark/benchmark.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using tw::bench::yardstickNanos;

constexpr int kRate = 48000, kFps = 60, kSamples = kRate / kFps;  // one frame of sound per buffer

void initGst() {
  static bool done = false;
  if (done) return;
  done = true;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tw-bench-gst-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  setenv("GST_REGISTRY", (dir / "registry.bin").c_str(), 1);
  setenv("GST_PLUGIN_PATH", TW_GST_PLUGIN_DIR, 1);
  setenv("TIDEWAVE_ADDON_PATH", TW_PROBE_DIR, 1);
  gst_init(nullptr, nullptr);
  std::filesystem::remove_all(dir);
}

// A beating tone, so that the analysis has work like music's.
std::vector<int16_t> tone(int64_t first) {
  std::vector<int16_t> s(size_t(kSamples) * 2);
  for (int i = 0; i < kSamples; ++i) {
    const double t = double(first + i) / kRate;
    s[size_t(i) * 2] =
        int16_t(12000 * std::sin(2 * M_PI * 220 * t) * (0.5 + 0.5 * std::sin(2 * M_PI * 1.3 * t)));
    s[size_t(i) * 2 + 1] = int16_t(8000 * std::sin(2 * M_PI * 330 * t));
  }
  return s;
}

// Runs frames through the element in a harness: one buffer of one frame's
// sound in, one frame out. Returns nanoseconds per frame.
double elementNanosPerFrame(benchmark::State& state, const char* description) {
  initGst();
  GstHarness* h = gst_harness_new_parse(description);
  gst_harness_set_src_caps_str(h,
                               "audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=2,"
                               "channel-mask=(bitmask)0x3");
  gst_harness_set_sink_caps_str(h,
                                "video/x-raw,format=BGRx,width=640,height=480,framerate=60/1,"
                                "pixel-aspect-ratio=1/1");
  // A second of sound, made once and sent round and round.
  std::vector<std::vector<int16_t>> blocks;
  for (int b = 0; b < kFps; ++b) blocks.push_back(tone(int64_t(b) * kSamples));
  int64_t n = 0;
  auto oneFrame = [&] {
    GstBuffer* buf = gst_buffer_new_memdup(blocks[size_t(n % kFps)].data(), size_t(kSamples) * 4);
    GST_BUFFER_PTS(buf) = gst_util_uint64_scale(guint64(n) * kSamples, GST_SECOND, kRate);
    ++n;
    gst_harness_push(h, buf);
    while (GstBuffer* out = gst_harness_try_pull(h)) gst_buffer_unref(out);
  };
  for (int i = 0; i < 30; ++i) oneFrame();  // warm up: the pool, the caches
  const auto t0 = Clock::now();
  int64_t frames = 0;
  for (auto _ : state) {
    oneFrame();
    ++frames;
  }
  const double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / double(frames);
  gst_harness_teardown(h);
  return ns;
}

// The filter's own drawing per frame, through the engine, over the same
// sound.
double drawingNanosPerFrame(const std::string& addon, int32 mode) {
  tw::AddonFile file(addon);
  tw::FilterInfo info;
  info.addon = &file;
  info.index = 0;
  info.name = "filter";
  tw::FrameEngine engine;
  std::string why;
  const tw::HostDirs dirs = tw::defaultDirs();
  if (!engine.start({&info}, dirs, tw::FrameGeometry{640, 480, mode, 0}, std::nullopt, &why)) return 0;
  tw::Analyzer analyzer(kRate);
  tw::Sound sound;
  sound.sampleRate = kRate;
  for (int b = 0; b < kFps; ++b) {
    const auto s = tone(int64_t(b) * kSamples);
    for (size_t i = 0; i < size_t(kSamples); ++i) {
      sound.left.push_back(s[i * 2]);
      sound.right.push_back(s[i * 2 + 1]);
    }
  }
  tw::SoundFrame frame;
  for (int i = 0; i < 600; ++i) {
    analyzer.analyse(sound, int64_t(i % kFps) * kSamples, &frame);
    engine.draw(frame, i);
  }
  const double micros = engine.timings().front().meanMicros;
  engine.stop();
  return micros * 1000;
}

void BM_ElementBeyondDrawing(benchmark::State& state, const char* description, const char* drawing,
                             int32 mode) {
  const double memcpyNs = yardstickNanos(size_t(640) * 480 * 4, true);
  const double total = elementNanosPerFrame(state, description);
  const double own =
      drawing != nullptr ? drawingNanosPerFrame(std::string(TW_BENCH_ADDON_DIR) + "/" + drawing, mode) : 0;
  state.counters["memcpys"] = (total - own) / memcpyNs;
  state.counters["drawing_us"] = own / 1000;
  state.counters["total_us"] = total / 1000;
}

BENCHMARK_CAPTURE(BM_ElementBeyondDrawing, probe_8bit_fade, "tidewave-testprobe persistence=0.5", nullptr, 1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ElementBeyondDrawing, probe_8bit_cleared, "tidewave-testprobe persistence=0", nullptr, 1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ElementBeyondDrawing, ziduv_32bit, "tidewave-ziduv mode=32", "Ziduv", 2)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
