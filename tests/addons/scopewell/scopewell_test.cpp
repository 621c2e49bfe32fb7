// Scopewell, loaded from the built add-on file: the filter table and the
// descriptors, the edge cases of each filter's drawing, and whole frames of
// busy sound compared pixel for pixel with an independent rendering.
#include "Harness.h"
#include "Reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using scopewell_ref::Canvas;
using scopewell_ref::Sound;
using tw::FrameGeometry;
using tw::test::FilterRun;

enum Index { kScope = 0, kCentral = 1, kFft2 = 2, kDudo = 3 };
const char* const kNames[] = {"FFT Scope", "FFT Central", "FFT 2", "DudoZariri"};

// A background no mode-1 colour of these tests uses (the fans' indices stay
// below 64 or above 249); mode-2 colours never set the top byte.
constexpr uint8 kFill = 0xC5;
constexpr uint32 kFill32 = 0xC5C5C5C5;

class Scopewell : public ::testing::Test {
 protected:
  void SetUp() override {
    lib = tw::test::openAddon("Scopewell");
    ASSERT_TRUE(lib);
  }

  // One frame of `sound` drawn by filter `index` over a frame of kFill.
  std::unique_ptr<FilterRun> draw(int index, const Sound& sound, FrameGeometry g = {}) {
    auto run = std::make_unique<FilterRun>(*lib, index);
    EXPECT_TRUE(run->load());
    EXPECT_TRUE(run->prepare(g));
    run->frame().clear(kFill);
    SFrameInfo& rec = run->record();
    for (int ch = 0; ch < 2; ++ch) {
      std::copy(sound.spectrum[ch].begin(), sound.spectrum[ch].end(), rec.spectrum[ch]);
      rec.level[ch] = sound.level[ch];
      for (int b = 0; b < 8; ++b) rec.bands[ch][b] = sound.bands[ch][b];
    }
    rec.frameCount = sound.frameCount;
    run->draw();
    return run;
  }

  std::unique_ptr<tw::AddonLibrary> lib;
};

// A pixel of the run's frame in either mode.
uint32 px(FilterRun& run, int x, int y) {
  return run.frame().geometry().pixelMode == 1 ? run.frame().at8(x, y) : run.frame().at32(x, y);
}
uint32 fill(int mode) { return mode == 1 ? kFill : kFill32; }

// Compares the whole frame with a canvas; reports the first few differences.
::testing::AssertionResult sameFrame(FilterRun& run, const Canvas& want) {
  int bad = 0;
  std::string msg;
  for (int y = 0; y < want.h; ++y)
    for (int x = 0; x < want.stride; ++x) {
      // Padding beyond the width must keep the background too.
      const uint32 got = px(run, x, y), exp = want.at(x, y);
      if (got != exp && bad++ < 8)
        msg += " (" + std::to_string(x) + "," + std::to_string(y) + "): got " + std::to_string(got) +
               " want " + std::to_string(exp) + ";";
    }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " pixels differ:" << msg;
}

Canvas blank(const FrameGeometry& g) {
  const int bpp = g.pixelMode == 2 ? 4 : 1;
  return Canvas(g.width, g.height, g.rowBytes() / bpp, fill(g.pixelMode));
}

// ---- Table and descriptors ------------------------------------------------

TEST_F(Scopewell, OffersFourFiltersAndNullPastTheEndUnsigned) {
  for (int i = 0; i < 4; ++i) {
    FilterRun run(*lib, i);
    ASSERT_TRUE(run.valid());
    EXPECT_EQ(run.filter().name, nullptr) << "filterInit does not load";
    ASSERT_TRUE(run.load());
    EXPECT_STREQ(run.filter().name, kNames[i]);
  }
  for (int32 index : {4, 5, -1, -4, INT32_MIN, INT32_MAX}) EXPECT_EQ(lib->create(index), nullptr) << index;
}

