#include "engine/Frame.h"

#include <cstring>

namespace tw {

Frame::Frame(FrameGeometry g) : geometry_(g), pixels_(size_t(g.frameBytes() > 0 ? g.frameBytes() : 0)) {
  info_.bits = pixels_.data();
  info_.samples = sound_.samples.data();
  info_.spectrum[0] = sound_.spectrum[0].data();
  info_.spectrum[1] = sound_.spectrum[1].data();
}

void Frame::setSound(const SoundFrame& sound, int32 frameCount) {
  sound_.samples = sound.samples;
  sound_.spectrum = sound.spectrum;
  for (int ch = 0; ch < 2; ++ch) {
    info_.level[ch] = sound.level[ch];
    for (int b = 0; b < 8; ++b) info_.bands[ch][b] = sound.bands[ch][b];
  }
  info_.frameCount = frameCount;
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
