// A plain model of the voxel flights, written from the description of the
// terrain, the renderer and the camera, for comparing the built add-ons'
// frames against. It favours the obvious loop over speed: every sample of
// every slice is taken, every pixel placed by its own formula.
#pragma once

#include <platform/support.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace voxelref {

using Map = std::vector<int>;  // 256 × 256, row-major

inline int& at(Map& m, int row, int col) {
  return m[size_t(((row % 256 + 256) % 256) * 256 + (col % 256 + 256) % 256)];
}
inline int clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// The terrain: subdivision with the given midpoint rule, smoothing, shading.
struct Terrain {
  Map height = Map(65536, -1), shade = Map(65536, -1);
};

template <typename Rule>
Terrain subdivide(Rule rule) {
  Terrain t;
  Map& h = t.height;
  at(h, 0, 0) = 128;
  for (int a = 256; a >= 2; a /= 2) {
    const int half = a / 2, r = 8 * a + 20;
    for (int e = 0; e < 256; e += a)
      for (int c = 0; c < 256; c += a) {
        const int g = at(h, e, c), hh = at(h, e + a, c), l = at(h, e, c + a), m = at(h, e + a, c + a);
        at(h, e, c + half) = clamp255(rule(e, c + half, (g + l) / 2, r));
        at(h, e + half, c + half) = clamp255(rule(e + half, c + half, (g + hh + l + m) / 4, r));
        at(h, e + half, c) = clamp255(rule(e + half, c, (g + hh) / 2, r));
      }
  }
  return t;
}

inline void smoothAndShade(Terrain& t) {
  Map& h = t.height;
  for (int pass = 0; pass < 3; ++pass)
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x)
        at(h, y, x) = (at(h, y + 1, x) + at(h, y, x + 1) + at(h, y - 1, x) + at(h, y, x - 1)) / 4;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) at(t.shade, y, x) = clamp255(128 + 4 * (at(h, y + 1, x + 1) - at(h, y, x)));
}

// Random terrain from the process's rand() as it stands.
inline Terrain randomTerrain() {
  Terrain t = subdivide([](int, int, int mean, int r) { return std::rand() % r + mean - r / 2; });
  smoothAndShade(t);
  return t;
}

inline Terrain rippleTerrain() {
  Terrain t = subdivide([](int y, int x, int, int) { return int(128 + 10 * std::cos(double((y + x) / 6))); });
  smoothAndShade(t);
  return t;
}

// Bilinear sample with 16 fraction bits.
inline int64_t sample(const Map& m, int64_t px, int64_t py) {
  const int cx = int((px >> 16) & 255), cy = int((py >> 16) & 255);
  const int fx = int((px >> 8) & 255), fy = int((py >> 8) & 255);
  const int cx1 = (cx + 1) % 256, cy1 = (cy + 1) % 256;
  const int64_t top =
      m[size_t(cy * 256 + cx)] * 256 + (m[size_t(cy * 256 + cx1)] - m[size_t(cy * 256 + cx)]) * fx;
  const int64_t bottom =
      m[size_t(cy1 * 256 + cx)] * 256 + (m[size_t(cy1 * 256 + cx1)] - m[size_t(cy1 * 256 + cx)]) * fx;
  return top * 256 + (bottom - top) * fy;
}

struct Picture {
  int rows = 240;
  std::vector<uint8_t> px;
  explicit Picture(int r = 240) : rows(r), px(size_t(r) * 320, 0) {}
  uint8_t at(int x, int y) const { return px[size_t(y) * 320 + size_t(x)]; }
};

// One picture from camera (x, y, heading) over the terrain; camLevel is the
// camera's smoothed depth, followed by 1/fall of a fall of the ground.
inline Picture render(const Terrain& t, int32_t x, int32_t y, float heading, int32_t& camLevel, int rows,
                      int fall) {
  Picture pic(rows);
  std::vector<int> top(320, rows), colour(320, -1);
  int g = int(sample(t.height, x, y) >> 16);
  if (g > camLevel) g = camLevel + (g - camLevel) / fall;
  camLevel = g;
  const int eye = camLevel - 30;
  std::vector<int> slices;
  for (int o = 0; o <= 63; ++o) slices.push_back(o);
  for (int o = 64; o <= 98; o += 2) slices.push_back(o);
  for (int o : slices) {
    const int scale = 25600 / (o + 1);
    const double d = double(o) * 65536;
    const float left = heading - 0.7853982f, right = heading + 0.7853982f;
    const int x0 = int(x + d * std::cos(double(left))), y0 = int(y + d * std::sin(double(left)));
    const int x1 = int(x + d * std::cos(double(right))), y1 = int(y + d * std::sin(double(right)));
    const int dx = (x1 - x0) / 320, dy = (y1 - y0) / 320;
    for (int i = 0; i < 320; ++i) {
      const int64_t sx = int64_t(x0) + int64_t(i) * dx, sy = int64_t(y0) + int64_t(i) * dy;
      const int h = int(sample(t.height, sx, sy) >> 16);
      const int c = int(sample(t.shade, sx, sy));
      const int Y = int(std::floor(double((h - eye) * scale) / 2048.0)) + 100;
      if (Y < top[size_t(i)]) {
        if (colour[size_t(i)] == -1) colour[size_t(i)] = c;
        const int p = colour[size_t(i)], T = top[size_t(i)];
        const int step = (c - p) / (T - Y);
        int j = T, v = p;
        if (T > rows - 1) {
          v += step * (T - (rows - 1));
          j = rows - 1;
        }
        const int end = std::max(Y, 0);
        for (; j > end; --j, v += step) pic.px[size_t(j) * 320 + size_t(i)] = uint8_t(v >> 19);
        top[size_t(i)] = end;
      }
      colour[size_t(i)] = c;
    }
  }
  return pic;
}

