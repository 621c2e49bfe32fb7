// The translators: every format on the same small asymmetric picture, a 6 × 5
// "F" in red on blue, decoded and compared pixel by pixel; then files that are
// truncated, damaged, hostile or too large, which must give an error.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <platform/storage.h>
#include <platform/translation_host.h>
#include <png.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "Harness.h"

namespace {

using Bytes = std::vector<uint8>;

// The pattern, independent of the generator that made the fixtures.
constexpr int kW = 6, kH = 5;
const char* const kF[kH] = {".XXXX.", ".X....", ".XXX..", ".X....", ".X...."};
bool isLetter(int x, int y) { return kF[y][x] == 'X'; }

struct Rgb {
  uint8 r, g, b;
};
constexpr Rgb kRed{255, 0, 0}, kBlue{0, 0, 255};

// A source in memory; `sized` false makes it a stream without a size.
class MemoryIO : public BPositionIO {
 public:
  explicit MemoryIO(Bytes d, bool sized = true) : data(std::move(d)), sized(sized) {}
  ssize_t ReadAt(off_t at, void* buffer, size_t size) override {
    if (at < 0) return B_BAD_VALUE;
    if (size_t(at) >= data.size()) return 0;
    const size_t n = std::min(size, data.size() - size_t(at));
    std::memcpy(buffer, data.data() + at, n);
    return ssize_t(n);
  }
  ssize_t WriteAt(off_t, const void*, size_t) override { return B_NOT_ALLOWED; }
  off_t Seek(off_t to, uint32 mode) override {
    position = mode == SEEK_CUR ? position + to : mode == SEEK_END ? off_t(data.size()) + to : to;
    return position;
  }
  off_t Position() const override { return position; }
  status_t GetSize(off_t* size) const override {
    if (!sized) return B_NOT_ALLOWED;
    *size = off_t(data.size());
    return B_OK;
  }

 private:
  Bytes data;
  bool sized;
  off_t position = 0;
};

struct Decoded {
  status_t status;
  BBitmap* bitmap = nullptr;
  ~Decoded() { delete bitmap; }
};

std::unique_ptr<Decoded> translate(BPositionIO& source) {
  auto d = std::make_unique<Decoded>();
  BBitmapStream stream;
  d->status =
      BTranslatorRoster::Default()->Translate(&source, nullptr, nullptr, &stream, B_TRANSLATOR_BITMAP);
  if (d->status == B_OK) {
    EXPECT_EQ(stream.DetachBitmap(&d->bitmap), B_OK);
  }
  return d;
}

std::unique_ptr<Decoded> translate(const Bytes& bytes) {
  MemoryIO io(bytes);
  return translate(io);
}

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(f.good()) << path;
  return Bytes((std::istreambuf_iterator<char>(f)), {});
}

std::string fixture(const char* name) { return tw::test::fixtureDir() + "/pictures/" + name; }

// Compares a decoded bitmap with the pattern: bounds, colour space, and each
// pixel's blue, green, red, alpha bytes within `tolerance`.
void expectPattern(const BBitmap* b, int tolerance, const std::function<Rgb(int, int)>& expected,
                   int alpha = 255) {
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Bounds(), BRect(0, 0, kW - 1, kH - 1));
  ASSERT_EQ(b->ColorSpace(), B_RGB32);
  const uint8* bits = static_cast<const uint8*>(b->Bits());
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint8* p = bits + y * b->BytesPerRow() + x * 4;
      const Rgb e = expected(x, y);
      EXPECT_NEAR(p[0], e.b, tolerance) << "blue at " << x << "," << y;
      EXPECT_NEAR(p[1], e.g, tolerance) << "green at " << x << "," << y;
      EXPECT_NEAR(p[2], e.r, tolerance) << "red at " << x << "," << y;
      if (alpha >= 0) {
        EXPECT_EQ(p[3], alpha) << "alpha at " << x << "," << y;
      }
    }
}

Rgb letterColour(int x, int y) { return isLetter(x, y) ? kRed : kBlue; }

// ---- PNG written with libpng's full interface ----

