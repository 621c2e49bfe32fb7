// Small tools the add-ons share, so that each rule is written once: a row
// copy into the frame that never writes outside it, and the saturating
// float-to-integer conversion for values the host hands over.
#pragma once

#include "CFilter.h"

#include <cstring>

// Where rows of pixels may be written into the current frame. The one rule:
// the frame has `rows` rows (height); a row holds `rowBytes` bytes from its
// start (width pixels, or as many whole pixels as bytesPerRow holds if that
// is fewer); nothing lies at or past `frameBytes` bytes from the first pixel.
struct SFrameRows {
  int32 rows = 0;
  int32 pixelSize = 1;
  int64 bytesPerRow = 0;  // where row y starts: y × bytesPerRow
  int64 rowBytes = 0;
  int64 frameBytes = 0;

  // Of `bytes` bytes meant for byte `column` of row `row`, a row that starts
  // `rowStart` bytes into the frame, how many from the first lie inside the
  // frame (whole pixels; 0 when none).
  int64 fit(int64 row, int64 rowStart, int64 column, int64 bytes) const {
    if (row < 0 || row >= rows || rowStart < 0 || column < 0 || bytes <= 0) return 0;
    int64 end = column + bytes < rowBytes ? column + bytes : rowBytes;
    if (rowStart + end > frameBytes) end = frameBytes - rowStart;
    const int64 n = (end - column) / pixelSize * pixelSize;
    return n > 0 ? n : 0;
  }
};

// The rows of filter's current geometry, for pixels of `pixelSize` bytes.
inline SFrameRows frame_rows(const CFilter& filter, int32 pixelSize) {
  SFrameRows r;
  if (pixelSize < 1 || filter.height < 0 || filter.width < 0 || filter.bytesPerRow < 0 ||
      filter.frameBytes < 0)
    return r;
  r.rows = filter.height;
  r.pixelSize = pixelSize;
  r.bytesPerRow = filter.bytesPerRow;
  const int64 pixels =
      filter.width < filter.bytesPerRow / pixelSize ? filter.width : filter.bytesPerRow / pixelSize;
  r.rowBytes = pixels * pixelSize;
  r.frameBytes = filter.frameBytes;
  return r;
}

// Copies what fits of `bytes` bytes from `source` to byte `column` of row
// `row` of the frame at `bits`, the row starting `rowStart` bytes in (a
// filter whose picture has its own row layout says where); returns the bytes
// copied.
inline int64 copy_row_at(const SFrameRows& frame, void* bits, int64 row, int64 rowStart, int64 column,
                         const void* source, int64 bytes) {
  const int64 n = bits == nullptr ? 0 : frame.fit(row, rowStart, column, bytes);
  if (n > 0) std::memcpy(static_cast<uint8*>(bits) + rowStart + column, source, size_t(n));
  return n;
}

// The same for row `row` where the frame puts it, bytesPerRow × row.
inline int64 copy_row(const SFrameRows& frame, void* bits, int64 row, int64 column, const void* source,
                      int64 bytes) {
  return copy_row_at(frame, bits, row, row * frame.bytesPerRow, column, source, bytes);
}

// v truncated toward zero into int32, as every conversion of the filters
// does; values beyond the range saturate and NaN gives 0, so that no value
// the host hands over makes the conversion undefined.
constexpr int32 trunc_int32(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return int32(v);
}
