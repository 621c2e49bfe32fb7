// Ziduv, loaded from the built add-on file: its descriptor, both frame
// operations against a reference drawn from the trace rules, the edge cases
// of the trace, and frames of other sizes.
#include "Harness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using tw::FrameGeometry;
using tw::test::FilterRun;

// The trace band of each column, computed from the rules: N = width / 8
// columns, the mean of samples 0…N−1, values trunc(s × 50 / 32768) − A + 50
// (C++ division truncates toward zero), each column spanning its two samples,
// clamped to 30…69.
std::vector<std::pair<int, int>> referenceBands(const std::vector<int32>& s, int width) {
  const int n = width / 8;
  long long sum = 0;
  for (int i = 0; i < n; ++i) sum += s[size_t(i)];
  const long long mean = sum / n, a = mean * 50 / 32768;
  auto v = [&](long long x) { return x * 50 / 32768 - a + 50; };
  auto clamp = [](long long x) { return int(x <= 29 ? 30 : x >= 70 ? 69 : x); };
  std::vector<std::pair<int, int>> bands;
  for (int i = 0; i < n; ++i) {
    const long long p = v(s[size_t(i)]), q = v(s[size_t(i) + 1]);
    bands.push_back({clamp(std::min(p, q)), clamp(std::max(p, q))});
  }
  return bands;
}

// The expected 8-bit frame over a background: 8 × 8 blocks of 0xFA from row
// 160; on a frame that is not the standard one, only rows inside the frame and
// columns whose 8 bytes fit in a row.
std::vector<uint8> reference8(const std::vector<int32>& s, const FrameGeometry& g, uint8 background) {
  std::vector<uint8> f(size_t(g.frameBytes()), background);
  const auto bands = referenceBands(s, g.width);
  for (size_t i = 0; i < bands.size(); ++i)
    for (int k = bands[i].first; k <= bands[i].second; ++k)
      for (int y = 160 + 8 * (k - 30); y < 168 + 8 * (k - 30); ++y)
        for (int x = int(8 * i); x < int(8 * i + 8); ++x)
          if (y < g.height && int(8 * i + 8) <= g.rowBytes()) f[size_t(y * g.rowBytes() + x)] = 0xFA;
  return f;
}

// The expected 32-bit frame: a green bar from row 8·lo − 90 to 8·hi − 82,
// then its yellow cap from 8·lo − 90 to 8·lo − 82.
std::vector<uint32> reference32(const std::vector<int32>& s, const FrameGeometry& g, uint32 background) {
  const int stride = g.rowBytes() / 4;
  std::vector<uint32> f(size_t(stride * g.height), background);
  const auto bands = referenceBands(s, g.width);
  for (size_t i = 0; i < bands.size(); ++i) {
    const auto [lo, hi] = bands[i];
    for (int y = 8 * lo - 90; y <= 8 * hi - 82; ++y)
      for (int x = int(8 * i); x < int(8 * i + 8); ++x)
        f[size_t(y * stride + x)] = y <= 8 * lo - 82 ? 0xFAFA00 : 0x00FA00;
  }
  return f;
}

class Ziduv : public ::testing::Test {
 protected:
  void SetUp() override {
    lib = tw::test::openAddon("Ziduv");
    ASSERT_TRUE(lib);
  }
  // Runs one frame of the given samples over a frame filled with `fill`.
  std::unique_ptr<FilterRun> runFrame(const std::vector<int32>& samples, FrameGeometry g, uint8 fill) {
    auto run = std::make_unique<FilterRun>(*lib, 0);
    EXPECT_TRUE(run->load());
    EXPECT_TRUE(run->prepare(g));
    run->frame().clear(fill);
    std::copy(samples.begin(), samples.end(), run->frame().samples());
    run->draw();
    return run;
  }
  std::unique_ptr<tw::AddonLibrary> lib;
};

std::vector<int32> zeros() { return std::vector<int32>(tw::Frame::kSamples, 0); }

