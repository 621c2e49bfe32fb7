#include "output/Scaler.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tw {
namespace {

// num / den rounded to the nearest integer, halves up (num, den > 0).
int32 roundedQuotient(int64_t num, int64_t den) { return int32((2 * num + den) / (2 * den)); }

constexpr int kWeightOne = 16384;  // smooth weights are in 1/16384ths
// Rows after the vertical pass keep 7 fraction bits: 255 × 128 still fits
// the signed 16-bit lanes that _mm_madd_epi16 multiplies.
constexpr int kBlendShift = 7;
constexpr int kOutShift = 14 + kBlendShift;

}  // namespace

Placement placePicture(int32 frameWidth, int32 frameHeight, int32 outWidth, int32 outHeight, Fit fit) {
  const int32 fw = std::max(frameWidth, 1), fh = std::max(frameHeight, 1);
  const int32 ow = std::max(outWidth, 1), oh = std::max(outHeight, 1);
  Placement p;
  p.picture = {0, 0, ow, oh};
  p.source = {0, 0, fw, fh};
  // ow / fw against oh / fh, without division.
  const int64_t across = int64_t(ow) * fh, down = int64_t(oh) * fw;
  if (fit == Fit::Contain) {
    if (across <= down) {
      const int32 h = std::clamp(roundedQuotient(int64_t(fh) * ow, fw), 1, oh);
      p.picture = {0, (oh - h) / 2, ow, h};
    } else {
      const int32 w = std::clamp(roundedQuotient(int64_t(fw) * oh, fh), 1, ow);
      p.picture = {(ow - w) / 2, 0, w, oh};
    }
  } else if (fit == Fit::Cover) {
    if (across >= down) {
      const int32 h = std::clamp(roundedQuotient(int64_t(oh) * fw, ow), 1, fh);
      p.source = {0, (fh - h) / 2, fw, h};
    } else {
      const int32 w = std::clamp(roundedQuotient(int64_t(ow) * fh, oh), 1, fw);
      p.source = {(fw - w) / 2, 0, w, fh};
    }
  }
  return p;
}

Scaler::Scaler(const FrameGeometry& frame, int32 outWidth, int32 outHeight, Fit fit, ScaleFilter filter)
    : geometry_(frame),
      outW_(outWidth > 0 ? outWidth : std::max(frame.width, 1)),
      outH_(outHeight > 0 ? outHeight : std::max(frame.height, 1)),
      fit_(fit),
      filter_(filter) {
  place_ = placePicture(frame.width, frame.height, outW_, outH_, fit);
  identity_ = outW_ == frame.width && outH_ == frame.height;
  const Rect& s = place_.source;
  const Rect& d = place_.picture;
  if (filter == ScaleFilter::Nearest || identity_) {
    nearestMap(s.x, s.width, d.width, &columns_);
    nearestMap(s.y, s.height, d.height, &rows_);
  } else {
    tentTaps(s.x, s.width, d.width, &hTaps_);
    tentTaps(s.y, s.height, d.height, &vTaps_);
    across_.assign(size_t(vTaps_.count) * size_t(d.width) * 4, 0);
    acrossRow_.assign(size_t(vTaps_.count), -1);
    tapRows_.assign(size_t(vTaps_.count), nullptr);
    // Spare pixels: the horizontal pass reads taps in pairs.
    sourceRow_.assign(size_t(s.width) + 2, 0);
  }
}

void Scaler::nearestMap(int32 from, int32 sourceSize, int32 pictureSize, std::vector<int32>* map) {
  map->resize(size_t(pictureSize));
  for (int32 i = 0; i < pictureSize; ++i)
    (*map)[size_t(i)] = from + int32((2 * int64_t(i) + 1) * sourceSize / (2 * int64_t(pictureSize)));
}

void Scaler::tentTaps(int32 from, int32 sourceSize, int32 pictureSize, Taps* taps) {
  const double step = double(sourceSize) / double(pictureSize);
  const double radius = std::max(1.0, step);
  // Integers strictly within radius of a point: at most ⌈2 × radius⌉;
  // an even count, as the horizontal pass reads taps in pairs.
  int32 count = std::max(1, std::min(sourceSize, int32(std::ceil(2 * radius))));
  count += count & 1;
  taps->count = count;
  taps->first.assign(size_t(pictureSize), 0);
  taps->weights.assign(size_t(pictureSize) * size_t(count), 0);
  std::vector<double> w(size_t(sourceSize) + 1);
  for (int32 i = 0; i < pictureSize; ++i) {
    const double centre = (i + 0.5) * step - 0.5;
    const int32 lo = int32(std::floor(centre - radius)) + 1, hi = int32(std::ceil(centre + radius)) - 1;
    int32 least = sourceSize, most = -1;
    double sum = 0;
    std::fill(w.begin(), w.end(), 0.0);
    for (int32 j = lo; j <= hi; ++j) {
      const double weight = 1.0 - std::abs(j - centre) / radius;
      if (weight <= 0) continue;
      const int32 at = std::clamp(j, 0, sourceSize - 1);  // the edges stand in for what lies beyond
      w[size_t(at)] += weight;
      sum += weight;
      least = std::min(least, at), most = std::max(most, at);
    }
    if (most < 0) {  // cannot happen for radius >= 1; keeps the map total
      least = most = std::clamp(int32(std::lround(centre)), 0, sourceSize - 1);
      w[size_t(least)] = sum = 1;
    }
    const int32 first = std::max(0, std::min(least, sourceSize - count));
    int16* q = &taps->weights[size_t(i) * size_t(count)];
    int total = 0, biggest = 0;
    for (int32 k = 0; k < count && first + k < sourceSize; ++k) {
      q[k] = int16(std::lround(w[size_t(first + k)] / sum * kWeightOne));
      total += q[k];
      if (q[k] > q[biggest]) biggest = k;
    }
    q[biggest] = int16(q[biggest] + (kWeightOne - total));
    taps->first[size_t(i)] = from + first;
  }
}

