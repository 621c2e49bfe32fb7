// The host's side of one frame: the pixel buffer and the record handed to the
// filters, with the storage the record's pointers designate.
#pragma once

#include "CFilter.h"

#include <vector>

namespace tw {

struct FrameGeometry {
  int32 width = 640;
  int32 height = 480;
  int32 pixelMode = 1;    // 1 = 8-bit indexed, 2 = 32-bit
  int32 bytesPerRow = 0;  // 0: width × pixel size
  int32 rowBytes() const { return bytesPerRow > 0 ? bytesPerRow : width * (pixelMode == 2 ? 4 : 1); }
  int32 frameBytes() const { return rowBytes() * height; }
};

class Frame {
 public:
  static constexpr int kSamples = 1024;
  static constexpr int kSpectrum = 513;  // bins 0 … 512 of the analysis

  explicit Frame(FrameGeometry g = {});
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  const FrameGeometry& geometry() const { return geometry_; }
  SFrameInfo& info() { return info_; }
  uint8* pixels() { return pixels_.data(); }
  const uint8* pixels() const { return pixels_.data(); }
  size_t size() const { return size_t(geometry_.frameBytes()); }
  int32* samples() { return samples_.data(); }
  float* spectrum(int channel) { return spectrum_[channel].data(); }

  uint8 at8(int32 x, int32 y) const { return pixels_[size_t(y) * size_t(geometry_.rowBytes()) + size_t(x)]; }
  uint32 at32(int32 x, int32 y) const;
  void clear(uint8 byte = 0);

 private:
  FrameGeometry geometry_;
  std::vector<uint8> pixels_;
  std::vector<int32> samples_;
  std::vector<float> spectrum_[2];
  SFrameInfo info_{};
};

}  // namespace tw
