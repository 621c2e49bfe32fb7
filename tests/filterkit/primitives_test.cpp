// The kit's defaults and its four drawing primitives, on both paths.
#include "CFilter.h"
#include "engine/Frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Pixels = std::set<std::pair<int, int>>;

// A CFilter with a frame of its own; the primitives draw into it.
struct Canvas {
  explicit Canvas(tw::FrameGeometry g = {}) : frame(g) {
    f.width = g.width;
    f.height = g.height;
    f.bytesPerRow = g.rowBytes();
    f.frameBytes = g.frameBytes();
    f.pixelMode = g.pixelMode;
    f.frame = &frame.info();
  }
  // Every pixel that is not zero.
  Pixels lit() const {
    Pixels p;
    const tw::FrameGeometry& g = frame.geometry();
    const int stride = g.rowBytes() / (g.pixelMode == 2 ? 4 : 1);
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < stride; ++x)
        if (g.pixelMode == 2 ? frame.at32(x, y) != 0 : frame.at8(x, y) != 0) p.insert({x, y});
    return p;
  }
  CFilter f;
  tw::Frame frame;
};

Pixels row(int y, int x1, int x2) {
  Pixels p;
  for (int x = x1; x <= x2; ++x) p.insert({x, y});
  return p;
}
Pixels column(int x, int y1, int y2) {
  Pixels p;
  for (int y = y1; y <= y2; ++y) p.insert({x, y});
  return p;
}
Pixels block(int x1, int y1, int x2, int y2) {
  Pixels p;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) p.insert({x, y});
  return p;
}

TEST(CFilterDefaults, DescribeA640x480EightBitFrameWithoutHooks) {
  CFilter f;
  EXPECT_EQ(f.width, 640);
  EXPECT_EQ(f.height, 480);
  EXPECT_EQ(f.frameBytes, 307200);
  EXPECT_EQ(f.bytesPerRow, 640);
  EXPECT_EQ(f.pixelMode, 1);
  EXPECT_FALSE(f.useCardHooks);
  EXPECT_EQ(f.lineHook8, nullptr);
  EXPECT_EQ(f.lineHook32, nullptr);
  EXPECT_EQ(f.rectHook8, nullptr);
  EXPECT_EQ(f.rectHook32, nullptr);
  EXPECT_EQ(f.frame, nullptr);
  EXPECT_EQ(f.hostFactor, 0.5f);
  EXPECT_EQ(f.supportedModes, 3);
  EXPECT_EQ(f.name, nullptr);
  EXPECT_EQ(f.icon, nullptr);
  EXPECT_FALSE(f.hostFlag1);
  EXPECT_FALSE(f.hostFlag2);
  EXPECT_TRUE(f.params.IsEmpty());
  EXPECT_EQ(f.baseDir.Path(), nullptr);
}

TEST(CFilterDefaults, MembersKeepTheContractOrder) {
  // The host reads the members by position: each must lie after the previous.
  CFilter f;
  const char* at[] = {
      reinterpret_cast<const char*>(&f.name),         reinterpret_cast<const char*>(&f.author),
      reinterpret_cast<const char*>(&f.info),         reinterpret_cast<const char*>(&f.hostHint1),
      reinterpret_cast<const char*>(&f.hostHint2),    reinterpret_cast<const char*>(&f.icon),
      reinterpret_cast<const char*>(&f.hostFlag1),    reinterpret_cast<const char*>(&f.hostFlag2),
      reinterpret_cast<const char*>(&f.hostFactor),   reinterpret_cast<const char*>(&f.supportedModes),
      reinterpret_cast<const char*>(&f.params),       reinterpret_cast<const char*>(&f.ref),
      reinterpret_cast<const char*>(&f.baseDir),      reinterpret_cast<const char*>(&f.dataDir),
      reinterpret_cast<const char*>(&f.imageDir),     reinterpret_cast<const char*>(&f.width),
      reinterpret_cast<const char*>(&f.height),       reinterpret_cast<const char*>(&f.frameBytes),
      reinterpret_cast<const char*>(&f.useCardHooks), reinterpret_cast<const char*>(&f.pixelMode),
      reinterpret_cast<const char*>(&f.bytesPerRow),  reinterpret_cast<const char*>(&f.palette),
      reinterpret_cast<const char*>(&f.palette32),    reinterpret_cast<const char*>(&f.frame),
      reinterpret_cast<const char*>(&f.lineHook8),    reinterpret_cast<const char*>(&f.lineHook32),
      reinterpret_cast<const char*>(&f.rectHook8),    reinterpret_cast<const char*>(&f.rectHook32),
  };
  for (size_t i = 1; i < std::size(at); ++i) EXPECT_LT(at[i - 1], at[i]) << "member " << i + 1;
  EXPECT_EQ(sizeof(f.palette), 1024u);
  EXPECT_EQ(sizeof(f.palette32), 1024u);
}

