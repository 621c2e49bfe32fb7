#include "FrameOut.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tw::gst {
namespace {

// One row into the video frame, eight pixels at a time (runs of black
// written at once).
void rowOut(const uint8* s, uint32* out, int width, bool indexed, const uint32* palette32) {
  auto one = [&](int x) {
    if (indexed)
      out[x] = palette32[s[x]];
    else
      std::memcpy(out + x, s + size_t(x) * 4, 4);
  };
  int x = 0;
  const bool black = palette32[0] == 0;
  for (; x + 8 <= width; x += 8) {
    __m128i a, b;
    if (indexed) {
      uint64 eight;
      std::memcpy(&eight, s + x, 8);
      if (eight == 0 && black) {
        a = b = _mm_setzero_si128();
      } else {
        const uint8* p = s + x;
        a = _mm_set_epi32(int(palette32[p[3]]), int(palette32[p[2]]), int(palette32[p[1]]),
                          int(palette32[p[0]]));
        b = _mm_set_epi32(int(palette32[p[7]]), int(palette32[p[6]]), int(palette32[p[5]]),
                          int(palette32[p[4]]));
      }
    } else {
      a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + size_t(x) * 4));
      b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + size_t(x) * 4 + 16));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 4), b);
  }
  for (; x < width; ++x) one(x);
}

// Output position o of `out` maps to the source position whose centre lies
// nearest, for an image of `scaled` positions placed at `offset`.
std::vector<int> nearest(int out, int source, double scaled, double offset) {
  std::vector<int> map(size_t(out), -1);
  for (int o = 0; o < out; ++o) {
    const double inImage = (o + 0.5 - offset) / scaled;  // 0 … 1 across the image
    if (inImage < 0 || inImage >= 1) continue;
    map[size_t(o)] = std::clamp(int(inImage * source), 0, source - 1);
  }
  return map;
}

}  // namespace

void FrameOut::configure(const FrameGeometry& g, int width, int height, Fit fit) {
  source_ = g;
  width_ = width;
  height_ = height;
  same_ = width == g.width && height == g.height;
  columns_.clear();
  rows_.clear();
  if (same_) return;
  double sx = double(width) / g.width, sy = double(height) / g.height;
  if (fit == Fit::Contain) sx = sy = std::min(sx, sy);
  if (fit == Fit::Cover) sx = sy = std::max(sx, sy);
  // Contained, the image's edges fall on whole pixels so that the borders
  // are even.
  double w = g.width * sx, h = g.height * sy;
  if (fit == Fit::Contain) w = std::round(w), h = std::round(h);
  columns_ = nearest(width, g.width, w, (width - w) / 2);
  rows_ = nearest(height, g.height, h, (height - h) / 2);
}

void FrameOut::write(const Frame& frame, const uint32* palette32, uint8* dst, int stride) const {
  const FrameGeometry& g = frame.geometry();
  const uint8* src = frame.pixels();
  const size_t srcRow = size_t(g.rowBytes());
  const bool indexed = g.pixelMode != 2;
  if (same_) {
    for (int y = 0; y < height_; ++y)
      rowOut(src + size_t(y) * srcRow, reinterpret_cast<uint32*>(dst + size_t(y) * size_t(stride)), width_,
             indexed, palette32);
    return;
  }
  for (int y = 0; y < height_; ++y) {
    auto* out = reinterpret_cast<uint32*>(dst + size_t(y) * size_t(stride));
    const int sy = rows_[size_t(y)];
    if (sy < 0) {
      std::memset(out, 0, size_t(width_) * 4);
      continue;
    }
    const uint8* s = src + size_t(sy) * srcRow;
    for (int x = 0; x < width_; ++x) {
      const int sx = columns_[size_t(x)];
      uint32 v = 0;
      if (sx >= 0) {
        if (indexed)
          v = palette32[s[sx]];
        else
          std::memcpy(&v, s + size_t(sx) * 4, 4);
      }
      out[x] = v;
    }
  }
}

}  // namespace tw::gst