TEST_F(Ziduv, DescribesItselfAndOffersOneFilter) {
  FilterRun run(*lib, 0);
  ASSERT_TRUE(run.load());
  CFilter& f = run.filter();
  EXPECT_STREQ(f.name, "Ziduv");
  EXPECT_STREQ(f.author, "Mornel");
  EXPECT_STREQ(f.info, "Sample code");
  EXPECT_EQ(f.hostHint1, 0);
  EXPECT_EQ(f.hostHint2, 3);
  EXPECT_EQ(f.hostFactor, 0.81f);
  EXPECT_EQ(f.supportedModes, 3);
  EXPECT_EQ(f.icon, nullptr);
  EXPECT_FALSE(f.hostFlag1);
  EXPECT_FALSE(f.hostFlag2);
  EXPECT_TRUE(f.params.IsEmpty());
  EXPECT_EQ(f.settingsOpened(), nullptr);
  EXPECT_EQ(lib->create(1), nullptr);
  EXPECT_EQ(lib->create(-1), nullptr);
}

// Hand-derived rows for a column, both modes: which rows of column `col` hold
// the trace (8-bit), the bar and the cap (32-bit).
struct EdgeCase {
  const char* what;
  std::vector<std::pair<int, int32>> samples;  // (index, value); others 0
  int col;
  int rows8First, rows8Last;  // 0xFA rows in 8-bit
  int barFirst, barLast;      // green or yellow rows in 32-bit
  int capLast;                // the yellow cap's last row
};

class ZiduvEdges : public Ziduv, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(ZiduvEdges, ColumnRowsInBothModes) {
  const EdgeCase& c = GetParam();
  std::vector<int32> s = zeros();
  for (auto [i, v] : c.samples) s[size_t(i)] = v;

  auto run8 = runFrame(s, {640, 480, 1, 0}, 0);
  for (int y = 0; y < 480; ++y)
    for (int x = 8 * c.col; x < 8 * c.col + 8; ++x)
      ASSERT_EQ(run8->frame().at8(x, y), (y >= c.rows8First && y <= c.rows8Last) ? 0xFA : 0)
          << c.what << " 8-bit at " << x << "," << y;

  auto run32 = runFrame(s, {640, 480, 2, 0}, 0);
  for (int y = 0; y < 480; ++y) {
    const uint32 want = y < c.barFirst || y > c.barLast ? 0 : y <= c.capLast ? 0xFAFA00 : 0x00FA00;
    for (int x = 8 * c.col; x < 8 * c.col + 8; ++x)
      ASSERT_EQ(run32->frame().at32(x, y), want) << c.what << " 32-bit at " << x << "," << y;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Trace, ZiduvEdges,
    ::testing::Values(
        // All zero: value 50 everywhere; the cap covers the whole 9-row bar.
        EdgeCase{"silence", {}, 0, 320, 327, 310, 318, 318},
        // −1 scales to 0, not −1.
        EdgeCase{"minus one", {{5, -1}}, 5, 320, 327, 310, 318, 318},
        // Neighbours at 0 and 32767 (49 → 99 → clamped to 69).
        EdgeCase{"full scale up", {{4, 32767}, {44, -32767}}, 3, 320, 479, 310, 470, 318},
        // −32768 scales to −50 (value 0 → 30).
        EdgeCase{"full scale down", {{4, -32768}, {44, 32767}}, 3, 160, 327, 150, 318, 158},
        // Both samples beyond the same edge still draw one block at the edge.
        EdgeCase{"both above",
                 {{10, 32767}, {11, 32767}, {20, -32767}, {21, -32767}},
                 10,
                 472,
                 479,
                 462,
                 470,
                 470},
        EdgeCase{"both below",
                 {{10, 32767}, {11, 32767}, {20, -32767}, {21, -32767}},
                 20,
                 160,
                 167,
                 150,
                 158,
                 158},
        // Column N−1 reads sample N, which is not part of the mean.
        EdgeCase{"last column", {{80, 32767}}, 79, 320, 479, 310, 470, 318}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& ch : n)
        if (ch == ' ') ch = '_';
      return n;
    });

TEST_F(Ziduv, ALargeMeanShiftsTheWholeTrace) {
  // M = 6554 gives A = 10: a sample equal to the mean lands at value 50.
  std::vector<int32> s(tw::Frame::kSamples, 6554);
  auto run = runFrame(s, {640, 480, 1, 0}, 0);
  for (int x = 0; x < 640; x += 13) {
    EXPECT_EQ(run->frame().at8(x, 319), 0);
    EXPECT_EQ(run->frame().at8(x, 320), 0xFA);
    EXPECT_EQ(run->frame().at8(x, 327), 0xFA);
    EXPECT_EQ(run->frame().at8(x, 328), 0);
  }
}

