// The on-screen display as a function of (state, time) → pixels, on
// pictures of the window's format (0x00RRGGBB, rows `stride` apart) with a
// sentinel in the padding of each row.
#include "live/Osd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr uint32_t kGrey = 0x00808080;
constexpr uint32_t kSentinel = 0xDEADBEEF;

struct Picture {
  int width, height, stride;
  std::vector<uint32_t> px;
  Picture(int w, int h) : width(w), height(h), stride(w + 3), px(size_t(h) * size_t(w + 3), kSentinel) {
    for (int y = 0; y < h; ++y) std::fill_n(&px[size_t(y) * size_t(stride)], w, kGrey);
  }
  uint32_t at(int x, int y) const { return px[size_t(y) * size_t(stride) + size_t(x)]; }
  void draw(const tw::OsdState& s, double now) { tw::drawOsd(s, now, px.data(), width, height, stride); }
  long changed() const {
    long n = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) n += at(x, y) != kGrey;
    return n;
  }
  bool paddingIntact() const {
    for (int y = 0; y < height; ++y)
      for (int x = width; x < stride; ++x)
        if (at(x, y) != kSentinel) return false;
    return true;
  }
  // Rows holding pure white text (the name and the lines are white).
  int whiteRows(int x0, int x1) const {
    int first = -1, last = -1;
    for (int y = 0; y < height; ++y)
      for (int x = x0; x < x1; ++x)
        if (at(x, y) == 0xFFFFFF) {
          if (first < 0) first = y;
          last = y;
          break;
        }
    return first < 0 ? 0 : last - first + 1;
  }
};

TEST(Osd, TheNameShowsForTwoSecondsAfterAChange) {
  tw::OsdState s;
  s.filterName = "Vidivi Vadu";
  s.filterChangedAt = 100.0;
  const struct {
    double now;
    bool shown;
  } cases[] = {{99.99, false}, {100.0, true}, {101.0, true}, {101.99, true}, {102.0, false}, {160.0, false}};
  for (const auto& c : cases) {
    Picture p(640, 480);
    p.draw(s, c.now);
    EXPECT_EQ(p.changed() > 0, c.shown) << c.now;
    EXPECT_TRUE(p.paddingIntact());
  }
  // Fading out: late in its time the name is fainter than at its start.
  Picture early(640, 480), late(640, 480);
  early.draw(s, 100.5);
  late.draw(s, 101.9);
  EXPECT_EQ(early.whiteRows(0, 640), 14 * tw::osdScale(640, 480));
  EXPECT_EQ(late.whiteRows(0, 640), 0);
  EXPECT_GT(late.changed(), 0);
}

TEST(Osd, TextGrowsWithThePicture) {
  // The name is drawn at twice the scale, so a glyph ('H': all seven rows)
  // is 14 × scale pixels tall; the scale follows the picture.
  const struct {
    int w, h, scale;
  } cases[] = {{320, 240, 1}, {640, 480, 2}, {1280, 720, 3}, {1920, 1080, 4}, {3840, 2160, 9}, {200, 100, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(tw::osdScale(c.w, c.h), c.scale) << c.w << "x" << c.h;
    tw::OsdState s;
    s.filterName = "HH";
    s.filterChangedAt = 0;
    Picture p(c.w, c.h);
    p.draw(s, 0.1);
    EXPECT_EQ(p.whiteRows(0, c.w), 14 * c.scale) << c.w << "x" << c.h;
  }
}

TEST(Osd, HelpAndInfoShowOnlyWhenAskedFor) {
  tw::OsdState s;
  s.filterName = "FFT Scope";  // changed long ago: not shown
  s.fps = 59.9;
  s.targetFps = 60;
  s.drawing = {{"FFT Scope", 123.0}};
  Picture none(640, 480);
  none.draw(s, 50);
  EXPECT_EQ(none.changed(), 0);

  s.help = true;
  Picture help(640, 480);
  help.draw(s, 50);
  // A panel in the middle, nothing in the corners.
  EXPECT_NE(help.at(320, 240), kGrey);
  EXPECT_EQ(help.at(2, 2), kGrey);
  EXPECT_EQ(help.at(637, 477), kGrey);
  EXPECT_TRUE(help.paddingIntact());

  s.help = false;
  s.info = true;
  Picture info(640, 480);
  info.draw(s, 50);
  long top = 0, bottom = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) (y < 240 ? top : bottom) += info.at(x, y) != kGrey;
  EXPECT_EQ(top, 0);
  EXPECT_GT(bottom, 0);
  EXPECT_EQ(tw::osdInfoLine(s), "59.9 fps  FFT Scope 0.12 ms of 16.7 ms");
}

TEST(Osd, HelpNamesTheKeysAndTheSourcesWhenCapturing) {
  tw::OsdState s;
  auto has = [](const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  std::vector<std::string> lines = tw::osdHelpLines(s);
  for (const char* key : {"Space", "Left, Right", "N, Tab", "P, Shift+Tab", "F ", "H ", "I ", "Esc, Q"})
    EXPECT_TRUE(has(lines, key)) << key;
  EXPECT_FALSE(has(lines, "Listening"));

  s.listening = "@DEFAULT_MONITOR@";
  s.sources = {{"out.monitor", "Monitor of Speakers", true, true}, {"mic", "Microphone", false, false}};
  lines = tw::osdHelpLines(s);
  EXPECT_TRUE(has(lines, "Listening to @DEFAULT_MONITOR@"));
  const auto monitor = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("out.monitor") != std::string::npos;
  });
  const auto mic = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("mic - Microphone") != std::string::npos;
  });
  ASSERT_NE(monitor, lines.end());
  ASSERT_NE(mic, lines.end());
  EXPECT_LT(monitor, mic);
}

TEST(Osd, StaysInsideAnyPicture) {
  tw::OsdState s;
  s.filterName = "A filter with a rather long name, longer than small pictures";
  s.filterChangedAt = 0;
  s.help = s.info = true;
  s.listening = "x";
  s.sources = {{"a.monitor", "Monitor", true, true}};
  s.drawing = {{"A filter with a rather long name", 1.0}, {"another", 2.0}};
  for (const auto& [w, h] :
       std::vector<std::pair<int, int>>{{1, 1}, {8, 8}, {17, 3}, {3, 40}, {100, 75}, {640, 480}}) {
    Picture p(w, h);
    p.draw(s, 0.5);
    EXPECT_TRUE(p.paddingIntact()) << w << "x" << h;
  }
  // Nothing to draw into: nothing happens.
  tw::drawOsd(s, 0.5, nullptr, 10, 10, 10);
  uint32_t one = kGrey;
  tw::drawOsd(s, 0.5, &one, 1, 1, 0);  // a stride shorter than a row is refused
  EXPECT_EQ(one, kGrey);
}

}  // namespace