void pngToMemory(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void pngFlush(png_structp) {}

// `pixel` gives the stored samples of a pixel, in the file's own layout.
Bytes writePng(int colorType, int bitDepth, bool interlace, const std::function<Bytes(int, int)>& pixel,
               const std::vector<png_color>& palette = {}) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    ADD_FAILURE() << "libpng failed to write the fixture";
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, pngToMemory, pngFlush);
  png_set_IHDR(png, info, kW, kH, bitDepth, colorType, interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
  std::vector<Bytes> rows(kH);
  std::vector<png_bytep> pointers(kH);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const Bytes p = pixel(x, y);
      rows[size_t(y)].insert(rows[size_t(y)].end(), p.begin(), p.end());
    }
    pointers[size_t(y)] = rows[size_t(y)].data();
  }
  png_set_rows(png, info, pointers.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

uint32 crc(const uint8* data, size_t n) { return uint32(crc32(0, data, uInt(n))); }

void put32(Bytes& out, uint32 v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8(v >> s));
}

// A chunk with its length and CRC as given (for hostile files).
void chunk(Bytes& out, const char* type, const Bytes& body, uint32 length, bool goodCrc = true) {
  put32(out, length);
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  const uint32 c = crc(out.data() + typeAt, 4 + body.size());
  put32(out, goodCrc ? c : c ^ 1);
}

