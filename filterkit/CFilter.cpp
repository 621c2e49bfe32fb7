#include "CFilter.h"

#include <platform/translation.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
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

  // Step k (0…major) of the line lies `k` along the major axis and
  // m(k) = floor((2·minor·k + major) / (2·major)) along the minor one: that is
  // what the error term accumulates to. So the steps whose pixel is inside the
  // frame form one range, found without walking the parts outside; only that
  // range is walked, each pixel still tested. Products use 128 bits: the
  // coordinates span 32 bits each.
  const bool xMajor = dx >= dy;
  const int64 major = xMajor ? dx : dy, minor = xMajor ? dy : dx;
  const int64 majorStart = xMajor ? x : y, minorStart = xMajor ? y : x;
  const int64 majorStep = xMajor ? 1 : step, minorStep = xMajor ? step : 1;
  const int64 majorLen = xMajor ? W : H, minorLen = xMajor ? H : W;
  using wide = __int128;
  auto offsetAt = [&](int64 k) { return int64((wide(2) * minor * k + major) / (wide(2) * major)); };
  // The first step whose minor offset reaches t (t ≥ 1, minor > 0).
  auto firstReaching = [&](int64 t) {
    const wide num = wide(2) * major * t - major, den = wide(2) * minor;
    return int64((num + den - 1) / den);
  };
  int64 kLo = 0, kHi = major;
  // Major axis: position = start + majorStep·k must lie in [0, len).
  if (majorStep > 0) {
    kLo = std::max(kLo, -majorStart);
    kHi = std::min(kHi, majorLen - 1 - majorStart);
  } else {
    kLo = std::max(kLo, majorStart - (majorLen - 1));
    kHi = std::min(kHi, majorStart);
  }
  // Minor axis: offset m(k) must lie in [mLo, mHi]; m never decreases.
  const int64 mLo = minorStep > 0 ? -minorStart : minorStart - (minorLen - 1);
  const int64 mHi = minorStep > 0 ? minorLen - 1 - minorStart : minorStart;
  if (mHi < 0) return;
  if (mLo > 0) {
    if (minor == 0) return;
    kLo = std::max(kLo, firstReaching(mLo));
  }
  if (minor > 0) kHi = std::min(kHi, firstReaching(mHi + 1) - 1);
  if (kLo > kHi) return;

  int64 m = offsetAt(kLo);
  // The error term before step kLo; it is small though its parts are not.
  int64 err = int64(wide(2) * minor * (kLo + 1) - major - wide(2) * major * m);
  int64 pm = majorStart + majorStep * kLo, pn = minorStart + minorStep * m;
  for (int64 k = kLo; k <= kHi; ++k) {
    const int64 px = xMajor ? pm : pn, py = xMajor ? pn : pm;
    if (px >= 0 && px < W && py >= 0 && py < H) bits[py * a.stride + px] = color;
    if (err < 0) {
      err += 2 * minor;
    } else {
      err += 2 * minor - 2 * major;
      pn += minorStep;
    }
    pm += majorStep;
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

// Bitmap and directory functions.

bool CFilter::findDir(BDirectory* directory, const char* dirName) {
  if (directory == nullptr || dirName == nullptr || *dirName == '\0') return false;
  BDirectory base(baseDir.Path());
  return directory->SetTo(&base, dirName) >= B_OK;
}

// The name as given first (absolute, or relative to the working directory),
// then under imageDir joined by one slash and not normalised, so that
// "./add-ons.icons/fft.tga" keeps its leading dot segment.
BBitmap* CFilter::loadBitmap(const char* fileName) {
  if (fileName == nullptr || *fileName == '\0') return nullptr;
  BFile file(fileName, B_READ_ONLY);
  if (file.InitCheck() != B_OK) {
    BPath path(imageDir.Path(), fileName);
    if (path.InitCheck() != B_OK || file.SetTo(path.Path(), B_READ_ONLY) != B_OK) return nullptr;
  }
  BBitmapStream stream;
  if (BTranslatorRoster::Default()->Translate(&file, nullptr, nullptr, &stream, B_TRANSLATOR_BITMAP) < B_OK)
    return nullptr;
  BBitmap* bitmap = nullptr;
  stream.DetachBitmap(&bitmap);
  return bitmap;
}

// The data hold the picture packed: row r starts at r × width × bytesPerPixel,
// whatever padding the bitmap gives its own rows, and lands at the start of
// the bitmap's row r.
BBitmap* CFilter::makeIconFromHeader(int32 iconWidth, int32 iconHeight, color_space space,
                                     int32 bytesPerPixel, const uint8* data) {
  if (data == nullptr || iconWidth <= 0 || iconHeight <= 0 || bytesPerPixel <= 0) return nullptr;
  const int64 rowBytes = int64(iconWidth) * bytesPerPixel;
  if (rowBytes * iconHeight > INT32_MAX) return nullptr;
  BBitmap* bitmap =
      new (std::nothrow) BBitmap(BRect(0, 0, float(iconWidth - 1), float(iconHeight - 1)), space);
  if (bitmap == nullptr) return nullptr;
  if (bitmap->InitCheck() != B_OK) {
    delete bitmap;
    return nullptr;
  }
  for (int32 r = 0; r < iconHeight; ++r)
    bitmap->SetBits(data + r * rowBytes, int32(rowBytes), r * bitmap->BytesPerRow(), space);
  return bitmap;
}

BBitmap* CFilter::makeBitmap8Bit(BBitmap* source) {
  if (source == nullptr) return nullptr;
  BBitmap* result = new (std::nothrow) BBitmap(source->Bounds(), B_CMAP8);
  if (result == nullptr) return nullptr;
  if (result->InitCheck() != B_OK) {
    delete result;
    return nullptr;
  }
  const BRect b = source->Bounds();
  const int32 w = int32(b.right - b.left) + 1, h = int32(b.bottom - b.top) + 1;
  const uint8* bits = static_cast<const uint8*>(source->Bits());
  if (source->ColorSpace() == B_CMAP8) {
    // Same bounds and colour space, so the same stride and length.
    if (bits != nullptr) std::memcpy(result->Bits(), bits, size_t(result->BitsLength()));
    return result;
  }
  // Only four-byte pixels can be read as blue, green, red, alpha; reading a
  // narrower colour space that way would run past the end of its bits.
  if (tw_bytes_per_pixel(source->ColorSpace()) != 4) {
    delete result;
    return nullptr;
  }
  if (bits == nullptr) return result;  // an empty picture has nothing to convert
  const size_t count = size_t(w) * size_t(h);
  uint8* rgb = new (std::nothrow) uint8[count * 3];
  if (rgb == nullptr) {
    delete result;
    return nullptr;
  }
  uint8* out = rgb;
  for (int32 r = 0; r < h; ++r) {
    const uint8* p = bits + int64(r) * source->BytesPerRow();
    for (int32 x = 0; x < w; ++x, p += 4, out += 3) {
      out[0] = p[2];
      out[1] = p[1];
      out[2] = p[0];
    }
  }
  result->SetBits(rgb, int32(count * 3), 0, B_RGB32);
  delete[] rgb;
  return result;
}