TEST(CFilterDefaults, TheBaseClassRefusesAndDrawsNothing) {
  Canvas c;
  c.frame.clear(7);
  EXPECT_FALSE(c.f.load());
  EXPECT_FALSE(c.f.prepare());
  EXPECT_EQ(c.f.settingsOpened(), nullptr);
  c.f.processFrame8(c.frame.info());
  c.f.processFrame32(c.frame.info());
  c.f.paramChanged();
  c.f.settingsClosed();
  c.f.terminate();
  c.f.unload();
  const uint8* p = c.frame.pixels();
  EXPECT_TRUE(std::all_of(p, p + c.frame.size(), [](uint8 b) { return b == 7; }));
}

TEST(CFilterDefaults, DeletingAFilterLeavesItsIconAlive) {
  BBitmap icon(BRect(0, 0, 15, 15), B_CMAP8);
  static_cast<uint8*>(icon.Bits())[0] = 42;
  CFilter* f = new CFilter;
  f->icon = &icon;
  f->baseDir.SetTo("/tmp");
  f->params.AddInt32("n", 1);
  delete f;  // under AddressSanitizer a delete of the icon would be reported here
  EXPECT_EQ(static_cast<uint8*>(icon.Bits())[0], 42);
}

struct LineCase {
  int x1, y1, x2, y2;
  Pixels expected;
};

class Lines : public ::testing::TestWithParam<LineCase> {};

