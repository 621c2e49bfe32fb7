// The keys of a live run, pressed on a real keyboard (XTEST, through
// xdotool) on the focused window: filters switch in the contract's order,
// Space pauses, F goes fullscreen and back, Esc and Q quit, and the
// modifier keys held reach the voxel filters as render's --hold-keys does.
#include "LiveFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace tw::live;

std::vector<std::string> lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The probe's lifecycle lines from line `from` on, frames left out, each as
// "<call> <filter name>".
std::vector<std::string> lifecycle(const std::string& log, size_t from) {
  const std::vector<std::string> all = lines(log);
  std::vector<std::string> out;
  static const std::regex line(R"((\S+) \d+ \d+ \d+ (.*?)( frameCount=.*)?)");
  for (size_t i = from; i < all.size(); ++i) {
    std::smatch m;
    if (!std::regex_match(all[i], m, line) || m[1] == "frame") continue;
    out.push_back(m[1].str() + " " + m[2].str());
  }
  return out;
}

long framesLogged(const std::string& log) {
  long n = 0;
  for (const std::string& l : lines(log)) n += l.rfind("frame ", 0) == 0;
  return n;
}

// A live run of play, its window found and focused.
struct Live {
  Child play;
  unsigned long window = 0;
  bool open(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    if (!startTidewave(&play, args, env)) return false;
    if (!waitFor([&] { return (window = windowOf(play.pid())) != 0 || play.poll().has_value(); },
                 kStartSeconds) ||
        window == 0) {
      ADD_FAILURE() << "no window appeared: " << play.output();
      return false;
    }
    return focus(window);
  }
  bool titleBecomes(const std::string& title) {
    const bool ok = waitFor([&] { return windowTitle(window) == title; }, kStartSeconds);
    if (!ok) ADD_FAILURE() << "title \"" << windowTitle(window) << "\", not \"" << title << "\"";
    return ok;
  }
  int quit() {
    xdotool({"key", "Escape"});
    const std::optional<int> rc = play.wait(kRunSeconds);
    return rc ? *rc : -100;
  }
};

// Releases a key however the test ends, so that it does not stay down for
// the next test.
struct HeldKey {
  std::string key;
  explicit HeldKey(std::string k) : key(std::move(k)) { xdotool({"keydown", key}); }
  ~HeldKey() { xdotool({"keyup", key}); }
};

TEST(LiveKeys, SwitchFiltersInTheContractsOrder) {
  // A catalogue of three filters: the probe's two, then Ziduv.
  const std::string dir = Session::get().path("add-ons");
  fs::create_directories(dir);
  fs::create_symlink(fs::path(TW_PROBE_PAIR_DIR) / "TestProbePair", dir + "/TestProbePair");
  fs::create_symlink(fs::path(TW_ADDON_DIR) / "Ziduv", dir + "/Ziduv");
  const std::string log = Session::get().path("switch.log");
  Live live;
  ASSERT_TRUE(live.open({"--add-ons", dir, "play", "--filter", "TestProbe", "--no-audio"},
                        {"TW_PROBE_DETAIL=1", "TW_PROBE_LOG=" + log}));
  ASSERT_TRUE(live.titleBecomes("TestProbe - tidewave"));

  // Each switch ends the old filter (terminate, unload, delete) before the
  // new one is loaded and prepared. Ziduv keeps no log.
  const struct {
    const char* key;
    const char* title;
    std::vector<std::string> calls;
  } steps[] = {
      {"n",
       "TestProbe 2",
       {"terminate TestProbe", "unload TestProbe", "delete TestProbe", "load TestProbe 2",
        "prepare TestProbe 2"}},
      {"n", "Ziduv", {"terminate TestProbe 2", "unload TestProbe 2", "delete TestProbe 2"}},
      {"Tab", "TestProbe", {"load TestProbe", "prepare TestProbe"}},
      {"shift+Tab", "Ziduv", {"terminate TestProbe", "unload TestProbe", "delete TestProbe"}},
      {"p", "TestProbe 2", {"load TestProbe 2", "prepare TestProbe 2"}},
      {"P",
       "TestProbe",
       {"terminate TestProbe 2", "unload TestProbe 2", "delete TestProbe 2", "load TestProbe",
        "prepare TestProbe"}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.key);
    const size_t before = lines(log).size();
    ASSERT_TRUE(xdotool({"key", s.key}));
    ASSERT_TRUE(live.titleBecomes(std::string(s.title) + " - tidewave"));
    EXPECT_EQ(lifecycle(log, before), s.calls);
  }
  const size_t before = lines(log).size();
  EXPECT_EQ(live.quit(), 0) << live.play.output();
  EXPECT_EQ(lifecycle(log, before),
            (std::vector<std::string>{"terminate TestProbe", "unload TestProbe", "delete TestProbe"}));
}

