#include "engine/Fade.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace tw {
namespace {

// 32 bytes at a time where the processor has AVX2: what the SSE2 loop does,
// twice as wide. Returns the bytes done.
__attribute__((target("avx2"))) size_t multiplyAvx2(uint8* row, size_t used, uint16 multiplier) {
  const __m256i zero = _mm256_setzero_si256(), k = _mm256_set1_epi16(short(multiplier));
  size_t x = 0;
  for (; x + 32 <= used; x += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
    if (_mm256_testz_si256(v, v)) continue;
    // unpack and pack work within each 128-bit half, so the order is kept.
    const __m256i lo = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(v, zero), k);
    const __m256i hi = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(v, zero), k);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + x), _mm256_packus_epi16(lo, hi));
  }
  return x;
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");

int luma(const rgb_color& c) { return 299 * c.red + 587 * c.green + 114 * c.blue; }

}  // namespace

Fade::Fade(float factor, const rgb_color* pal) : factor_(std::clamp(factor, 0.0f, 1.0f)) {
  for (int v = 0; v < 256; ++v) channel_[size_t(v)] = uint8(float(v) * factor_);
  // A multiplier that reproduces the table bit for bit, searched near the
  // factor in 16.16 fixed point; none, and the table does the work.
  if (factor_ > 0.0f && factor_ < 1.0f) {
    const long centre = std::lround(double(factor_) * 65536.0);
    for (long k = std::max(1L, centre - 4); k <= std::min(65535L, centre + 4) && multiplier_ == 0; ++k) {
      bool exact = true;
      for (int v = 0; v < 256 && exact; ++v) exact = ((v * k) >> 16) == channel_[size_t(v)];
      if (exact) multiplier_ = uint16(k);
    }
  }
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
  const bool multiply = g.pixelMode == 2 && multiplier_ != 0;
  const __m128i zero = _mm_setzero_si128(), k = _mm_set1_epi16(short(multiplier_));
  for (int32 y = 0; y < g.height; ++y) {
    uint8* row = frame.pixels() + size_t(y) * rowBytes;
    size_t x = 0;
    // 32-bit: each channel value times the factor, many bytes at a time,
    // equal to the table's (checked when the fade was made).
    if (multiply && kHaveAvx2) x = multiplyAvx2(row, used, multiplier_);
    for (; multiply && x + 16 <= used; x += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)) == 0xFFFF) continue;
      const __m128i lo = _mm_mulhi_epu16(_mm_unpacklo_epi8(v, zero), k);
      const __m128i hi = _mm_mulhi_epu16(_mm_unpackhi_epi8(v, zero), k);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), _mm_packus_epi16(lo, hi));
    }
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
