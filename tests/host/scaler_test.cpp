// The scaler: where the picture lands for each fit, and its pixels against a
// floating-point reference of the sampling rules, on odd sizes both ways.
#include "output/Scaler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace tw {
namespace {

std::string str(const Rect& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
         std::to_string(r.height);
}

TEST(Placement, EachFitOnOddAndEvenSizes) {
  // Expectations worked out by hand from the rounding rules: sizes to the
  // nearest pixel, halves up; the odd leftover pixel on the right or bottom.
  const struct {
    int fw, fh, ow, oh;
    Fit fit;
    Rect picture, source;
  } cases[] = {
      // 640x480 into HD: 1080 / 480 = 2.25 is the tighter scale; 640 × 2.25 = 1440.
      {640, 480, 1920, 1080, Fit::Contain, {240, 0, 1440, 1080}, {0, 0, 640, 480}},
      // Cover scales by 3: 1080 / 3 = 360 rows of 480, from row 60.
      {640, 480, 1920, 1080, Fit::Cover, {0, 0, 1920, 1080}, {0, 60, 640, 360}},
      {640, 480, 1920, 1080, Fit::Stretch, {0, 0, 1920, 1080}, {0, 0, 640, 480}},
      {640, 480, 3840, 2160, Fit::Contain, {480, 0, 2880, 2160}, {0, 0, 640, 480}},
      // 7x5 into 20x9: scale 9/5; 7 × 1.8 = 12.6 → 13, leftover 7 → 3 left, 4 right.
      {7, 5, 20, 9, Fit::Contain, {3, 0, 13, 9}, {0, 0, 7, 5}},
      // 7x5 into 9x20: scale 9/7; 5 × 9/7 = 6.43 → 6, leftover 14 → 7 above.
      {7, 5, 9, 20, Fit::Contain, {0, 7, 9, 6}, {0, 0, 7, 5}},
      // Cover 7x5 into 20x9: scale 20/7; 9 / (20/7) = 3.15 → 3 rows from 1.
      {7, 5, 20, 9, Fit::Cover, {0, 0, 20, 9}, {0, 1, 7, 3}},
      // Cover 7x5 into 9x20: scale 4; 9 / 4 = 2.25 → 2 columns from 2.
      {7, 5, 9, 20, Fit::Cover, {0, 0, 9, 20}, {2, 0, 2, 5}},
      // Downscale 15x11 into 4x3: width 4/15 is tighter than 3/11, and
      // 11 × 4/15 = 2.93 → 3 fills the height too.
      {15, 11, 4, 3, Fit::Contain, {0, 0, 4, 3}, {0, 0, 15, 11}},
      {15, 11, 5, 2, Fit::Contain, {1, 0, 3, 2}, {0, 0, 15, 11}},  // 15 × 2/11 = 2.73 → 3
      {15, 11, 5, 2, Fit::Cover, {0, 0, 5, 2}, {0, 2, 15, 6}},     // 2 × 15/5 = 6 rows, from (11-6)/2
      // A half rounds up: 2x1 into 3x3 gives 1.5 → 2 rows.
      {2, 1, 3, 3, Fit::Contain, {0, 0, 3, 2}, {0, 0, 2, 1}},
      // Cover of 1x1 shows the pixel; contain of 1x1 in 3x2 is 2x2.
      {1, 1, 3, 2, Fit::Cover, {0, 0, 3, 2}, {0, 0, 1, 1}},
      {1, 1, 3, 2, Fit::Contain, {0, 0, 2, 2}, {0, 0, 1, 1}},
      // Equal sizes: the identity whatever the fit.
      {7, 5, 7, 5, Fit::Contain, {0, 0, 7, 5}, {0, 0, 7, 5}},
      {7, 5, 7, 5, Fit::Cover, {0, 0, 7, 5}, {0, 0, 7, 5}},
      // Same proportions: no bars, no crop.
      {320, 240, 1024, 768, Fit::Contain, {0, 0, 1024, 768}, {0, 0, 320, 240}},
      {320, 240, 1024, 768, Fit::Cover, {0, 0, 1024, 768}, {0, 0, 320, 240}},
  };
  for (const auto& c : cases) {
    const Placement p = placePicture(c.fw, c.fh, c.ow, c.oh, c.fit);
    const std::string what = std::to_string(c.fw) + "x" + std::to_string(c.fh) + " -> " +
                             std::to_string(c.ow) + "x" + std::to_string(c.oh) + " fit " +
                             std::to_string(int(c.fit));
    EXPECT_EQ(p.picture, c.picture) << what << ": picture " << str(p.picture);
    EXPECT_EQ(p.source, c.source) << what << ": source " << str(p.source);
  }
}

// The test picture: a one-pixel border, a background, and an "F" in two
// colours (stem and bars) placed off centre, so that a flip, a transpose or
// a shift shows. Indices for 8-bit, the same colours for 32-bit.
constexpr uint32 kColours[4] = {0x00103010, 0x002040F0, 0x00F00000,
                                0x00F0F000};  // ground, border, stem, bars
uint8 pictureIndex(int x, int y, int w, int h) {
  if (x == 0 || y == 0 || x == w - 1 || y == h - 1) return 1;
  const int fx = 2, fy = 2;  // the F's top-left corner
  if (x == fx && y >= fy && y < fy + 5) return 2;
  if (y == fy && x > fx && x < fx + 4) return 3;
  if (y == fy + 2 && x > fx && x < fx + 3) return 3;
  return 0;
}

struct Pictures {
  Frame eight, thirtyTwo;
  uint32 palette[256];
  Pictures(int w, int h, int pad)
      : eight(FrameGeometry{w, h, 1, w + pad}), thirtyTwo(FrameGeometry{w, h, 2, (w + pad) * 4}) {
    for (int i = 0; i < 256; ++i) palette[i] = uint32(i) * 0x010101;
    for (int i = 0; i < 4; ++i) palette[i + 10] = kColours[i];
    eight.clear(0xEE);
    thirtyTwo.clear(0xEE);  // the padding and the top bytes hold junk
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8 k = pictureIndex(x, y, w, h);
        eight.pixels()[y * (w + pad) + x] = uint8(10 + k);
        const uint32 v = kColours[k] | 0xAB000000;
        std::memcpy(thirtyTwo.pixels() + y * (w + pad) * 4 + x * 4, &v, 4);
      }
  }
};