Bytes pngHeader(uint32 width, uint32 height) {
  Bytes out{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  put32(ihdr, width);
  put32(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
  chunk(out, "IHDR", ihdr, 13);
  return out;
}

// ---- TGA ----

struct TgaLayout {
  uint8 imageType, pixelBits, descriptor = 0;
  uint8 mapEntryBits = 0;
  uint16 mapFirst = 0;
  Bytes map;  // colour-map entries, stored
  std::function<Bytes(Rgb)> encode;
  bool runLength = false;
};

// Pixels in file order for the descriptor's origin, packed (or run-length
// coded a pixel per packet pair: one run packet per row's first pixel run,
// raw packets for the rest), written by hand here so as not to share the
// reader's logic.
Bytes writeTga(const TgaLayout& s, const std::function<Rgb(int, int)>& colour = letterColour) {
  const int mapLength = s.mapEntryBits ? int(s.map.size() / ((s.mapEntryBits + 7) / 8)) : 0;
  Bytes out{0,
            uint8(mapLength ? 1 : 0),
            s.imageType,
            uint8(s.mapFirst),
            uint8(s.mapFirst >> 8),
            uint8(mapLength),
            uint8(mapLength >> 8),
            s.mapEntryBits,
            0,
            0,
            0,
            0,
            kW,
            0,
            kH,
            0,
            s.pixelBits,
            s.descriptor};
  out.insert(out.end(), s.map.begin(), s.map.end());
  const bool top = s.descriptor & 0x20, right = s.descriptor & 0x10;
  std::vector<Bytes> pixels;
  for (int row = 0; row < kH; ++row)
    for (int column = 0; column < kW; ++column) {
      const int y = top ? row : kH - 1 - row, x = right ? kW - 1 - column : column;
      pixels.push_back(s.encode(colour(x, y)));
    }
  if (!s.runLength) {
    for (const Bytes& p : pixels) out.insert(out.end(), p.begin(), p.end());
    return out;
  }
  for (size_t i = 0; i < pixels.size();) {
    size_t run = 1;
    while (i + run < pixels.size() && run < 128 && pixels[i + run] == pixels[i]) ++run;
    if (run >= 2) {
      out.push_back(uint8(0x80 | (run - 1)));
      out.insert(out.end(), pixels[i].begin(), pixels[i].end());
    } else {
      out.push_back(0);
      out.insert(out.end(), pixels[i].begin(), pixels[i].end());
    }
    i += run;
  }
  return out;
}

Bytes bgr(Rgb c) { return {c.b, c.g, c.r}; }
Bytes bgra(Rgb c) { return {c.b, c.g, c.r, 0x80}; }
Bytes rgb555(Rgb c, bool attribute) {
  const uint16 v = uint16((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3) | (attribute ? 0x8000 : 0));
  return {uint8(v), uint8(v >> 8)};
}

// ---- the tests ----

TEST(Translators, FixtureFilesDecodeToThePattern) {
  for (const char* name : {"f.png", "f.tga", "f-rle.tga"}) {
    SCOPED_TRACE(name);
    BFile file(fixture(name).c_str(), B_READ_ONLY);
    ASSERT_EQ(file.InitCheck(), B_OK);
    auto d = translate(file);
    ASSERT_EQ(d->status, B_OK);
    expectPattern(d->bitmap, 0, letterColour);
  }
  // JPEG is lossy; at quality 100 without subsampling every channel stays
  // well within a quarter of its range, which still tells red from blue.
  BFile jpeg(fixture("f.jpg").c_str(), B_READ_ONLY);
  auto d = translate(jpeg);
  ASSERT_EQ(d->status, B_OK);
  expectPattern(d->bitmap, 64, letterColour);
}

TEST(Translators, PngColourTypesAndInterlacing) {
  const std::vector<png_color> palette{{0, 0, 0}, {0, 0, 255}, {255, 0, 0}};
  struct Case {
    const char* what;
    Bytes file;
    int alpha;
    std::function<Rgb(int, int)> expected;
  } cases[] = {
      {"rgb",
       writePng(PNG_COLOR_TYPE_RGB, 8, false,
                [](int x, int y) {
                  auto c = letterColour(x, y);
                  return Bytes{c.r, c.g, c.b};
                }),
       255, letterColour},
      {"rgb interlaced",
       writePng(PNG_COLOR_TYPE_RGB, 8, true,
                [](int x, int y) {
                  auto c = letterColour(x, y);
                  return Bytes{c.r, c.g, c.b};
                }),
       255, letterColour},
      {"rgba",
       writePng(PNG_COLOR_TYPE_RGBA, 8, false,
                [](int x, int y) {
                  auto c = letterColour(x, y);
                  return Bytes{c.r, c.g, c.b, 0x40};
                }),
       0x40, letterColour},
      {"rgb 16-bit",
       writePng(PNG_COLOR_TYPE_RGB, 16, false,
                [](int x, int y) {
                  auto c = letterColour(x, y);
                  return Bytes{c.r, c.r, c.g, c.g, c.b, c.b};
                }),
       255, letterColour},
      {"palette",
       writePng(
           PNG_COLOR_TYPE_PALETTE, 8, false,
           [](int x, int y) { return Bytes{uint8(isLetter(x, y) ? 2 : 1)}; }, palette),
       255, letterColour},
      {"grey",
       writePng(PNG_COLOR_TYPE_GRAY, 8, false,
                [](int x, int y) { return Bytes{uint8(isLetter(x, y) ? 200 : 50)}; }),
       255,
       [](int x, int y) {
         const uint8 v = isLetter(x, y) ? 200 : 50;
         return Rgb{v, v, v};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto d = translate(c.file);
    ASSERT_EQ(d->status, B_OK);
    expectPattern(d->bitmap, 0, c.expected, c.alpha);
  }
}

TEST(Translators, TgaKindsAndOrigins) {
  const Bytes map24{0, 0, 0, 255, 0, 0, 0, 0, 255};  // stored blue, green, red: black, blue, red
  auto index = [](Rgb c) { return Bytes{uint8(c.r == 255 ? 7 : 6)}; };  // first entry is index 5
  struct Case {
    const char* what;
    TgaLayout layout;
    int alpha;
    std::function<Rgb(int, int)> expected = letterColour;
  } cases[] = {
      {"24-bit, bottom left", {2, 24, 0x00, 0, 0, {}, bgr}, 255},
      {"24-bit, top left", {2, 24, 0x20, 0, 0, {}, bgr}, 255},
      {"24-bit, bottom right", {2, 24, 0x10, 0, 0, {}, bgr}, 255},
      {"24-bit, top right", {2, 24, 0x30, 0, 0, {}, bgr}, 255},
      {"32-bit with alpha", {2, 32, 0x28, 0, 0, {}, bgra}, 0x80},
      {"32-bit run-length", {10, 32, 0x28, 0, 0, {}, bgra, true}, 0x80},
      {"24-bit run-length", {10, 24, 0x00, 0, 0, {}, bgr, true}, 255},
      {"15-bit", {2, 15, 0x00, 0, 0, {}, [](Rgb c) { return rgb555(c, false); }}, 255},
      {"16-bit with attribute alpha",
       {2, 16, 0x01, 0, 0, {}, [](Rgb c) { return rgb555(c, c.r == 255); }},
       -1},
      {"colour-mapped", {1, 8, 0x00, 24, 5, map24, index}, 255},
      {"colour-mapped run-length", {9, 8, 0x20, 24, 5, map24, index, true}, 255},
      {"grey",
       {3, 8, 0x00, 0, 0, {}, [](Rgb c) { return Bytes{uint8(c.r == 255 ? 200 : 50)}; }},
       255,
       [](int x, int y) {
         const uint8 v = isLetter(x, y) ? 200 : 50;
         return Rgb{v, v, v};
       }},
      {"grey run-length",
       {11, 8, 0x20, 0, 0, {}, [](Rgb c) { return Bytes{uint8(c.r == 255 ? 200 : 50)}; }, true},
       255,
       [](int x, int y) {
         const uint8 v = isLetter(x, y) ? 200 : 50;
         return Rgb{v, v, v};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto d = translate(writeTga(c.layout));
    ASSERT_EQ(d->status, B_OK);
    expectPattern(d->bitmap, 0, c.expected, c.alpha);
    if (c.alpha == -1) {  // the attribute bit is alpha: set on the letter only
      const uint8* bits = static_cast<const uint8*>(d->bitmap->Bits());
      EXPECT_EQ(bits[1 * 4 + 3], 255);  // (1, 0) is the letter
      EXPECT_EQ(bits[0 * 4 + 3], 0);
    }
  }
}

TEST(Translators, TgaRunsMayCrossRowEnds) {
  // One run packet of 30 red pixels covers all five rows.
  Bytes file{0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, kW, 0, kH, 0, 24, 0x20, 0x80 | 29, 0, 0, 255};
  auto d = translate(file);
  ASSERT_EQ(d->status, B_OK);
  expectPattern(d->bitmap, 0, [](int, int) { return kRed; });
}

TEST(Translators, JpegGreyAndProgressive) {
  tjhandle tj = tjInitCompress();
  Bytes rgb;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const Rgb c = letterColour(x, y);
      rgb.insert(rgb.end(), {c.r, c.g, c.b});
    }
  for (int flags : {0, TJFLAG_PROGRESSIVE}) {
    for (int samp : {int(TJSAMP_444), int(TJSAMP_GRAY)}) {
      unsigned char* out = nullptr;
      unsigned long size = 0;
      ASSERT_EQ(tjCompress2(tj, rgb.data(), kW, 0, kH, TJPF_RGB, &out, &size, samp, 100, flags), 0);
      auto d = translate(Bytes(out, out + size));
      tjFree(out);
      SCOPED_TRACE(flags ? "progressive" : "baseline");
      ASSERT_EQ(d->status, B_OK);
      if (samp == TJSAMP_GRAY) {
        // Grey from the standard luma weights: red 76, blue 29.
        expectPattern(d->bitmap, 12, [](int x, int y) {
          const uint8 v = isLetter(x, y) ? 76 : 29;
          return Rgb{v, v, v};
        });
      } else {
        expectPattern(d->bitmap, 64, letterColour);
      }
    }
  }
  tjDestroy(tj);
}

// A progressive JPEG with a scan per component and coefficient: 190 scans,
// each a pass over the whole picture. Refused before decoding.
Bytes jpegWithScans(bool many) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = 16;
  c.image_height = 16;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  std::vector<jpeg_scan_info> scans;
  scans.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
  if (many) {
    for (int k = 1; k <= 63; ++k)
      for (int comp = 0; comp < 3; ++comp) scans.push_back({1, {comp, 0, 0, 0}, k, k, 0, 0});
  } else {
    for (int comp = 0; comp < 3; ++comp) scans.push_back({1, {comp, 0, 0, 0}, 1, 63, 0, 0});
  }
  c.scan_info = scans.data();
  c.num_scans = int(scans.size());
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8> row(16 * 3, 128);
  JSAMPROW rows[1] = {row.data()};
  while (c.next_scanline < c.image_height) jpeg_write_scanlines(&c, rows, 1);
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes file(out, out + size);
  free(out);
  return file;
}

TEST(Translators, JpegWithTooManyScansIsRefused) {
  EXPECT_EQ(translate(jpegWithScans(false))->status, B_OK);
  EXPECT_LT(translate(jpegWithScans(true))->status, 0);
}

TEST(Translators, EveryTruncationIsAnError) {
  for (const char* name : {"f.png", "f.jpg", "f.tga", "f-rle.tga"}) {
    const Bytes whole = readFile(fixture(name));
    for (size_t n = 0; n < whole.size(); ++n) {
      auto d = translate(Bytes(whole.begin(), whole.begin() + long(n)));
      EXPECT_LT(d->status, 0) << name << " cut to " << n << " bytes";
      EXPECT_EQ(d->bitmap, nullptr);
    }
  }
}

TEST(Translators, DamagedFilesAreErrors) {
  const Bytes png = readFile(fixture("f.png"));
  // A flipped bit in the image data's CRC, and a text chunk with a bad CRC
  // (an ancillary chunk, which libpng would otherwise only warn about).
  Bytes badIdat = png;
  badIdat[badIdat.size() - 12 - 1] ^= 1;  // last byte of IDAT's CRC, before IEND
  Bytes badText = pngHeader(kW, kH);
  chunk(badText, "tEXt", Bytes{'a', 0, 'b'}, 3, false);
  const Bytes rest(png.begin() + 33, png.end());
  badText.insert(badText.end(), rest.begin(), rest.end());

  // A TGA colour index outside its map, and an image type that does not exist.
  TgaLayout outside{
      1, 8, 0x00, 24, 0, Bytes{0, 0, 255}, [](Rgb c) { return Bytes{uint8(c.r == 255 ? 1 : 0)}; }};
  Bytes noType = writeTga({2, 24, 0, 0, 0, {}, bgr});
  noType[2] = 7;

  // A JPEG frame header claiming zero rows.
  Bytes jpeg = readFile(fixture("f.jpg"));
  for (size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = jpeg[i + 6] = 0;
      break;
    }

  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {{"png: bad IDAT crc", badIdat},
               {"png: bad tEXt crc", badText},
               {"tga: index outside the map", writeTga(outside)},
               {"tga: unknown type", noType},
               {"jpeg: zero height", jpeg}};
  for (const Case& c : cases) {
    auto d = translate(c.file);
    EXPECT_LT(d->status, 0) << c.what;
    EXPECT_EQ(d->bitmap, nullptr) << c.what;
  }
}

TEST(Translators, UnknownDataHasNoTranslator) {
  const std::string text = "this is a text file, not a picture\n";
  EXPECT_EQ(translate(Bytes(text.begin(), text.end()))->status, B_NO_TRANSLATOR);
  EXPECT_EQ(translate(Bytes{})->status, B_NO_TRANSLATOR);
}

TEST(Translators, OversizedPicturesAreRefusedWithoutAllocating) {
  // Headers only: each claims a picture far over the cap.
  Bytes png = pngHeader(20000, 20000);
  Bytes pngUnderSideLimit = pngHeader(12000, 12000);  // 144 M pixels, each side allowed
  chunk(pngUnderSideLimit, "IDAT", Bytes{0x78, 0x9C}, 2);
  Bytes tga{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 24, 0};
  Bytes jpeg = readFile(fixture("f.jpg"));
  for (size_t i = 2; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = jpeg[i + 7] = 0xEA;  // 60000 rows, 60000 columns
      jpeg[i + 6] = jpeg[i + 8] = 0x60;
      break;
    }
  for (const Bytes* f : {&png, &pngUnderSideLimit, &tga, &jpeg}) {
    auto d = translate(*f);
    EXPECT_LT(d->status, 0);
    EXPECT_EQ(d->bitmap, nullptr);
  }
  EXPECT_EQ(translate(pngUnderSideLimit)->status, B_NO_MEMORY);
}

TEST(Translators, PixelCapAppliesToEveryFormat) {
  const int64 saved = tw_translator_pixel_cap();
  for (const char* name : {"f.png", "f.jpg", "f.tga", "f-rle.tga"}) {
    const Bytes file = readFile(fixture(name));
    tw_set_translator_pixel_cap(kW * kH - 1);
    EXPECT_EQ(translate(file)->status, B_NO_MEMORY) << name;
    tw_set_translator_pixel_cap(kW * kH);
    EXPECT_EQ(translate(file)->status, B_OK) << name;
  }
  tw_set_translator_pixel_cap(saved);
}

// 45 bytes: a signature, a 1 × 1 header and an sPLT chunk that claims
// 1 400 000 000 bytes. libpng must refuse the chunk from its length alone.
TEST(Translators, HostileChunkLengthStaysWithinMemoryBound) {
  Bytes file = pngHeader(1, 1);
  put32(file, 1400000000u);
  file.insert(file.end(), {'s', 'P', 'L', 'T', 'p', 'a', 'l', 0});
  ASSERT_EQ(file.size(), 45u);
  auto d = translate(file);
  EXPECT_LT(d->status, 0);
  // libpng's own state and buffers for a 1 × 1 picture: well under 1 MiB.
  EXPECT_LT(tw_png_peak_bytes(), size_t(1) << 20);
  EXPECT_GT(tw_png_peak_bytes(), 0u) << "the allocator hook saw libpng's allocations";
}

TEST(Roster, RefusesWhatItCannotServe) {
  BTranslatorRoster* roster = BTranslatorRoster::Default();
  EXPECT_EQ(roster, BTranslatorRoster::Default());
  MemoryIO source(readFile(fixture("f.png")));
  BBitmapStream stream;
  EXPECT_EQ(roster->Translate(&source, nullptr, nullptr, &stream, tw_type_code("TEXT")), B_NO_TRANSLATOR);
  MemoryIO notAStream(Bytes{});
  EXPECT_EQ(roster->Translate(&source, nullptr, nullptr, &notAStream, B_TRANSLATOR_BITMAP), B_BAD_VALUE);
  EXPECT_EQ(roster->Translate(nullptr, nullptr, nullptr, &stream, B_TRANSLATOR_BITMAP), B_BAD_VALUE);
  BFile unopened("/nonexistent/picture.png", B_READ_ONLY);
  EXPECT_LT(roster->Translate(&unopened, nullptr, nullptr, &stream, B_TRANSLATOR_BITMAP), 0);
  BBitmap* none = nullptr;
  EXPECT_EQ(stream.DetachBitmap(&none), B_ERROR);
  EXPECT_EQ(none, nullptr);
}

TEST(Roster, ReadsStreamsWithoutASize) {
  MemoryIO source(readFile(fixture("f.tga")), false);
  auto d = translate(source);
  ASSERT_EQ(d->status, B_OK);
  expectPattern(d->bitmap, 0, letterColour);
}

TEST(BitmapStream, DeletesAnUndetachedBitmapAndReadsItsBits) {
  auto* b = new BBitmap(BRect(0, 0, 1, 0), B_RGB32);
  static_cast<uint8*>(b->Bits())[5] = 9;
  BBitmapStream stream(b);
  off_t size = 0;
  EXPECT_EQ(stream.GetSize(&size), B_OK);
  EXPECT_EQ(size, 8);
  uint8 buffer[16] = {};
  EXPECT_EQ(stream.ReadAt(4, buffer, sizeof buffer), 4);
  EXPECT_EQ(buffer[1], 9);
  // The stream still owns the bitmap here; its destructor deletes it (the
  // sanitizer build would report a leak otherwise).
}

}  // namespace
