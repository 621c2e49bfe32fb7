// The sound server's side of a live run: the music play plays reaches the
// sink, and what play --capture hears of a sink is analysed as the same
// sound from a file.
#include "LiveFixture.h"

#include "engine/Recording.h"
#include "engine/Sound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

using namespace tw::live;

TEST(LiveSound, PlaybackReachesTheSink) {
  // Two channels of independent noise: a swapped, dropped or shifted stretch
  // shows in the correlation.
  const std::string noise = Session::get().path("noise.wav");
  std::string why;
  ASSERT_TRUE(ffmpegFixture(
      "anoisesrc=d=3:a=0.3:seed=1[a];anoisesrc=d=3:a=0.3:seed=2[b];[a][b]amerge=inputs=2", noise, &why))
      << why;
  tw::Sound source;
  ASSERT_TRUE(tw::loadSound(noise, &source, &why)) << why;

  MonitorRecorder recorder;
  ASSERT_TRUE(recorder.start(&why)) << why;
  ASSERT_TRUE(waitFor([&] { return recorder.frames() > 4410; }, kStartSeconds))
      << "the monitor gives no sound";
  const Outcome r = tidewave({"--add-ons", TW_PROBE_DIR, "play", noise, "--filter", "TestProbe"});
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(r.out.find("no sound server"), std::string::npos) << r.out;
  // What play handed over last is played a moment after it quits.
  const int64_t now = recorder.frames();
  ASSERT_TRUE(waitFor([&] { return recorder.frames() > now + 44100 / 2; }, kStartSeconds));
  recorder.stop();
  const std::vector<int16_t> heard = recorder.samples();

  double left = 0, right = 0, crossed = 0;
  const int64_t at = locate(heard, 0, source.left, &left);
  EXPECT_EQ(locate(heard, 1, source.right, &right), at);
  // The whole piece, in order, each channel on its side.
  EXPECT_GT(left, 0.99);
  EXPECT_GT(right, 0.99);
  locate(heard, 1, source.left, &crossed);
  EXPECT_LT(std::abs(crossed), 0.1);
  // At unity volume the server passes the samples through unchanged. The
  // first few milliseconds may be missing from the monitor: a stream that
  // starts makes the server rewind the sink, and what the monitor had already
  // handed on of that stretch stays as it was (silence).
  const int64_t skip = 44100 / 50;
  long same = 0;
  int64_t firstBad = -1;
  for (int64_t i = skip; i < source.frames(); ++i) {
    const int64_t k = at + i;
    if (k >= 0 && size_t(k) * 2 + 1 < heard.size() &&
        heard[size_t(k) * 2] == int16_t(source.left[size_t(i)]) &&
        heard[size_t(k) * 2 + 1] == int16_t(source.right[size_t(i)]))
      ++same;
    else if (firstBad < 0)
      firstBad = i;
  }
  EXPECT_EQ(same, source.frames() - skip)
      << "from sample " << firstBad << " on, the sink played something else";
  std::printf("playback: %.5f left / %.5f right correlation, %.4f%% of samples after the first %ld exact\n",
              left, right, 100.0 * double(same) / double(source.frames() - skip), long(skip));
}