TEST(LiveKeys, SpacePausesThePictureAndResumes) {
  const std::string log = Session::get().path("pause.log");
  Live live;
  ASSERT_TRUE(
      live.open({"--add-ons", TW_PROBE_DIR, "play", "--filter", "TestProbe"}, {"TW_PROBE_LOG=" + log}));
  ASSERT_TRUE(waitFor([&] { return framesLogged(log) > 5; }, kStartSeconds)) << live.play.output();
  ASSERT_TRUE(xdotool({"key", "space"}));
  ASSERT_TRUE(live.titleBecomes("TestProbe - tidewave (paused)"));
  const long paused = framesLogged(log);
  tw::RgbImage first, later;
  std::string why;
  ASSERT_TRUE(grabWindow(live.window, &first, &why)) << why;
  // Nothing to wait for: a paused run does nothing. Half a second is thirty
  // frame periods in which a frame would have been drawn.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(grabWindow(live.window, &later, &why)) << why;
  EXPECT_EQ(framesLogged(log), paused);
  EXPECT_EQ(differingPixels(first, later), 0);

  ASSERT_TRUE(xdotool({"key", "space"}));
  ASSERT_TRUE(live.titleBecomes("TestProbe - tidewave"));
  EXPECT_TRUE(waitFor([&] { return framesLogged(log) > paused + 5; }, kStartSeconds));
  EXPECT_TRUE(
      waitFor([&] { return grabWindow(live.window, &later, &why) && differingPixels(first, later) > 0; },
              kStartSeconds));
  EXPECT_EQ(live.quit(), 0) << live.play.output();
}

// H and I put their panels over the picture and take them away again; the
// run is paused so that only the display changes.
TEST(LiveKeys, HAndIShowAndHideTheirPanels) {
  const std::string log = Session::get().path("panels.log");
  Live live;
  ASSERT_TRUE(
      live.open({"--add-ons", TW_PROBE_DIR, "play", "--filter", "TestProbe"}, {"TW_PROBE_LOG=" + log}));
  ASSERT_TRUE(waitFor([&] { return framesLogged(log) > 5; }, kStartSeconds)) << live.play.output();
  ASSERT_TRUE(xdotool({"key", "space"}));
  ASSERT_TRUE(live.titleBecomes("TestProbe - tidewave (paused)"));
  tw::RgbImage plain, now;
  std::string why;
  ASSERT_TRUE(grabWindow(live.window, &plain, &why)) << why;
  const struct {
    const char* key;
    int x0, y0, x1, y1;  // where the panel shows
  } panels[] = {{"h", 160, 120, 480, 360}, {"i", 0, 400, 320, 480}};
  for (const auto& p : panels) {
    SCOPED_TRACE(p.key);
    ASSERT_TRUE(xdotool({"key", p.key}));
    ASSERT_TRUE(
        waitFor([&] { return grabWindow(live.window, &now, &why) && differingPixels(plain, now) > 0; },
                kStartSeconds));
    long inside = 0, outside = 0;
    for (int y = 0; y < now.height; ++y)
      for (int x = 0; x < now.width; ++x) {
        const bool differs = !std::equal(now.at(x, y), now.at(x, y) + 3, plain.at(x, y));
        (x >= p.x0 && x < p.x1 && y >= p.y0 && y < p.y1 ? inside : outside) += differs;
      }
    EXPECT_GT(inside, 1000);
    EXPECT_LT(outside, inside / 2);
    ASSERT_TRUE(xdotool({"key", p.key}));
    EXPECT_TRUE(
        waitFor([&] { return grabWindow(live.window, &now, &why) && differingPixels(plain, now) == 0; },
                kStartSeconds));
  }
  EXPECT_EQ(live.quit(), 0) << live.play.output();
}

