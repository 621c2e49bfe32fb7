// Img Radezu's picture side: the descriptor of the filter loaded from the
// built add-on, decoding through the translators, and the two conversions
// (step sampling, the pair mean at step 2, refused colour spaces), the
// latter linked from the add-on's source.
#include "Harness.h"
#include "Pictures.h"
#include "slider_addon.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using slider_test::Rgb;

// A B_RGB32 bitmap of w × h pixels, pixel (x, y) from `pattern`, with the
// fourth byte set to `alpha` so that a conversion that keeps it shows.
std::unique_ptr<BBitmap> rgb32(int32 w, int32 h, const slider_test::Pattern& pattern, uint8 alpha = 0xA5,
                               float left = 0, float top = 0) {
  auto b = std::make_unique<BBitmap>(BRect(left, top, left + float(w - 1), top + float(h - 1)), B_RGB32);
  EXPECT_EQ(b->InitCheck(), B_OK);
  uint8* bits = static_cast<uint8*>(b->Bits());
  for (int32 y = 0; y < h; ++y)
    for (int32 x = 0; x < w; ++x) {
      const Rgb c = pattern(x, y);
      uint8* p = bits + y * b->BytesPerRow() + x * 4;
      p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = alpha;
    }
  return b;
}

uint32 pixel32(Rgb c) { return uint32(c.r) << 16 | uint32(c.g) << 8 | c.b; }
Rgb mean(Rgb a, Rgb b) { return Rgb{uint8((a.r + b.r) / 2), uint8((a.g + b.g) / 2), uint8((a.b + b.b) / 2)}; }

// Both conversions of `source` at step s against the expected colours, row
// after row (dw × dh of them).
void expectConversions(BBitmap* source, int s, int32 dw, int32 dh, const std::vector<Rgb>& want) {
  CSliderFilter f;
  std::unique_ptr<uint32[]> px(f.makeBitmap32Bit(source, s));
  ASSERT_NE(px, nullptr);
  std::unique_ptr<BBitmap> b8(f._makeBitmap8Bit(source, s));
  ASSERT_NE(b8, nullptr);
  EXPECT_EQ(b8->ColorSpace(), B_CMAP8);
  EXPECT_EQ(b8->Bounds(), BRect(0, 0, float(dw - 1), float(dh - 1)));
  const uint8* bits8 = static_cast<const uint8*>(b8->Bits());
  for (int32 j = 0; j < dh; ++j)
    for (int32 i = 0; i < dw; ++i) {
      const Rgb c = want[size_t(j * dw + i)];
      EXPECT_EQ(px[size_t(j * dw + i)], pixel32(c)) << "32-bit pixel " << i << "," << j;
      EXPECT_EQ(bits8[j * b8->BytesPerRow() + i], tw_index_for_color(c.r, c.g, c.b))
          << "8-bit pixel " << i << "," << j;
    }
}

TEST(SliderFilter, LoadFillsTheDescriptor) {
  auto lib = tw::test::openAddon("Radezu");
  ASSERT_TRUE(lib);
  tw::test::FilterRun run(*lib, 0);
  ASSERT_TRUE(run.load());
  const CFilter& f = run.filter();
  EXPECT_STREQ(f.name, "Img Radezu");
  EXPECT_STREQ(f.author, "Mornel");
  EXPECT_STREQ(f.info, "Sample code");
  EXPECT_EQ(f.hostHint1, 0);
  EXPECT_EQ(f.hostHint2, 3);
  EXPECT_EQ(f.hostFactor, 0.7f);
  EXPECT_EQ(f.supportedModes, 3);
  EXPECT_EQ(f.icon, nullptr);
  EXPECT_FALSE(f.hostFlag1);
  EXPECT_FALSE(f.hostFlag2);
  EXPECT_TRUE(f.params.IsEmpty());
  EXPECT_EQ(lib->create(1), nullptr);
}

TEST(SliderConversion, StepOneKeepsEveryPixelAndDropsTheFourthByte) {
  const auto pattern = [](int32 x, int32 y) {
    return Rgb{uint8(10 * x + y), uint8(200 - x), uint8(7 * y + 1)};
  };
  auto src = rgb32(3, 2, pattern, 0xFF);
  std::vector<Rgb> want;
  for (int32 y = 0; y < 2; ++y)
    for (int32 x = 0; x < 3; ++x) want.push_back(pattern(x, y));
  expectConversions(src.get(), 1, 3, 2, want);
}

