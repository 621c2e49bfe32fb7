// PNG files, contact sheets, frame names and the record format, read back.
#include "Image.h"
#include "Recording.h"
#include "Sinks.h"

#include <gtest/gtest.h>

#include <filesystem>

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
