// The host's reading of hostFactor: each frame starts from the previous one
// with every colour multiplied by the factor (0 clears to black, 0.8 keeps
// 80 % of each colour channel, 1 keeps the frame as it is). In 8-bit mode the
// product is mapped back onto the palette by a table built once per run.
#pragma once

#include "engine/Frame.h"

#include <platform/interface.h>

#include <array>

namespace tw {

class Fade {
 public:
  // factor is clamped to 0 … 1.
  Fade(float factor, const rgb_color* palette);
  // Index that colour index i fades to. Every chain of fades ends at index 0:
  // a colour only ever fades to a strictly darker one.
  uint8 index(uint8 i) const { return table8_[i]; }
  // Fades the frame in place (the pixels the geometry covers). 32-bit
  // channels become uint8(float(v) × factor), exactly; black stays black and
  // costs next to nothing.
  void apply(Frame& frame) const;

 private:
  float factor_;
  std::array<uint8, 256> table8_{};
  std::array<uint8, 256> channel_{};  // 32-bit mode: per channel value
};

}  // namespace tw
