// The voxel engine's AVX2 sampler: a slice sampled and its spans drawn eight
// columns at a time, in 32-bit lanes, with exactly the results of the
// portable loops in CVoxelFilter.cpp (the tests run both). Each function is
// compiled for AVX2 on its own and only called where the processor has it.
#include "VoxelSampler.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>

namespace {

// Row and shade of eight columns at once, exactly as the portable sampler
// computes them: 32-bit lanes hold every partial sum (below 2^24), and the
// lane positions step in the same wrapping arithmetic.
__attribute__((target("avx2"))) inline __m256i bilinear8(__m256i a, __m256i a1, __m256i b, __m256i b1,
                                                         __m256i fx, __m256i fy) {
  const __m256i top =
      _mm256_add_epi32(_mm256_slli_epi32(a, 8), _mm256_mullo_epi32(_mm256_sub_epi32(a1, a), fx));
  const __m256i bottom =
      _mm256_add_epi32(_mm256_slli_epi32(b, 8), _mm256_mullo_epi32(_mm256_sub_epi32(b1, b), fx));
  return _mm256_add_epi32(_mm256_slli_epi32(top, 8), _mm256_mullo_epi32(_mm256_sub_epi32(bottom, top), fy));
}

__attribute__((target("avx2"))) void sampleSliceAvx2(const uint8* packed, uint32 x0, uint32 y0, uint32 dx,
                                                     uint32 dy, int eye, int scale, SliceSamples& out,
                                                     const int32* columnTop, int32* columnColour) {
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i px =
      _mm256_add_epi32(_mm256_set1_epi32(int(x0)), _mm256_mullo_epi32(lane, _mm256_set1_epi32(int(dx))));
  __m256i py =
      _mm256_add_epi32(_mm256_set1_epi32(int(y0)), _mm256_mullo_epi32(lane, _mm256_set1_epi32(int(dy))));
  const __m256i stepX = _mm256_set1_epi32(int(dx * 8)), stepY = _mm256_set1_epi32(int(dy * 8));
  const __m256i low = _mm256_set1_epi32(255), eyeV = _mm256_set1_epi32(eye);
  const __m256i scaleV = _mm256_set1_epi32(scale), horizon = _mm256_set1_epi32(kVoxelHorizon);
  const int* const base = reinterpret_cast<const int*>(packed);
  for (int i = 0; i < kVoxelColumns; i += 8) {
    const __m256i cx = _mm256_and_si256(_mm256_srli_epi32(px, 16), low);
    const __m256i cy = _mm256_and_si256(_mm256_srli_epi32(py, 16), low);
    const __m256i fx = _mm256_and_si256(_mm256_srli_epi32(px, 8), low);
    const __m256i fy = _mm256_and_si256(_mm256_srli_epi32(py, 8), low);
    const __m256i cell =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(cy, 8), cy), cx);  // cy × 257 + cx
    const __m256i a = _mm256_i32gather_epi32(base, cell, 4);
    const __m256i a1 = _mm256_i32gather_epi32(base + 1, cell, 4);
    const __m256i b = _mm256_i32gather_epi32(base + kPackedStride, cell, 4);
    const __m256i b1 = _mm256_i32gather_epi32(base + kPackedStride + 1, cell, 4);
    const __m256i depth = bilinear8(_mm256_and_si256(a, low), _mm256_and_si256(a1, low),
                                    _mm256_and_si256(b, low), _mm256_and_si256(b1, low), fx, fy);
    const __m256i shade = bilinear8(_mm256_srli_epi32(a, 16), _mm256_srli_epi32(a1, 16),
                                    _mm256_srli_epi32(b, 16), _mm256_srli_epi32(b1, 16), fx, fy);
    const __m256i h = _mm256_srli_epi32(depth, 16);
    const __m256i row = _mm256_add_epi32(
        _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(h, eyeV), scaleV), 11), horizon);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.row + i), row);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.shade + i), shade);
    // Visible: the column is not full and the slice reaches above its top.
    // Every column that is not full takes this slice's shade.
    const __m256i top = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columnTop + i));
    const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columnColour + i));
    const __m256i full = _mm256_cmpeq_epi32(top, _mm256_setzero_si256());
    const __m256i visible = _mm256_andnot_si256(full, _mm256_cmpgt_epi32(top, row));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.previous + i), old);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(columnColour + i), _mm256_blendv_epi8(shade, old, full));
    out.visible[i / 8] = uint8(_mm256_movemask_ps(_mm256_castsi256_ps(visible)));
    px = _mm256_add_epi32(px, stepX);
    py = _mm256_add_epi32(py, stepY);
  }
}