TEST(LiveSound, ListsTheSourcesMonitorsFirst) {
  // A microphone-like source beside the sink's monitor.
  const Outcome loaded = runProgram(
      {"pactl", "load-module", "module-null-source", "source_name=tw_mic", "description=TestMicrophone"});
  ASSERT_EQ(loaded.rc, 0) << loaded.out;
  const Outcome r = tidewave({"play", "--list-sources"});
  runProgram({"pactl", "unload-module", loaded.out.substr(0, loaded.out.find('\n'))});
  ASSERT_EQ(r.rc, 0) << r.out;
  const size_t monitor = r.out.find("  tw_sink.monitor  "), mic = r.out.find("  tw_mic  ");
  ASSERT_NE(monitor, std::string::npos) << r.out;
  ASSERT_NE(mic, std::string::npos) << r.out;
  EXPECT_LT(monitor, mic) << r.out;
  const std::string monitorLine = r.out.substr(monitor, r.out.find('\n', monitor) - monitor);
  EXPECT_NE(monitorLine.find("Monitor of Null Output"), std::string::npos) << r.out;
  EXPECT_NE(monitorLine.find("what --capture alone hears"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("TestMicrophone"), std::string::npos) << r.out;
}

struct Analysed {
  double level = 0;  // the RMS of the steady frames' level[1]
  int peakBin = -1;  // the most common loudest bin of spectrum[1]
  long frames = 0;   // steady frames
};

// The frames of a recording where the tone sounds steadily: its level is at
// least half the loudest, three frames in from each edge (the analysis
// window reaches over about two frames).
Analysed steadyPart(const std::string& path) {
  tw::RecordReader reader;
  std::string why;
  Analysed a;
  if (!reader.open(path, &why)) {
    ADD_FAILURE() << why;
    return a;
  }
  std::vector<tw::SoundFrame> frames;
  for (tw::SoundFrame f; reader.read(&f, &why);) frames.push_back(f);
  double loudest = 0;
  for (const auto& f : frames) loudest = std::max(loudest, f.level[1]);
  long first = -1, last = -1;
  for (long i = 0; i < long(frames.size()); ++i)
    if (frames[size_t(i)].level[1] >= loudest / 2) {
      if (first < 0) first = i;
      last = i;
    }
  double power = 0;
  std::map<int, int> peaks;
  for (long i = first + 3; first >= 0 && i <= last - 3; ++i) {
    const tw::SoundFrame& f = frames[size_t(i)];
    power += f.level[1] * f.level[1];
    ++a.frames;
    ++peaks[int(std::max_element(f.spectrum[1].begin(), f.spectrum[1].end()) - f.spectrum[1].begin())];
  }
  if (a.frames > 0) a.level = std::sqrt(power / double(a.frames));
  int most = 0;
  for (const auto& [bin, count] : peaks)
    if (count > most) most = count, a.peakBin = bin;
  return a;
}

TEST(LiveSound, CaptureAnalysesTheSinkAsTheFile) {
  for (const int hz : {1000, 100}) {
    SCOPED_TRACE(std::to_string(hz) + " Hz");
    const std::string tone = Session::get().path("tone-" + std::to_string(hz) + ".wav");
    std::string why;
    ASSERT_TRUE(ffmpegFixture("aevalsrc=exprs=0.5*sin(2*PI*" + std::to_string(hz) + "*t):d=4", tone, &why))
        << why;
    const std::string fromFile = Session::get().path("file.twsound");
    const Outcome rendered = tidewave({"--add-ons", TW_PROBE_DIR, "render", tone, "--filter", "TestProbe",
                                       "--record", fromFile, "-o", "null"});
    ASSERT_EQ(rendered.rc, 0) << rendered.out;

    const std::string live = Session::get().path("live.twsound");
    Child play;
    ASSERT_TRUE(startTidewave(&play, {"--add-ons", TW_PROBE_DIR, "play", "--filter", "TestProbe", "--capture",
                                      Session::get().monitor(), "--record", live}));
    // It says so once it records.
    ASSERT_TRUE(
        waitFor([&] { return play.output().find("listening to") != std::string::npos || play.poll(); },
                kStartSeconds));
    ASSERT_FALSE(play.poll().has_value()) << play.output();
    const Outcome played = runProgram({"paplay", "--device=" + Session::get().sink(), tone});
    ASSERT_EQ(played.rc, 0) << played.out;
    ASSERT_TRUE(focus(windowOf(play.pid())));
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    ASSERT_EQ(play.wait(kRunSeconds), 0) << play.output();
    EXPECT_NE(play.output().find("(live)"), std::string::npos) << play.output();

    const Analysed file = steadyPart(fromFile), heard = steadyPart(live);
    ASSERT_GT(file.frames, 150);
    ASSERT_GT(heard.frames, 150);  // nearly four seconds of tone at 60 frames/s
    EXPECT_NEAR(heard.level / file.level, 1.0, 0.01) << heard.level << " vs " << file.level;
    EXPECT_LE(std::abs(heard.peakBin - file.peakBin), 1) << heard.peakBin << " vs " << file.peakBin;
    std::printf(
        "capture %d Hz: level %.2f live, %.2f from the file (ratio %.5f); peak bin %d live, %d file\n", hz,
        heard.level, file.level, heard.level / file.level, heard.peakBin, file.peakBin);
  }
}

}  // namespace
