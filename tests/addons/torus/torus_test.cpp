// TideTorus, loaded from the built Vodid file: whole frames of both modes
// against an independent model, the wave schedule over many frames, the
// colour boundaries, the stretch threshold, card hooks and hostile spectra.
#include "Basic_addon.h"
#include "Harness.h"
#include "TorusReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

using tw::FrameGeometry;
using tw::test::FilterRun;

constexpr int kSpectrum = tw::Frame::kSpectrum;

// The segment a wave shows d frames after it started, −1 once idle: segment
// 0 on its first frame, then segment p on the four frames 4p − 3 … 4p, idle
// from the 61st frame on. Rows: first d of each position.
const std::vector<std::pair<int, int>> kSingleWave = {
    {0, 0},  {1, 1},   {5, 2},   {9, 3},   {13, 4},  {17, 5},  {21, 6},  {25, 7},  {29, 8},
    {33, 9}, {37, 10}, {41, 11}, {45, 12}, {49, 13}, {53, 14}, {57, 15}, {61, -1},
};

int waveSegment(int d) {
  int seg = -1;
  for (const auto& [from, s] : kSingleWave)
    if (d >= from) seg = s;
  return seg;
}

// The segments highlighted on frame n by waves that started on the given
// frames (each wave's latest start at or before n counts).
std::set<int> highlighted(int n, const std::vector<std::vector<int>>& startsPerWave) {
  std::set<int> out;
  for (const auto& starts : startsPerWave) {
    int latest = -1;
    for (int s : starts)
      if (s <= n) latest = s;
    if (latest < 0) continue;
    const int seg = waveSegment(n - latest);
    if (seg >= 0) {
      out.insert(seg);
      out.insert(31 - seg);
    }
  }
  return out;
}

std::vector<float> silent() { return std::vector<float>(kSpectrum, 0.0f); }

// Falls from loud bass to quiet highs, so the levels cover every colour
// band, with an uneven ripple so that nothing lands on round numbers. Bins 9
// and 10 are far above the wave threshold.
std::vector<float> loud() {
  std::vector<float> s(kSpectrum);
  for (int k = 0; k < kSpectrum; ++k)
    s[size_t(k)] = float(3.6e6 * std::exp(-k / 20.0) + 1000.0 * (k * 37 % 11));
  return s;
}

// Levels on the colour boundaries (band sums are exact in float): segment 0
// at 10 (750000 × 1/75000 rounds to 10.0f), 2 at 90, 3 at 14, 4 at 80, 5 at
// 85, 6 at 18, 7 just below 10; the rest silent, no stretch.
std::vector<float> boundaries() {
  std::vector<float> s = silent();
  s[1] = s[2] = s[3] = 250000;
  s[16] = 90 * 115000.0f;
  s[24] = 14 * 110000.0f;
  s[32] = 80 * 105000.0f;
  s[40] = 85 * 100000.0f;
  s[48] = 18 * 95000.0f;
  s[56] = 899999;
  return s;
}

CSampleFftFilter& torus(FilterRun& run) { return static_cast<CSampleFftFilter&>(run.filter()); }

// Pixel (x, y) of the run's frame as a value of its mode.
uint32_t pixel(FilterRun& run, int x, int y) {
  return run.frame().geometry().pixelMode == 1 ? run.frame().at8(x, y) : run.frame().at32(x, y);
}