// Eight lanes as eight bytes in lane order: values 0…255 (shades), or
// masks 0 / -1 (signed, so that -1 stays all ones).
__attribute__((target("avx2"))) inline __m128i inOrder(__m256i b) {
  return _mm_unpacklo_epi32(_mm256_castsi256_si128(b), _mm256_extracti128_si256(b, 1));
}
__attribute__((target("avx2"))) inline __m128i bytes8(__m256i x) {
  return inOrder(_mm256_packus_epi16(_mm256_packs_epi32(x, x), _mm256_setzero_si256()));
}
__attribute__((target("avx2"))) inline __m128i mask8(__m256i m) {
  return inOrder(_mm256_packs_epi16(_mm256_packs_epi32(m, m), _mm256_setzero_si256()));
}

// num / den toward zero, four lanes.
__attribute__((target("avx2"))) inline __m128i quotient4(__m128i num, __m128i den) {
  return _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_cvtepi32_pd(num), _mm256_cvtepi32_pd(den)));
}

// The spans of one slice, eight columns at a time, as the portable drawer
// draws them one by one: the ramp steps are the same quotients (toward zero; exact in double
// for numerators below 2^24), and the group's rows are written top row to
// bottom row with the columns a row does not cover blended back unchanged.
__attribute__((target("avx2"))) void drawSpansAvx2(const SliceSamples& in, int32* columnTop, uint8* frame,
                                                   int last) {
  const __m256i laneBit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  const __m256i none = _mm256_set1_epi32(-1), zero = _mm256_setzero_si256(), lastV = _mm256_set1_epi32(last);
  for (int group = 0; group < kVoxelColumns / 8; ++group) {
    const uint32 bits = in.visible[group];
    if (bits == 0) continue;
    const int first = group * 8;
    const __m256i visible =
        _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(int(bits)), laneBit), laneBit);
    const __m256i top = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columnTop + first));
    const __m256i row = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in.row + first));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in.shade + first));
    const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in.previous + first));
    const __m256i p = _mm256_blendv_epi8(old, c, _mm256_cmpeq_epi32(old, none));
    // Hidden lanes divide by 1; their results are never written.
    const __m256i d = _mm256_blendv_epi8(_mm256_set1_epi32(1), _mm256_sub_epi32(top, row), visible);
    const __m256i n = _mm256_sub_epi32(c, p);
    const __m256i step =
        _mm256_set_m128i(quotient4(_mm256_extracti128_si256(n, 1), _mm256_extracti128_si256(d, 1)),
                         quotient4(_mm256_castsi256_si128(n), _mm256_castsi256_si128(d)));
    // The first row drawn (the frame's last row for a column still empty)
    // and the shade there; the span ends above `end`.
    const __m256i j = _mm256_min_epi32(top, lastV);
    const __m256i v0 = _mm256_add_epi32(p, _mm256_mullo_epi32(step, _mm256_sub_epi32(top, j)));
    const __m256i end = _mm256_max_epi32(row, zero);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(columnTop + first), _mm256_blendv_epi8(top, end, visible));
    // The rows the group's visible spans cover, from the lowest on screen up.
    alignas(32) int32 js[8], ends[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(js),
                       _mm256_blendv_epi8(_mm256_set1_epi32(INT32_MIN), j, visible));
    _mm256_store_si256(reinterpret_cast<__m256i*>(ends),
                       _mm256_blendv_epi8(_mm256_set1_epi32(INT32_MAX), end, visible));
    const int rowFrom = *std::max_element(js, js + 8), rowTo = *std::min_element(ends, ends + 8);
    // Lanes below their own first row carry a value wrapped to the step
    // count; it is exact again by the time the lane is written.
    __m256i v =
        _mm256_add_epi32(v0, _mm256_mullo_epi32(step, _mm256_sub_epi32(j, _mm256_set1_epi32(rowFrom))));
    for (int r = rowFrom; r > rowTo; --r, v = _mm256_add_epi32(v, step)) {
      const __m256i rv = _mm256_set1_epi32(r);
      const __m256i covered = _mm256_and_si256(
          visible, _mm256_andnot_si256(_mm256_cmpgt_epi32(rv, j), _mm256_cmpgt_epi32(rv, end)));
      uint8* dst = frame + r * kVoxelColumns + first;
      const __m128i before = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst));
      const __m128i shades = bytes8(_mm256_srai_epi32(v, kVoxelShadeShift));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_blendv_epi8(before, shades, mask8(covered)));
    }
  }
}

__attribute__((target("avx2"))) void sliceAvx2(const uint8* packed, uint32 x0, uint32 y0, uint32 dx,
                                               uint32 dy, int eye, int scale, int32* columns, uint8* picture,
                                               int last) {
  SliceSamples in;
  sampleSliceAvx2(packed, x0, y0, dx, dy, eye, scale, in, columns, columns + kVoxelColumns);
  drawSpansAvx2(in, columns, picture, last);
}

}  // namespace

// The packed map holds 32-bit cells here: depth in bits 0…7, shade in 16…23,
// so that a gather fetches one cell per lane.
const SVoxelSampler* voxel_avx2_sampler() {
  static const SVoxelSampler avx2{4, voxel_pack<uint32, 16>, sliceAvx2};
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? &avx2 : nullptr;
}

#else

const SVoxelSampler* voxel_avx2_sampler() { return nullptr; }

#endif
