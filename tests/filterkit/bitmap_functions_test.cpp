// The kit's bitmap and directory functions: the two-place lookup of
// loadBitmap, the directory lookup of findDir, icons from packed rows, and the
// 8-bit copy matched to the system palette by the stated rule.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "CFilter.h"
#include "Harness.h"

namespace fs = std::filesystem;

namespace {

// The palette-matching rule, computed here from the palette alone: each
// channel cut to 5 bits and widened back, then the nearest of the 256 colours
// by squared distance, the lower index on a tie.
uint8 expectedIndex(uint8 r, uint8 g, uint8 b) {
  auto widen = [](uint8 v) { return int((v >> 3) << 3 | (v >> 3) >> 2); };
  const int R = widen(r), G = widen(g), B = widen(b);
  const rgb_color* pal = tw_system_palette();
  int best = 0, bestD = 1 << 30;
  for (int i = 0; i < 256; ++i) {
    const int d = (pal[i].red - R) * (pal[i].red - R) + (pal[i].green - G) * (pal[i].green - G) +
                  (pal[i].blue - B) * (pal[i].blue - B);
    if (d < bestD) bestD = d, best = i;
  }
  return uint8(best);
}

uint8* row(BBitmap* b, int y) { return static_cast<uint8*>(b->Bits()) + y * b->BytesPerRow(); }

// A TGA of one colour, written here: 24-bit, uncompressed.
void writeSolidTga(const fs::path& path, int w, int h, uint8 r, uint8 g, uint8 b) {
  fs::create_directories(path.parent_path());
  std::ofstream f(path, std::ios::binary);
  const char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, char(w), 0, char(h), 0, 24, 0};
  f.write(header, 18);
  for (int i = 0; i < w * h; ++i) f.put(char(b)).put(char(g)).put(char(r));
}

class Scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("tw-kit-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root);
  }
  void TearDown() override { fs::remove_all(root); }
  fs::path root;
  CFilter filter;
};

TEST_F(Scratch, FindDirOpensASubdirectoryOfBaseDir) {
  fs::create_directories(root / "maps" / "inner");
  filter.baseDir.SetTo(root.c_str());
  BDirectory dir;
  EXPECT_TRUE(filter.findDir(&dir, "maps"));
  EXPECT_EQ(dir.CountEntries(), 1);

  EXPECT_FALSE(filter.findDir(&dir, "missing"));
  EXPECT_EQ(dir.InitCheck(), B_ENTRY_NOT_FOUND) << "the caller's object holds the error";

  // Refused arguments leave the caller's object as it was.
  ASSERT_TRUE(filter.findDir(&dir, "maps"));
  EXPECT_FALSE(filter.findDir(&dir, nullptr));
  EXPECT_FALSE(filter.findDir(&dir, ""));
  EXPECT_FALSE(filter.findDir(nullptr, "maps"));
  EXPECT_EQ(dir.InitCheck(), B_OK);
  EXPECT_EQ(dir.CountEntries(), 1);

  CFilter noBase;
  EXPECT_FALSE(noBase.findDir(&dir, "maps"));
}

TEST_F(Scratch, LoadBitmapTriesTheNameThenImageDir) {
  // The working directory holds the "F"; imageDir holds a red picture of the
  // same name and a green one only it has.
  const fs::path cwd = root / "cwd", images = root / "images";
  fs::create_directories(cwd);
  fs::copy_file(tw::test::fixtureDir() + "/pictures/f.tga", cwd / "same.tga");
  writeSolidTga(images / "same.tga", 2, 2, 255, 0, 0);
  writeSolidTga(images / "only.tga", 3, 1, 0, 255, 0);
  writeSolidTga(images / "add-ons.icons" / "icon.tga", 4, 4, 0, 0, 255);
  std::ofstream(images / "text.tga") << "not a picture at all";
  filter.imageDir.SetTo(images.c_str());

  const fs::path saved = fs::current_path();
  fs::current_path(cwd);
  BBitmap* same = filter.loadBitmap("same.tga");
  BBitmap* only = filter.loadBitmap("only.tga");
  BBitmap* icon = filter.loadBitmap("./add-ons.icons/icon.tga");
  BBitmap* text = filter.loadBitmap("text.tga");
  BBitmap* missing = filter.loadBitmap("nowhere.tga");
  fs::current_path(saved);

  ASSERT_NE(same, nullptr);
  EXPECT_EQ(same->Bounds(), BRect(0, 0, 5, 4)) << "the working directory's file wins";
  ASSERT_NE(only, nullptr);
  EXPECT_EQ(only->Bounds(), BRect(0, 0, 2, 0));
  EXPECT_EQ(row(only, 0)[1], 255) << "green, from imageDir";
  ASSERT_NE(icon, nullptr) << "found under imageDir with its leading dot segment";
  EXPECT_EQ(icon->Bounds(), BRect(0, 0, 3, 3));
  EXPECT_EQ(text, nullptr) << "no translator understands it";
  EXPECT_EQ(missing, nullptr);

  // An absolute path loads from where it points.
  BBitmap* absolute = filter.loadBitmap((images / "only.tga").c_str());
  EXPECT_NE(absolute, nullptr);
  CFilter noImageDir;
  EXPECT_EQ(noImageDir.loadBitmap("only.tga"), nullptr);
  EXPECT_EQ(filter.loadBitmap(nullptr), nullptr);
  for (BBitmap* b : {same, only, icon, absolute}) delete b;
}