// A waveform with a DC offset and fast swings, so columns span many values.
std::vector<int32> music() {
  std::vector<int32> s(tw::Frame::kSamples);
  unsigned seed = 7;
  int32 v = 0;
  for (auto& x : s) {
    seed = seed * 1664525u + 1013904223u;
    v += int32(seed >> 20) - 2048;
    v = std::clamp(v, -9000, 9000);
    x = 1500 + v;
  }
  return s;
}

TEST_F(Ziduv, WholeFramesMatchTheReferenceOverWhatTheFrameHeld) {
  const std::vector<int32> s = music();
  for (FrameGeometry g : {FrameGeometry{640, 480, 1, 0}, FrameGeometry{640, 480, 1, 704}}) {
    auto run = runFrame(s, g, 0x11);
    const std::vector<uint8> want = reference8(s, g, 0x11);
    ASSERT_EQ(0, std::memcmp(run->frame().pixels(), want.data(), want.size()))
        << "bytesPerRow " << g.rowBytes();
  }
  for (FrameGeometry g : {FrameGeometry{640, 480, 2, 0}, FrameGeometry{640, 480, 2, 2816}}) {
    auto run = runFrame(s, g, 0x22);
    const std::vector<uint32> want = reference32(s, g, 0x22222222);
    ASSERT_EQ(0, std::memcmp(run->frame().pixels(), want.data(), want.size() * 4))
        << "bytesPerRow " << g.rowBytes();
  }
}

std::vector<std::vector<int32>> rectCalls;
int32 recordRect(int32 l, int32 t, int32 r, int32 b, uint32 c) {
  rectCalls.push_back({l, t, r, b, int32(c)});
  return 0;
}

TEST_F(Ziduv, ThirtyTwoBitBarsGoThroughTheCardHookWhenItIsActive) {
  FilterRun run(*lib, 0);
  ASSERT_TRUE(run.load());
  ASSERT_TRUE(run.prepare({640, 480, 2, 0}));
  run.filter().useCardHooks = true;
  run.filter().rectHook32 = recordRect;
  run.record().yOffset = 100;
  rectCalls.clear();
  run.draw();  // all-zero samples
  ASSERT_EQ(rectCalls.size(), 160u);
  EXPECT_EQ(rectCalls[0], (std::vector<int32>{0, 410, 7, 418, 0x00FA00}));
  EXPECT_EQ(rectCalls[1], (std::vector<int32>{0, 410, 7, 418, 0xFAFA00}));
  EXPECT_EQ(rectCalls[159], (std::vector<int32>{632, 410, 639, 418, 0xFAFA00}));
  const uint8* p = run.frame().pixels();
  EXPECT_TRUE(std::all_of(p, p + run.frame().size(), [](uint8 b) { return b == 0; }));
}

// Frames other than the standard one: nothing is written outside the frame
// (the buffers are exactly the frame's size, so AddressSanitizer sees any
// stray write) and what is drawn is the standard drawing, cut at the edges.
TEST_F(Ziduv, SmallerFramesAreDrawnOnlyWithinTheirBytes) {
  const std::vector<int32> s = music();
  struct Case {
    FrameGeometry g;
  } cases[] = {
      {{7, 480, 1, 0}},                          // narrower than one column: N = 0, nothing at all
      {{0, 480, 1, 0}},     {{640, 200, 1, 0}},  // shorter than the trace area
      {{640, 480, 1, 100}},                      // rows shorter than the columns need
      {{100, 50, 1, 0}},    {{7, 480, 2, 0}},   {{640, 200, 2, 0}}, {{100, 50, 2, 0}},
  };
  for (const Case& c : cases) {
    auto run = runFrame(s, c.g, 0x33);
    if (c.g.pixelMode == 1) {
      std::vector<uint8> want(size_t(c.g.frameBytes()), 0x33);
      if (c.g.width >= 8) want = reference8(s, c.g, 0x33);
      EXPECT_TRUE(std::equal(want.begin(), want.end(), run->frame().pixels()))
          << c.g.width << "x" << c.g.height << " / " << c.g.rowBytes();
    } else if (c.g.width < 8) {
      const uint8* p = run->frame().pixels();
      EXPECT_TRUE(std::all_of(p, p + run->frame().size(), [](uint8 b) { return b == 0x33; }));
    }
  }
}

}  // namespace