// Compares the frame with the model picture; on a mismatch names the count
// and the first few differing pixels.
::testing::AssertionResult sameFrame(FilterRun& run, const torus_ref::Picture& want) {
  int bad = 0;
  std::string where;
  for (int y = 0; y < want.height; ++y)
    for (int x = 0; x < want.width; ++x) {
      const uint32_t got = pixel(run, x, y), exp = want.px[size_t(y) * size_t(want.width) + size_t(x)];
      if (got != exp && ++bad <= 5)
        where += " (" + std::to_string(x) + "," + std::to_string(y) + ") got " + std::to_string(got) +
                 " want " + std::to_string(exp) + ";";
    }
  if (bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad << " pixels differ:" << where;
}

class TideTorus : public ::testing::Test {
 protected:
  void SetUp() override {
    lib = tw::test::openAddon("Vodid");
    ASSERT_TRUE(lib);
  }
  std::unique_ptr<FilterRun> start(FrameGeometry g) {
    auto run = std::make_unique<FilterRun>(*lib, 0);
    EXPECT_TRUE(run->load());
    EXPECT_TRUE(run->prepare(g));
    return run;
  }
  static void setSpectrum(FilterRun& run, const std::vector<float>& s) {
    std::copy(s.begin(), s.end(), run.frame().spectrum(1));
  }
  std::unique_ptr<tw::AddonLibrary> lib;
};

TEST_F(TideTorus, DescriptorAndFactory) {
  EXPECT_EQ(lib->create(1), nullptr);
  EXPECT_EQ(lib->create(-1), nullptr);
  FilterRun run(*lib, 0);
  ASSERT_TRUE(run.load());
  const CFilter& f = run.filter();
  EXPECT_STREQ(f.name, "TideTorus");
  EXPECT_STREQ(f.author, "Orrel Dask");
  ASSERT_NE(f.info, nullptr);
  EXPECT_NE(std::string(f.info).find('@'), std::string::npos);
  EXPECT_EQ(f.hostHint1, 0);
  EXPECT_EQ(f.hostHint2, 4);
  EXPECT_EQ(f.supportedModes, 3);
  EXPECT_EQ(f.icon, nullptr);
  EXPECT_FALSE(f.hostFlag1);
  EXPECT_FALSE(f.hostFlag2);
  EXPECT_EQ(f.hostFactor, 0.5f);
  EXPECT_TRUE(f.params.IsEmpty());
  EXPECT_EQ(torus(run).ringCount, 32);
  EXPECT_EQ(torus(run).tubeCount, 12);
  EXPECT_EQ(run.filter().settingsOpened(), nullptr);
}

// The first frames after prepare, drawn over one another as the filter never
// clears, in both modes, on silence and on a loud spectrum that starts waves.
TEST_F(TideTorus, FirstFramesMatchTheModel) {
  struct Case {
    const char* what;
    std::vector<float> spectrum;
    std::vector<std::vector<int>> starts;  // per wave, the frames it starts on
  };
  const Case cases[] = {
      {"silent", silent(), {}},
      {"loud", loud(), {{1}, {6}}},
      {"boundaries", boundaries(), {}},
  };
  for (const Case& c : cases)
    for (int mode : {1, 2}) {
      SCOPED_TRACE(std::string(c.what) + " mode " + std::to_string(mode));
      auto run = start({640, 480, mode, 0});
      torus_ref::Picture want(640, 480);
      for (int n = 1; n <= 8; ++n) {
        setSpectrum(*run, c.spectrum);
        run->draw();
        torus_ref::drawFrame(want, n, c.spectrum.data(), mode, highlighted(n, c.starts));
        ASSERT_TRUE(sameFrame(*run, want)) << "frame " << n;
      }
    }
}

// Independent of the model: on silence every line is the quiet colour, and the
// first frame's torus is centred on (479, 242), the orbit's point at 1°.
TEST_F(TideTorus, SilenceIsBlueAndCentredOnTheOrbit) {
  for (int mode : {1, 2}) {
    auto run = start({640, 480, mode, 0});
    run->draw();
    int minX = 640, maxX = -1, minY = 480, maxY = -1;
    std::set<uint32_t> colours;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x)
        if (const uint32_t p = pixel(*run, x, y)) {
          colours.insert(p);
          minX = std::min(minX, x), maxX = std::max(maxX, x);
          minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
    EXPECT_EQ(colours, (std::set<uint32_t>{mode == 1 ? 32u : 0x0000F8u}));
    // The mesh is symmetric through its centre; truncation moves each side by
    // less than a pixel.
    EXPECT_NEAR((minX + maxX) / 2.0, 479, 1.0);
    EXPECT_NEAR((minY + maxY) / 2.0, 242, 1.0);
    // Tube radius 10 and ring radius 60: the torus spans at most 140 pixels.
    EXPECT_LE(maxX - minX, 141);
    EXPECT_GT(maxX - minX, 60);
  }
}

// The colours on the level boundaries, counted by hand: tube 10 → 49 (80 red),
// 14 → 48 (red 167), 18 → 48 (red 255), 80 → 42 (held at 255), 85 → 41, 90 →
// 42 (red 248); rings between 10 and 10 or 10 and 0 stay quiet, 85/80 → 41.
// In 32-bit mode no red value spills into green.
TEST_F(TideTorus, ColourBoundaries) {
  const std::set<uint32_t> want8 = {32, 41, 42, 48, 49};
  const std::set<uint32_t> want32 = {0x0000F8, 0x500000, 0xA70000, 0xFF0000, 0xF80000};
  for (int mode : {1, 2}) {
    auto run = start({640, 480, mode, 0});
    setSpectrum(*run, boundaries());
    run->draw();
    std::set<uint32_t> colours;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x)
        if (const uint32_t p = pixel(*run, x, y)) colours.insert(p);
    EXPECT_EQ(colours, mode == 1 ? want8 : want32) << "mode " << mode;
  }
  // A loud spectrum drives the red far past 255; it stays in the red byte.
  auto run = start({640, 480, 2, 0});
  std::vector<float> s = loud();
  s[9] = s[10] = 0;  // no waves, whose yellow has green in it
  setSpectrum(*run, s);
  for (int n = 0; n < 4; ++n) run->draw();
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const uint32_t p = run->frame().at32(x, y);
      ASSERT_TRUE(p == 0 || p == 0x0000F8 || (p & 0xFF00FFFFu) == 0) << std::hex << p;
    }
}