void Scaler::scale(const Frame& frame, const uint32* palette32, uint8* out, size_t outRowBytes) {
  const FrameGeometry& g = frame.geometry();
  if (g.width != geometry_.width || g.height != geometry_.height || g.pixelMode != geometry_.pixelMode)
    *this = Scaler(g, outW_, outH_, fit_, filter_);
  scale(frame.pixels(), size_t(g.rowBytes()), palette32, out, outRowBytes);
}

void Scaler::scale(const Frame& frame, const uint32* palette32, XrgbImage* out) {
  if (out->width != outW_ || out->height != outH_) *out = XrgbImage(outW_, outH_);
  scale(frame, palette32, out->bytes(), out->rowBytes());
}

void Scaler::scale(const uint8* pixels, size_t rowBytes, const uint32* palette32, uint8* out,
                   size_t outRowBytes) {
  // The palette with its top bytes cleared, so that every output pixel is
  // 0x00RRGGBB.
  uint32 palette[256];
  if (geometry_.pixelMode != 2)
    for (int i = 0; i < 256; ++i) palette[i] = palette32[i] & 0xFFFFFF;
  const Rect& d = place_.picture;
  // The bars.
  for (int32 y = 0; y < outH_; ++y) {
    uint8* row = out + size_t(y) * outRowBytes;
    if (y < d.y || y >= d.y + d.height) {
      std::memset(row, 0, size_t(outW_) * 4);
      continue;
    }
    std::memset(row, 0, size_t(d.x) * 4);
    std::memset(row + size_t(d.x + d.width) * 4, 0, size_t(outW_ - d.x - d.width) * 4);
  }
  if (filter_ == ScaleFilter::Nearest || identity_)
    nearest(pixels, rowBytes, palette, out, outRowBytes);
  else
    smooth(pixels, rowBytes, palette, out, outRowBytes);
}

namespace {

// `count` 32-bit pixels with their top bytes cleared.
void copyClearingTop(const uint8* src, uint8* dst, int32 count) {
  const __m128i mask = _mm_set1_epi32(0x00FFFFFF);
  int32 x = 0;
  for (; x + 4 <= count; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + size_t(x) * 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + size_t(x) * 4), _mm_and_si128(v, mask));
  }
  for (; x < count; ++x) {
    uint32 v;
    std::memcpy(&v, src + size_t(x) * 4, 4);
    v &= 0xFFFFFF;
    std::memcpy(dst + size_t(x) * 4, &v, 4);
  }
}

}  // namespace

void Scaler::nearest(const uint8* pixels, size_t rowBytes, const uint32* palette, uint8* out,
                     size_t outRowBytes) {
  const Rect& s = place_.source;
  const Rect& d = place_.picture;
  const bool sameWidth = s.width == d.width;
  const bool indexed = geometry_.pixelMode != 2;
  for (int32 i = 0; i < d.height; ++i) {
    uint8* dst = out + size_t(d.y + i) * outRowBytes + size_t(d.x) * 4;
    // A row that repeats the one above (upscaling) is copied from it.
    if (i > 0 && rows_[size_t(i)] == rows_[size_t(i) - 1]) {
      std::memcpy(dst, dst - outRowBytes, size_t(d.width) * 4);
      continue;
    }
    const uint8* src = pixels + size_t(rows_[size_t(i)]) * rowBytes;
    if (indexed) {
      uint32* o = reinterpret_cast<uint32*>(dst);
      if (sameWidth) {
        const uint8* p = src + s.x;
        int32 x = 0;
        // Black (index 0) fills most frames: runs of eight are written at
        // once.
        if (palette[0] == 0)
          for (; x + 8 <= d.width; x += 8) {
            uint64 eight;
            std::memcpy(&eight, p + x, 8);
            if (eight == 0) {
              std::memset(o + x, 0, 32);
              continue;
            }
            for (int k = 0; k < 8; ++k) o[x + k] = palette[p[x + k]];
          }
        for (; x < d.width; ++x) o[x] = palette[p[x]];
      } else {
        for (int32 x = 0; x < d.width; ++x) o[x] = palette[src[columns_[size_t(x)]]];
      }
    } else if (sameWidth) {
      copyClearingTop(src + size_t(s.x) * 4, dst, d.width);
    } else {
      uint32* o = reinterpret_cast<uint32*>(dst);
      for (int32 x = 0; x < d.width; ++x) {
        uint32 v;
        std::memcpy(&v, src + size_t(columns_[size_t(x)]) * 4, 4);
        o[x] = v & 0xFFFFFF;
      }
    }
  }
}

