#include "output/Yuv.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace tw {
namespace {

// BT.601 in 16-bit fixed point: rows Y, U, V; columns R, G, B.
struct YuvCoefficients {
  int32 m[3][3];
  int32 yOffset;
};
constexpr YuvCoefficients kFullRange = {
    {{19595, 38470, 7471}, {-11059, -21709, 32768}, {32768, -27439, -5329}}, 0};
constexpr YuvCoefficients kVideoRange = {
    {{16829, 33039, 6416}, {-9714, -19071, 28784}, {28784, -24103, -4681}}, 16};

uint8 toByte(int32 v) { return uint8(std::clamp(v, 0, 255)); }

// Y of one colour: its weighted sum, rounded, plus the range's offset.
uint8 lumaOf(const YuvCoefficients& k, int32 r, int32 g, int32 b) {
  return toByte(k.yOffset + ((k.m[0][0] * r + k.m[0][1] * g + k.m[0][2] * b + 32768) >> 16));
}
// U or V (row 1 or 2) of a 2 × 2 block from its channel sums: the weighted
// sum of four pixels is the weighted sum of their channel sums, divided by
// 4 × 65536 and rounded.
uint8 chromaOf(const YuvCoefficients& k, int row, int32 r4, int32 g4, int32 b4) {
  return toByte(128 + ((k.m[row][0] * r4 + k.m[row][1] * g4 + k.m[row][2] * b4 + (1 << 17)) >> 18));
}

uint32 pixelAt(const uint8* row, int32 x) {
  uint32 v;
  std::memcpy(&v, row + size_t(x) * 4, 4);
  return v;
}

// Luma of pixels [from, to) of one row.
void lumaRow(const YuvCoefficients& k, const uint8* row, int32 from, int32 to, uint8* y) {
  for (int32 x = from; x < to; ++x) {
    const uint32 c = pixelAt(row, x);
    y[x] = lumaOf(k, int32(c >> 16 & 255), int32(c >> 8 & 255), int32(c & 255));
  }
}

// Chroma of blocks [from, to) of the row pair row0/row1 (the same row at an
// odd picture's bottom).
void chromaRow(const YuvCoefficients& k, const uint8* row0, const uint8* row1, int32 width, int32 from,
               int32 to, uint8* u, uint8* v) {
  for (int32 x = from; x < to; ++x) {
    const int32 x0 = 2 * x, x1 = 2 * x + 1 < width ? 2 * x + 1 : 2 * x;
    const uint32 p[4] = {pixelAt(row0, x0), pixelAt(row0, x1), pixelAt(row1, x0), pixelAt(row1, x1)};
    int32 r = 0, g = 0, b = 0;
    for (uint32 c : p) r += int32(c >> 16 & 255), g += int32(c >> 8 & 255), b += int32(c & 255);
    u[x] = chromaOf(k, 1, r, g, b);
    v[x] = chromaOf(k, 2, r, g, b);
  }
}

// The same arithmetic eight lanes at a time (32-bit products: 38470 does not
// fit the 16-bit multipliers).
__attribute__((target("avx2"))) inline __m256i weighed(const YuvCoefficients& k, int row, __m256i r,
                                                       __m256i g, __m256i b) {
  return _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(r, _mm256_set1_epi32(k.m[row][0])),
                                           _mm256_mullo_epi32(g, _mm256_set1_epi32(k.m[row][1]))),
                          _mm256_mullo_epi32(b, _mm256_set1_epi32(k.m[row][2])));
}

// Eight int32 lanes (each within 0…255 after clamping) to eight bytes.
__attribute__((target("avx2"))) inline void storeBytes(__m256i v, uint8* out) {
  const __m256i words = _mm256_packs_epi32(v, v);           // lanes 0-3 | 4-7, each half twice
  const __m256i bytes = _mm256_packus_epi16(words, words);  // clamps to 0…255
  const uint32 lo = uint32(_mm256_cvtsi256_si32(bytes));
  const uint32 hi = uint32(_mm256_extract_epi32(bytes, 4));
  std::memcpy(out, &lo, 4);
  std::memcpy(out + 4, &hi, 4);
}

__attribute__((target("avx2"))) int32 lumaRowAvx2(const YuvCoefficients& k, const uint8* row, int32 width,
                                                  uint8* y) {
  const __m256i mask = _mm256_set1_epi32(255), round = _mm256_set1_epi32(32768);
  const __m256i offset = _mm256_set1_epi32(k.yOffset);
  int32 x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + size_t(x) * 4));
    const __m256i r = _mm256_and_si256(_mm256_srli_epi32(c, 16), mask);
    const __m256i g = _mm256_and_si256(_mm256_srli_epi32(c, 8), mask);
    const __m256i b = _mm256_and_si256(c, mask);
    const __m256i sum = _mm256_add_epi32(weighed(k, 0, r, g, b), round);
    storeBytes(_mm256_add_epi32(_mm256_srai_epi32(sum, 16), offset), y + x);
  }
  return x;
}