// A single trigger on frame 3: the wave is drawn at 0 and 31 on that frame,
// then one pair further every four frames, idle again from frame 64. Each
// frame is drawn on a cleared frame and compared whole.
TEST_F(TideTorus, SingleWaveSchedule) {
  auto run = start({640, 480, 1, 0});
  std::vector<float> trigger = silent();
  trigger[10] = 1.2e6f;  // stretch 40
  for (int n = 1; n <= 70; ++n) {
    SCOPED_TRACE("frame " + std::to_string(n));
    const auto& s = n == 3 ? trigger : silent();
    setSpectrum(*run, s);
    run->frame().clear();
    run->draw();
    torus_ref::Picture want(640, 480);
    torus_ref::drawFrame(want, n, s.data(), 1, highlighted(n, {{3}}));
    ASSERT_TRUE(sameFrame(*run, want));
    // After the frame the wave has moved on to where the next frame shows it.
    const int next = n >= 3 ? waveSegment(n + 1 - 3) : -1;
    EXPECT_EQ(torus(*run).wavePos[0], next);
    EXPECT_EQ(torus(*run).waveMirror[0], next == -1 ? -1 : 31 - next);
    EXPECT_EQ(torus(*run).wavePos[1], -1);
    EXPECT_EQ(torus(*run).wavePos[2], -1);
  }
}

// Triggers on every frame: wave 0 starts on frame 1, wave 1 on frame 6 (when
// wave 0 reaches segment 2), wave 2 on frame 11; further triggers do nothing
// while all three run. Wave 0 is idle from frame 62 and restarts at once,
// and the others follow five frames apart again.
TEST_F(TideTorus, ThreeStaggeredWaves) {
  const std::vector<std::vector<int>> starts = {{1, 62}, {6, 67}, {11, 72}};
  // Key rows, by hand: the segment each wave shows on the frame.
  const struct {
    int frame, w0, w1, w2;
  } rows[] = {
      {1, 0, -1, -1},   {5, 1, -1, -1},  {6, 2, 0, -1},   {10, 3, 1, -1}, {11, 3, 2, 0},  {12, 3, 2, 1},
      {61, 15, 14, 13}, {62, 0, 14, 13}, {66, 1, 15, 14}, {67, 2, 0, 14}, {71, 3, 1, 15}, {72, 3, 2, 0},
  };
  for (const auto& r : rows) {
    std::set<int> want;
    for (int w : {r.w0, r.w1, r.w2})
      if (w >= 0) want.insert({w, 31 - w});
    EXPECT_EQ(highlighted(r.frame, starts), want) << "the schedule itself, frame " << r.frame;
  }

  for (int mode : {1, 2}) {
    auto run = start({640, 480, mode, 0});
    std::vector<float> s = silent();
    s[9] = 1.1e6f;  // stretch 36.7 along y
    for (int n = 1; n <= 80; ++n) {
      SCOPED_TRACE("mode " + std::to_string(mode) + " frame " + std::to_string(n));
      setSpectrum(*run, s);
      run->frame().clear();
      run->draw();
      torus_ref::Picture want(640, 480);
      torus_ref::drawFrame(want, n, s.data(), mode, highlighted(n, starts));
      ASSERT_TRUE(sameFrame(*run, want));
    }
  }
}

// The trigger is a stretch strictly above 35: bin 9 or 10 above 1 050 000.
TEST_F(TideTorus, StretchThreshold) {
  const struct {
    int bin;
    float value;
    bool starts;
  } cases[] = {
      {10, 1050000.0f, false}, {10, 1050000.125f, true}, {9, 1050000.0f, false},
      {9, 1050001.0f, true},   {10, 2e6f, true},
  };
  for (const auto& c : cases) {
    auto run = start({640, 480, 1, 0});
    std::vector<float> s = silent();
    s[size_t(c.bin)] = c.value;
    setSpectrum(*run, s);
    run->draw();
    bool yellow = false;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) yellow = yellow || run->frame().at8(x, y) == 250;
    EXPECT_EQ(yellow, c.starts) << "bin " << c.bin << " = " << c.value;
    EXPECT_EQ(torus(*run).wavePos[0], c.starts ? 1 : -1);
  }
}

