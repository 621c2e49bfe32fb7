#include "CVoxelFilter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr int32 kMapBytes = CVoxelFilter::kMapCells;
constexpr int32 kColumns = CVoxelFilter::kColumns;
constexpr int kHorizon = 100;   // picture row of the horizon
constexpr int kEyeHeight = 30;  // the camera flies this far above the ground
constexpr int kPerspective = 25600;
constexpr int kLastSlice = 99;
constexpr int kShadeShift = 19;  // 16 fraction bits and 8 → 32 palette steps
// Far beyond any frame's travel, well inside int32: a camera coordinate that
// reaches it is brought back by whole map periods.
constexpr int64 kCameraLimit = int64(1) << 30;

// Bilinear sample of a 256 × 256 map at (px, py) in 16.16 map units, with 16
// fraction bits. Only eight fraction bits of each coordinate count; every
// index wraps.
inline int sampleMap(const uint8* map, int px, int py) {
  const int cx = (px >> 16) & 255, cy = (py >> 16) & 255;
  const int fx = (px >> 8) & 255, fy = (py >> 8) & 255;
  const int cx1 = (cx + 1) & 255;
  const uint8* r0 = map + (cy << 8);
  const uint8* r1 = map + (((cy + 1) & 255) << 8);
  const int top = r0[cx] * 256 + (r0[cx1] - r0[cx]) * fx;
  const int bottom = r1[cx] * 256 + (r1[cx1] - r1[cx]) * fx;
  return top * 256 + (bottom - top) * fy;
}

// The same sample of the packed map: height and shade together. The map's
// rows are kPackedStride cells apart and carry a copy of their first cell
// after the last, and row 0 is copied after row 255, so the four corners lie
// at fixed offsets from the first: the wrap costs no masking per corner.
constexpr int kPackedStride = 257;
inline int64 samplePacked(const uint64* map, uint32 px, uint32 py) {
  const uint32 cx = (px >> 16) & 255, cy = (py >> 16) & 255;
  const int64 fx = (px >> 8) & 255, fy = (py >> 8) & 255;
  const uint64* r0 = map + (cy * kPackedStride + cx);
  const int64 a = int64(r0[0]), b = int64(r0[kPackedStride]);
  const int64 top = a * 256 + (int64(r0[1]) - a) * fx;
  const int64 bottom = b * 256 + (int64(r0[kPackedStride + 1]) - b) * fx;
  return top * 256 + (bottom - top) * fy;
}

// One slice at every column: the row it reaches, its shade, the shade the
// column had before it, and which columns it shows in (bit i % 8 of
// visible[i / 8]).
struct SliceSamples {
  int32 row[kColumns], shade[kColumns], previous[kColumns];
  uint8 visible[kColumns / 8];
};

#if defined(__x86_64__)
// Row and shade of eight columns at once, exactly as samplePacked and Line
// compute them: 32-bit lanes hold every partial sum (below 2^24), and the
// lane positions step in the same wrapping arithmetic.
__attribute__((target("avx2"))) inline __m256i bilinear8(__m256i a, __m256i a1, __m256i b, __m256i b1,
                                                         __m256i fx, __m256i fy) {
  const __m256i top =
      _mm256_add_epi32(_mm256_slli_epi32(a, 8), _mm256_mullo_epi32(_mm256_sub_epi32(a1, a), fx));
  const __m256i bottom =
      _mm256_add_epi32(_mm256_slli_epi32(b, 8), _mm256_mullo_epi32(_mm256_sub_epi32(b1, b), fx));
  return _mm256_add_epi32(_mm256_slli_epi32(top, 8), _mm256_mullo_epi32(_mm256_sub_epi32(bottom, top), fy));
}