TEST(LiveKeys, FTogglesFullscreen) {
  Live live;
  ASSERT_TRUE(live.open({"--add-ons", TW_PROBE_DIR, "play", "--filter", "TestProbe", "--size", "320x200"}));
  ASSERT_TRUE(waitFor([&] { return windowSize(live.window).width == 320; }, kStartSeconds));
  auto sizeBecomes = [&](int w, int h) {
    return waitFor(
        [&] {
          const Size s = windowSize(live.window);
          return s.width == w && s.height == h;
        },
        kStartSeconds);
  };
  ASSERT_TRUE(xdotool({"key", "f"}));
  EXPECT_TRUE(sizeBecomes(Session::get().screenWidth(), Session::get().screenHeight()))
      << windowSize(live.window).width << "x" << windowSize(live.window).height;
  ASSERT_TRUE(xdotool({"key", "f"}));
  EXPECT_TRUE(sizeBecomes(320, 200)) << windowSize(live.window).width << "x"
                                     << windowSize(live.window).height;
  EXPECT_EQ(live.quit(), 0) << live.play.output();
}

TEST(LiveKeys, EscapeAndQQuitCleanly) {
  for (const char* key : {"Escape", "q"}) {
    SCOPED_TRACE(key);
    Live live;
    ASSERT_TRUE(live.open({"--add-ons", TW_PROBE_DIR, "play", "--filter", "TestProbe"}));
    ASSERT_TRUE(xdotool({"key", key}));
    EXPECT_EQ(live.play.wait(kRunSeconds), 0) << live.play.output();
  }
}

// The voxel camera follows the modifier keys held on the keyboard: the
// picture differs from a run without them and equals a render that holds
// the same keys (render --hold-keys).
TEST(LiveKeys, ModifierKeysSteerTheVoxelFilters) {
  const struct {
    const char* key;   // X keysym
    const char* hold;  // render's name
    unsigned bit;      // its side's platform bit
  } cases[] = {{"Shift_L", "left-shift", 0x100}, {"Control_L", "control", 0x1000}};
  // The probe, drawn after the voxel filter, logs the keys each frame saw.
  const std::vector<std::string> filters{"--filter", "Vidivi Vadu", "--filter",  "TestProbe",
                                         "--fps",    "60",          "--seconds", "1"};
  const std::string dir = Session::get().path("voxel-add-ons");
  fs::create_directories(dir);
  fs::create_symlink(fs::path(TW_PROBE_PAIR_DIR) / "TestProbePair", dir + "/TestProbePair");
  fs::create_symlink(fs::path(TW_ADDON_DIR) / "Moorvista", dir + "/Moorvista");
  auto rendered = [&](const std::string& hold, tw::RgbImage* out) {
    const std::string frames = Session::get().path("frames");
    fs::remove_all(frames);
    fs::create_directories(frames);
    std::vector<std::string> args{"--add-ons", dir, "render", "-o", frames + "/%03d.png"};
    args.insert(args.end(), filters.begin(), filters.end());
    if (!hold.empty()) args.insert(args.end(), {"--hold-keys", hold});
    const Outcome r = tidewave(args);
    std::string why;
    return r.rc == 0 && tw::readPng(frames + "/059.png", out, &why);
  };
  tw::RgbImage free;
  ASSERT_TRUE(rendered("", &free));

  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    const std::string log = Session::get().path(std::string("keys-") + c.key + ".log");
    const std::string shot = Session::get().path("keys.png");
    // Held before the window opens, the key is seen from the first frame
    // once the window has the focus; the window manager may give it a frame
    // late on a busy machine, and then the run is repeated.
    HeldKey held(c.key);
    std::vector<std::string> frameKeys;
    for (int attempt = 0; attempt < 3; ++attempt) {
      fs::remove(log);
      std::vector<std::string> args{"--add-ons", dir, "play", "--frame-clock", "--screenshot", shot};
      args.insert(args.end(), filters.begin(), filters.end());
      const Outcome r = tidewave(args, {"TW_PROBE_DETAIL=1", "TW_PROBE_LOG=" + log});
      ASSERT_EQ(r.rc, 0) << r.out;
      frameKeys.clear();
      static const std::regex keys(R"(^frame .* keys=(0x[0-9a-f]+))");
      for (const std::string& l : lines(log)) {
        std::smatch m;
        if (std::regex_search(l, m, keys)) frameKeys.push_back(m[1]);
      }
      ASSERT_EQ(frameKeys.size(), 60u);
      if (std::stoul(frameKeys.front(), nullptr, 16) & c.bit) break;
    }
    for (const std::string& k : frameKeys) ASSERT_TRUE(std::stoul(k, nullptr, 16) & c.bit) << k;
    tw::RgbImage shown, steered;
    std::string why;
    ASSERT_TRUE(tw::readPng(shot, &shown, &why)) << why;
    ASSERT_TRUE(rendered(c.hold, &steered));
    EXPECT_EQ(differingPixels(shown, steered), 0);
    EXPECT_GT(differingPixels(shown, free), 640 * 480 / 10);
  }
}

}  // namespace
