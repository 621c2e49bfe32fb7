// The system palette, also the host's default palette. 0 is black; 1…31 the
// voxel terrain's shade ramp; 32…255 a colour cycle for the filters that
// sweep through every index, with fixed points where a filter's 8-bit path
// uses an index for a colour its 32-bit path draws: 32 blue 0x0000F8, 41…49
// the torus reds (42 the loud 0xF80000, 49 the dimmest), 52 green 0x00DF00,
// 250 yellow 0xDFDF00.
#include <platform/interface.h>

#include <array>
#include <cmath>

namespace {

struct Palette {
  std::array<rgb_color, 256> colors{};
  std::array<uint32, 256> pixels{};
  std::array<uint8, 32768> inverse{};  // 5 bits per channel → nearest index
};

rgb_color hue(double h) {  // h in [0, 1): full saturation and value
  const double x = h * 6.0;
  const int sector = int(x) % 6;
  const double f = x - std::floor(x);
  const uint8 up = uint8(std::lround(255 * f)), down = uint8(std::lround(255 * (1 - f)));
  switch (sector) {
    case 0:
      return {255, up, 0, 255};
    case 1:
      return {down, 255, 0, 255};
    case 2:
      return {0, 255, up, 255};
    case 3:
      return {0, down, 255, 255};
    case 4:
      return {up, 0, 255, 255};
    default:
      return {255, 0, down, 255};
  }
}

Palette build() {
  Palette p;
  // 0: black (sky, clears). 1…31: the terrain's shade ramp, dark to light.
  p.colors[0] = {0, 0, 0, 255};
  for (int i = 1; i < 32; ++i) {
    const double t = i / 31.0;
    p.colors[size_t(i)] = {uint8(std::lround(30 + 170 * t)), uint8(std::lround(40 + 190 * t)),
                           uint8(std::lround(20 + 120 * t)), 255};
  }
  // The cycle: one turn of hue over 32…255 whose brightness swells and
  // dips four times, so that every hue also has darker neighbours for the
  // host's fade to land on.
  for (int i = 32; i < 256; ++i) {
    const double t = double(i - 32) / 224.0;
    const double v = 0.62 + 0.38 * std::cos(2 * M_PI * 4 * t);
    const rgb_color c = hue(t);
    p.colors[size_t(i)] = {uint8(std::lround(c.red * v)), uint8(std::lround(c.green * v)),
                           uint8(std::lround(c.blue * v)), 255};
  }
  p.colors[32] = {0, 0, 0xF8, 255};
  // 41…49: the torus's red ramp, 49 dimmest, 42 the loud red.
  const uint8 reds[9] = {0xFF, 0xF8, 0xF0, 0xE8, 0xD8, 0xC0, 0xA0, 0x78, 0x50};
  for (int i = 0; i < 9; ++i) p.colors[size_t(41 + i)] = {reds[i], 0, 0, 255};
  p.colors[52] = {0, 0xDF, 0, 255};
  p.colors[250] = {0xDF, 0xDF, 0, 255};

  for (int i = 0; i < 256; ++i) {
    const rgb_color c = p.colors[size_t(i)];
    p.pixels[size_t(i)] = uint32(c.red) << 16 | uint32(c.green) << 8 | c.blue;
  }
  // Inverse table: each 15-bit colour cell, expanded to 8 bits per channel,
  // maps to the nearest palette colour by squared distance; ties go to the
  // lower index.
  for (int q = 0; q < 32768; ++q) {
    const int r = ((q >> 10) & 31) << 3 | ((q >> 10) & 31) >> 2;
    const int g = ((q >> 5) & 31) << 3 | ((q >> 5) & 31) >> 2;
    const int b = (q & 31) << 3 | (q & 31) >> 2;
    int best = 0, bestD = 1 << 30;
    for (int i = 0; i < 256; ++i) {
      const rgb_color c = p.colors[size_t(i)];
      const int d = (c.red - r) * (c.red - r) + (c.green - g) * (c.green - g) + (c.blue - b) * (c.blue - b);
      if (d < bestD) bestD = d, best = i;
    }
    p.inverse[size_t(q)] = uint8(best);
  }
  return p;
}

const Palette& palette() {
  static const Palette p = build();
  return p;
}

}  // namespace

const rgb_color* tw_system_palette() { return palette().colors.data(); }
const uint32* tw_system_palette32() { return palette().pixels.data(); }

uint8 tw_index_for_color(uint8 red, uint8 green, uint8 blue) {
  return palette().inverse[size_t((red >> 3) << 10 | (green >> 3) << 5 | (blue >> 3))];
}