TEST_P(Lines, SetExactlyThesePixelsInBothModesAndBothDirections) {
  const LineCase& lc = GetParam();
  for (int mode : {1, 2}) {
    for (bool reversed : {false, true}) {
      Canvas c({640, 480, mode, 0});
      const int a = reversed ? lc.x2 : lc.x1, b = reversed ? lc.y2 : lc.y1;
      const int d = reversed ? lc.x1 : lc.x2, e = reversed ? lc.y1 : lc.y2;
      if (mode == 1)
        c.f.blitLine8(a, b, d, e, 9);
      else
        c.f.blitLine32(a, b, d, e, 0x123456);
      EXPECT_EQ(c.lit(), lc.expected) << "mode " << mode << (reversed ? " reversed" : "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Primitives, Lines,
    ::testing::Values(LineCase{10, 50, 266, 50, row(50, 10, 266)},  // 257 pixels
                      LineCase{100, 100, 100, 100, {{100, 100}}},   // a point
                      LineCase{-3, 7, -3, 7, {}},                   // a point outside
                      LineCase{640, 7, 640, 7, {}}, LineCase{-5, 0, 5, 0, row(0, 0, 5)},
                      LineCase{0, -1, 50, -1, {}},    // y = −1
                      LineCase{0, 480, 50, 480, {}},  // y = height
                      LineCase{630, 9, 700, 9, row(9, 630, 639)},
                      LineCase{3, 470, 3, 500, column(3, 470, 479)}, LineCase{3, -20, 3, 4, column(3, 0, 4)},
                      LineCase{-1, 10, -1, 20, {}}, LineCase{640, 10, 640, 20, {}},
                      LineCase{0, 0, 3, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
                      LineCase{0, 0, 1, 3, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
                      LineCase{0, 3, 3, 0, {{0, 3}, {1, 2}, {2, 1}, {3, 0}}},  // 45°, rising
                      LineCase{-10, -10, 10, 10,
                               [] {
                                 Pixels p;
                                 for (int i = 0; i <= 10; ++i) p.insert({i, i});
                                 return p;
                               }()},
                      LineCase{636, 476, 644, 484, {{636, 476}, {637, 477}, {638, 478}, {639, 479}}}));

// The general case against the line drawn on an unbounded canvas and then
// cropped: clipping must skip pixels one by one and never bend the line.
TEST(Lines, ClippedLinesArePartsOfTheUnclippedLine) {
  auto unclipped = [](int x1, int y1, int x2, int y2) {
    Pixels p;
    int dx = x2 - x1, x = x1, y = y1, end = y2;
    if (dx < 0) dx = -dx, x = x2, y = y2, end = y1;
    int dy = end - y, step = 1;
    if (dy <= 0) dy = -dy, step = -1;
    if (dx >= dy) {
      for (int n = 0, err = 2 * dy - dx; n <= dx; ++n, ++x) {
        p.insert({x, y});
        if (err < 0)
          err += 2 * dy;
        else
          err += 2 * (dy - dx), y += step;
      }
    } else {
      for (int n = 0, err = 2 * dx - dy; n <= dy; ++n, y += step) {
        p.insert({x, y});
        if (err < 0)
          err += 2 * dx;
        else
          err += 2 * (dx - dy), ++x;
      }
    }
    return p;
  };
  unsigned seed = 12345;
  auto next = [&] { return int((seed = seed * 1103515245u + 12345u) >> 16) % 1000 - 200; };
  for (int i = 0; i < 2000; ++i) {
    // Mostly near the frame; every fourth line reaches far outside it.
    const int scale = i % 4 == 0 ? 1 : 8;
    const int x1 = next() / scale, y1 = next() / scale, x2 = next() / scale, y2 = next() / scale;
    if (x1 == x2 || y1 == y2) continue;  // the general case only
    Canvas c({64, 48, 1, 0});
    c.f.blitLine8(x1, y1, x2, y2, 1);
    Pixels want;
    for (auto [x, y] : unclipped(x1, y1, x2, y2))
      if (x >= 0 && x < 64 && y >= 0 && y < 48) want.insert({x, y});
    ASSERT_EQ(c.lit(), want) << "line " << x1 << "," << y1 << " → " << x2 << "," << y2;
  }
}

// A line reaching billions of pixels beyond the frame draws only its visible
// part, and the walk outside costs nothing (a per-pixel walk would take
// minutes here).
TEST(Lines, FarOffFrameEndsAreNotWalked) {
  Canvas c({64, 48, 1, 0});
  c.f.blitLine8(INT32_MIN, INT32_MIN + 7, INT32_MAX, INT32_MAX - 9, 1);  // the diagonal, nearly
  c.f.blitLine8(-2000000000, 10, 2000000000, 11, 2);                     // almost horizontal
  c.f.blitLine8(5, -2000000000, 6, 2000000000, 3);                       // almost vertical
  c.f.blitLine8(100, -2000000000, 200, 2000000000, 4);                   // wholly outside
  const Pixels lit = c.lit();
  EXPECT_FALSE(lit.empty());
  // The almost-horizontal line crosses the frame in row 10 or 11 only; the
  // almost-vertical one in column 5 or 6 only.
  for (int x = 0; x < 64; ++x)
    EXPECT_TRUE(c.frame.at8(x, 10) == 2 || c.frame.at8(x, 11) == 2 || x == 5 || x == 6) << x;
  for (int y = 0; y < 48; ++y)
    EXPECT_TRUE(c.frame.at8(5, y) == 3 || c.frame.at8(6, y) == 3 || y == 10 || y == 11) << y;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) EXPECT_NE(c.frame.at8(x, y), 4);
}

struct RectCase {
  int x1, y1, x2, y2;
  Pixels expected;
};

class Rects : public ::testing::TestWithParam<RectCase> {};

TEST_P(Rects, ClampTheirCornersInBothModes) {
  const RectCase& rc = GetParam();
  for (int mode : {1, 2}) {
    Canvas c({640, 480, mode, 0});
    if (mode == 1)
      c.f.blitRect8(rc.x1, rc.y1, rc.x2, rc.y2, 3);
    else
      c.f.blitRect32(rc.x1, rc.y1, rc.x2, rc.y2, 0xFFFFFF);
    EXPECT_EQ(c.lit(), rc.expected) << "mode " << mode;
  }
}

INSTANTIATE_TEST_SUITE_P(Primitives, Rects,
                         ::testing::Values(RectCase{5, 5, 2, 2, block(2, 2, 5, 5)},
                                           RectCase{2, 5, 5, 2, block(2, 2, 5, 5)},
                                           RectCase{700, 10, 800, 20, column(639, 10, 20)},
                                           RectCase{-10, 3, -10, 6, column(0, 3, 6)},
                                           RectCase{-5, -5, -1, -1, {{0, 0}}},
                                           RectCase{630, 470, 900, 900, block(630, 470, 639, 479)},
                                           RectCase{7, 9, 7, 9, {{7, 9}}}));

TEST(Primitives, RowsAreAddressedByStride) {
  // 32-bit with 2560 bytes per row: pixel (1, 1) is uint32 number 641.
  Canvas c({640, 480, 2, 2560});
  c.f.blitRect32(1, 1, 1, 1, 0xABCDEF);
  uint32 v;
  std::memcpy(&v, c.frame.pixels() + 641 * 4, 4);
  EXPECT_EQ(v, 0xABCDEFu);
  // 8-bit with padded rows: nothing lands in the padding.
  Canvas p({10, 4, 1, 16});
  p.f.blitRect8(0, 0, 100, 100, 1);
  p.f.blitLine8(-5, 2, 50, 2, 2);
  EXPECT_EQ(p.lit(), block(0, 0, 9, 3));
  EXPECT_EQ(p.frame.at8(9, 2), 2);
}

TEST(Primitives, DegenerateFramesAreNeverWrittenOutside) {
  // Zero-sized frames and frames whose rows are shorter than their width,
  // between guard areas that must come back untouched (as in the add-on
  // contract): this holds without a sanitizer watching.
  constexpr size_t kGuard = 4096;
  constexpr uint8 kCanary = 0xCD;
  for (tw::FrameGeometry g :
       {tw::FrameGeometry{0, 0, 1, 0}, tw::FrameGeometry{0, 10, 1, 1}, tw::FrameGeometry{10, 0, 2, 0},
        tw::FrameGeometry{20, 5, 1, 8}, tw::FrameGeometry{20, 5, 2, 40}}) {
    SCOPED_TRACE(std::to_string(g.width) + "x" + std::to_string(g.height) + " mode " +
                 std::to_string(g.pixelMode) + ", " + std::to_string(g.bytesPerRow) + " bytes per row");
    Canvas c(g);
    const size_t size = size_t(std::max(g.frameBytes(), 0));
    std::vector<uint8> buffer(kGuard + size + kGuard, kCanary);
    c.frame.info().bits = buffer.data() + kGuard;
    c.f.blitRect8(-100, -100, 100, 100, 1);
    c.f.blitRect32(-100, -100, 100, 100, 1);
    c.f.blitLine8(-100, 2, 100, 2, 1);
    c.f.blitLine32(3, -100, 3, 100, 1);
    c.f.blitLine8(-100, -90, 100, 110, 1);
    c.f.blitLine32(-100, -90, 100, 110, 1);
    for (size_t i = 0; i < kGuard; ++i) {
      ASSERT_EQ(buffer[i], kCanary) << "wrote " << (kGuard - i) << " bytes before the frame";
      ASSERT_EQ(buffer[kGuard + size + i], kCanary) << "wrote " << i + 1 << " bytes past the frame";
    }
    // A frame without pixels gets nothing at all.
    if (g.width == 0 || g.height == 0) {
      for (size_t i = 0; i < size; ++i) ASSERT_EQ(buffer[kGuard + i], kCanary) << "byte " << i;
    }
  }
  CFilter f;  // no frame at all
  f.blitLine8(0, 0, 10, 10, 1);
  f.blitRect32(0, 0, 10, 10, 1);
}

struct HookCall {
  char kind;  // 'l' or 'r'
  int32 a, b, c, d;
  uint32 color;
  bool clip;
  int16 cl, ct, cr, cb;
  bool operator==(const HookCall&) const = default;
};
std::vector<HookCall> calls;

int32 line8(int32 x1, int32 x2, int32 y1, int32 y2, uint8 c, bool clip, int16 l, int16 t, int16 r, int16 b) {
  calls.push_back({'l', x1, x2, y1, y2, c, clip, l, t, r, b});
  return 0;
}
int32 line32(int32 x1, int32 x2, int32 y1, int32 y2, uint32 c, bool clip, int16 l, int16 t, int16 r,
             int16 b) {
  calls.push_back({'L', x1, x2, y1, y2, c, clip, l, t, r, b});
  return 0;
}
int32 rect8(int32 l, int32 t, int32 r, int32 b, uint8 c) {
  calls.push_back({'r', l, t, r, b, c, false, 0, 0, 0, 0});
  return 0;
}
int32 rect32(int32 l, int32 t, int32 r, int32 b, uint32 c) {
  calls.push_back({'R', l, t, r, b, c, false, 0, 0, 0, 0});
  return 0;
}

TEST(CardHooks, TakeTheWorkWithFrameBufferCoordinates) {
  Canvas c;
  c.f.useCardHooks = true;
  c.f.lineHook8 = line8;
  c.f.lineHook32 = line32;
  c.f.rectHook8 = rect8;
  c.f.rectHook32 = rect32;
  c.frame.info().yOffset = 480;
  calls.clear();
  c.f.blitLine32(1, 2, 3, 4, 0xC0FFEE);
  c.f.blitLine8(-7, 9, 700, -3, 5);
  c.f.blitRect8(5, 6, 1, 2, 7);  // neither ordered nor clipped
  c.f.blitRect32(-1, 900, 2000, -5, 0x10);
  const std::vector<HookCall> want = {
      {'L', 1, 3, 482, 484, 0xC0FFEE, true, 0, 480, 639, 959},
      {'l', -7, 700, 489, 477, 5, true, 0, 480, 639, 959},
      {'r', 5, 486, 1, 482, 7, false, 0, 0, 0, 0},
      {'R', -1, 1380, 2000, 475, 0x10, false, 0, 0, 0, 0},
  };
  EXPECT_EQ(calls, want);
  EXPECT_TRUE(c.lit().empty());

  // The clip rectangle describes 640 × 480 whatever the frame's size.
  Canvas small({100, 50, 1, 0});
  small.f.useCardHooks = true;
  small.f.lineHook8 = line8;
  calls.clear();
  small.f.blitLine8(0, 0, 5, 5, 1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].cr, 639);
  EXPECT_EQ(calls[0].cb, 479);
}

TEST(CardHooks, AreUsedOnlyWhenEnabledAndPresent) {
  for (bool enabled : {true, false}) {
    Canvas c;
    c.f.useCardHooks = enabled;
    if (!enabled) {
      c.f.lineHook8 = line8;
      c.f.rectHook8 = rect8;
      c.f.lineHook32 = line32;
      c.f.rectHook32 = rect32;
    }
    calls.clear();
    c.f.blitLine8(0, 0, 4, 0, 1);
    c.f.blitRect8(0, 2, 1, 3, 1);
    c.f.blitLine32(0, 5, 0, 6, 1);  // drawn into the 8-bit frame as 32-bit pixels
    c.f.blitRect32(10, 10, 10, 10, 1);
    EXPECT_TRUE(calls.empty()) << "hooks enabled: " << enabled;
    EXPECT_FALSE(c.lit().empty());
  }
}

}  // namespace
