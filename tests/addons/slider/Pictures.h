// Picture files the slide-show tests write for themselves: a temporary
// directory, and PNG and TGA writers for pictures whose every pixel tells
// where it came from.
#pragma once

#include <platform/support.h>

#include <cstdint>
#include <functional>
#include <string>

namespace slider_test {

struct Rgb {
  uint8 r, g, b;
  bool operator==(const Rgb&) const = default;
};

// A picture as a function of its pixel coordinates.
using Pattern = std::function<Rgb(int32 x, int32 y)>;

// The default pattern: red and green count columns and rows, blue carries
// their high bits and a tint that tells pictures apart. Asymmetric, so
// swapped axes or channels show.
Pattern coordinates(uint8 tint = 0);

// A fresh directory under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Lossless writers; false when the file could not be written.
bool writePng(const std::string& path, int32 width, int32 height, const Pattern& pattern);
// Uncompressed 24-bit TGA with its origin at the top left.
bool writeTga(const std::string& path, int32 width, int32 height, const Pattern& pattern);
bool writeText(const std::string& path, const std::string& text);

}  // namespace slider_test