// One source row (the source rectangle's part of it) scaled across into
// picture-width × 4 channels of 8.7 fixed point.
void Scaler::scaleAcross(const uint8* row, const uint32* palette, int16* out) {
  const Rect& s = place_.source;
  const Rect& d = place_.picture;
  uint32* src = sourceRow_.data();
  if (geometry_.pixelMode != 2) {
    const uint8* p = row + s.x;
    for (int32 x = 0; x < s.width; ++x) src[x] = palette[p[x]];
  } else {
    std::memcpy(src, row + size_t(s.x) * 4, size_t(s.width) * 4);
  }
  const uint8* bytes = reinterpret_cast<const uint8*>(src);
  const int32 count = hTaps_.count;
  const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi32(1 << (kBlendShift - 1));
  for (int32 x = 0; x < d.width; ++x) {
    const int16* w = &hTaps_.weights[size_t(x) * size_t(count)];
    const uint8* p = bytes + size_t(hTaps_.first[size_t(x)] - s.x) * 4;
    __m128i acc = round;
    for (int32 t = 0; t < count; t += 2) {
      // Two neighbouring pixels, channel by channel: p0c0 p1c0 p0c1 p1c1 …
      const __m128i two =
          _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + t * 4)), zero);
      const __m128i pairs = _mm_unpacklo_epi16(two, _mm_srli_si128(two, 8));
      const __m128i wp = _mm_set1_epi32(int32(uint16(w[t])) | int32(uint32(uint16(w[t + 1])) << 16));
      acc = _mm_add_epi32(acc, _mm_madd_epi16(pairs, wp));
    }
    const __m128i v = _mm_srai_epi32(acc, kBlendShift);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + size_t(x) * 4), _mm_packs_epi32(v, v));
  }
}

void Scaler::smooth(const uint8* pixels, size_t rowBytes, const uint32* palette, uint8* out,
                    size_t outRowBytes) {
  const Rect& s = place_.source;
  const Rect& d = place_.picture;
  const int32 count = vTaps_.count;
  const size_t lanes = size_t(d.width) * 4;
  std::fill(acrossRow_.begin(), acrossRow_.end(), -1);
  const int16** tap = tapRows_.data();
  const __m128i round = _mm_set1_epi32(1 << (kOutShift - 1)), mask = _mm_set1_epi32(0x00FFFFFF);
  for (int32 i = 0; i < d.height; ++i) {
    // The tap rows, scaled across once each: the taps move down the source
    // as i does, so a row stays in its slot while it is needed.
    const int32 first = vTaps_.first[size_t(i)] - s.y;
    for (int32 t = 0; t < count; ++t) {
      const int32 r = std::min(first + t, s.height - 1);
      const size_t slot = size_t(r % count);
      int16* row = &across_[slot * lanes];
      if (acrossRow_[slot] != r) {
        scaleAcross(pixels + size_t(s.y + r) * rowBytes, palette, row);
        acrossRow_[slot] = r;
      }
      tap[size_t(t)] = row;
    }
    // Down: pairs of tap rows, eight lanes (two pixels) at a time.
    const int16* w = &vTaps_.weights[size_t(i) * size_t(count)];
    uint8* o = out + size_t(d.y + i) * outRowBytes + size_t(d.x) * 4;
    size_t k = 0;
    for (; k + 8 <= lanes; k += 8) {
      __m128i lo = round, hi = round;
      for (int32 t = 0; t < count; t += 2) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tap[size_t(t)] + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tap[size_t(t) + 1] + k));
        const __m128i wp = _mm_set1_epi32(int32(uint16(w[t])) | int32(uint32(uint16(w[t + 1])) << 16));
        lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), wp));
        hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), wp));
      }
      const __m128i v = _mm_packs_epi32(_mm_srai_epi32(lo, kOutShift), _mm_srai_epi32(hi, kOutShift));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(o + k), _mm_and_si128(_mm_packus_epi16(v, v), mask));
    }
    for (; k < lanes; ++k) {  // an odd last pixel
      int32 acc = 1 << (kOutShift - 1);
      for (int32 t = 0; t < count; ++t) acc += w[t] * tap[size_t(t)][k];
      o[k] = k % 4 == 3 ? 0 : uint8(std::clamp(acc >> kOutShift, 0, 255));
    }
  }
}

}  // namespace tw