__attribute__((target("avx2"))) void sampleSliceAvx2(const uint32* map, uint32 x0, uint32 y0, uint32 dx,
                                                     uint32 dy, int eye, int scale, SliceSamples& out,
                                                     const int32* columnTop, int32* columnColour) {
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i px =
      _mm256_add_epi32(_mm256_set1_epi32(int(x0)), _mm256_mullo_epi32(lane, _mm256_set1_epi32(int(dx))));
  __m256i py =
      _mm256_add_epi32(_mm256_set1_epi32(int(y0)), _mm256_mullo_epi32(lane, _mm256_set1_epi32(int(dy))));
  const __m256i stepX = _mm256_set1_epi32(int(dx * 8)), stepY = _mm256_set1_epi32(int(dy * 8));
  const __m256i low = _mm256_set1_epi32(255), eyeV = _mm256_set1_epi32(eye);
  const __m256i scaleV = _mm256_set1_epi32(scale), horizon = _mm256_set1_epi32(kHorizon);
  const int* const base = reinterpret_cast<const int*>(map);
  for (int i = 0; i < kColumns; i += 8) {
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

// The spans of one slice, eight columns at a time, as Line draws them one by
// one: the ramp steps are the same quotients (toward zero; exact in double
// for numerators below 2^24), and the group's rows are written top row to
// bottom row with the columns a row does not cover blended back unchanged.
__attribute__((target("avx2"))) void drawSpansAvx2(const SliceSamples& in, int32* columnTop, uint8* frame,
                                                   int last) {
  const __m256i laneBit = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  const __m256i none = _mm256_set1_epi32(-1), zero = _mm256_setzero_si256(), lastV = _mm256_set1_epi32(last);
  for (int group = 0; group < kColumns / 8; ++group) {
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
      uint8* dst = frame + r * kColumns + first;
      const __m128i before = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst));
      const __m128i shades = bytes8(_mm256_srai_epi32(v, kShadeShift));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_blendv_epi8(before, shades, mask8(covered)));
    }
  }
}

bool avx2Available() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && std::getenv("TW_VOXEL_SCALAR") == nullptr;
}
#else
bool avx2Available() { return false; }
#endif

// Exact quotients n / d toward zero for |n| < 2^24 and 1 ≤ d < 4096 by a
// multiply: the error of floor(2^40 / d) + 1 stays below 2^-16, less than the
// gap 1/d between n / d and the next integer.
struct Reciprocals {
  uint64 r[4096];
  constexpr Reciprocals() : r{} {
    for (uint64 d = 1; d < 4096; ++d) r[d] = (uint64(1) << 40) / d + 1;
  }
};
constexpr Reciprocals kReciprocals;

inline int divide(int n, int d) {
  if (d >= 4096) return n / d;
  const uint64 q = (uint64(n < 0 ? -int64(n) : n) * kReciprocals.r[d]) >> 40;
  return n < 0 ? -int(q) : int(q);
}

inline uint8& cell(uint8* map, int row, int column) { return map[((row & 255) << 8) | (column & 255)]; }

// How many of a picture row's `wanted` pixels fit a frame row of `width`
// pixels stored in `room` pixels.
int32 clipColumns(int64 wanted, int64 width, int64 room) {
  return int32(std::max<int64>(0, std::min({wanted, width, room})));
}

int64 keepInRange(int64 v) {
  return v >= kCameraLimit || v <= -kCameraLimit ? v % CVoxelFilter::kMapPeriod : v;
}

}  // namespace

int32 voxel_trunc(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return int32(v);
}

int voxel_random_subdivide(int, int, int cornerMean, int range) {
  return std::rand() % range + cornerMean - range / 2;
}

CVoxelFilter::CVoxelFilter(const SVoxelVariant& v) : variant(v), vectorSampling_(avx2Available()) {
  std::fill(std::begin(columnTop), std::end(columnTop), v.rows);
  std::fill(std::begin(columnColour), std::end(columnColour), -1);
}

CVoxelFilter::~CVoxelFilter() { delete settingsView; }

bool CVoxelFilter::load() {
  name = variant.name;
  author = variant.author;
  info = "Da code";
  hostHint1 = 0;
  hostHint2 = 3;
  hostFactor = 0.0f;
  supportedModes = variant.supportedModes;
  if (variant.declareParams) {
    params.MakeEmpty();  // a second load declares the same values, not twice
    variant.declareParams(params);
  }
  if (!buffers_) {
    buffers_.reset(new (std::nothrow) uint8[size_t(2 * kMapBytes + variant.rows * kColumns)]());
    constexpr size_t cells = size_t(kPackedStride * kPackedStride);
    if (vectorSampling_)
      packed32_.reset(new (std::nothrow) uint32[cells]());
    else
      packed_.reset(new (std::nothrow) uint64[cells]());
    if (!buffers_ || (!packed_ && !packed32_)) {
      buffers_.reset();
      packed_.reset();
      packed32_.reset();
      return false;
    }
  }
  heightMap = buffers_.get();
  shadeMap = heightMap + kMapBytes;
  voxelFrame = shadeMap + kMapBytes;
  if (variant.mapInLoad) {
    std::memset(voxelFrame, 0, size_t(variant.rows * kColumns));
    ComputeMap();
  }
  return true;
}

