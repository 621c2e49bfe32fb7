// `tidewave play` as a user runs it, headless: SDL's dummy display and no
// sound server, so the pictures follow the wall clock.
#include <gtest/gtest.h>
#include "Harness.h"
#include "RunTidewave.h"
#include "output/Image.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using tw::test::kProbe;
using tw::test::Result;
using tw::test::tidewave;

// No display but the dummy one, no sound server to find.
const std::string kHeadless = "-u DISPLAY SDL_VIDEODRIVER=dummy PULSE_SERVER=unix:/nonexistent";

TEST(PlayCli, DrawsFramesHeadlessThroughTheLifecycle) {
  const fs::path log = fs::temp_directory_path() / ("tw-play-" + std::to_string(getpid()) + ".log");
  fs::remove(log);
  const Result r =
      tidewave(kProbe + " play --filter testprobe --no-audio --seconds 0.3 --fps 30 --size 320x200",
               kHeadless + " TW_PROBE_LOG=" + log.string());
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("no audio"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("keys:"), std::string::npos) << r.out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"((\d+) frames over ([0-9.]+) s of sound)"))) << r.out;
  const long frames = std::stol(m[1]);
  // 0.3 s at 30 frames/s on the wall clock: about 9, and not one per spin of the loop.
  EXPECT_GE(frames, 2) << r.out;
  EXPECT_LE(frames, 12) << r.out;
  EXPECT_GE(std::stod(m[2]), 0.3);

  std::ifstream in(log);
  std::vector<std::string> calls;
  for (std::string l; std::getline(in, l);) calls.push_back(l);
  // The run is the filter's only load: the add-on names its filters.
  ASSERT_GE(calls.size(), 5u + size_t(frames)) << r.out;
  EXPECT_EQ(calls[0], "load 640 480 1");
  EXPECT_EQ(calls[1], "prepare 320 200 1");
  for (long i = 0; i < frames; ++i) EXPECT_EQ(calls[2 + size_t(i)], "frame 320 200 1");
  const std::vector<std::string> end(calls.end() - 3, calls.end());
  EXPECT_EQ(end, (std::vector<std::string>{"terminate 320 200 1", "unload 320 200 1", "delete 320 200 1"}));
  EXPECT_EQ(calls.size(), 5u + size_t(frames));
  fs::remove(log);
}

TEST(PlayCli, WithoutASoundServerItSaysSoAndGoesOn) {
  const Result r = tidewave(kProbe + " play --filter testprobe --seconds 0.1", kHeadless);
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("no sound server"), std::string::npos) << r.out;
}

TEST(PlayCli, Errors) {
  const struct {
    std::string args, env, says;
  } cases[] = {
      {kProbe + " play --filter nosuch", kHeadless,
       "unknown filter \"nosuch\"; the filters are: \"TestProbe\""},
      {kProbe + " play --filter TestProbe --mode 32", kHeadless, "draws in 8-bit mode only"},
      {kProbe + " play --filter TestProbe --start 99", kHeadless, "past the end"},
      {kProbe + " play --filter TestProbe", kHeadless + " TW_PROBE_FAIL_LOAD=1", "failed to load"},
      {kProbe + " play --filter TestProbe --capture", kHeadless, "cannot record from \"@DEFAULT_MONITOR@\""},
      {kProbe + " play --filter TestProbe some.wav --capture", kHeadless, "give no audio file"},
      // A display asked for and not there.
      {kProbe + " play --filter TestProbe", "-u DISPLAY SDL_VIDEODRIVER=x11", "cannot open a window"},
  };
  for (const auto& c : cases) {
    const Result r = tidewave(c.args, c.env);
    EXPECT_EQ(r.rc, 1) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
  // No display at all: SDL's fallback that draws nowhere is refused.
  if (!fs::exists("/dev/dri")) {
    const Result r =
        tidewave(kProbe + " play --filter TestProbe", "-u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER");
    EXPECT_EQ(r.rc, 1) << r.out;
    EXPECT_NE(r.out.find("no display"), std::string::npos) << r.out;
  }
}

// The same input and options give the same frames from both front-ends: the
// window's last picture under the frame clock is render's last frame.
TEST(PlayCli, TheFrameClockDrawsWhatRenderDraws) {
  const fs::path dir = fs::temp_directory_path() / ("tw-play-same-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const struct {
    std::string filter;
    int mode;
  } cases[] = {{"FFT Scope", 8}, {"Vidivi Vadu", 32}, {"TideTorus", 8}};
  for (const auto& c : cases) {
    const std::string common = "--add-ons " + tw::test::addonDir() + " --filter \"" + c.filter +
                               "\" --mode " + std::to_string(c.mode) +
                               " --start 4.5 --seconds 0.5 --fps 30 --size 320x240";
    const fs::path shot = dir / "shot.png";
    const Result p = tidewave("play " + common + " --frame-clock --screenshot " + shot.string(), kHeadless);
    ASSERT_EQ(p.rc, 0) << p.out;
    EXPECT_NE(p.out.find("15 frames"), std::string::npos) << p.out;
    const Result r = tidewave("render " + common + " --pace fast -o " + (dir / "%03d.png").string());
    ASSERT_EQ(r.rc, 0) << r.out;
    tw::RgbImage a, b;
    std::string why;
    ASSERT_TRUE(tw::readPng(shot.string(), &a, &why)) << why;
    ASSERT_TRUE(tw::readPng((dir / "014.png").string(), &b, &why)) << why;
    EXPECT_EQ(a.width, 320);
    EXPECT_EQ(a.height, 240);
    EXPECT_TRUE(a.rgb == b.rgb) << c.filter;
    EXPECT_GT(tw::litPixels(b), 100) << c.filter;
  }
  fs::remove_all(dir);
}

}  // namespace