TEST_F(Scopewell, Descriptors) {
  struct Want {
    float hostFactor;
    bool hostFlag1;
    bool panels;  // declares the four panel parameters
  } want[] = {{0.79f, false, true}, {0.78f, false, false}, {0.79f, true, true}, {0.8f, false, false}};
  for (int i = 0; i < 4; ++i) {
    FilterRun run(*lib, i);
    ASSERT_TRUE(run.load());
    CFilter& f = run.filter();
    SCOPED_TRACE(kNames[i]);
    EXPECT_STREQ(f.author, "Mornel");
    EXPECT_STREQ(f.info, "Sample code");
    EXPECT_EQ(f.hostHint1, 0);
    EXPECT_EQ(f.hostHint2, 3);
    EXPECT_EQ(f.icon, nullptr);
    EXPECT_EQ(f.hostFlag1, want[i].hostFlag1);
    EXPECT_FALSE(f.hostFlag2);
    EXPECT_EQ(f.hostFactor, want[i].hostFactor);
    EXPECT_EQ(f.supportedModes, 3);
    EXPECT_EQ(f.settingsOpened(), nullptr);
    if (!want[i].panels) {
      EXPECT_TRUE(f.params.IsEmpty());
      continue;
    }
    ASSERT_EQ(f.params.CountNames(B_ANY_TYPE), 4);
    const char* order[] = {"Bass Frame", "High Frame", "Average", "Divider"};
    for (int k = 0; k < 4; ++k) {
      const char* n = nullptr;
      type_code t;
      ASSERT_EQ(f.params.GetInfo(B_ANY_TYPE, k, &n, &t), B_OK);
      EXPECT_STREQ(n, order[k]);
    }
    BRect r;
    ASSERT_EQ(f.params.FindRect("Bass Frame", &r), B_OK);
    EXPECT_EQ(r, BRect(10, 10, 265, 109));
    ASSERT_EQ(f.params.FindRect("High Frame", &r), B_OK);
    EXPECT_EQ(r, BRect(374, 10, 629, 109));
    bool average = false;
    ASSERT_EQ(f.params.FindBool("Average", &average), B_OK);
    EXPECT_TRUE(average);
    float divider = 0;
    ASSERT_EQ(f.params.FindFloat("Divider", &divider), B_OK);
    EXPECT_EQ(divider, 8192.0f);
  }
}

// ---- FFT Scope ----------------------------------------------------------------

// Silence, hand-derived: every bar covers rows 109 and 110 of its column and
// both level lines lie on row 110, drawn after the bars; the level lines
// reach two columns further than the bars.
TEST_F(Scopewell, ScopeSilence) {
  for (int mode : {1, 2}) {
    auto run = draw(kScope, Sound{}, {640, 480, mode, 0});
    const uint32 a = scopewell_ref::colorA(mode), b = scopewell_ref::colorB(mode);
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        uint32 want = fill(mode);
        if (x >= 10 && x <= 264 && y == 109) want = a;
        if (x >= 10 && x <= 266 && y == 110) want = b;
        if (x >= 374 && x <= 628 && y == 109) want = b;
        if (x >= 374 && x <= 630 && y == 110) want = a;
        ASSERT_EQ(px(*run, x, y), want) << "mode " << mode << " at " << x << "," << y;
      }
  }
}

// One bin or level at a time: a column's bar from barTop to row 110, then
// the level line over it on levelRow.
struct ScopeCase {
  const char* what;
  int channel, bin;  // bin −1: set the level instead
  double value;
  int x;  // column to inspect
  int barTop, levelRow;
};

