// The host's side of one frame: the pixel buffer and the record handed to the
// filters, with the storage the record's pointers designate (a SoundFrame:
// its sizes are the record's).
#pragma once

#include "CFilter.h"
#include "engine/Analysis.h"

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
  // Elements behind the record's samples and each spectrum pointer.
  static constexpr int kSamples = SoundFrame::kSamples;
  static constexpr int kSpectrum = SoundFrame::kSpectrum;

  explicit Frame(FrameGeometry g = {});
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  const FrameGeometry& geometry() const { return geometry_; }
  SFrameInfo& info() { return info_; }
  uint8* pixels() { return pixels_.data(); }
  const uint8* pixels() const { return pixels_.data(); }
  size_t size() const { return size_t(geometry_.frameBytes()); }
  int32* samples() { return sound_.samples.data(); }
  float* spectrum(int channel) { return sound_.spectrum[size_t(channel)].data(); }

  // Fills the record from the analysed sound: samples and spectra into the
  // frame's storage, levels, bands and the frame counter inline.
  void setSound(const SoundFrame& sound, int32 frameCount);

  uint8 at8(int32 x, int32 y) const { return pixels_[size_t(y) * size_t(geometry_.rowBytes()) + size_t(x)]; }
  uint32 at32(int32 x, int32 y) const;
  void clear(uint8 byte = 0);

 private:
  FrameGeometry geometry_;
  std::vector<uint8> pixels_;
  SoundFrame sound_;
  SFrameInfo info_{};
};

}  // namespace tw
