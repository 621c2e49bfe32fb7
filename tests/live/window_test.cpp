// The window shows what the filters draw: paused at an arbitrary frame, the
// window's pixels as the X server holds them, and what --screenshot saves,
// equal the frame `render` draws at the same place. --frame-clock makes the
// frames those of render, whatever the machine's speed.
#include "LiveFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

namespace {

namespace fs = std::filesystem;
using namespace tw::live;

// Frames play drew, from its closing line.
long framesDrawn(const std::string& out) {
  std::smatch m;
  return std::regex_search(out, m, std::regex(R"((\d+) frames over)")) ? std::stol(m[1]) : -1;
}

// Starts play, waits for its window and pauses it as soon as it shows; on
// success *window holds it and the title says it is paused.
bool startPaused(Child* play, const std::vector<std::string>& args, unsigned long* window) {
  if (!startTidewave(play, args)) return false;
  if (!waitFor([&] { return (*window = windowOf(play->pid())) != 0 || play->poll().has_value(); },
               kStartSeconds) ||
      *window == 0) {
    ADD_FAILURE() << "no window appeared: " << play->output();
    return false;
  }
  // The window maps before the filters are ready: pause once a frame shows.
  tw::RgbImage shown;
  std::string why;
  if (!waitFor([&] { return grabWindow(*window, &shown, &why) && tw::litPixels(shown) > 0; },
               kStartSeconds)) {
    ADD_FAILURE() << "the window stayed black: " << play->output();
    return false;
  }
  if (!focus(*window) || !xdotool({"key", "space"})) return false;
  if (!waitFor([&] { return windowTitle(*window).find("(paused)") != std::string::npos; }, kStartSeconds)) {
    ADD_FAILURE() << "the title never said paused: \"" << windowTitle(*window) << "\"\n" << play->output();
    return false;
  }
  return true;
}

// The last of `frames` frames render draws with `args`.
bool renderedFrame(const std::vector<std::string>& args, long frames, tw::RgbImage* out) {
  const std::string dir = Session::get().path("render-" + std::to_string(frames));
  fs::create_directories(dir);
  char seconds[64];
  std::snprintf(seconds, sizeof seconds, "%.9f", double(frames) / 240.0);
  std::vector<std::string> all{"render", "--fps", "240", "--seconds", seconds, "-o", dir + "/%06d.png"};
  all.insert(all.end(), args.begin(), args.end());
  const Outcome r = tidewave(all);
  if (r.rc != 0) {
    ADD_FAILURE() << "render failed: " << r.out;
    return false;
  }
  char name[32];
  std::snprintf(name, sizeof name, "/%06ld.png", frames - 1);
  std::string why;
  const bool ok = tw::readPng(dir + name, out, &why);
  if (!ok) ADD_FAILURE() << why;
  fs::remove_all(dir);
  return ok;
}

TEST(LiveWindow, ShowsTheFrameRenderDraws) {
  // An 8-bit filter (through the palette) and a 32-bit one, each at the
  // frame's size, so the window shows it 1:1.
  const struct {
    const char* filter;
    const char* mode;
  } cases[] = {{"Vidivi Vadu", "8"}, {"TideTorus", "32"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    const std::vector<std::string> common{"--filter", c.filter, "--mode", c.mode, "--size", "640x480"};
    const std::string shot = Session::get().path("shot.png");
    std::vector<std::string> args{"play", "--frame-clock", "--fps", "240", "--screenshot", shot};
    args.insert(args.end(), common.begin(), common.end());
    Child play;
    unsigned long window = 0;
    if (!startPaused(&play, args, &window)) continue;
    EXPECT_EQ(windowTitle(window), std::string(c.filter) + " - tidewave (paused)");
    tw::RgbImage grabbed, saved, rendered;
    std::string why;
    ASSERT_TRUE(grabWindow(window, &grabbed, &why)) << why;
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    ASSERT_EQ(play.wait(kRunSeconds), 0) << play.output();
    const long frames = framesDrawn(play.output());
    ASSERT_GT(frames, 0) << play.output();
    ASSERT_TRUE(tw::readPng(shot, &saved, &why)) << why;
    ASSERT_TRUE(renderedFrame(common, frames, &rendered));
    EXPECT_EQ(grabbed.width, 640);
    EXPECT_EQ(grabbed.height, 480);
    EXPECT_EQ(differingPixels(grabbed, rendered), 0) << "frame " << frames - 1;
    EXPECT_EQ(differingPixels(saved, rendered), 0) << "frame " << frames - 1;
    // Not a blank frame compared with a blank frame.
    EXPECT_GT(tw::litPixels(rendered), 640 * 480 / 100);
  }
}

// The window's picture scaled to another size equals render's picture
// scaled to that size (both through the host's scaler).
TEST(LiveWindow, ShowsTheScaledFrameRenderDraws) {
  for (const char* command : {"render", "play"})
    if (tidewave({command, "--help"}).out.find("--video-size") == std::string::npos)
      GTEST_SKIP() << command << " has no --video-size here";
  const std::vector<std::string> common{"--filter", "Vidivi Vadu", "--mode",       "8",
                                        "--size",   "320x240",     "--video-size", "800x600"};
  std::vector<std::string> args{"play", "--frame-clock", "--fps", "240"};
  args.insert(args.end(), common.begin(), common.end());
  Child play;
  unsigned long window = 0;
  ASSERT_TRUE(startPaused(&play, args, &window));
  tw::RgbImage grabbed, rendered;
  std::string why;
  ASSERT_TRUE(grabWindow(window, &grabbed, &why)) << why;
  ASSERT_TRUE(xdotool({"key", "Escape"}));
  ASSERT_EQ(play.wait(kRunSeconds), 0) << play.output();
  const long frames = framesDrawn(play.output());
  ASSERT_GT(frames, 0) << play.output();
  ASSERT_TRUE(renderedFrame(common, frames, &rendered));
  EXPECT_EQ(grabbed.width, 800);
  EXPECT_EQ(grabbed.height, 600);
  EXPECT_EQ(differingPixels(grabbed, rendered), 0) << "frame " << frames - 1;
}

}  // namespace
