// Ziduv: a strongly magnified trace of the first samples of each frame. Each
// sample becomes a column 8 pixels wide; each step of the scaled value moves
// the trace 8 pixels, so only the band around the mean is visible.
#pragma once

#include "CFilter.h"

class CSampleLoupeFilter : public CFilter {
 public:
  bool load() override;
  bool prepare() override;
  // Writes 8 × 8 blocks of index 0xFA straight into the frame.
  void processFrame8(SFrameInfo& info) override;
  // Draws a green bar with a yellow cap per column through blitRect32.
  void processFrame32(SFrameInfo& info) override;
};