TEST_F(Scopewell, ScopeBarsAndLevels) {
  const ScopeCase cases[] = {
      {"loud level clamps to row 0", 1, -1, 8192.0 * 200, 200, 109, 0},
      {"negative level clamps to row 479", 1, -1, -8192.0 * 500, 200, 109, 479},
      {"level 109.5 steps on row 1", 1, -1, 8192.0 * 109.5, 100, 109, 1},
      {"a level just below zero truncates to 0", 1, -1, -8191.0, 100, 109, 110},
      {"right level 8192 × 30 on row 80", 0, -1, 8192.0 * 30, 600, 109, 80},
      {"negative bin clamps like silence", 1, 0, -8192.0 * 5, 10, 109, 110},
      {"tallest bar from row 10", 1, 254, 8192.0 * 150, 264, 10, 110},
      {"bar of 40 steps", 0, 7, 8192.0 * 40.9, 381, 70, 110},
      {"fraction below one step", 0, 0, 8191.0, 374, 109, 110},
  };
  for (int mode : {1, 2}) {
    for (const ScopeCase& c : cases) {
      Sound s;
      if (c.bin < 0)
        s.level[c.channel] = c.value;
      else
        s.spectrum[c.channel][size_t(c.bin)] = float(c.value);
      auto run = draw(kScope, s, {640, 480, mode, 0});
      // Left bars are colour A, right bars colour B; level lines the other.
      const bool left = c.x < 320;
      const uint32 barColour = left ? scopewell_ref::colorA(mode) : scopewell_ref::colorB(mode);
      const uint32 levColour = left ? scopewell_ref::colorB(mode) : scopewell_ref::colorA(mode);
      for (int y = 0; y < 480; ++y) {
        uint32 want = y >= c.barTop && y <= 110 ? barColour : fill(mode);
        if (y == c.levelRow) want = levColour;
        ASSERT_EQ(px(*run, c.x, y), want) << c.what << ", mode " << mode << ", row " << y;
      }
    }
  }
}

// ---- FFT 2 ----------------------------------------------------------------------

TEST_F(Scopewell, Fft2BandsAreAnEdgeAndACap) {
  for (int mode : {1, 2}) {
    const uint32 a = scopewell_ref::colorA(mode), b = scopewell_ref::colorB(mode);
    Sound s;
    s.bands[1][0] = 8192.0 * 1000;  // capped at 300: up to row 170
    s.bands[0][3] = 8192.0 * 20.5;  // right band 3 up to row 450
    s.level[0] = -8192.0;           // clamped to 0: row 470
    s.level[1] = 8192.0 * 100;      // row 370
    auto run = draw(kFft2, s, {640, 480, mode, 0});
    // Left band 0: its edge in column 10 from row 170 to 470 and its cap.
    for (int y = 160; y < 480; ++y)
      ASSERT_EQ(px(*run, 10, y), y < 170 || y > 470 ? fill(mode) : y == 370 ? b : a) << y;
    for (int x = 10; x <= 41; ++x) EXPECT_EQ(px(*run, x, 170), a) << x;
    EXPECT_EQ(px(*run, 42, 170), fill(mode));
    // Right band 3 (column 470): rows 450…470, its cap to column 501.
    for (int y = 440; y < 480; ++y)
      ASSERT_EQ(px(*run, 470, y), y < 450 || y > 470 ? fill(mode) : y == 470 ? a : b);
    EXPECT_EQ(px(*run, 501, 450), b);
    EXPECT_EQ(px(*run, 502, 450), fill(mode));
    // Silent bands leave a point at row 470 and their caps along it; band 0
    // has its cap at row 170 instead. The right level line (level 0) covers
    // row 470 in colour A to column 630, over the right bands' caps.
    for (int x = 0; x < 640; ++x) {
      uint32 want = fill(mode);
      if (x == 10 || (x >= 42 && x <= 265)) want = a;
      if (x >= 374 && x <= 630) want = a;
      ASSERT_EQ(px(*run, x, 470), want) << x;
      EXPECT_EQ(px(*run, x, 471), fill(mode));
    }
    // The left level line on row 370.
    EXPECT_EQ(px(*run, 9, 370), fill(mode));
    for (int x = 10; x <= 266; ++x) ASSERT_EQ(px(*run, x, 370), b) << x;
    EXPECT_EQ(px(*run, 267, 370), fill(mode));
  }
}