// The reference: the sampling rules of Scaler in doubles.
std::vector<std::pair<int, double>> tentWeights(double centre, double radius, int size) {
  std::vector<double> w(size_t(size), 0.0);
  double sum = 0;
  for (int j = int(std::floor(centre - radius)) - 1; j <= int(std::ceil(centre + radius)) + 1; ++j) {
    const double v = std::max(0.0, 1.0 - std::abs(j - centre) / radius);
    w[size_t(std::clamp(j, 0, size - 1))] += v;
    sum += v;
  }
  std::vector<std::pair<int, double>> out;
  for (int j = 0; j < size; ++j)
    if (w[size_t(j)] > 0) out.push_back({j, w[size_t(j)] / sum});
  return out;
}

void expectMatchesReference(const XrgbImage& got, const Placement& p, ScaleFilter filter, int fw, int fh,
                            const std::string& what) {
  const Rect& d = p.picture;
  const Rect& s = p.source;
  int wrong = 0;
  for (int oy = 0; oy < got.height; ++oy)
    for (int ox = 0; ox < got.width; ++ox) {
      const uint32 v = got.at(ox, oy);
      if (ox < d.x || ox >= d.x + d.width || oy < d.y || oy >= d.y + d.height) {
        wrong += v != 0;
        continue;
      }
      const double cx = (ox - d.x + 0.5) * s.width / d.width, cy = (oy - d.y + 0.5) * s.height / d.height;
      if (filter == ScaleFilter::Nearest) {
        const uint32 want =
            kColours[pictureIndex(s.x + int(std::floor(cx)), s.y + int(std::floor(cy)), fw, fh)];
        if (v != want && ++wrong < 5) ADD_FAILURE() << what << " at " << ox << "," << oy;
        continue;
      }
      const auto wx = tentWeights(cx - 0.5, std::max(1.0, double(s.width) / d.width), s.width);
      const auto wy = tentWeights(cy - 0.5, std::max(1.0, double(s.height) / d.height), s.height);
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (const auto& [j, a] : wy)
          for (const auto& [k, b] : wx)
            sum += a * b * double(kColours[pictureIndex(s.x + k, s.y + j, fw, fh)] >> (8 * c) & 255);
        const int have = int(v >> (8 * c) & 255);
        if (std::abs(have - sum) > 1.0 && ++wrong < 5)
          ADD_FAILURE() << what << " at " << ox << "," << oy << " channel " << c << ": " << have << " vs "
                        << sum;
      }
      if (v >> 24) ++wrong;
    }
  EXPECT_EQ(wrong, 0) << what;
}

TEST(Scaler, PixelsLandWhereTheRulesSayForEveryFitAndFilter) {
  const struct { int fw, fh; } frames[] = {{15, 11}, {9, 14}};
  const struct {
    int ow, oh;
  } outputs[] = {{37, 23}, {23, 37}, {40, 30}, {7, 5}, {5, 9}, {3, 4}, {15, 29}, {61, 11}};
  for (const auto& f : frames) {
    Pictures pics(f.fw, f.fh, 3);
    for (const auto& o : outputs)
      for (const Fit fit : {Fit::Contain, Fit::Cover, Fit::Stretch})
        for (const ScaleFilter filter : {ScaleFilter::Nearest, ScaleFilter::Smooth}) {
          const std::string what = std::to_string(f.fw) + "x" + std::to_string(f.fh) + " -> " +
                                   std::to_string(o.ow) + "x" + std::to_string(o.oh) + " fit " +
                                   std::to_string(int(fit)) + " filter " + std::to_string(int(filter));
          Scaler s8(pics.eight.geometry(), o.ow, o.oh, fit, filter);
          Scaler s32(pics.thirtyTwo.geometry(), o.ow, o.oh, fit, filter);
          XrgbImage a, b;
          s8.scale(pics.eight, pics.palette, &a);
          s32.scale(pics.thirtyTwo, nullptr, &b);
          ASSERT_EQ(a.width, o.ow);
          ASSERT_EQ(a.height, o.oh);
          EXPECT_EQ(a.pixels, b.pixels) << what << ": 8-bit and 32-bit differ";
          expectMatchesReference(b, s32.placement(), filter, f.fw, f.fh, what);
        }
  }
}