bool CVoxelFilter::prepare() {
  if (!heightMap) return false;
  heading = variant.startHeading;
  speedShift = variant.startSpeedShift;
  camY = 0;
  camX = variant.startCamX;
  camLevel = 0;
  spectrumRow = 30;
  if (variant.clearInPrepare) std::memset(voxelFrame, 0, size_t(variant.rows * kColumns));
  if (!variant.mapInLoad) ComputeMap();
  return true;
}

void CVoxelFilter::processFrame8(SFrameInfo& info) {
  if (!variant.output8 || !heightMap) return;
  if (variant.beforeFrame) variant.beforeFrame(*this, info);
  ComputeVoxel(camX, camY, heading);
  (this->*variant.output8)(info);
  update(info);
}

void CVoxelFilter::processFrame32(SFrameInfo& info) {
  if (!variant.output32 || !heightMap) return;
  if (variant.beforeFrame) variant.beforeFrame(*this, info);
  ComputeVoxel(camX, camY, heading);
  (this->*variant.output32)(info);
  update(info);
}

BView* CVoxelFilter::settingsOpened() { return variant.openSettings ? variant.openSettings(*this) : nullptr; }

void CVoxelFilter::ComputeMap() {
  uint8* const h = heightMap;
  // Midpoint subdivision: every cell but (0, 0) is written exactly once, by
  // the pass whose half side is the largest power of two dividing both of
  // its coordinates.
  cell(h, 0, 0) = 128;
  for (int a = 256; a >= 2; a /= 2) {
    const int half = a / 2, range = 8 * a + 20;
    for (int e = 0; e < 256; e += a) {
      for (int c = 0; c < 256; c += a) {
        const int g = cell(h, e, c), hh = cell(h, e + a, c), l = cell(h, e, c + a), m = cell(h, e + a, c + a);
        cell(h, e, c + half) = uint8(Clamp(variant.subdivide(e, c + half, (g + l) / 2, range)));
        cell(h, e + half, c + half) =
            uint8(Clamp(variant.subdivide(e + half, c + half, (g + hh + l + m) / 4, range)));
        cell(h, e + half, c) = uint8(Clamp(variant.subdivide(e + half, c, (g + hh) / 2, range)));
      }
    }
  }
  // Smoothing in place: cells already replaced in this pass are read anew.
  for (int pass = 0; pass < 3; ++pass)
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x)
        cell(h, y, x) =
            uint8((cell(h, y + 1, x) + cell(h, y, x + 1) + cell(h, y - 1, x) + cell(h, y, x - 1)) / 4);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x)
      cell(shadeMap, y, x) = uint8(Clamp(128 + 4 * (cell(h, y + 1, x + 1) - cell(h, y, x))));
  packMaps(0, 255);
}

namespace {

template <typename Cell, int ShadeShift>
void pack(Cell* map, const uint8* heights, const uint8* shades, int first, int last) {
  for (int y = first; y <= last; ++y) {
    Cell* row = map + y * kPackedStride;
    for (int x = 0; x < 256; ++x) row[x] = Cell(heights[y << 8 | x]) | Cell(shades[y << 8 | x]) << ShadeShift;
    row[256] = row[0];
  }
  // The copy of row 0 after row 255, its own wrapped cell included.
  if (first == 0) std::copy(map, map + kPackedStride, map + 256 * kPackedStride);
}

}  // namespace

void CVoxelFilter::packMaps(int first, int last) {
  if (packed32_)
    pack<uint32, 16>(packed32_.get(), heightMap, shadeMap, first, last);
  else
    pack<uint64, 32>(packed_.get(), heightMap, shadeMap, first, last);
}

void CVoxelFilter::ComputeVoxel(int x, int y, float heading) {
  const int32 rows = variant.rows;
  std::fill(std::begin(columnTop), std::end(columnTop), rows);
  std::fill(std::begin(columnColour), std::end(columnColour), -1);

  int g = sampleMap(heightMap, x, y) >> 16;
  if (g > camLevel) g = camLevel + (g - camLevel) / variant.fallDivisor;
  camLevel = g;
  const int eye = camLevel - kEyeHeight;

  // The edges of the view, a quarter turn apart; the angles are float sums,
  // their sines and cosines double.
  const double leftAngle = double(float(heading - kQuarterPi));
  const double rightAngle = double(float(heading + kQuarterPi));
  const double cl = std::cos(leftAngle), sl = std::sin(leftAngle);
  const double cr = std::cos(rightAngle), sr = std::sin(rightAngle);
  const double fx = x, fy = y;
  // Near slices one cell apart, far ones two.
  for (int o = 0; o <= kLastSlice; o += 1 + o / 64) {
    const double d = o * 65536.0;
    Line(int(fx + d * cl), int(fy + d * sl), int(fx + d * cr), int(fy + d * sr), eye, kPerspective / (o + 1));
  }
}