TEST(MakeBitmap8Bit, HandsTheConversionRedGreenBlueTriplets) {
  CFilter filter;
  BBitmap source(BRect(0, 0, 1, 0), B_RGB32);
  const uint8 pixels[8] = {10, 20, 30, 255, 40, 50, 60, 0};
  std::memcpy(source.Bits(), pixels, 8);
  BBitmap* result = filter.makeBitmap8Bit(&source);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->ColorSpace(), B_CMAP8);
  EXPECT_EQ(result->Bounds(), source.Bounds());
  // Bytes 2, 1, 0 of each pixel: (30, 20, 10) and (60, 50, 40).
  EXPECT_EQ(row(result, 0)[0], expectedIndex(30, 20, 10));
  EXPECT_EQ(row(result, 0)[1], expectedIndex(60, 50, 40));
  EXPECT_EQ(std::memcmp(source.Bits(), pixels, 8), 0) << "the source is left untouched";
  delete result;
}

// Every pixel of a picture whose 8-bit rows are padded (width 7: 8 bytes
// per row), with colours of every kind, against the rule.
TEST(MakeBitmap8Bit, WholePictureAtTheResultsStride) {
  CFilter filter;
  for (BRect bounds : {BRect(0, 0, 6, 4), BRect(10, 20, 16, 24), BRect(0, 0, 639, 479)}) {
    BBitmap source(bounds, B_RGB32);
    std::mt19937 random(7);
    uint8* bits = static_cast<uint8*>(source.Bits());
    for (int32 i = 0; i < source.BitsLength(); ++i) bits[i] = uint8(random());
    BBitmap* result = filter.makeBitmap8Bit(&source);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->Bounds(), bounds);
    const int w = int(bounds.right - bounds.left) + 1, h = int(bounds.bottom - bounds.top) + 1;
    int wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8* p = bits + y * source.BytesPerRow() + x * 4;
        wrong += row(result, y)[x] != expectedIndex(p[2], p[1], p[0]);
      }
    EXPECT_EQ(wrong, 0) << "of " << w * h << " pixels";
    delete result;
  }
}

TEST(MakeBitmap8Bit, CopiesAnEightBitSourceAndRefusesOtherSpaces) {
  CFilter filter;
  BBitmap source(BRect(0, 0, 2, 1), B_CMAP8);  // rows of 3 pixels, 4 bytes
  for (int32 i = 0; i < source.BitsLength(); ++i) static_cast<uint8*>(source.Bits())[i] = uint8(i * 37 + 1);
  BBitmap* copy = filter.makeBitmap8Bit(&source);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Bounds(), source.Bounds());
  ASSERT_EQ(copy->BitsLength(), source.BitsLength());
  EXPECT_EQ(std::memcmp(copy->Bits(), source.Bits(), size_t(source.BitsLength())), 0);
  delete copy;

  // A colour space of other than four bytes per pixel is not read as 32-bit.
  BBitmap other(BRect(0, 0, 1, 1), B_NO_COLOR_SPACE);
  EXPECT_EQ(filter.makeBitmap8Bit(&other), nullptr);
  EXPECT_EQ(filter.makeBitmap8Bit(nullptr), nullptr);
}

TEST(MakeIconFromHeader, CopiesPackedRows) {
  CFilter filter;
  std::vector<uint8> icon(16 * 16);
  for (size_t i = 0; i < icon.size(); ++i) icon[i] = uint8(i);
  BBitmap* b = filter.makeIconFromHeader(16, 16, B_CMAP8, 1, icon.data());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Bounds(), BRect(0, 0, 15, 15));
  ASSERT_EQ(b->BytesPerRow(), 16);
  EXPECT_EQ(std::memcmp(b->Bits(), icon.data(), icon.size()), 0);
  delete b;

  // Rows of 3 bytes in a bitmap of 4 bytes per row: the data hold exactly
  // 6 bytes (a read at the bitmap's stride would run past them), and each row
  // lands at the start of its bitmap row.
  const std::vector<uint8> packed{1, 2, 3, 4, 5, 6};
  b = filter.makeIconFromHeader(3, 2, B_CMAP8, 1, packed.data());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->BytesPerRow(), 4);
  EXPECT_EQ(std::vector<uint8>(row(b, 0), row(b, 0) + 3), (std::vector<uint8>{1, 2, 3}));
  EXPECT_EQ(std::vector<uint8>(row(b, 1), row(b, 1) + 3), (std::vector<uint8>{4, 5, 6}));
  delete b;

  const std::vector<uint8> rgb32{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  b = filter.makeIconFromHeader(2, 2, B_RGB32, 4, rgb32.data());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(std::memcmp(b->Bits(), rgb32.data(), 16), 0);
  delete b;

  EXPECT_EQ(filter.makeIconFromHeader(16, 16, B_CMAP8, 1, nullptr), nullptr);
  EXPECT_EQ(filter.makeIconFromHeader(0, 16, B_CMAP8, 1, icon.data()), nullptr);
  EXPECT_EQ(filter.makeIconFromHeader(2, 2, B_NO_COLOR_SPACE, 1, icon.data()), nullptr);
}

// Palette colours at the corners of their 5-bit cells come back as
// themselves when nothing else in the palette lies nearer.
TEST(PaletteRule, SystemLookupFollowsTheStatedRule) {
  int wrong = 0;
  for (int r = 0; r < 256; r += 5)
    for (int g = 0; g < 256; g += 3)
      for (int b = 0; b < 256; b += 7)
        wrong +=
            tw_index_for_color(uint8(r), uint8(g), uint8(b)) != expectedIndex(uint8(r), uint8(g), uint8(b));
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(tw_index_for_color(0, 0, 0), 0);
}

}  // namespace