TEST(Scaler, LandmarksOfTheF) {
  // Nearest, 15x11 tripled into 45x33 plus bars: the F's stem is the red
  // 3-pixel column at picture x 6…8, its top bar yellow at y 6…8.
  Pictures pics(15, 11, 0);
  Scaler s(pics.thirtyTwo.geometry(), 47, 33, Fit::Contain);
  ASSERT_EQ(s.placement().picture, (Rect{1, 0, 45, 33}));
  XrgbImage out;
  s.scale(pics.thirtyTwo, nullptr, &out);
  EXPECT_EQ(out.at(0, 16), 0u);                   // left bar
  EXPECT_EQ(out.at(46, 16), 0u);                  // right bar
  EXPECT_EQ(out.at(1, 0), kColours[1]);           // border, top-left
  EXPECT_EQ(out.at(45, 32), kColours[1]);         // border, bottom-right
  EXPECT_EQ(out.at(1 + 7, 6 + 7), kColours[2]);   // stem
  EXPECT_EQ(out.at(1 + 7, 6 + 14), kColours[2]);  // stem, further down
  EXPECT_EQ(out.at(1 + 10, 7), kColours[3]);      // top bar, right of the stem
  EXPECT_EQ(out.at(1 + 10, 7 + 6), kColours[3]);  // middle bar
  EXPECT_EQ(out.at(1 + 10, 7 + 3), kColours[0]);  // between the bars
  EXPECT_EQ(out.at(1 + 4, 10), kColours[0]);      // left of the stem
  // In memory: blue, green, red, 0.
  const uint8* bytes = reinterpret_cast<const uint8*>(&out.pixels[size_t(13) * 47 + 8]);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x00);
  EXPECT_EQ(bytes[2], 0xF0);
  EXPECT_EQ(bytes[3], 0x00);
}

TEST(Scaler, EqualSizesGiveTheFrameExactly) {
  std::mt19937 rng(7);
  for (const ScaleFilter filter : {ScaleFilter::Nearest, ScaleFilter::Smooth})
    for (const Fit fit : {Fit::Contain, Fit::Cover, Fit::Stretch}) {
      Frame f32(FrameGeometry{13, 7, 2, 13 * 4 + 12}), f8(FrameGeometry{13, 7, 1, 16});
      uint32 palette[256];
      for (uint32& p : palette) p = rng();
      for (size_t i = 0; i < f32.size(); ++i) f32.pixels()[i] = uint8(rng());
      for (size_t i = 0; i < f8.size(); ++i) f8.pixels()[i] = uint8(rng());
      Scaler s32(f32.geometry(), 0, 0, fit, filter), s8(f8.geometry(), 13, 7, fit, filter);
      EXPECT_TRUE(s32.identity());
      XrgbImage a, b;
      s32.scale(f32, nullptr, &a);
      s8.scale(f8, palette, &b);
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
          EXPECT_EQ(a.at(x, y), f32.at32(x, y) & 0xFFFFFF) << x << "," << y;
          EXPECT_EQ(b.at(x, y), palette[f8.at8(x, y)] & 0xFFFFFF) << x << "," << y;
        }
    }
}

TEST(Scaler, OutputStrideAndASecondFrameSize) {
  // Rows of the output are addressed by its stride; bytes between rows are
  // left alone.
  Pictures pics(15, 11, 1);
  Scaler s(pics.eight.geometry(), 20, 9, Fit::Contain, ScaleFilter::Smooth);
  std::vector<uint8> out(size_t(9) * 96, 0x5A);
  s.scale(pics.eight, pics.palette, out.data(), 96);
  for (int y = 0; y < 9; ++y)
    for (int k = 80; k < 96; ++k) EXPECT_EQ(out[size_t(y) * 96 + size_t(k)], 0x5A);
  // A frame of another size sets the scaler up for it.
  Pictures other(9, 14, 0);
  s.scale(other.eight, other.palette, out.data(), 96);
  EXPECT_EQ(s.placement().picture, placePicture(9, 14, 20, 9, Fit::Contain).picture);
}

}  // namespace
}  // namespace tw
