#include "FrameOut.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tw::gst {
namespace {

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
    for (int y = 0; y < height_; ++y) {
      const uint8* s = src + size_t(y) * srcRow;
      uint8* d = dst + size_t(y) * size_t(stride);
      if (!indexed) {
        std::memcpy(d, s, size_t(width_) * 4);
      } else {
        auto* out = reinterpret_cast<uint32*>(d);
        for (int x = 0; x < width_; ++x) out[x] = palette32[s[x]];
      }
    }
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