// Channel sums of horizontal pixel pairs: pixels 0…7 in a, 8…15 in b give
// pairs 0…7 in order.
__attribute__((target("avx2"))) inline __m256i pairSums(__m256i a, __m256i b) {
  return _mm256_permute4x64_epi64(_mm256_hadd_epi32(a, b), 0xD8);
}

__attribute__((target("avx2"))) int32 chromaRowAvx2(const YuvCoefficients& k, const uint8* row0,
                                                    const uint8* row1, int32 width, uint8* u, uint8* v) {
  const __m256i mask = _mm256_set1_epi32(255), round = _mm256_set1_epi32(1 << 17);
  const __m256i centre = _mm256_set1_epi32(128);
  int32 x = 0;
  // Blocks whose both columns lie within the picture, eight at a time.
  for (; 2 * x + 16 <= width; x += 8) {
    const uint8* p0 = row0 + size_t(2 * x) * 4;
    const uint8* p1 = row1 + size_t(2 * x) * 4;
    __m256i s[2][3];  // per half (pixels 0-7, 8-15): r, g, b of both rows summed
    for (int h = 0; h < 2; ++h) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p0 + 32 * h));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p1 + 32 * h));
      s[h][0] = _mm256_add_epi32(_mm256_and_si256(_mm256_srli_epi32(a, 16), mask),
                                 _mm256_and_si256(_mm256_srli_epi32(b, 16), mask));
      s[h][1] = _mm256_add_epi32(_mm256_and_si256(_mm256_srli_epi32(a, 8), mask),
                                 _mm256_and_si256(_mm256_srli_epi32(b, 8), mask));
      s[h][2] = _mm256_add_epi32(_mm256_and_si256(a, mask), _mm256_and_si256(b, mask));
    }
    const __m256i r = pairSums(s[0][0], s[1][0]), g = pairSums(s[0][1], s[1][1]),
                  b = pairSums(s[0][2], s[1][2]);
    storeBytes(
        _mm256_add_epi32(centre, _mm256_srai_epi32(_mm256_add_epi32(weighed(k, 1, r, g, b), round), 18)),
        u + x);
    storeBytes(
        _mm256_add_epi32(centre, _mm256_srai_epi32(_mm256_add_epi32(weighed(k, 2, r, g, b), round), 18)),
        v + x);
  }
  return x;
}

bool avx2Available() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
const bool kAvx2 = avx2Available();

}  // namespace

size_t yuv420Bytes(int32 width, int32 height) {
  const size_t w = size_t(std::max(width, 0)), h = size_t(std::max(height, 0));
  return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
}

void xrgbToYuv420(const uint8* pixels, int32 w, int32 h, size_t rowBytes, YuvRange range, uint8* out) {
  const YuvCoefficients& k = range == YuvRange::Full ? kFullRange : kVideoRange;
  const int32 cw = (w + 1) / 2, ch = (h + 1) / 2;
  uint8* Y = out;
  uint8* U = Y + size_t(w) * size_t(h);
  uint8* V = U + size_t(cw) * size_t(ch);
  for (int32 y = 0; y < h; ++y) {
    const uint8* row = pixels + size_t(y) * rowBytes;
    uint8* dst = Y + size_t(y) * size_t(w);
    lumaRow(k, row, kAvx2 ? lumaRowAvx2(k, row, w, dst) : 0, w, dst);
  }
  for (int32 y = 0; y < ch; ++y) {
    const uint8* row0 = pixels + size_t(2 * y) * rowBytes;
    const uint8* row1 = 2 * y + 1 < h ? row0 + rowBytes : row0;
    uint8* u = U + size_t(y) * size_t(cw);
    uint8* v = V + size_t(y) * size_t(cw);
    chromaRow(k, row0, row1, w, kAvx2 ? chromaRowAvx2(k, row0, row1, w, u, v) : 0, cw, u, v);
  }
}

void frameToYuv420(const Frame& frame, const uint32* palette32, YuvRange range, std::vector<uint8>* out) {
  const FrameGeometry& g = frame.geometry();
  out->resize(yuv420Bytes(g.width, g.height));
  if (g.pixelMode == 2) {
    xrgbToYuv420(frame.pixels(), g.width, g.height, size_t(g.rowBytes()), range, out->data());
    return;
  }
  std::vector<uint32> xrgb(size_t(g.width) * size_t(g.height));
  for (int32 y = 0; y < g.height; ++y) {
    const uint8* row = frame.pixels() + size_t(y) * size_t(g.rowBytes());
    for (int32 x = 0; x < g.width; ++x) xrgb[size_t(y) * size_t(g.width) + size_t(x)] = palette32[row[x]];
  }
  xrgbToYuv420(reinterpret_cast<const uint8*>(xrgb.data()), g.width, g.height, size_t(g.width) * 4, range,
               out->data());
}

}  // namespace tw
