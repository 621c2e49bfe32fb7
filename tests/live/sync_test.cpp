// Picture and sound in step: the frame drawn at time t was analysed at the
// sample the listener hears at t, within one frame period at 60 frames/s.
//
// The measurement: a tone that switches on and off every half second. The
// level of a frame (the RMS of the analysis window) rises and falls linearly
// in its square while the window slides over an edge, and passes half the
// full power when the window's centre lies on the edge; the probe filter logs
// each frame's level with the steady clock. The moment each edge was played
// comes from the sink's monitor: the recording locates the music sample for
// sample, and the server's latency figures date it.
#include "LiveFixture.h"

#include "engine/Sound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <regex>

namespace {

using namespace tw::live;

struct Drawn {
  double t;      // steady seconds
  double power;  // level[1] squared
};

TEST(LiveSync, FramesShowTheSoundBeingHeard) {
  const std::string bursts = Session::get().path("bursts.wav");
  std::string why;
  // 1 kHz, on for the second half of every second, from 0.5 s to 6 s.
  ASSERT_TRUE(ffmpegFixture("aevalsrc=exprs=0.5*sin(2*PI*1000*t)*gte(mod(t\\,1)\\,0.5):d=6.2", bursts, &why))
      << why;
  tw::Sound source;
  ASSERT_TRUE(tw::loadSound(bursts, &source, &why)) << why;
  // Where the tone starts or stops (a lone zero inside it is a zero crossing).
  auto on = [&](int64_t i) {
    for (int64_t k = std::max<int64_t>(i - 1, 0); k <= std::min(i + 1, source.frames() - 1); ++k)
      if (source.left[size_t(k)] != 0) return true;
    return false;
  };
  std::vector<int64_t> edges;
  for (int64_t i = 1; i < source.frames(); ++i)
    if (on(i) != on(i - 1)) edges.push_back(i);
  ASSERT_EQ(edges.size(), 12u);

  MonitorRecorder recorder;
  ASSERT_TRUE(recorder.start(&why)) << why;
  ASSERT_TRUE(waitFor([&] { return recorder.frames() > 4410; }, kStartSeconds))
      << "the monitor gives no sound";
  const std::string log = Session::get().path("sync.log");
  const Outcome r =
      tidewave({"--add-ons", TW_PROBE_DIR, "play", bursts, "--filter", "TestProbe", "--fps", "60"},
               {"TW_PROBE_DETAIL=1", "TW_PROBE_LOG=" + log});
  ASSERT_EQ(r.rc, 0) << r.out;
  const int64_t now = recorder.frames();
  ASSERT_TRUE(waitFor([&] { return recorder.frames() > now + 44100 / 2; }, kStartSeconds));
  recorder.stop();
  double correlation = 0;
  const int64_t lag = locate(recorder.samples(), 0, source.left, &correlation);
  ASSERT_GT(correlation, 0.99);

  std::vector<Drawn> frames;
  std::ifstream in(log);
  static const std::regex frame(R"(^frame .* level=([0-9.]+) t=(\d+))");
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (std::regex_search(l, m, frame))
      frames.push_back({std::stod(m[2]) * 1e-9, std::pow(std::stod(m[1]), 2)});
  }
  ASSERT_GT(frames.size(), 300u) << r.out;
  std::vector<double> powers;
  for (const Drawn& d : frames) powers.push_back(d.power);
  const double loudest = *std::max_element(powers.begin(), powers.end());
  std::vector<double> full;
  for (double p : powers)
    if (p > loudest / 2) full.push_back(p);
  std::nth_element(full.begin(), full.begin() + ptrdiff_t(full.size() / 2), full.end());
  const double half = full[full.size() / 2] / 2;

  // Each edge: when it was heard, and when the frames crossed half power.
  std::vector<double> offsets;
  for (const int64_t edge : edges) {
    const double heard = recorder.timeOf(lag + edge);
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
      const Drawn &a = frames[i], &b = frames[i + 1];
      if (std::abs(a.t - heard) > 0.25) continue;
      if ((a.power < half) == (b.power < half)) continue;
      // Frames further apart than the window's reach do not bracket it.
      if (b.t - a.t > 0.023) break;
      const double crossed = a.t + (half - a.power) / (b.power - a.power) * (b.t - a.t);
      offsets.push_back(crossed - heard);
      break;
    }
  }
  std::string list;
  double sum = 0, worst = 0;
  for (double o : offsets) {
    char ms[16];
    std::snprintf(ms, sizeof ms, "%.1f ", o * 1e3);
    list += ms;
    sum += o;
    worst = std::max(worst, std::abs(o));
  }
  std::printf("sync: %zu of %zu edges measured; picture minus sound, ms: %s; mean %.1f ms, worst %.1f ms\n",
              offsets.size(), edges.size(), list.c_str(),
              offsets.empty() ? 0.0 : 1e3 * sum / double(offsets.size()), 1e3 * worst);
  // A frame lost to a busy machine may leave an edge unmeasured; most are.
  EXPECT_GE(offsets.size(), edges.size() * 3 / 4);
  for (double o : offsets) EXPECT_LT(std::abs(o), 1.0 / 60) << "picture minus sound: " << o * 1e3 << " ms";
}

}  // namespace
