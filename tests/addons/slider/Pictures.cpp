#include "Pictures.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace slider_test {

Pattern coordinates(uint8 tint) {
  return [tint](int32 x, int32 y) {
    return Rgb{uint8(x), uint8(y), uint8(((x >> 8) << 4 | (y >> 8)) ^ tint)};
  };
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "slider-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool writePng(const std::string& path, int32 width, int32 height, const Pattern& pattern) {
  std::vector<uint8> rgb(size_t(width) * size_t(height) * 3);
  for (int32 y = 0; y < height; ++y)
    for (int32 x = 0; x < width; ++x) {
      const Rgb c = pattern(x, y);
      uint8* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
      p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = PNG_FORMAT_RGB;
  image.flags = PNG_IMAGE_FLAG_FAST;
  return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

bool writeTga(const std::string& path, int32 width, int32 height, const Pattern& pattern) {
  std::vector<uint8> data(18, 0);
  data[2] = 2;  // uncompressed true colour
  data[12] = uint8(width), data[13] = uint8(width >> 8);
  data[14] = uint8(height), data[15] = uint8(height >> 8);
  data[16] = 24;
  data[17] = 0x20;  // first row at the top
  for (int32 y = 0; y < height; ++y)
    for (int32 x = 0; x < width; ++x) {
      const Rgb c = pattern(x, y);
      data.insert(data.end(), {c.b, c.g, c.r});
    }
  return writeText(path, std::string(data.begin(), data.end()));
}

bool writeText(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace slider_test