// ---- FFT Central ------------------------------------------------------------------

// Rows that carry a line, for a spectrum whose every bin is loud.
TEST_F(Scopewell, CentralBinsScrollWithTheFrameCounter) {
  struct Case {
    int32 frameCount;
    std::vector<std::pair<int, int>> drawn;  // row ranges with lines
  } cases[] = {
      {0, {{0, 255}}},  {300, {{212, 467}}},     {256, {{256, 479}}},
      {-1, {{1, 256}}}, {INT32_MAX, {{1, 256}}},  // the counter + row wraps like the bits of a 32-bit sum
  };
  Sound s;
  for (int k = 0; k < 256; ++k) s.spectrum[1][size_t(k)] = 32768.0f * float(10 + k % 50);
  for (const Case& c : cases) {
    s.frameCount = c.frameCount;
    for (int mode : {1, 2}) {
      auto run = draw(kCentral, s, {640, 480, mode, 0});
      for (int y = 0; y < 480; ++y) {
        bool drawn = false;
        for (auto [a, b] : c.drawn) drawn |= y >= a && y <= b;
        // A drawn row's bin is (frameCount + y) mod 512, below 256.
        const int v = 10 + int((int64(c.frameCount) + y) & 511) % 50;
        const uint32 colour = mode == 1 ? uint32((y + v) % 256) : scopewell_ref::ramp2(v, 320);
        ASSERT_EQ(px(*run, 320, y), drawn ? colour : fill(mode))
            << "frameCount " << c.frameCount << " row " << y;
      }
    }
  }
}

// One bin at row 0 (frameCount 0): the line's extent and colour per mode.
struct CentralCase {
  const char* what;
  float value;
  int width;
  int from8, to8;    // extent in mode 1 (from > to: no line)
  int from32, to32;  // extent in mode 2
  uint32 colour8, colour32;
};

TEST_F(Scopewell, CentralLineLengthsAndColours) {
  const CentralCase cases[] = {
      {"v = 3 from a negative bin", -98304.0f, 640, 317, 323, 317, 323, 3, 0x131300},
      {"v = 2: mode 2 only", 65536.0f, 640, 1, 0, 318, 322, 0, 0x0C0C00},
      {"v = 1: mode 2 only", 32768.0f * 1.99f, 640, 1, 0, 319, 321, 0, 0x060600},
      {"just below one step: nothing", 32767.0f, 640, 1, 0, 1, 0, 0, 0},
      {"capped at width / 2, clipped", 32768.0f * 400, 640, 0, 639, 0, 639, 64, 0xFF0000},
      {"v = 40: green", 32768.0f * 40, 640, 280, 360, 280, 360, 40, 0x00FF00},
      {"odd width 101: cx 50", 32768.0f * 30, 101, 20, 80, 20, 80, 30, 0xFF0000},
      {"width 3: cx 1", 32768.0f * 9, 3, 0, 2, 0, 2, 1, 0},
  };
  for (const CentralCase& c : cases) {
    Sound s;
    s.spectrum[1][0] = c.value;
    for (int mode : {1, 2}) {
      auto run = draw(kCentral, s, {c.width, 480, mode, 0});
      const int from = mode == 1 ? c.from8 : c.from32, to = mode == 1 ? c.to8 : c.to32;
      const uint32 colour = mode == 1 ? c.colour8 : c.colour32;
      for (int x = 0; x < c.width; ++x)
        ASSERT_EQ(px(*run, x, 0), x >= from && x <= to ? colour : fill(mode))
            << c.what << ", mode " << mode << ", x " << x;
      for (int x = 0; x < c.width; ++x) ASSERT_EQ(px(*run, x, 1), fill(mode)) << "silent row 1";
    }
  }
}

// ---- DudoZariri ---------------------------------------------------------------------

