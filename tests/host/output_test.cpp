// PNG files, contact sheets, frame names and the record format, read back.
#include "engine/Recording.h"
#include "output/Image.h"
#include "output/Sinks.h"
#include "output/Yuv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>

namespace tw {
namespace {

std::string scratch(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("tw-host-output-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

TEST(Png, EightBitFrameRoundTripsThroughThePalette) {
  FrameGeometry g;
  g.width = 6, g.height = 5, g.bytesPerRow = 8;
  Frame frame(g);
  frame.clear();
  frame.pixels()[1 * 8 + 2] = 52;   // green
  frame.pixels()[4 * 8 + 5] = 250;  // yellow
  RgbImage rgb;
  frameToRgb(frame, tw_system_palette32(), &rgb);
  std::string why;
  const std::string path = scratch("f.png");
  ASSERT_TRUE(writePng(path, rgb, &why)) << why;
  EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
  RgbImage back;
  ASSERT_TRUE(readPng(path, &back, &why)) << why;
  ASSERT_EQ(back.width, 6);
  ASSERT_EQ(back.height, 5);
  EXPECT_EQ(back.at(2, 1)[0], 0);
  EXPECT_EQ(back.at(2, 1)[1], 0xDF);
  EXPECT_EQ(back.at(5, 4)[0], 0xDF);
  EXPECT_EQ(back.at(5, 4)[2], 0);
  EXPECT_EQ(back.at(0, 0)[1], 0);
}

// BT.601 values of a colour, straight from the matrix in doubles, rounded;
// chroma of a mean colour.
struct Expected {
  int y, u, v;
};
Expected bt601(double r, double g, double b, YuvRange range) {
  const double yy = 0.299 * r + 0.587 * g + 0.114 * b, u = (b - yy) / 1.772, v = (r - yy) / 1.402;
  auto clamp = [](double x) { return int(std::lround(std::min(255.0, std::max(0.0, x)))); };
  if (range == YuvRange::Full) return {clamp(yy), clamp(128 + u), clamp(128 + v)};
  return {clamp(16 + yy * 219 / 255), clamp(128 + u * 224 / 255), clamp(128 + v * 224 / 255)};
}

TEST(Yuv, PlanesOfAnOddFrameInBothRangesAndModes) {
  // 3 x 3, so the right column and the bottom row are blocks of their own:
  //   red   red   white
  //   red   red   black
  //   white white red
  const uint32 red = 0x00F80000, white = 0x00FFFFFF, black = 0;
  const uint32 pixels[3][3] = {{red, red, white}, {red, red, black}, {white, white, red}};
  FrameGeometry g;
  g.width = 3, g.height = 3, g.pixelMode = 2, g.bytesPerRow = 16;  // padded rows
  Frame frame32(g);
  frame32.clear(0xAB);
  // The same picture indexed: 42 is the palette's 0xF80000, 255 white here.
  uint32 palette[256] = {};
  palette[42] = red, palette[255] = white;
  FrameGeometry g8 = g;
  g8.pixelMode = 1, g8.bytesPerRow = 5;
  Frame frame8(g8);
  frame8.clear(0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) {
      std::memcpy(frame32.pixels() + y * 16 + x * 4, &pixels[y][x], 4);
      frame8.pixels()[y * 5 + x] = pixels[y][x] == red ? 42 : pixels[y][x] == white ? 255 : 0;
    }
  for (const YuvRange range : {YuvRange::Full, YuvRange::Video}) {
    const Expected r = bt601(248, 0, 0, range), w = bt601(255, 255, 255, range), k = bt601(0, 0, 0, range);
    const Expected grey = bt601(127.5, 127.5, 127.5, range);
    for (const Frame* f : {&frame32, &frame8}) {
      std::vector<uint8> planes;
      frameToYuv420(*f, palette, range, &planes);
      ASSERT_EQ(planes.size(), 9u + 2 * 4);
      const int ys[9] = {r.y, r.y, w.y, r.y, r.y, k.y, w.y, w.y, r.y};
      for (int i = 0; i < 9; ++i) EXPECT_EQ(int(planes[i]), ys[i]) << "Y " << i;
      // Blocks: the red square, white over black, white pair, red corner.
      const Expected blocks[4] = {r, grey, w, r};
      for (int b = 0; b < 4; ++b) {
        EXPECT_NEAR(planes[9 + b], blocks[b].u, 1) << "U " << b;
        EXPECT_NEAR(planes[13 + b], blocks[b].v, 1) << "V " << b;
      }
    }
  }
}

TEST(Yuv, EveryPixelFollowsTheFixedPointArithmeticAtEverySize) {
  // The BT.601 arithmetic in 16-bit fixed point, per pixel and per 2 x 2
  // block sum, spelled out; random pictures at sizes that leave the
  // eight-at-a-time paths remainders of every kind.
  const int k[2][3][3] = {{{19595, 38470, 7471}, {-11059, -21709, 32768}, {32768, -27439, -5329}},
                          {{16829, 33039, 6416}, {-9714, -19071, 28784}, {28784, -24103, -4681}}};
  std::mt19937 rng(2);
  for (const auto& [w, h] :
       {std::pair{1, 1}, {7, 3}, {15, 2}, {16, 16}, {17, 5}, {33, 9}, {47, 4}, {64, 3}}) {
    const size_t stride = size_t(w) * 4 + 8;
    std::vector<uint8> pixels(stride * size_t(h));
    for (uint8& b : pixels) b = uint8(rng());
    for (int range = 0; range < 2; ++range) {
      std::vector<uint8> out(yuv420Bytes(w, h));
      xrgbToYuv420(pixels.data(), w, h, stride, range ? YuvRange::Video : YuvRange::Full, out.data());
      auto channel = [&](int x, int y, int c) {
        return int(pixels[size_t(y) * stride + size_t(x) * 4 + size_t(2 - c)]);
      };
      const int off = range ? 16 : 0, cw = (w + 1) / 2, ch = (h + 1) / 2;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int s = k[range][0][0] * channel(x, y, 0) + k[range][0][1] * channel(x, y, 1) +
                        k[range][0][2] * channel(x, y, 2);
          ASSERT_EQ(out[size_t(y * w + x)], std::clamp(off + ((s + 32768) >> 16), 0, 255)) << w << "x" << h;
        }
      for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x)
          for (int plane = 1; plane <= 2; ++plane) {
            int s = 0;
            for (const int yy : {2 * y, std::min(2 * y + 1, h - 1)})
              for (const int xx : {2 * x, std::min(2 * x + 1, w - 1)})
                for (int c = 0; c < 3; ++c) s += k[range][plane][c] * channel(xx, yy, c);
            const size_t at = size_t(w * h + (plane - 1) * cw * ch + y * cw + x);
            ASSERT_EQ(out[at], std::clamp(128 + ((s + (1 << 17)) >> 18), 0, 255))
                << w << "x" << h << " plane " << plane << " at " << x << "," << y;
          }
    }
  }
}

TEST(Png, UnwritablePathFailsAndLeavesNothing) {
  RgbImage img(2, 2);
  std::string why;
  EXPECT_FALSE(writePng("/nonexistent-dir/x.png", img, &why));
  EXPECT_NE(why.find("/nonexistent-dir/x.png"), std::string::npos);
}

TEST(Sheet, TilesAndLabels) {
  std::vector<SheetTile> tiles;
  for (int i = 0; i < 5; ++i) {
    SheetTile t;
    t.picture = RgbImage(64, 48);
    t.picture.fillRect(0, 0, 64, 48, 0x00FF00);
    t.label = "T" + std::to_string(i);
    tiles.push_back(t);
  }
  const RgbImage sheet = makeSheet(tiles, 3, 2, "title");
  // 3 columns of 32-pixel tiles with 8-pixel gaps; 2 rows.
  EXPECT_EQ(sheet.width, 8 + 3 * (32 + 8));
  const std::string path = scratch("sheet.png");
  std::string why;
  ASSERT_TRUE(writePng(path, sheet, &why));
  RgbImage back;
  ASSERT_TRUE(readPng(path, &back, &why));
  EXPECT_EQ(back.height, sheet.height);
  // The first tile is green; its label below it has white text pixels.
  const int tileTop = 7 * 2 + 12 + 8;
  EXPECT_EQ(back.at(8 + 10, tileTop + 10)[1], 0xFF);
  int white = 0;
  for (int y = tileTop + 24 + 4; y < tileTop + 24 + 4 + 14; ++y)
    for (int x = 8; x < 8 + 32; ++x) white += back.at(x, y)[0] > 200;
  EXPECT_GT(white, 10);
}

TEST(FrameNames, Patterns) {
  std::string s;
  EXPECT_TRUE(formatFrameName("out/%05d.png", 42, &s));
  EXPECT_EQ(s, "out/00042.png");
  EXPECT_TRUE(formatFrameName("f%d-100%%.png", 7, &s));
  EXPECT_EQ(s, "f7-100%.png");
  EXPECT_FALSE(formatFrameName("out/frame.png", 1, &s));
  EXPECT_FALSE(formatFrameName("%d/%d.png", 1, &s));
  EXPECT_FALSE(formatFrameName("%s.png", 1, &s));
}

TEST(Record, RoundTripAndTruncation) {
  const std::string path = scratch("rec.twrec");
  std::string why;
  RecordWriter w;
  ASSERT_TRUE(w.open(path, 48000, 30.0, &why)) << why;
  SoundFrame a;
  for (int i = 0; i < 2; ++i) {
    a.frameCount = i;
    a.samples[5] = -1234 - i;
    a.spectrum[1][10] = 1.5e6f + float(i);
    a.level[0] = 3.25;
    a.bands[1][7] = 99.5;
    ASSERT_TRUE(w.write(a, &why));
  }
  EXPECT_FALSE(std::filesystem::exists(path));  // written beside until finished
  ASSERT_TRUE(w.finish(&why));
  EXPECT_EQ(std::filesystem::file_size(path), kRecordHeaderBytes + 2 * kRecordFrameBytes);
  RecordReader r;
  ASSERT_TRUE(r.open(path, &why)) << why;
  EXPECT_EQ(r.sampleRate(), 48000);
  EXPECT_EQ(r.fps(), 30.0);
  EXPECT_EQ(r.frames(), 2);
  SoundFrame b;
  ASSERT_TRUE(r.read(&b, &why));
  ASSERT_TRUE(r.read(&b, &why));
  EXPECT_EQ(b.frameCount, 1);
  EXPECT_EQ(b.samples[5], -1235);
  EXPECT_EQ(b.spectrum[1][10], 1.5e6f + 1);
  EXPECT_EQ(b.level[0], 3.25);
  EXPECT_EQ(b.bands[1][7], 99.5);
  EXPECT_FALSE(r.read(&b, &why));
  EXPECT_TRUE(why.empty());

  std::filesystem::resize_file(path, kRecordHeaderBytes + kRecordFrameBytes + 10);
  RecordReader t;
  ASSERT_TRUE(t.open(path, &why));
  ASSERT_TRUE(t.read(&b, &why));
  EXPECT_FALSE(t.read(&b, &why));
  EXPECT_NE(why.find("middle of a frame"), std::string::npos);
}

}  // namespace
}  // namespace tw
