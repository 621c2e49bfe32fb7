#include <platform/interface.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

int32 tw_bytes_per_pixel(color_space space) {
  switch (space) {
    case B_CMAP8:
      return 1;
    case B_RGB32:
      return 4;
    default:
      return 0;
  }
}

BBitmap::BBitmap(BRect b, color_space cs, bool, bool) : bounds(b), space(cs) {
  const int32 bpp = tw_bytes_per_pixel(cs);
  if (bpp == 0 || !std::isfinite(b.left) || !std::isfinite(b.top) || !std::isfinite(b.right) ||
      !std::isfinite(b.bottom)) {
    status = B_BAD_VALUE;
    return;
  }
  // Sizes are whole pixels counted from the truncated extents, as the
  // pictures' users compute them.
  const double w = std::trunc(double(b.right) - double(b.left)) + 1;
  const double h = std::trunc(double(b.bottom) - double(b.top)) + 1;
  if (w < 1 || h < 1) {
    // An empty bitmap is valid and owns no pixels.
    status = w < 0 || h < 0 ? B_BAD_VALUE : B_OK;
    if (status == B_OK) bytesPerRow = 0;
    return;
  }
  const double row = std::ceil(w * bpp / 4) * 4;
  const double total = row * h;
  if (total > double(std::numeric_limits<int32>::max())) {
    status = B_NO_MEMORY;
    return;
  }
  bytesPerRow = int32(row);
  bitsLength = int32(total);
  bits = static_cast<uint8*>(std::calloc(size_t(bitsLength), 1));
  status = bits ? B_OK : B_NO_MEMORY;
  if (!bits) bytesPerRow = bitsLength = 0;
}

BBitmap::~BBitmap() { std::free(bits); }

void BBitmap::SetBits(const void* data, int32 length, int32 offset, color_space cs) {
  if (bits == nullptr || data == nullptr || length <= 0 || offset < 0 || offset >= bitsLength) return;
  const uint8* src = static_cast<const uint8*>(data);
  if (space == B_CMAP8 && cs == B_RGB32) {
    // Packed red, green, blue triplets are pixels in raster order from the
    // pixel that `offset` designates; rows are addressed by stride, never by
    // width, so a whole picture lands right even when its rows are padded.
    const int32 w = int32(std::trunc(double(bounds.right) - double(bounds.left))) + 1;
    int32 row = offset / bytesPerRow, column = offset % bytesPerRow;
    if (column >= w) ++row, column = 0;  // an offset in a row's padding starts the next row
    const int32 rows = bitsLength / bytesPerRow;
    for (int32 n = length / 3; n > 0 && row < rows; ++row, column = 0) {
      uint8* dst = bits + int64(row) * bytesPerRow;
      const int32 run = w - column < n ? w - column : n;
      for (int32 x = column; x < column + run; ++x, src += 3)
        dst[x] = tw_index_for_color(src[0], src[1], src[2]);
      n -= run;
    }
    return;
  }
  if (cs != space) return;  // no other conversion is offered
  int32 n = length;
  if (n > bitsLength - offset) n = bitsLength - offset;
  std::memcpy(bits + offset, src, size_t(n));
}
