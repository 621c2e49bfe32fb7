// Scopewell: three spectrum scopes and a fan of radial spectrum lines, plus
// the two colour ramps they draw with in 32-bit mode. Every filter draws
// through the kit's line primitive over whatever the frame already holds and
// keeps nothing from one frame to the next.
#pragma once

#include "CFilter.h"

// A cosine colour cycle: red and green follow cos(2π·scale·phase), blue the
// same cosine a third of a turn later. Each channel lies in 1…255.
uint32 color_line(int32 phase, float scale);

// A ramp over value / (maximum / 4): black at or below 0, yellow up to 255,
// then green turning to red from 256 to 511 and beyond. A maximum below 4
// (a quarter of 0) gives black.
uint32 color_line2(int32 value, int32 maximum);

// "FFT Scope": 255 bars per channel in two panels, each with a level line in
// the other panel's colour. Channel 1 on the left, channel 0 on the right.
class CSampleFftFilter : public CFilter {
 public:
  bool load() override;
  bool prepare() override;
  void processFrame8(SFrameInfo& info) override;
  void processFrame32(SFrameInfo& info) override;
};

// "FFT Central": one centred horizontal line per row, its half-length taken
// from a spectrum bin that scrolls with the frame counter.
class CCentralFftFilter : public CFilter {
 public:
  bool load() override;
  bool prepare() override;
  void processFrame8(SFrameInfo& info) override;
  void processFrame32(SFrameInfo& info) override;
};

// "FFT 2": eight band bars per channel standing on row 470, each drawn as
// its left edge and a 32-pixel cap, with a level line per panel.
class CFft2Filter : public CFilter {
 public:
  bool load() override;
  bool prepare() override;
  void processFrame8(SFrameInfo& info) override;
  void processFrame32(SFrameInfo& info) override;
};

// "DudoZariri": two quarter fans of 64 radial lines, one per channel, their
// lengths from the first 64 bins and their colours cycling with the frame
// counter.
class CSampleCercleFilter : public CFilter {
 public:
  bool load() override;
  bool prepare() override;
  void processFrame8(SFrameInfo& info) override;
  void processFrame32(SFrameInfo& info) override;
};