void CVoxelFilter::Line(int x0, int y0, int x1, int y1, int eye, int scale) {
  const int dx = (x1 - x0) / kColumns, dy = (y1 - y0) / kColumns;
  const int last = variant.rows - 1;
  // First every column's sample, row and visibility, then the spans of the
  // visible columns: apart, the samples overlap their loads, and the
  // visibility test, which no predictor can guess, is a mask, not a branch.
  SliceSamples in;
  if (vectorSampling_) {
#if defined(__x86_64__)
    sampleSliceAvx2(packed32_.get(), uint32(x0), uint32(y0), uint32(dx), uint32(dy), eye, scale, in,
                    columnTop, columnColour);
#endif
  } else {
    const uint64* const map = packed_.get();
    // The positions step as the accumulated int sums would, in wrapping
    // arithmetic.
    uint32 px = uint32(x0), py = uint32(y0);
    for (int i = 0; i < kColumns; ++i, px += uint32(dx), py += uint32(dy)) {
      const int64 both = samplePacked(map, px, py);
      const int h = int(both & 0xFFFFFF) >> 16;
      const int c = int(both >> 32), row = (((h - eye) * scale) >> 11) + kHorizon;
      const int top = columnTop[i];
      in.row[i] = row, in.shade[i] = c, in.previous[i] = columnColour[i];
      // A full column (top 0) keeps its shade and shows nothing more.
      if (top != 0) columnColour[i] = c;
      const uint8 bit = uint8((top != 0 && row < top) << (i % 8));
      in.visible[i / 8] = i % 8 ? uint8(in.visible[i / 8] | bit) : bit;
    }
  }
#if defined(__x86_64__)
  if (vectorSampling_) return drawSpansAvx2(in, columnTop, voxelFrame, last);
#endif
  for (int group = 0; group < kColumns / 8; ++group)
    for (uint32 bits = in.visible[group]; bits != 0; bits &= bits - 1) {
      const int i = group * 8 + __builtin_ctz(bits);
      const int top = columnTop[i], row = in.row[i], c = in.shade[i];
      // A vertical ramp from the previous slice's shade at the bottom to this
      // one's at the top; the row the slice reaches is not written.
      const int p = in.previous[i] == -1 ? c : in.previous[i];
      const int step = divide(c - p, top - row);
      int j = top, v = p;
      if (top > last) {
        v += step * (top - last);
        j = last;
      }
      const int end = row > 0 ? row : 0;
      uint8* dst = voxelFrame + j * kColumns + i;
      for (; j > end; --j, dst -= kColumns, v += step) *dst = uint8(v >> kShadeShift);
      columnTop[i] = end;
    }
}

// Output. Every form clears voxelFrame as it reads it (where it copies at
// all) and writes only rows below `height` and columns below `width` and
// inside the row stride, whatever the picture's own size.

void CVoxelFilter::outputByWidth8(SFrameInfo& info) {
  if (width >= 640) {
    outputDoubled8(info);
  } else if (width >= 320) {
    // Rows lie bytesPerRow rounded down to a multiple of 8 apart.
    const int64 stride = bytesPerRow & ~7;
    const int32 columns = clipColumns(kColumns, width, stride);
    const int32 rows = std::min(variant.rows, height);
    uint8* const bits = static_cast<uint8*>(info.bits);
    if (bits && columns > 0)
      for (int32 r = 0; r < rows; ++r)
        std::memcpy(bits + r * stride, voxelFrame + r * kColumns, size_t(columns));
    std::memset(voxelFrame, 0, size_t(variant.rows * kColumns));
  }
}

namespace {

// One picture row, each index twice, into `line`; the row is cleared for
// the next picture.
void takeDoubled(uint8* row, uint8* line) {
  for (int32 i = 0; i < kColumns; ++i) line[2 * i] = line[2 * i + 1] = row[i];
  std::memset(row, 0, kColumns);
}

}  // namespace

void CVoxelFilter::outputDoubled8(SFrameInfo& info) {
  const int64 stride = bytesPerRow;
  const int32 columns = clipColumns(640, width, stride);
  uint8* const bits = static_cast<uint8*>(info.bits);
  uint8 line[640];
  for (int32 r = 0; r < variant.rows; ++r) {
    takeDoubled(voxelFrame + r * kColumns, line);
    if (!bits || columns == 0) continue;
    for (int32 y = 2 * r; y < 2 * r + 2 && y < height; ++y)
      std::memcpy(bits + y * stride, line, size_t(columns));
  }
}