int countNot(FilterRun& run, int x0, int y0, int x1, int y1, uint32 background) {
  int n = 0;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) n += px(run, x, y) != background;
  return n;
}

TEST_F(Scopewell, DudoZaririSilentFans) {
  for (int mode : {1, 2}) {
    auto run = draw(kDudo, Sound{}, {640, 480, mode, 0});
    // Fan 1: 64 single points on the quarter circle of radius 128, the first
    // one pixel inside it (128·cos 0 truncates to 127), the last at (153, 73).
    EXPECT_NE(px(*run, 277, 200), fill(mode));
    EXPECT_EQ(px(*run, 278, 200), fill(mode));
    EXPECT_NE(px(*run, 153, 73), fill(mode));
    EXPECT_EQ(countNot(*run, 0, 0, 299, 479, fill(mode)), 64);
    // Fan 2: stubs from radius 50 to 60, the first along row 300.
    for (int x = 495; x < 515; ++x) ASSERT_EQ(px(*run, x, 300) != fill(mode), x >= 499 && x <= 509) << x;
  }
}

TEST_F(Scopewell, DudoZaririLoudBinsPullFanOneInAndPushFanTwoOut) {
  Sound s;
  s.spectrum[0][0] = 16384.0f * 28;    // (277, 200) to (249, 200)
  s.spectrum[0][40] = 16384.0f * 200;  // through the centre to radius −72
  s.spectrum[1][0] = 16384.0f * 30;    // (499, 300) to (539, 300)
  s.spectrum[1][2] = -16384.0f * 70;   // inward past the centre, to radius −10
  for (int mode : {1, 2}) {
    auto run = draw(kDudo, s, {640, 480, mode, 0});
    for (int x = 240; x < 290; ++x) ASSERT_EQ(px(*run, x, 200) != fill(mode), x >= 249 && x <= 277) << x;
    for (int x = 490; x < 550; ++x) ASSERT_EQ(px(*run, x, 300) != fill(mode), x >= 499 && x <= 539) << x;
    // The end points of the other two lines, from the fan's own cosine.
    const auto l1 = scopewell_ref::fanLine(40, 150, 200, 128, -72);
    EXPECT_LT(l1.x2, 150);
    EXPECT_NE(px(*run, int(l1.x2), int(l1.y2)), fill(mode));
    const auto l2 = scopewell_ref::fanLine(2, 450, 300, 50, -10);
    EXPECT_NE(px(*run, int(l2.x2), int(l2.y2)), fill(mode));
  }
}

TEST_F(Scopewell, DudoZaririColoursCycleWithTheFrameCounter) {
  Sound s;
  s.frameCount = 250;
  auto run8 = draw(kDudo, s, {640, 480, 1, 0});
  auto run32 = draw(kDudo, s, {640, 480, 2, 0});
  for (int i = 0; i < 64; ++i) {
    const auto p = scopewell_ref::fanLine(i, 150, 200, 128, 128);  // a point
    const auto q = scopewell_ref::fanLine(i, 450, 300, 50, 60);
    // Lines 0…5 use indices 250…255, line 6 index 0.
    const uint32 index = uint32((250 + i) % 256);
    EXPECT_EQ(px(*run8, int(p.x1), int(p.y1)), index) << i;
    EXPECT_EQ(px(*run8, int(q.x2), int(q.y2)), index) << i;
    const uint32 colour = scopewell_ref::ramp((250 + i) & 127, 1.0 / 128);
    EXPECT_EQ(px(*run32, int(p.x1), int(p.y1)), colour) << i;
  }
  EXPECT_EQ(px(*run8, 277, 200), 250u);
  // Line 0 in mode 2: phase 250 AND 127 = 122.
  EXPECT_EQ(px(*run32, 277, 200), scopewell_ref::ramp(122, 1.0 / 128));
}

