// An independent rendering of the Scopewell filters for the tests: a canvas
// that clips per pixel, the line rule of the kit's software path, and each
// filter's drawing written out from its rules. Nothing here calls the add-on.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace scopewell_ref {

using i64 = long long;

// What the filters read from the frame record.
struct Sound {
  std::vector<float> spectrum[2] = {std::vector<float>(512, 0.0f), std::vector<float>(512, 0.0f)};
  double level[2] = {0, 0};
  double bands[2][8] = {};
  int32_t frameCount = 0;
};

// Pixels of any mode as 32-bit values; rows `stride` pixels apart.
struct Canvas {
  int w, h, stride;
  std::vector<uint32_t> px;
  Canvas(int w_, int h_, int stride_, uint32_t background)
      : w(w_), h(h_), stride(stride_), px(size_t(stride_) * size_t(h_ > 0 ? h_ : 0), background) {}
  void set(i64 x, i64 y, uint32_t c) {
    if (x >= 0 && x < w && y >= 0 && y < h) px[size_t(y * stride + x)] = c;
  }
  uint32_t at(int x, int y) const { return px[size_t(y * stride + x)]; }
};

// The kit's line: horizontal and vertical runs clipped to the frame, any
// other line by Bresenham from its left end, every pixel tested.
inline void line(Canvas& cv, i64 x1, i64 y1, i64 x2, i64 y2, uint32_t c) {
  if (y1 == y2 || x1 == x2) {
    const i64 xa = std::min(x1, x2), xb = std::max(x1, x2), ya = std::min(y1, y2), yb = std::max(y1, y2);
    for (i64 y = std::max<i64>(ya, -1); y <= std::min<i64>(yb, cv.h); ++y)
      for (i64 x = std::max<i64>(xa, -1); x <= std::min<i64>(xb, cv.w); ++x) cv.set(x, y, c);
    return;
  }
  i64 x = x1, y = y1, endRow = y2, dx = x2 - x1;
  if (dx < 0) x = x2, y = y2, endRow = y1, dx = -dx;
  i64 dy = endRow - y, step = 1;
  if (dy <= 0) dy = -dy, step = -1;
  if (dx >= dy) {
    i64 err = 2 * dy - dx;
    for (i64 n = 0; n <= dx; ++n, ++x) {
      cv.set(x, y, c);
      if (err < 0) {
        err += 2 * dy;
      } else {
        err += 2 * (dy - dx);
        y += step;
      }
    }
  } else {
    i64 err = 2 * dx - dy;
    for (i64 n = 0; n <= dy; ++n, y += step) {
      cv.set(x, y, c);
      if (err < 0) {
        err += 2 * dx;
      } else {
        err += 2 * (dx - dy);
        ++x;
      }
    }
  }
}

inline i64 clampTo(i64 v, i64 lo, i64 hi) { return v < lo ? lo : v > hi ? hi : v; }
inline i64 tr(double v) { return i64(std::trunc(v)); }

// Colours A and B: palette 52 and 250 in mode 1, green and yellow in mode 2.
inline uint32_t colorA(int mode) { return mode == 1 ? 52 : 0x00DF00; }
inline uint32_t colorB(int mode) { return mode == 1 ? 250 : 0xDFDF00; }

inline void fftScope(Canvas& cv, const Sound& s, int mode) {
  auto panel = [&](int ch, int left, uint32_t bar, uint32_t lev) {
    const i64 row = clampTo(110 - tr(s.level[ch] / 8192.0), 0, 479);
    for (int i = 0; i < 255; ++i) {
      const i64 h = clampTo(100 - tr(double(s.spectrum[ch][size_t(i)]) / 8192.0), 0, 99);
      line(cv, left + i, 10 + h, left + i, 110, bar);
    }
    line(cv, left, row, left + 256, row, lev);
  };
  panel(1, 10, colorA(mode), colorB(mode));
  panel(0, 374, colorB(mode), colorA(mode));
}