// A new run starts from the same orientation, orbit and idle waves.
TEST_F(TideTorus, PrepareRestartsTheAnimation) {
  auto run = start({640, 480, 1, 0});
  const std::vector<float> s = loud();
  for (int n = 0; n < 37; ++n) {
    setSpectrum(*run, s);
    run->draw();
  }
  run->driver().terminate();
  ASSERT_TRUE(run->prepare({640, 480, 2, 0}));
  setSpectrum(*run, silent());
  run->draw();
  torus_ref::Picture want(640, 480);
  torus_ref::drawFrame(want, 1, silent().data(), 2, {});
  EXPECT_TRUE(sameFrame(*run, want));
  EXPECT_EQ(torus(*run).wavePos[0], -1);
}

// A second load builds the geometry afresh (the first one's tables are
// released, which the leak check of the sanitizer build watches) and the
// filter draws as before.
TEST_F(TideTorus, LoadingAgainRebuilds) {
  FilterRun run(*lib, 0);
  ASSERT_TRUE(run.load());
  ASSERT_TRUE(run.filter().load());
  ASSERT_TRUE(run.prepare({640, 480, 1, 0}));
  setSpectrum(run, loud());
  run.draw();
  torus_ref::Picture want(640, 480);
  torus_ref::drawFrame(want, 1, loud().data(), 1, {0, 31});
  EXPECT_TRUE(sameFrame(run, want));
}

// Other geometries: the torus leaves small frames and is clipped there;
// nothing is written past a row's width or below the last row.
TEST_F(TideTorus, SmallAndPaddedFrames) {
  const FrameGeometry geometries[] = {
      {320, 200, 1, 0}, {97, 61, 1, 104}, {97, 61, 2, 400}, {1, 1, 1, 0}, {2, 3, 2, 0}, {800, 600, 2, 3300},
  };
  for (const FrameGeometry& g : geometries) {
    SCOPED_TRACE(std::to_string(g.width) + "x" + std::to_string(g.height) + " mode " +
                 std::to_string(g.pixelMode));
    auto run = start(g);
    run->frame().clear(0xEE);
    torus_ref::Picture want(g.width, g.height, g.pixelMode == 1 ? 0xEE : 0xEEEEEEEE);
    for (int n = 1; n <= 30; ++n) {
      const auto s = n % 2 ? loud() : silent();
      setSpectrum(*run, s);
      run->draw();
      torus_ref::drawFrame(want, n, s.data(), g.pixelMode, highlighted(n, {{1}, {7}, {13}}));
    }
    EXPECT_TRUE(sameFrame(*run, want));
    const int used = g.width * (g.pixelMode == 1 ? 1 : 4);
    for (int y = 0; y < g.height; ++y)
      for (int b = used; b < g.rowBytes(); ++b)
        ASSERT_EQ(run->frame().pixels()[size_t(y * g.rowBytes() + b)], 0xEE) << "padding of row " << y;
  }
}

// Absurd spectra (huge, infinite, NaN) neither crash nor hang nor write
// outside the frame: far-away or undefined vertices are not drawn.
TEST_F(TideTorus, HostileSpectraStayInsideTheFrame) {
  const float values[] = {1e30f, -1e30f, std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN(), 3e11f};
  for (float v : values)
    for (int mode : {1, 2}) {
      const FrameGeometry g{160, 120, mode, mode == 1 ? 168 : 648};
      auto run = start(g);
      run->frame().clear(0xEE);
      std::vector<float> s(kSpectrum, v);
      for (int n = 0; n < 3; ++n) {
        setSpectrum(*run, s);
        run->draw();
      }
      const int used = g.width * (mode == 1 ? 1 : 4);
      for (int y = 0; y < g.height; ++y)
        for (int b = used; b < g.rowBytes(); ++b)
          ASSERT_EQ(run->frame().pixels()[size_t(y * g.rowBytes() + b)], 0xEE) << v;
    }
}

// With the card's line hook active, every one of the 768 lines goes to the
// hook and none is drawn in software.
int32 hookCalls = 0;
int32 countLine8(int32, int32, int32, int32, uint8, bool, int16, int16, int16, int16) { return ++hookCalls; }
int32 countLine32(int32, int32, int32, int32, uint32, bool, int16, int16, int16, int16) {
  return ++hookCalls;
}

TEST_F(TideTorus, CardHooksGetEveryLine) {
  for (int mode : {1, 2}) {
    auto run = start({640, 480, mode, 0});
    run->filter().useCardHooks = true;
    run->filter().lineHook8 = countLine8;
    run->filter().lineHook32 = countLine32;
    hookCalls = 0;
    setSpectrum(*run, loud());
    run->draw();
    EXPECT_EQ(hookCalls, 768);
    for (size_t k = 0; k < run->frame().size(); ++k) ASSERT_EQ(run->frame().pixels()[k], 0);
  }
}

}  // namespace