// The fan's end points as the card hook receives them. The bins are chosen
// where the fan's own cosine and sine, truncated, differ from the library's
// by one pixel (the library would give 458, 620, 1174 … instead).
std::vector<std::vector<int32>> hookLines;
int32 recordLine8(int32 x1, int32 x2, int32 y1, int32 y2, uint8, bool, int16, int16, int16, int16) {
  hookLines.push_back({x1, y1, x2, y2});
  return 0;
}

TEST_F(Scopewell, DudoZaririEndPointsComeFromItsOwnPolynomial) {
  struct Case {
    int fan, bin, steps;  // bin value in steps of 16384
    int32 x2, y2;         // the end point
  } cases[] = {
      {2, 33, 571, 885, -156},                       // r = 631: r·sin is 456.99997 (library: 457.00…)
      {2, 60, 563, 511, -319},                       // r = 623: r·sin is 619.999999
      {2, 8, 1137, 1623, 67},                        // r = 1197: r·cos is 1173.9999
      {2, 11, 851, 1327, 58},                        // r = 911
      {2, 36, 632, 888, -234},                       // r = 692
      {2, 42, 720, 850, -369},                       // r = 780
      {2, 54, 866, 674, -598},                       // r = 926
      {1, 33, 759, -285, 656},                       // r = −631, through the centre
      {1, 60, 751, 89, 819},                         // r = −623
      {1, 36, 820, -288, 734},                       // r = −692
      {1, 0, 0, 277, 200},                           // silent: a point one pixel inside the circle
      {1, 63, 0, 153, 73},     {2, 0, 0, 509, 300},  // silent: a stub to radius 60
  };
  FilterRun run(*lib, kDudo);
  ASSERT_TRUE(run.load());
  ASSERT_TRUE(run.prepare({640, 480, 1, 0}));
  run.filter().useCardHooks = true;
  run.filter().lineHook8 = recordLine8;
  for (const Case& c : cases) run.record().spectrum[c.fan - 1][c.bin] = 16384.0f * float(c.steps);
  hookLines.clear();
  run.draw();
  ASSERT_EQ(hookLines.size(), 128u);
  for (const Case& c : cases) {
    const std::vector<int32>& l = hookLines[size_t((c.fan - 1) * 64 + c.bin)];
    EXPECT_EQ(l[2], c.x2) << "fan " << c.fan << " line " << c.bin;
    EXPECT_EQ(l[3], c.y2) << "fan " << c.fan << " line " << c.bin;
  }
  // Start points: on radius 128 (fan 1) and 50 (fan 2), the first one pixel in.
  EXPECT_EQ(hookLines[0], (std::vector<int32>{277, 200, 277, 200}));
  EXPECT_EQ(hookLines[64][0], 499);
  EXPECT_EQ(hookLines[64][1], 300);
  EXPECT_EQ(hookLines[63][0], 153);
  EXPECT_EQ(hookLines[63][1], 73);
}

// ---- Whole frames --------------------------------------------------------------------

// Busy sound: bins of every magnitude from below one pixel step to far past
// the caps, a fifth negative, with fractions; levels and bands likewise.
Sound busySound(unsigned seed) {
  auto rnd = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  auto value = [&] {
    const unsigned bits = rnd() % 25;
    double v = double(rnd() % (1u << bits)) + double(rnd() % 100) / 100.0;
    return rnd() % 5 == 0 ? -v : v;
  };
  Sound s;
  for (int ch = 0; ch < 2; ++ch) {
    for (float& v : s.spectrum[ch]) v = float(value());
    s.level[ch] = value();
    for (double& b : s.bands[ch]) b = value();
  }
  s.frameCount = int32(rnd() % 2000) - 500;
  return s;
}

void renderReference(int index, Canvas& cv, const Sound& s, const FrameGeometry& g) {
  switch (index) {
    case kScope:
      return scopewell_ref::fftScope(cv, s, g.pixelMode);
    case kCentral:
      return scopewell_ref::fftCentral(cv, s, g.pixelMode, g.width, g.height);
    case kFft2:
      return scopewell_ref::fft2(cv, s, g.pixelMode);
    default:
      return scopewell_ref::dudoZariri(cv, s, g.pixelMode);
  }
}

