#include "CFilter.h"

#include <cstring>
#include <utility>

CFilter::CFilter() = default;
CFilter::~CFilter() = default;

bool CFilter::load() { return false; }
bool CFilter::prepare() { return false; }
void CFilter::processFrame8(SFrameInfo&) {}
void CFilter::processFrame32(SFrameInfo&) {}
void CFilter::terminate() {}
void CFilter::unload() {}
void CFilter::paramChanged() {}
BView* CFilter::settingsOpened() { return nullptr; }
void CFilter::settingsClosed() {}

namespace {

// The drawable area of the current frame for pixels of `size` bytes: width and
// height, narrowed to what a row of bytesPerRow bytes holds so that no write
// leaves the buffer whatever the host's geometry.
struct Area {
  int64 w, h, stride;  // stride in pixels
};

Area areaOf(const CFilter& f, int64 size) {
  Area a{f.width, f.height, f.bytesPerRow / size};
  if (a.w > a.stride) a.w = a.stride;
  if (a.w < 0 || a.h < 0 || f.frame == nullptr || f.frame->bits == nullptr) a.w = a.h = 0;
  return a;
}

template <typename Pixel>
void fillRect(CFilter& f, int64 x1, int64 y1, int64 x2, int64 y2, Pixel color) {
  const Area a = areaOf(f, sizeof(Pixel));
  if (a.w == 0 || a.h == 0) return;
  if (y2 < y1) std::swap(y1, y2);
  if (x2 < x1) std::swap(x1, x2);
  if (x1 < 0) x1 = 0;
  if (x2 < 0) x2 = 0;
  if (y1 < 0) y1 = 0;
  if (y2 < 0) y2 = 0;
  if (x1 > a.w - 1) x1 = a.w - 1;
  if (x2 > a.w - 1) x2 = a.w - 1;
  if (y1 > a.h - 1) y1 = a.h - 1;
  if (y2 > a.h - 1) y2 = a.h - 1;
  Pixel* row = static_cast<Pixel*>(f.frame->bits) + y1 * a.stride + x1;
  const int64 run = x2 - x1 + 1;
  for (int64 y = y1; y <= y2; ++y, row += a.stride) {
    if constexpr (sizeof(Pixel) == 1) {
      std::memset(row, color, size_t(run));
    } else {
      for (int64 i = 0; i < run; ++i) row[i] = color;
    }
  }
}

template <typename Pixel>
void drawLine(CFilter& f, int64 x1, int64 y1, int64 x2, int64 y2, Pixel color) {
  const Area a = areaOf(f, sizeof(Pixel));
  if (a.w == 0 || a.h == 0) return;
  Pixel* const bits = static_cast<Pixel*>(f.frame->bits);
  const int64 W = a.w, H = a.h;

  if (y1 == y2) {  // horizontal, single points included
    if (x1 > x2) std::swap(x1, x2);
    if (x2 < 0 || x1 >= W || y1 < 0 || y1 >= H) return;
    if (x1 < 0) x1 = 0;
    if (x2 >= W) x2 = W - 1;
    Pixel* p = bits + y1 * a.stride + x1;
    for (int64 x = x1; x <= x2; ++x) *p++ = color;
    return;
  }
  if (x1 == x2) {  // vertical
    if (y1 > y2) std::swap(y1, y2);
    if (y2 < 0 || y1 >= H || x1 < 0 || x1 >= W) return;
    if (y1 < 0) y1 = 0;
    if (y2 >= H) y2 = H - 1;
    Pixel* p = bits + y1 * a.stride + x1;
    for (int64 y = y1; y <= y2; ++y, p += a.stride) *p = color;
    return;
  }

  // Bresenham, always moving right, testing every pixel against the frame.
  int64 dx = x2 - x1, x, y, endRow;
  if (dx >= 0) {
    x = x1, y = y1, endRow = y2;
  } else {
    x = x2, y = y2, endRow = y1, dx = -dx;
  }
  int64 dy = endRow - y, step = 1;
  if (dy <= 0) dy = -dy, step = -1;
  // x never decreases, so once it is past the right edge nothing more is drawn.
  if (dx >= dy) {
    int64 err = 2 * dy - dx;
    for (int64 n = 0; n <= dx && x < W; ++n) {
      if (x >= 0 && y >= 0 && y < H) bits[y * a.stride + x] = color;
      if (err < 0) {
        err += 2 * dy;
      } else {
        err += 2 * dy - 2 * dx;
        y += step;
      }
      ++x;
    }
  } else {
    int64 err = 2 * dx - dy;
    for (int64 n = 0; n <= dy && x < W; ++n) {
      if (x >= 0 && y >= 0 && y < H) bits[y * a.stride + x] = color;
      if (err < 0) {
        err += 2 * dx;
      } else {
        err += 2 * dx - 2 * dy;
        ++x;
      }
      y += step;
    }
  }
}

int32 yOffsetOf(const CFilter& f) { return f.frame ? int32(f.frame->yOffset) : 0; }

}  // namespace

void CFilter::blitRect8(int32 x1, int32 y1, int32 x2, int32 y2, uint8 color) {
  if (useCardHooks && rectHook8) {
    const int32 yo = yOffsetOf(*this);
    rectHook8(x1, y1 + yo, x2, y2 + yo, color);
    return;
  }
  fillRect<uint8>(*this, x1, y1, x2, y2, color);
}

void CFilter::blitRect32(int32 x1, int32 y1, int32 x2, int32 y2, uint32 color) {
  if (useCardHooks && rectHook32) {
    const int32 yo = yOffsetOf(*this);
    rectHook32(x1, y1 + yo, x2, y2 + yo, color);
    return;
  }
  fillRect<uint32>(*this, x1, y1, x2, y2, color);
}

// The hooks' clip rectangle always describes a 640 × 480 frame at row yOffset.
void CFilter::blitLine8(int32 x1, int32 y1, int32 x2, int32 y2, uint8 color) {
  if (useCardHooks && lineHook8) {
    const int32 yo = yOffsetOf(*this);
    lineHook8(x1, x2, y1 + yo, y2 + yo, color, true, 0, int16(yo), 639, int16(yo + 479));
    return;
  }
  drawLine<uint8>(*this, x1, y1, x2, y2, color);
}

void CFilter::blitLine32(int32 x1, int32 y1, int32 x2, int32 y2, uint32 color) {
  if (useCardHooks && lineHook32) {
    const int32 yo = yOffsetOf(*this);
    lineHook32(x1, x2, y1 + yo, y2 + yo, color, true, 0, int16(yo), 639, int16(yo + 479));
    return;
  }
  drawLine<uint32>(*this, x1, y1, x2, y2, color);
}

// Bitmap and directory functions: provided with the storage and translation
// kits; until then they report failure.
bool CFilter::findDir(BDirectory*, const char*) { return false; }
BBitmap* CFilter::loadBitmap(const char*) { return nullptr; }
BBitmap* CFilter::makeIconFromHeader(int32, int32, color_space, int32, const uint8*) { return nullptr; }
BBitmap* CFilter::makeBitmap8Bit(BBitmap*) { return nullptr; }