// The camera and its steering.
struct Steering {
  float lastRaie = 0, idealraie = 0;
};

struct Camera {
  float heading = 0;
  int32_t speedShift = 0;
  int64_t x = 0, y = 0;  // never reduced: the tests stay far from the int32 limit
  int32_t level = 0;
};

inline float wrapWhole(float h) {
  if (h > M_PI) h = float(double(h) - 2 * M_PI);
  if (h < -M_PI) h = float(double(h) + 2 * M_PI);
  return h;
}

inline float keys(Camera& c, float h, uint32_t mods, uint32_t right, int lowest) {
  if (mods & 0x100)
    h = h - 0.07853982f;
  else if (mods & right)
    h = h + 0.07853982f;
  if ((mods & 0x4) && c.speedShift <= 15)
    ++c.speedShift;
  else if ((mods & 0x2) && c.speedShift > lowest)
    --c.speedShift;
  return h;
}

inline void move(Camera& c, int32_t step) {
  c.x = int64_t(double(c.x) + step * std::cos(double(c.heading)));
  c.y = int64_t(double(c.y) + step * std::sin(double(c.heading)));
}

// Vidivi Vadu (right key 0x200) and Bi Moorvista (right key 0x40).
inline void updateSmooth(Camera& c, Steering& s, double band, double level, uint32_t mods, uint32_t right) {
  const float lr = float(band / 8192);
  s.idealraie = s.idealraie + ((lr - s.lastRaie) - s.idealraie) / 10;
  s.lastRaie = lr;
  move(c, int32_t(std::pow(2.0, c.speedShift) + level));
  const float target = float(double(s.idealraie) * double(0.7853982f) / 20 + double(c.heading));
  const float next = (target + c.heading) * 0.5f;
  c.heading = keys(c, wrapWhole(next), mods, right, 1);
}

// Devazo Davu.
inline void updateTekno(Camera& c, Steering& s, double band, uint32_t mods) {
  const float lr = float(band / 8192);
  const float d = lr - s.lastRaie;
  s.idealraie = s.idealraie + (d - s.idealraie) / 10;
  s.lastRaie = lr;
  int64_t boost = int64_t(std::fabs(double(d)) * 4 + double(int64_t(band * 0.125))) - 60000;
  boost = std::min<int64_t>(std::max<int64_t>(boost, 0), 327680);
  const int32_t step = int32_t(boost) + (1 << c.speedShift);
  move(c, step);
  const float target = float(double(s.idealraie) * double(0.7853982f) / 20 + double(c.heading));
  const float k = float(std::atan(double(step) / 120000) * 16 / 3.14159265385);
  const float w = 8 - k;
  const float next = (w * target + k * c.heading) * 0.0625f;
  c.heading = keys(c, wrapWhole(next), mods, 0x40, 0);
}

// FfT Moorvista: no sound, no wrap; one map period taken off before moving.
inline void updateFft(Camera& c, uint32_t mods) {
  c.x = c.x % (1 << 24);
  c.y = c.y % (1 << 24);
  move(c, 1 << c.speedShift);
  c.heading = keys(c, c.heading, mods, 0x40, 1);
}

// FfT Moorvista's spectrum row.
inline void writeRow(Terrain& t, const float* s, int row) {
  for (int x = 0; x < 256; ++x) {
    const int v = clamp255(int(s[x] * 0.0001220703125f));
    at(t.height, row, x) = 255 - v / 2;
  }
  for (int x = 0; x < 256; ++x)
    at(t.height, row, x) = (at(t.height, row + 1, x) + at(t.height, row, x + 1) + at(t.height, row - 1, x) +
                            at(t.height, row, x - 1)) /
                           4;
  for (int x = 0; x < 256; ++x)
    at(t.shade, row, x) = clamp255(128 + 4 * (at(t.height, row + 1, x + 1) - at(t.height, row, x)));
}

}  // namespace voxelref
