#include "engine/Frame.h"

#include <cstring>

namespace tw {

Frame::Frame(FrameGeometry g)
    : geometry_(g),
      pixels_(size_t(g.frameBytes() > 0 ? g.frameBytes() : 0)),
      samples_(kSamples + 1),
      spectrum_{std::vector<float>(kSpectrum), std::vector<float>(kSpectrum)} {
  info_.bits = pixels_.data();
  info_.samples = samples_.data();
  info_.spectrum[0] = spectrum_[0].data();
  info_.spectrum[1] = spectrum_[1].data();
}

uint32 Frame::at32(int32 x, int32 y) const {
  uint32 v;
  std::memcpy(&v, &pixels_[size_t(y) * size_t(geometry_.rowBytes()) + size_t(x) * 4], 4);
  return v;
}

void Frame::clear(uint8 byte) {
  if (!pixels_.empty()) std::memset(pixels_.data(), byte, pixels_.size());
}

}  // namespace tw