TEST(SliderConversion, StepTwoAveragesEachPixelWithItsRightNeighbourOnly) {
  // Row 0 holds the pairs; column 4 and rows 1 and 2 hold values that would
  // change the result if they were read. The bitmap does not start at (0, 0).
  const Rgb row0[5] = {{255, 10, 3}, {0, 21, 4}, {100, 200, 50}, {101, 201, 51}, {9, 9, 9}};
  auto src = rgb32(
      5, 3,
      [&](int32 x, int32 y) {
        return y == 0 ? row0[x] : Rgb{250, 250, 250};
      },
      0x11, 30, 40);
  expectConversions(src.get(), 2, 2, 1, {mean(row0[0], row0[1]), mean(row0[2], row0[3])});
  EXPECT_EQ(mean(row0[0], row0[1]).r, 127) << "the mean drops the fraction";
}

TEST(SliderConversion, StepThreeSamplesWithoutAveraging) {
  auto src = rgb32(7, 7, [](int32 x, int32 y) { return Rgb{uint8(x * 30), uint8(y * 30), uint8(x * y)}; });
  expectConversions(src.get(), 3, 2, 2, {{0, 0, 0}, {90, 0, 0}, {0, 90, 0}, {90, 90, 9}});
}

TEST(SliderConversion, ASourceSmallerThanTheStepGivesAnEmptyResult) {
  CSliderFilter f;
  for (auto [w, h, s] : {std::tuple{1, 5, 2}, {5, 1, 2}, {2, 2, 3}}) {
    auto src = rgb32(w, h, slider_test::coordinates());
    std::unique_ptr<BBitmap> b8(f._makeBitmap8Bit(src.get(), s));
    ASSERT_NE(b8, nullptr) << w << "x" << h << " step " << s;
    EXPECT_EQ(b8->Bounds(), BRect(0, 0, float(w / s - 1), float(h / s - 1)));
    std::unique_ptr<uint32[]> px(f.makeBitmap32Bit(src.get(), s));
    EXPECT_NE(px, nullptr);
  }
}

TEST(SliderConversion, OnlyRgb32SourcesAreConverted) {
  CSliderFilter f;
  BBitmap cmap8(BRect(0, 0, 7, 7), B_CMAP8);
  ASSERT_EQ(cmap8.InitCheck(), B_OK);
  for (int s : {1, 2}) {
    EXPECT_EQ(f._makeBitmap8Bit(&cmap8, s), nullptr);
    EXPECT_EQ(f.makeBitmap32Bit(&cmap8, s), nullptr);
    EXPECT_EQ(f._makeBitmap8Bit(nullptr, s), nullptr);
    EXPECT_EQ(f.makeBitmap32Bit(nullptr, s), nullptr);
  }
}

TEST(SliderConversion, GetBitmapDecodesPicturesAndRefusesEverythingElse) {
  slider_test::TempDir dir;
  const auto pattern = slider_test::coordinates(0x40);
  ASSERT_TRUE(slider_test::writePng(dir.file("a.png"), 9, 4, pattern));
  ASSERT_TRUE(slider_test::writeTga(dir.file("b.tga"), 3, 5, pattern));
  ASSERT_TRUE(slider_test::writeText(dir.file("notes.txt"), "not a picture\n"));
  CSliderFilter f;
  for (auto [name, w, h] : {std::tuple{"a.png", 9, 4}, {"b.tga", 3, 5}}) {
    std::unique_ptr<BBitmap> b(f.GetBitmap(dir.file(name).c_str()));
    ASSERT_NE(b, nullptr) << name;
    ASSERT_EQ(b->ColorSpace(), B_RGB32);
    ASSERT_EQ(b->Bounds(), BRect(0, 0, float(w - 1), float(h - 1)));
    const uint8* bits = static_cast<const uint8*>(b->Bits());
    for (int32 y = 0; y < h; ++y)
      for (int32 x = 0; x < w; ++x) {
        const uint8* p = bits + y * b->BytesPerRow() + x * 4;
        EXPECT_EQ((Rgb{p[2], p[1], p[0]}), pattern(x, y)) << name << " " << x << "," << y;
      }
  }
  EXPECT_EQ(f.GetBitmap(dir.file("notes.txt").c_str()), nullptr);
  EXPECT_EQ(f.GetBitmap(dir.path().c_str()), nullptr);
  EXPECT_EQ(f.GetBitmap(dir.file("missing.png").c_str()), nullptr);
  // No second try under imageDir: a bare name is not found there.
  f.imageDir.SetTo(dir.path().c_str());
  EXPECT_EQ(f.GetBitmap("a.png"), nullptr);
}

}  // namespace
