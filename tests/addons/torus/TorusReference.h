// An independent model of the TideTorus frames, written from the filter's
// rules rather than its code: the whole-degree table, the mesh of a given
// frame after prepare, the colours of both modes and a plain Bresenham
// rasteriser with per-pixel clipping. Waves are not simulated: the caller
// says which ring segments are highlighted on the frame.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace torus_ref {

struct Table {
  float sinV[360], cosV[360];
  Table() {
    for (int i = 0; i < 360; ++i) {
      const float t = float(i * 3.141592653589793);  // rounded to float
      const float a = float(t / 180.0);              // and again
      sinV[i] = float(std::sin(double(a)));
      cosV[i] = float(std::cos(double(a)));
    }
  }
};

inline const Table& table() {
  static const Table t;
  return t;
}

struct Vertex {
  double x, y, z;
};

// Rotations about z and x by whole degrees through the float table.
inline Vertex rotZ(Vertex v, int a) {
  const double c = table().cosV[a], s = table().sinV[a];
  return {v.x * c - v.y * s, v.x * s + v.y * c, v.z};
}
inline Vertex rotX(Vertex v, int a) {
  const double c = table().cosV[a], s = table().sinV[a];
  return {v.x, v.y * c - v.z * s, v.y * s + v.z * c};
}

struct Mesh {
  Vertex v[32][12];  // [ring segment][tube segment]
  float levels[32];
};

// The mesh drawn on frame n (1 for the first frame after prepare) of a
// width × height frame, for the channel-1 spectrum s.
inline Mesh mesh(int n, const float* s, int width, int height) {
  const int spin = 5 * n % 360, tilt = 4 * n % 360, turn = 3 * n % 360, orbit = n % 360;
  const int cx = int(160 * double(table().cosV[orbit]) + (width >> 1));
  const int cy = int(120 * double(table().sinV[orbit]) + (height >> 1));
  const float stretchX = float(double(s[10]) * 3.3333333333333335e-05);
  const float stretchY = float(double(s[9]) * 3.3333333333333335e-05);
  Mesh m{};
  for (int i = 0; i < 16; ++i) {
    float level;
    if (i == 0) {
      level = float(double(float(double(s[1]) + double(s[2]) + double(s[3]))) * 1.3333333333333333e-05);
    } else {
      const int b = 8 * i;
      double sum = 0;
      for (int k = b - 2; k <= b + 2; ++k) sum += double(s[k]);
      level = float(double(float(sum)) / (125000.0 - 5000.0 * i));
    }
    m.levels[i] = m.levels[31 - i] = level;
    const double angle = (i + 0.5) * 6.283185307179586 / 32;
    const double rc = float(std::cos(angle)), rs = float(std::sin(angle));
    const double r = double(level) + 10.0;
    for (int j = 0; j < 12; ++j) {
      const double tc = float(std::cos(6.283185307179586 * j / 12));
      const double ts = float(std::sin(6.283185307179586 * j / 12));
      const Vertex p{(double(stretchX) + 60.0 + r * tc) * rc, (double(stretchY) + 60.0 + r * tc) * rs,
                     r * ts};
      const Vertex q{p.x, -p.y, p.z};
      for (auto [seg, v] : {std::pair{i, p}, std::pair{31 - i, q}}) {
        Vertex w = rotZ(rotX(rotZ(v, spin), tilt), turn);
        w.x += cx;
        w.y += cy;
        m.v[seg][j] = w;
      }
    }
  }
  return m;
}

// Colours: mode 1 indices, mode 2 pixel values (middle red held at 255).
inline uint32_t middle(float l, int mode) {
  if (mode == 1) return uint32_t(int(49 - (double(l) - 10) * 0.1));
  const int v = int(80 + (double(l) - 10) * 175 * 0.125);
  return uint32_t(v > 255 ? 255 : v) << 16;
}
inline uint32_t quiet(int mode) { return mode == 1 ? 32 : 0x0000F8; }
inline uint32_t loud(int mode) { return mode == 1 ? 42 : 0xF80000; }
inline uint32_t waveColour(int mode) { return mode == 1 ? 250 : 0xFAFA33; }
inline uint32_t tubeColour(float l, int mode) {
  return l < 10 ? quiet(mode) : l < 90 ? middle(l, mode) : loud(mode);
}
inline uint32_t ringColour(float a, float b, int mode) {
  if (!(a > 10 || b > 10)) return quiet(mode);
  const float m = a > b ? a : b;
  return m < 90 ? middle(m, mode) : loud(mode);
}

// A frame of width × height pixels held as one value per pixel.
struct Picture {
  int width, height;
  std::vector<uint32_t> px;
  Picture(int w, int h, uint32_t fill = 0) : width(w), height(h), px(size_t(w) * size_t(h), fill) {}
  void plot(long x, long y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < width && y < height) px[size_t(y) * size_t(width) + size_t(x)] = c;
  }
  // Bresenham from the left end point, every pixel tested against the frame;
  // both end points belong to the line, reversing it gives the same pixels.
  void line(long x1, long y1, long x2, long y2, uint32_t c) {
    if (x2 < x1 || (x1 == x2 && y2 < y1)) {
      std::swap(x1, x2);
      std::swap(y1, y2);
    }
    const long dx = x2 - x1, dy = std::labs(y2 - y1), step = y2 >= y1 ? 1 : -1;
    if (dx == 0 || dy == 0) {  // straight lines: every pixel between the ends
      for (long x = x1; x <= x2; ++x)
        for (long y = std::min(y1, y2); y <= std::max(y1, y2); ++y) plot(x, y, c);
      return;
    }
    long x = x1, y = y1;
    if (dx >= dy) {
      long err = 2 * dy - dx;
      for (long k = 0; k <= dx; ++k, ++x) {
        plot(x, y, c);
        if (err < 0) {
          err += 2 * dy;
        } else {
          err += 2 * dy - 2 * dx;
          y += step;
        }
      }
    } else {
      long err = 2 * dx - dy;
      for (long k = 0; k <= dy; ++k, y += step) {
        plot(x, y, c);
        if (err < 0) {
          err += 2 * dx;
        } else {
          err += 2 * dx - 2 * dy;
          ++x;
        }
      }
    }
  }
};

// Draws frame n's mesh over `pic` in the filter's order: for each ring
// segment i, for each tube segment j, the ring line to segment i − 1, then
// the tube line to tube segment j − 1. `highlighted` are the segments a wave
// has reached on this frame.
inline void drawFrame(Picture& pic, int n, const float* s, int mode, const std::set<int>& highlighted) {
  const Mesh m = mesh(n, s, pic.width, pic.height);
  for (int i = 0; i < 32; ++i) {
    const int prev = (i + 31) % 32;
    const uint32_t tube = highlighted.count(i) ? waveColour(mode) : tubeColour(m.levels[i], mode);
    const uint32_t ring = ringColour(m.levels[i], m.levels[prev], mode);
    for (int j = 0; j < 12; ++j) {
      const Vertex& p = m.v[i][j];
      const Vertex& a = m.v[prev][j];
      const Vertex& b = m.v[i][(j + 11) % 12];
      pic.line(long(p.x), long(p.y), long(a.x), long(a.y), ring);
      pic.line(long(p.x), long(p.y), long(b.x), long(b.y), tube);
    }
  }
}

}  // namespace torus_ref