TEST_F(Scopewell, WholeFramesMatchTheReference) {
  const FrameGeometry geometries[] = {
      {640, 480, 1, 0},    {640, 480, 2, 0}, {640, 480, 1, 700},
      {640, 480, 2, 2600}, {320, 240, 1, 0}, {320, 240, 2, 0},
  };
  for (int index = 0; index < 4; ++index)
    for (const FrameGeometry& g : geometries)
      for (unsigned seed : {1u, 2u, 3u, 4u}) {
        const Sound s = busySound(seed * 7919u + unsigned(index));
        auto run = draw(index, s, g);
        Canvas want = blank(g);
        renderReference(index, want, s, g);
        EXPECT_TRUE(sameFrame(*run, want)) << kNames[index] << " mode " << g.pixelMode << " " << g.width
                                           << "x" << g.height << "/" << g.rowBytes() << " seed " << seed;
      }
}

// The same frames drawn over a frame that is not blank: every filter only
// adds its lines.
TEST_F(Scopewell, FiltersDrawOverWhatTheFrameHolds) {
  for (int index = 0; index < 4; ++index)
    for (int mode : {1, 2}) {
      const Sound s = busySound(99u + unsigned(index));
      const FrameGeometry g{640, 480, mode, 0};
      auto run = std::make_unique<FilterRun>(*lib, index);
      ASSERT_TRUE(run->load());
      ASSERT_TRUE(run->prepare(g));
      Canvas want = blank(g);
      // A diagonal pattern in the frame and the reference alike.
      for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
          const uint32 v = mode == 1 ? uint32((x + 3 * y) & 255) : uint32(x * 977 + y * 131) & 0xFFFFFF;
          want.px[size_t(y * 640 + x)] = v;
          if (mode == 1)
            run->frame().pixels()[y * 640 + x] = uint8(v);
          else
            std::memcpy(run->frame().pixels() + (y * 640 + x) * 4, &v, 4);
        }
      SFrameInfo& rec = run->record();
      for (int ch = 0; ch < 2; ++ch) {
        std::copy(s.spectrum[ch].begin(), s.spectrum[ch].end(), rec.spectrum[ch]);
        rec.level[ch] = s.level[ch];
        for (int b = 0; b < 8; ++b) rec.bands[ch][b] = s.bands[ch][b];
      }
      rec.frameCount = s.frameCount;
      run->draw();
      renderReference(index, want, s, g);
      EXPECT_TRUE(sameFrame(*run, want)) << kNames[index] << " mode " << mode;
    }
}

// ---- Card hooks ----------------------------------------------------------------------

int lineCalls = 0;
int32 countLine8(int32, int32, int32, int32, uint8, bool, int16, int16, int16, int16) { return ++lineCalls; }
int32 countLine32(int32, int32, int32, int32, uint32, bool, int16, int16, int16, int16) {
  return ++lineCalls;
}

// Every filter draws through the line primitive, so a frame in the card's
// memory gets all of it through the hooks: 512 lines for FFT Scope, 34 for
// FFT 2, 128 for DudoZariri, and one per row with a line for FFT Central.
TEST_F(Scopewell, EveryLineGoesThroughTheCardHookWhenActive) {
  Sound s;
  for (int k = 0; k < 256; ++k) s.spectrum[1][size_t(k)] = k < 100 ? 32768.0f * 50 : 0.0f;
  const int want[] = {512, 100, 34, 128};
  for (int index = 0; index < 4; ++index)
    for (int mode : {1, 2}) {
      FilterRun run(*lib, index);
      ASSERT_TRUE(run.load());
      ASSERT_TRUE(run.prepare({640, 480, mode, 0}));
      run.filter().useCardHooks = true;
      run.filter().lineHook8 = countLine8;
      run.filter().lineHook32 = countLine32;
      for (int ch = 0; ch < 2; ++ch)
        std::copy(s.spectrum[ch].begin(), s.spectrum[ch].end(), run.record().spectrum[ch]);
      lineCalls = 0;
      run.draw();
      EXPECT_EQ(lineCalls, want[index]) << kNames[index] << " mode " << mode;
      const uint8* p = run.frame().pixels();
      EXPECT_TRUE(std::all_of(p, p + run.frame().size(), [](uint8 b) { return b == 0; }));
    }
}

