#include "engine/Fade.h"

#include <immintrin.h>

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

namespace {

// A span is looked at 64 bytes at a time: all-zero blocks (black, most of a
// scope's frame) are skipped, the rest faded. The last bytes go through the
// table.
bool zero64(const uint8* p) {
  uint64 w[8];
  std::memcpy(w, p, 64);
  return (w[0] | w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0;
}

// Through local copies: a store through p could alias the table, which
// would make the compiler reload around every byte.
inline void lookUp64(uint8* p, const uint8* table) {
  for (int k = 0; k < 64; k += 8) {
    uint8 in[8], out[8];
    std::memcpy(in, p + k, 8);
    for (int i = 0; i < 8; ++i) out[i] = table[in[i]];
    std::memcpy(p + k, out, 8);
  }
}

void fadeBytes(uint8* p, size_t n, const uint8* table) {
  size_t x = 0;
  for (; x + 64 <= n; x += 64)
    if (!zero64(p + x)) lookUp64(p + x, table);
  for (; x < n; ++x) p[x] = table[p[x]];
}

__attribute__((target("avx2"))) void fadeBytesAvx2(uint8* p, size_t n, const uint8* table) {
  size_t x = 0;
  for (; x + 64 <= n; x += 64) {
    const __m256i any = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + x)),
                                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + x + 32)));
    if (!_mm256_testz_si256(any, any)) lookUp64(p + x, table);
  }
  for (; x < n; ++x) p[x] = table[p[x]];
}

// 32-bit channels, eight at a time: the same float multiply and truncation
// as the table's float(v) * factor, so the bytes are the same.
__attribute__((target("avx2"))) inline __m256i fadeEight(__m128i bytes, __m256 factor) {
  return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes)), factor));
}

__attribute__((target("avx2"))) void fadeChannelsAvx2(uint8* p, size_t n, const uint8* table, float factor) {
  const __m256 f = _mm256_set1_ps(factor);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  size_t x = 0;
  for (; x + 64 <= n; x += 64) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + x));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + x + 32));
    const __m256i any = _mm256_or_si256(v0, v1);
    if (_mm256_testz_si256(any, any)) continue;
    for (int half = 0; half < 2; ++half) {
      const __m256i v = half ? v1 : v0;
      if (_mm256_testz_si256(v, v)) continue;
      const __m128i lo = _mm256_castsi256_si128(v), hi = _mm256_extracti128_si256(v, 1);
      const __m256i a = fadeEight(lo, f), b = fadeEight(_mm_srli_si128(lo, 8), f);
      const __m256i c = fadeEight(hi, f), d = fadeEight(_mm_srli_si128(hi, 8), f);
      // Packing works within 128-bit halves: groups of four bytes come out
      // as a0 b0 c0 d0 a1 b1 c1 d1; the permutation puts them in order.
      const __m256i packed = _mm256_packus_epi16(_mm256_packus_epi32(a, b), _mm256_packus_epi32(c, d));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + x + 32 * size_t(half)),
                          _mm256_permutevar8x32_epi32(packed, order));
    }
  }
  for (; x < n; ++x) p[x] = table[p[x]];
}

bool avx2Available() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
const bool kAvx2 = avx2Available();

}  // namespace

void Fade::apply(Frame& frame) const {
  const FrameGeometry& g = frame.geometry();
  if (factor_ <= 0.0f) {
    frame.clear();
    return;
  }
  if (factor_ >= 1.0f) return;
  const size_t rowBytes = size_t(g.rowBytes());
  const size_t used = size_t(g.width) * (g.pixelMode == 2 ? 4 : 1);
  // Rows without padding are one span.
  const size_t span = rowBytes == used ? used * size_t(g.height) : used;
  const size_t spans = rowBytes == used ? 1 : size_t(g.height);
  for (size_t i = 0; i < spans; ++i) {
    uint8* p = frame.pixels() + i * rowBytes;
    if (g.pixelMode == 2 && kAvx2)
      fadeChannelsAvx2(p, span, channel_.data(), factor_);
    else if (kAvx2)
      fadeBytesAvx2(p, span, table8_.data());
    else
      fadeBytes(p, span, g.pixelMode == 2 ? channel_.data() : table8_.data());
  }
}

}  // namespace tw
