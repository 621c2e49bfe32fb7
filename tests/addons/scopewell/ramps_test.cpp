// The two colour ramps, called directly (the add-on's source is linked into
// this test) over their ranges against hand-derived values and the
// independent reference, and once more through the built file, where FFT
// Central and DudoZariri draw with them.
#include "Harness.h"
#include "Reference.h"
#include "line_addon.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(ColorLine, HandDerivedValues) {
  struct Case {
    int32 phase;
    uint32 want;
  } cases[] = {
      {0, 0xFFFF41},    // cos 0 = 1; blue at cos(2π/3) = −0.5 → 128 − 63
      {64, 0x0101BF},   // cos π = −1; blue at cos(5π/3) = 0.5 → 128 + 63
      {32, 0x808013},   // cos(π/2) ≈ 0 → 128; blue at cos(7π/6) → 128 − 109
      {128, 0xFFFF41},  // one full cycle
      {-64, 0x0101BF},
  };
  for (const Case& c : cases) EXPECT_EQ(color_line(c.phase, 1.0f / 128), c.want) << c.phase;
}

TEST(ColorLine, MatchesTheCosineCycleAndStaysInRange) {
  for (float scale : {1.0f / 128, 1.0f / 64, 0.01f, 0.0f})
    for (int32 phase = -300; phase <= 300; ++phase) {
      const uint32 c = color_line(phase, scale);
      ASSERT_EQ(c, scopewell_ref::ramp(phase, scale)) << phase << " scale " << scale;
      const uint32 r = c >> 16, g = (c >> 8) & 255, b = c & 255;
      ASSERT_EQ(c >> 24, 0u);
      ASSERT_EQ(r, g);
      ASSERT_TRUE(r >= 1 && r <= 255 && b >= 1 && b <= 255) << phase;
    }
}

TEST(ColorLine2, HandDerivedValues) {
  struct Case {
    int32 value, maximum;
    uint32 want;
  } cases[] = {
      {1, 320, 0x060600},                            // q 80: c = trunc(6.4) = 6
      {39, 320, 0xF9F900},                           // c 249, the last yellow of a 640-wide frame
      {40, 320, 0x00FF00},                           // c 256: pure green
      {41, 320, 0x06F900},                           // c 262
      {79, 320, 0xF90600},                           // c 505
      {80, 320, 0xFF0000},                           // c 512, capped: pure red
      {1000, 320, 0xFF0000}, {0, 320, 0},            // c 0: black
      {-5, 320, 0},          {-10, -320, 0x404000},  // q −80: c = 64
      {10, -320, 0},         {1, 2048, 0x010100},    // q 512: c 1, the dimmest yellow
      {255, 1024, 0xFE0100},                         // q 256: c 510, almost red
      {255, 512, 0xFF0000},                          // q 128: c 1020, past 511
  };
  for (const Case& c : cases)
    EXPECT_EQ(color_line2(c.value, c.maximum), c.want) << c.value << "/" << c.maximum;
}

// A quarter of the maximum that is 0 (maxima −3…3) would divide by zero: the
// ramp gives black whatever the value.
TEST(ColorLine2, ZeroQuarterIsBlack) {
  for (int32 maximum = -3; maximum <= 3; ++maximum)
    for (int32 value : {0, 1, -1, 5, 320, INT32_MAX, INT32_MIN})
      EXPECT_EQ(color_line2(value, maximum), 0u) << value << "/" << maximum;
}

TEST(ColorLine2, MatchesTheRampOverItsRange) {
  for (int32 maximum : {4, 5, 7, 100, 101, 320, 640, 1000, -320, INT32_MAX, INT32_MIN})
    for (int32 value = -50; value <= 2100; ++value)
      ASSERT_EQ(color_line2(value, maximum), scopewell_ref::ramp2(value, maximum)) << value << "/" << maximum;
  // Quotients past the int32 range saturate to red (or black when negative).
  EXPECT_EQ(color_line2(INT32_MAX, 4), 0xFF0000u);
  EXPECT_EQ(color_line2(INT32_MIN, 4), 0u);
  EXPECT_EQ(color_line2(INT32_MAX, -4), 0u);
}

// The built file draws with the same ramps: FFT Central's line for bin k has
// half-length k and colour color_line2(k, 320); DudoZariri's line i the cycle
// colour of phase (i + frameCount) AND 127.
TEST(Ramps, TheBuiltFiltersDrawWithThem) {
  auto lib = tw::test::openAddon("Scopewell");
  ASSERT_TRUE(lib);
  {
    tw::test::FilterRun run(*lib, 1);
    ASSERT_TRUE(run.load());
    ASSERT_TRUE(run.prepare({640, 480, 2, 0}));
    for (int k = 0; k < 256; ++k) run.record().spectrum[1][k] = 32768.0f * float(k);
    run.draw();
    for (int k = 1; k < 256; ++k) ASSERT_EQ(run.frame().at32(320, k), color_line2(k, 320)) << k;
  }
  {
    tw::test::FilterRun run(*lib, 3);
    ASSERT_TRUE(run.load());
    ASSERT_TRUE(run.prepare({640, 480, 2, 0}));
    run.record().frameCount = 100;
    run.draw();
    for (int i = 0; i < 64; ++i) {
      const auto l = scopewell_ref::fanLine(i, 150, 200, 128, 128);
      ASSERT_EQ(run.frame().at32(int(l.x1), int(l.y1)), color_line((i + 100) & 127, 1.0f / 128)) << i;
    }
  }
}

}  // namespace