// ---- Hostile sound --------------------------------------------------------------------

// Values no analysis produces (infinities, NaN, magnitudes past the int32
// range after scaling): conversions saturate and NaN reads as silence, so
// each filter still draws its picture, clipped to the frame.
TEST_F(Scopewell, OutOfRangeSoundSaturates) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  for (int mode : {1, 2}) {
    const uint32 a = scopewell_ref::colorA(mode), b = scopewell_ref::colorB(mode);
    {
      Sound s;
      s.spectrum[1][0] = inf;    // tallest bar
      s.spectrum[1][1] = -inf;   // like silence
      s.spectrum[1][2] = nan;    // like silence
      s.spectrum[1][3] = 1e30f;  // tallest bar
      s.level[1] = std::numeric_limits<double>::infinity();
      s.level[0] = std::numeric_limits<double>::quiet_NaN();
      auto run = draw(kScope, s, {640, 480, mode, 0});
      for (int y = 0; y < 110; ++y) {
        ASSERT_EQ(px(*run, 10, y), y == 0 ? b : y >= 10 ? a : fill(mode)) << y;
        ASSERT_EQ(px(*run, 11, y), y == 0 ? b : y == 109 ? a : fill(mode)) << y;
        ASSERT_EQ(px(*run, 12, y), y == 0 ? b : y == 109 ? a : fill(mode)) << y;
        ASSERT_EQ(px(*run, 13, y), y == 0 ? b : y >= 10 ? a : fill(mode)) << y;
      }
      EXPECT_EQ(px(*run, 500, 110), a) << "a NaN level is level 0";
    }
    {
      Sound s;
      s.spectrum[1][0] = -inf;  // |−∞| saturates: a full-width line
      s.spectrum[1][1] = nan;   // nothing
      for (double& v : s.bands[1]) v = 1e300;
      s.bands[0][0] = std::numeric_limits<double>::quiet_NaN();
      auto central = draw(kCentral, s, {640, 480, mode, 0});
      EXPECT_NE(px(*central, 0, 0), fill(mode));
      EXPECT_NE(px(*central, 639, 0), fill(mode));
      EXPECT_EQ(px(*central, 320, 1), fill(mode));
      auto bands = draw(kFft2, s, {640, 480, mode, 0});
      EXPECT_EQ(px(*bands, 10, 170), a);
      EXPECT_EQ(px(*bands, 10, 169), fill(mode));
      EXPECT_EQ(px(*bands, 374, 469), fill(mode)) << "a NaN band is silent";
    }
    {
      // Fan 2 pushed out to the saturated radius and fan 1 pushed outward by
      // a huge negative bin: both lines leave the frame at its right edge.
      Sound s;
      s.spectrum[1][0] = 1e30f;
      s.spectrum[0][0] = -1e30f;
      s.spectrum[1][5] = nan;
      auto run = draw(kDudo, s, {640, 480, mode, 0});
      for (int x = 499; x < 640; ++x) ASSERT_NE(px(*run, x, 300), fill(mode)) << x;
      for (int x = 277; x < 640; ++x) ASSERT_NE(px(*run, x, 200), fill(mode)) << x;
      const auto stub = scopewell_ref::fanLine(5, 450, 300, 50, 60);
      EXPECT_NE(px(*run, int(stub.x2), int(stub.y2)), fill(mode)) << "a NaN bin is a silent stub";
    }
  }
}

}  // namespace