void CVoxelFilter::outputMirrored8(SFrameInfo& info) {
  // The strip doubled, its rows going down from the middle of the frame and,
  // mirrored, up from it; the second row of each pair lies bytesPerRow
  // rounded down to a multiple of 8 after the first.
  const int64 stride = bytesPerRow, pairStride = bytesPerRow & ~7;
  const int32 columns = clipColumns(640, width, stride);
  uint8* const bits = static_cast<uint8*>(info.bits);
  uint8 line[640];
  for (int32 r = 0; r < variant.rows; ++r) {
    takeDoubled(voxelFrame + r * kColumns, line);
    if (!bits || columns == 0) continue;
    for (const int32 first : {240 + 2 * r, 238 - 2 * r}) {
      if (first < 0 || first >= height) continue;
      uint8* dst = bits + first * stride;
      std::memcpy(dst, line, size_t(columns));
      if (first + 1 < height) std::memcpy(dst + pairStride, line, size_t(columns));
    }
  }
}

void CVoxelFilter::outputCentred32(SFrameInfo& info) {
  int32 factor;
  if (width >= 640)
    factor = 2;
  else if (width >= 320)
    factor = 1;
  else
    return;
  const int32 pictureWidth = kColumns * factor, pictureHeight = variant.rows * factor;
  // Centred; on a frame lower than the picture its middle rows show.
  const int32 left = (width - pictureWidth) >> 1, topRow = (height - pictureHeight) >> 1;
  const int64 pitch = bytesPerRow / 4;  // pixels from one row to the next
  const int32 columns = clipColumns(pictureWidth, int64(width) - left, pitch - left);
  uint8* const bits = static_cast<uint8*>(info.bits);
  uint32 line[640];
  for (int32 r = 0; r < variant.rows; ++r) {
    uint8* src = voxelFrame + r * kColumns;
    if (factor == 2)
      for (int32 i = 0; i < kColumns; ++i) line[2 * i] = line[2 * i + 1] = palette32[src[i]];
    else
      for (int32 i = 0; i < kColumns; ++i) line[i] = palette32[src[i]];
    std::memset(src, 0, kColumns);
    if (!bits || columns == 0) continue;
    for (int32 k = 0; k < factor; ++k) {
      const int32 y = topRow + factor * r + k;
      if (y < 0 || y >= height) continue;
      std::memcpy(bits + (y * pitch + left) * 4, line, size_t(columns) * 4);
    }
  }
}

void CVoxelFilter::update(SFrameInfo& info) {
  // One steering state per update function, shared by every instance of
  // this filter in the process and never reset.
  static float lastRaie = 0.0f, idealraie = 0.0f;
  if (variant.soundSteering) {
    const float lr = float(info.bands[1][0] * (1.0 / 8192));
    idealraie = idealraie + ((lr - lastRaie) - idealraie) / 10;
    lastRaie = lr;
  }
  const int32 base = int32(1) << speedShift;
  const int32 step = variant.soundSpeed ? voxel_trunc(double(base) + info.level[1]) : base;
  moveCamera(step, heading);

  float next = heading;
  if (variant.soundSteering) {
    const float target = float(double(idealraie) * double(kQuarterPi) / 20 + double(heading));
    next = (target + heading) * 0.5f;
  }
  if (variant.wrapHeading) next = wrapHeading(next);
  heading = applyKeys(next, variant.turnRightKey, variant.lowestSpeedShift);
}

float CVoxelFilter::wrapHeading(float h) {
  // A whole turn, so that crossing ±π never turns the view.
  if (h > M_PI) h = float(double(h) - 2 * M_PI);
  if (h < -M_PI) h = float(double(h) + 2 * M_PI);
  return h;
}

float CVoxelFilter::applyKeys(float h, uint32 rightKey, int32 lowest) {
  const uint32 keys = modifiers();
  if (keys & B_LEFT_SHIFT_KEY)
    h = h - kKeyTurn;
  else if (keys & rightKey)
    h = h + kKeyTurn;
  if ((keys & B_CONTROL_KEY) && speedShift <= 15)
    ++speedShift;
  else if ((keys & B_COMMAND_KEY) && speedShift > lowest)
    --speedShift;
  return h;
}

void CVoxelFilter::moveCamera(int32 step, float h) {
  int64 x = camX, y = camY;
  if (variant.reduceBeforeMove) {
    x %= kMapPeriod;
    y %= kMapPeriod;
  }
  const double angle = h;
  x = int64(double(x) + step * std::cos(angle));
  y = int64(double(y) + step * std::sin(angle));
  camX = int32(keepInRange(x));
  camY = int32(keepInRange(y));
}
