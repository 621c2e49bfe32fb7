#include "CVoxelFilter.h"

#include "FilterKit.h"
#include "VoxelSampler.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

// The engine in the order of its README: the map, its packed copy, the
// bilinear sample, the camera depth, the slices, the spans, the output and
// the camera motion. The AVX2 way of sampling and drawing a slice lives in
// VoxelAvx2.cpp; which way runs is fixed when the filter is made.

namespace {

constexpr int32 kMapBytes = CVoxelFilter::kMapCells;
constexpr int32 kColumns = CVoxelFilter::kColumns;
static_assert(kColumns == kVoxelColumns);
constexpr int kEyeHeight = 30;  // the camera flies this far above the ground
constexpr int kPerspective = 25600;
constexpr int kLastSlice = 99;
// Far beyond any frame's travel, well inside int32: a camera coordinate that
// reaches it is brought back by whole map periods.
constexpr int64 kCameraLimit = int64(1) << 30;

inline uint8& cell(uint8* map, int row, int column) { return map[((row & 255) << 8) | (column & 255)]; }

// The AVX2 sampler where the processor has it, unless TW_VOXEL_SCALAR is set
// in the environment (the tests run both); the portable one otherwise.
const SVoxelSampler& chooseSampler() {
  if (std::getenv("TW_VOXEL_SCALAR") == nullptr)
    if (const SVoxelSampler* avx2 = voxel_avx2_sampler()) return *avx2;
  return kPortableVoxelSampler;
}

}  // namespace

int voxel_random_subdivide(int, int, int cornerMean, int range) {
  return std::rand() % range + cornerMean - range / 2;
}

// The samplers reach columnTop and columnColour from one pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(CVoxelFilter, columnColour) ==
                  offsetof(CVoxelFilter, columnTop) + kColumns * sizeof(int32),
              "columnColour must follow columnTop");
#pragma GCC diagnostic pop

