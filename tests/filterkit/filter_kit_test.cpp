// The tools the add-ons share: new_filter (what filterInit is written with),
// the bounded row copy into the frame, and the saturating conversion.
#include "CFilter.h"
#include "FilterKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Allocations of the probe classes, counted; `failNext` makes the next one
// fail as memory running out does.
int liveBlocks = 0;
bool failNext = false;

template <bool Throws>
struct CProbe : CFilter {
  explicit CProbe(int value) : value(value) {
    if (Throws) throw std::runtime_error("constructor fails");
  }
  static void* operator new(size_t n, const std::nothrow_t&) noexcept {
    if (failNext) {
      failNext = false;
      return nullptr;
    }
    ++liveBlocks;
    return ::operator new(n, std::nothrow);
  }
  static void operator delete(void* p) noexcept {
    --liveBlocks;
    ::operator delete(p);
  }
  static void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
  int value;
};

TEST(NewFilter, GivesTheObjectOrNullAndNeverThrows) {
  static_assert(noexcept(new_filter<CProbe<false>>(1)));
  CFilter* f = new_filter<CProbe<false>>(7);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(static_cast<CProbe<false>*>(f)->value, 7);
  EXPECT_EQ(f->width, 640) << "the kit's defaults";
  delete f;
  EXPECT_EQ(liveBlocks, 0);

  failNext = true;
  EXPECT_EQ(new_filter<CProbe<false>>(1), nullptr) << "memory runs out";
  EXPECT_EQ(liveBlocks, 0);

  EXPECT_EQ(new_filter<CProbe<true>>(1), nullptr) << "the constructor throws";
  EXPECT_EQ(liveBlocks, 0) << "the memory of an object whose constructor threw is released";
}

// A frame's geometry as the host describes it.
struct Geometry {
  int32 width, height, bytesPerRow, frameBytes;
};

SFrameRows rowsOf(const Geometry& g, int32 pixelSize) {
  CFilter f;
  f.width = g.width;
  f.height = g.height;
  f.bytesPerRow = g.bytesPerRow;
  f.frameBytes = g.frameBytes;
  return frame_rows(f, pixelSize);
}

// Whether the byte `at` of row `row` (starting at `rowStart`) may be written,
// straight from the rule: a row inside the height, a byte inside width whole
// pixels that bytesPerRow holds, and inside frameBytes.
bool inside(const Geometry& g, int32 pixelSize, int64 row, int64 rowStart, int64 at) {
  const int64 pixels = std::min<int64>(g.width, g.bytesPerRow / pixelSize);
  return row >= 0 && row < g.height && rowStart >= 0 && at >= 0 && at < pixels * pixelSize &&
         rowStart + at < g.frameBytes;
}

TEST(CopyRow, WritesWholePixelsInsideWidthHeightBytesPerRowAndFrameBytesOnly) {
  constexpr int64 kGuard = 64;
  constexpr uint8 kCanary = 0xCD;
  struct Case {
    const char* what;
    Geometry g;
    int32 pixelSize;
    int64 row, rowStart, column, bytes;
  } cases[] = {
      {"a whole row", {16, 4, 16, 64}, 1, 2, 32, 0, 16},
      {"a row cut at the width", {16, 4, 16, 64}, 1, 1, 16, 4, 40},
      {"rows padded past the width", {10, 4, 16, 64}, 1, 3, 48, 0, 16},
      {"rows shorter than the width", {20, 4, 12, 48}, 1, 0, 0, 0, 20},
      {"the last row cut by frameBytes", {16, 4, 16, 56}, 1, 3, 48, 0, 16},
      {"a row past frameBytes", {16, 4, 16, 40}, 1, 3, 48, 0, 16},
      {"the row past the height", {16, 4, 16, 64}, 1, 4, 64, 0, 16},
      {"a negative row", {16, 4, 16, 64}, 1, -1, 0, 0, 16},
      {"a column past the row", {16, 4, 16, 64}, 1, 0, 0, 20, 4},
      {"a negative column", {16, 4, 16, 64}, 1, 0, 0, -4, 8},
      {"a row of its own stride", {12, 4, 16, 64}, 1, 2, 24, 0, 16},
      {"32-bit pixels, stride not a multiple of 4", {5, 3, 18, 54}, 4, 1, 18, 0, 40},
      {"32-bit pixels cut by frameBytes mid-pixel", {4, 2, 16, 30}, 4, 1, 16, 0, 16},
      {"a frame of nothing", {0, 0, 0, 0}, 1, 0, 0, 0, 8},
      {"negative sizes", {-5, 4, 16, 64}, 1, 0, 0, 0, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SFrameRows rows = rowsOf(c.g, c.pixelSize);
    const int64 size = std::max<int64>(c.g.frameBytes, 0);
    std::vector<uint8> buffer(size_t(kGuard + size + kGuard), kCanary);
    std::vector<uint8> source(size_t(std::max<int64>(c.bytes, 0)));
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint8(i + 1);
    uint8* bits = buffer.data() + kGuard;
    const int64 copied = copy_row_at(rows, bits, c.row, c.rowStart, c.column, source.data(), c.bytes);

    // Expected: the longest run of whole pixels from the first that lies
    // inside.
    int64 want = 0;
    while (want + c.pixelSize <= c.bytes) {
      bool pixelInside = true;
      for (int64 k = 0; k < c.pixelSize; ++k)
        pixelInside = pixelInside && inside(c.g, c.pixelSize, c.row, c.rowStart, c.column + want + k);
      if (!pixelInside) break;
      want += c.pixelSize;
    }
    EXPECT_EQ(copied, want);
    for (int64 i = -kGuard; i < size + kGuard; ++i) {
      const int64 k = i - c.rowStart - c.column;
      const uint8 expected = k >= 0 && k < want ? uint8(k + 1) : kCanary;
      ASSERT_EQ(bits[i], expected) << "byte " << i;
    }
  }
  // No frame, no write.
  const SFrameRows rows = rowsOf({16, 4, 16, 64}, 1);
  const uint8 b[4] = {1, 2, 3, 4};
  EXPECT_EQ(copy_row(rows, nullptr, 0, 0, b, 4), 0);
}

TEST(CopyRow, RowsLieBytesPerRowApart) {
  const SFrameRows rows = rowsOf({3, 3, 5, 15}, 1);
  std::vector<uint8> frame(15, 0);
  const uint8 line[3] = {7, 8, 9};
  for (int64 r = 0; r < 3; ++r) EXPECT_EQ(copy_row(rows, frame.data(), r, 0, line, 3), 3);
  EXPECT_EQ(frame, (std::vector<uint8>{7, 8, 9, 0, 0, 7, 8, 9, 0, 0, 7, 8, 9, 0, 0}));
}

TEST(TruncInt32, TruncatesTowardZeroAndSaturates) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double v;
    int32 want;
  } cases[] = {{0.9, 0},
               {-0.9, 0},
               {-1.5, -1},
               {2.5, 2},
               {2147483646.9, 2147483646},
               {2147483647.0, INT32_MAX},
               {1e300, INT32_MAX},
               {inf, INT32_MAX},
               {-2147483647.9, -2147483647},
               {-2147483648.0, INT32_MIN},
               {-2147483648.9, INT32_MIN},
               {-inf, INT32_MIN},
               {std::nan(""), 0}};
  for (const auto& c : cases) EXPECT_EQ(trunc_int32(c.v), c.want) << c.v;
  static_assert(trunc_int32(-3.7) == -3, "usable in constant expressions");
}

}  // namespace
