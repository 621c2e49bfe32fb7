// The engine's frame as a video frame of the negotiated size: 32-bit pixels
// in memory order blue, green, red, unused (GStreamer's BGRx, which is the
// 32-bit mode's own layout), 8-bit frames through the palette. When the sizes
// differ the frame is fitted by nearest neighbour: whole inside with black
// borders (contain), filling the video and cropped (cover), or stretched.
#pragma once

#include "engine/Frame.h"

#include <vector>

namespace tw::gst {

enum class Fit { Contain, Cover, Stretch };

class FrameOut {
 public:
  // Frames of geometry `g` into width × height video frames.
  void configure(const FrameGeometry& g, int width, int height, Fit fit);
  int width() const { return width_; }
  int height() const { return height_; }
  // Writes the frame into `dst`, rows `stride` bytes apart.
  void write(const Frame& frame, const uint32* palette32, uint8* dst, int stride) const;

 private:
  FrameGeometry source_;
  int width_ = 0, height_ = 0;
  bool same_ = true;
  std::vector<int> columns_, rows_;  // source column / row of each output one; -1: border
};

}  // namespace tw::gst