CVoxelFilter::CVoxelFilter(const SVoxelVariant& v) : variant(v), sampler_(chooseSampler()) {
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
    packed_.reset(new (std::nothrow) uint8[kPackedCells * sampler_.cellBytes]());
    if (!buffers_ || !packed_) {
      buffers_.reset();
      packed_.reset();
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

// ---- 1. Map ------------------------------------------------------------------

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

// ---- 2. Packed copy -----------------------------------------------------------

void CVoxelFilter::packMaps(int first, int last) {
  sampler_.pack(packed_.get(), heightMap, shadeMap, first, last);
}

// ---- 3. Bilinear sample --------------------------------------------------------

namespace {

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

// The same sample of the packed map (64-bit cells): height and shade
// together, the height's in bits 0…23 and the shade's from bit 32; the
// sampling is linear, so neither carries into the other. The wrap costs no
// masking per corner (see kPackedStride).
inline int64 samplePacked(const uint64* map, uint32 px, uint32 py) {
  const uint32 cx = (px >> 16) & 255, cy = (py >> 16) & 255;
  const int64 fx = (px >> 8) & 255, fy = (py >> 8) & 255;
  const uint64* r0 = map + (cy * kPackedStride + cx);
  const int64 a = int64(r0[0]), b = int64(r0[kPackedStride]);
  const int64 top = a * 256 + (int64(r0[1]) - a) * fx;
  const int64 bottom = b * 256 + (int64(r0[kPackedStride + 1]) - b) * fx;
  return top * 256 + (bottom - top) * fy;
}

}  // namespace

// ---- 4. Camera depth and 5. slices ---------------------------------------------

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

// ---- 6. Spans -----------------------------------------------------------------

void CVoxelFilter::Line(int x0, int y0, int x1, int y1, int eye, int scale) {
  const int dx = (x1 - x0) / kColumns, dy = (y1 - y0) / kColumns;
  sampler_.slice(packed_.get(), uint32(x0), uint32(y0), uint32(dx), uint32(dy), eye, scale, columnTop,
                 voxelFrame, variant.rows - 1);
}

namespace {

// The arrays never overlap (the slice is the caller's, the columns the
// filter's); saying so lets the loop keep its values in registers.
inline void sampleSlicePortable(const uint8* __restrict packed, uint32 px, uint32 py, uint32 dx, uint32 dy,
                                int eye, int scale, SliceSamples& __restrict out,
                                const int32* __restrict columnTop, int32* __restrict columnColour) {
  const uint64* const map = reinterpret_cast<const uint64*>(packed);
  // The positions step as the accumulated int sums would, in wrapping
  // arithmetic. Eight columns make one byte of the visibility mask.
  for (int group = 0; group < kColumns / 8; ++group) {
    uint32 bits = 0;
    for (int k = 0; k < 8; ++k, px += dx, py += dy) {
      const int i = group * 8 + k;
      const int64 both = samplePacked(map, px, py);
      const int h = int(both & 0xFFFFFF) >> 16;
      const int c = int(both >> 32), row = (((h - eye) * scale) >> 11) + kVoxelHorizon;
      const int top = columnTop[i];
      out.row[i] = row, out.shade[i] = c, out.previous[i] = columnColour[i];
      // A full column (top 0) keeps its shade and shows nothing more.
      if (top != 0) columnColour[i] = c;
      bits |= uint32(top != 0 && row < top) << k;
    }
    out.visible[group] = uint8(bits);
  }
}

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

inline void drawSpansPortable(const SliceSamples& __restrict in, int32* __restrict columnTop,
                              uint8* __restrict picture, int last) {
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
      uint8* dst = picture + j * kColumns + i;
      for (; j > end; --j, dst -= kColumns, v += step) *dst = uint8(v >> kVoxelShadeShift);
      columnTop[i] = end;
    }
}

// First every column's sample, row and visibility, then the spans of the
// visible columns: apart, the samples overlap their loads, and the
// visibility test, which no predictor can guess, is a mask, not a branch.
void slicePortable(const uint8* packed, uint32 x0, uint32 y0, uint32 dx, uint32 dy, int eye, int scale,
                   int32* columns, uint8* picture, int last) {
  SliceSamples in;
  sampleSlicePortable(packed, x0, y0, dx, dy, eye, scale, in, columns, columns + kColumns);
  drawSpansPortable(in, columns, picture, last);
}

}  // namespace

const SVoxelSampler kPortableVoxelSampler{8, voxel_pack<uint64, 32>, slicePortable};

// ---- 7. Output -----------------------------------------------------------------
//
// Every form clears voxelFrame as it reads it (where it copies at all) and
// writes through the kit's row copy, so only inside the frame's width,
// height, bytesPerRow and frameBytes, whatever the picture's own size.

void CVoxelFilter::outputByWidth8(SFrameInfo& info) {
  if (width >= 640) {
    outputDoubled8(info);
  } else if (width >= 320) {
    // Rows lie bytesPerRow rounded down to a multiple of 8 apart.
    const SFrameRows frame = frame_rows(*this, 1);
    const int64 stride = int64(bytesPerRow) & ~int64(7);
    for (int32 r = 0; r < variant.rows; ++r)
      copy_row_at(frame, info.bits, r, r * stride, 0, voxelFrame + r * kColumns,
                  std::min<int64>(kColumns, stride));
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
  const SFrameRows frame = frame_rows(*this, 1);
  uint8 line[640];
  for (int32 r = 0; r < variant.rows; ++r) {
    takeDoubled(voxelFrame + r * kColumns, line);
    for (int32 y = 2 * r; y < 2 * r + 2; ++y) copy_row(frame, info.bits, y, 0, line, sizeof line);
  }
}

void CVoxelFilter::outputMirrored8(SFrameInfo& info) {
  // The strip doubled, its rows going down from the middle of the frame and,
  // mirrored, up from it; the second row of each pair lies bytesPerRow
  // rounded down to a multiple of 8 after the first.
  const SFrameRows frame = frame_rows(*this, 1);
  const int64 pairStride = int64(bytesPerRow) & ~int64(7);
  uint8 line[640];
  for (int32 r = 0; r < variant.rows; ++r) {
    takeDoubled(voxelFrame + r * kColumns, line);
    for (const int32 first : {240 + 2 * r, 238 - 2 * r}) {
      copy_row(frame, info.bits, first, 0, line, sizeof line);
      copy_row_at(frame, info.bits, first + 1, first * frame.bytesPerRow + pairStride, 0, line, sizeof line);
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
  // Centred; on a frame lower than the picture its middle rows show. Rows lie
  // bytesPerRow / 4 pixels apart.
  const int32 left = (width - pictureWidth) >> 1, topRow = (height - pictureHeight) >> 1;
  const SFrameRows frame = frame_rows(*this, 4);
  const int64 pitch = bytesPerRow / 4;
  uint32 line[640];
  for (int32 r = 0; r < variant.rows; ++r) {
    uint8* src = voxelFrame + r * kColumns;
    if (factor == 2)
      for (int32 i = 0; i < kColumns; ++i) line[2 * i] = line[2 * i + 1] = palette32[src[i]];
    else
      for (int32 i = 0; i < kColumns; ++i) line[i] = palette32[src[i]];
    std::memset(src, 0, kColumns);
    for (int32 k = 0; k < factor; ++k) {
      const int32 y = topRow + factor * r + k;
      copy_row_at(frame, info.bits, y, y * pitch * 4, int64(left) * 4, line, int64(pictureWidth) * 4);
    }
  }
}

// ---- 8. Camera motion ----------------------------------------------------------

namespace {

int64 keepInRange(int64 v) {
  return v >= kCameraLimit || v <= -kCameraLimit ? v % CVoxelFilter::kMapPeriod : v;
}

}  // namespace

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
  const int32 step = variant.soundSpeed ? trunc_int32(double(base) + info.level[1]) : base;
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
