#include "engine/Fade.h"

#include <algorithm>
#include <cstring>

namespace tw {
namespace {

int luma(const rgb_color& c) { return 299 * c.red + 587 * c.green + 114 * c.blue; }

}  // namespace

Fade::Fade(float factor, const rgb_color* pal) : factor_(std::clamp(factor, 0.0f, 1.0f)) {
  for (int v = 0; v < 256; ++v) channel_[size_t(v)] = uint8(float(v) * factor_);
  for (int i = 0; i < 256; ++i) {
    if (factor_ >= 1.0f) {
      table8_[size_t(i)] = uint8(i);
      continue;
    }
    const rgb_color c = pal[i];
    const int r = channel_[c.red], g = channel_[c.green], b = channel_[c.blue];
    // Nearest palette colour to the faded one among the strictly darker
    // colours (and black, index 0), so that trails always die out.
    int best = 0;
    long bestD = long(r) * r + long(g) * g + long(b) * b;
    const int own = luma(c);
    for (int j = 1; j < 256; ++j) {
      const rgb_color d = pal[j];
      if (luma(d) >= own) continue;
      const long dr = d.red - r, dg = d.green - g, db = d.blue - b;
      const long dist = dr * dr + dg * dg + db * db;
      if (dist < bestD) bestD = dist, best = j;
    }
    table8_[size_t(i)] = uint8(best);
  }
}

void Fade::apply(Frame& frame) const {
  const FrameGeometry& g = frame.geometry();
  if (factor_ <= 0.0f) {
    frame.clear();
    return;
  }
  if (factor_ >= 1.0f) return;
  const size_t rowBytes = size_t(g.rowBytes());
  const size_t used = size_t(g.width) * (g.pixelMode == 2 ? 4 : 1);
  const uint8* table = g.pixelMode == 2 ? channel_.data() : table8_.data();
  for (int32 y = 0; y < g.height; ++y) {
    uint8* row = frame.pixels() + size_t(y) * rowBytes;
    size_t x = 0;
    // Black stays black: runs of zero bytes, most of a typical frame, are
    // skipped eight at a time.
    for (; x + 8 <= used; x += 8) {
      uint64 word;
      std::memcpy(&word, row + x, 8);
      if (word == 0) continue;
      for (size_t k = 0; k < 8; ++k) row[x + k] = table[row[x + k]];
    }
    for (; x < used; ++x) row[x] = table[row[x]];
  }
}

}  // namespace tw