inline void fft2(Canvas& cv, const Sound& s, int mode) {
  const uint32_t a = colorA(mode), b = colorB(mode);
  auto height = [](double v) { return clampTo(tr(v / 8192.0), 0, 300); };
  for (int i = 0; i < 8; ++i) {
    const i64 xL = 10 + 32 * i, xR = 374 + 32 * i;
    const i64 yL = 470 - height(s.bands[1][i]), yR = 470 - height(s.bands[0][i]);
    line(cv, xL, 470, xL, yL, a);
    line(cv, xL, yL, xL + 31, yL, a);
    line(cv, xR, 470, xR, yR, b);
    line(cv, xR, yR, xR + 31, yR, b);
  }
  line(cv, 10, 470 - height(s.level[1]), 266, 470 - height(s.level[1]), b);
  line(cv, 374, 470 - height(s.level[0]), 630, 470 - height(s.level[0]), a);
}

// The yellow-green-red ramp over value / (maximum / 4); black for a zero
// quarter and for every c ≤ 0.
inline uint32_t ramp2(i64 value, i64 maximum) {
  const i64 q = maximum / 4;
  if (q == 0) return 0;
  const i64 c = tr(512.0 * double(value) / double(q));
  if (c <= 0) return 0;
  if (c <= 255) return uint32_t(c * 0x10100);
  const i64 d = std::min<i64>(c - 256, 255);
  return uint32_t(d << 16 | (255 - d) << 8);
}

inline void fftCentral(Canvas& cv, const Sound& s, int mode, int width, int height) {
  const i64 cx = width / 2;
  for (i64 y = 0; y < height; ++y) {
    const i64 k = ((i64(s.frameCount) + y) % 512 + 512) % 512;
    if (k > 255) continue;
    i64 v = std::llabs(tr(double(s.spectrum[1][size_t(k)]) / 32768.0));
    if (v <= (mode == 1 ? 2 : 0)) continue;
    v = std::min(v, cx);
    line(cv, cx - v, y, cx + v, y, mode == 1 ? uint32_t((y + v) % 256) : ramp2(v, cx));
  }
}

// The cosine cycle: red and green at cos θ, blue a third of a turn later.
inline uint32_t ramp(i64 phase, double scale) {
  const double pi = 3.141592653589793;
  const double theta = 2 * pi * scale * double(phase);
  const i64 e = 128 + tr(127 * std::cos(theta)), b = 128 + tr(127 * std::cos(theta + 2 * pi / 3));
  return uint32_t(e << 16 | e << 8 | b);
}

// The fan's cosine, P(t)² − 1 with P the Taylor polynomial of √2·cos(t/2)
// from single-precision coefficients, here in long double.
inline long double fanCos(float t) {
  const long double a[5] = {1.4142135f, 0.17677669f, 0.0036828478f, 0.000030690397f, 1.370107e-7f};
  const long double u = (long double)t * t;
  long double p = 0, term = 1;
  for (int k = 0; k < 5; ++k, term *= u) p += (k % 2 ? -a[k] : a[k]) * term;
  return p * p - 1;
}
inline long double fanSin(float t) { return fanCos(float(1.57079632679489661923L - t)); }

// Start and end of line i of a fan: (start, end) points.
struct FanLine {
  i64 x1, y1, x2, y2;
};
inline FanLine fanLine(int i, i64 cx, i64 cy, i64 startRadius, i64 endRadius) {
  float t = 0.0f;
  for (int k = 0; k < i; ++k) t = float(t + 0.024543693f);
  const long double c = fanCos(t), s = fanSin(t);
  return {cx + i64(startRadius * c), cy - i64(startRadius * s), cx + i64(endRadius * c),
          cy - i64(endRadius * s)};
}

inline void dudoZariri(Canvas& cv, const Sound& s, int mode) {
  for (int fan = 0; fan < 2; ++fan) {
    for (int i = 0; i < 64; ++i) {
      const i64 v = tr(double(s.spectrum[fan][size_t(i)]) / 16384.0);
      const FanLine l = fan == 0 ? fanLine(i, 150, 200, 128, 128 - v) : fanLine(i, 450, 300, 50, 60 + v);
      const i64 phase = i64(i) + s.frameCount;
      const uint32_t c =
          mode == 1 ? uint32_t((phase % 256 + 256) % 256) : ramp((phase % 128 + 128) % 128, 1.0 / 128);
      line(cv, l.x1, l.y1, l.x2, l.y2, c);
    }
  }
}

}  // namespace scopewell_ref
