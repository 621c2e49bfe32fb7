// Fits a frame into an output picture of any size, for every output: video
// files, YUV4MPEG2, PNG frames, contact sheets, the live window. The
// geometry is a pure function (placePicture), so that whoever draws the
// picture (an SDL texture, a GStreamer buffer) lands it where the scaler
// does. Output pixels are 32-bit XRGB: 0x00RRGGBB, bytes B, G, R, 0 in
// memory (SDL's XRGB8888, GStreamer's BGRx).
#pragma once

#include "engine/Frame.h"

#include <vector>

namespace tw {

// Contain: the whole frame, proportions kept, black bars where the shapes
// differ. Cover: the output filled, proportions kept, the frame's overhang
// cropped evenly. Stretch: the whole frame into the whole output.
enum class Fit { Contain, Cover, Stretch };
// Nearest: each output pixel is one frame pixel (crisp). Smooth: a tent
// filter, widened when shrinking so that every frame pixel counts.
enum class ScaleFilter { Nearest, Smooth };

struct Rect {
  int32 x = 0;
  int32 y = 0;
  int32 width = 0;
  int32 height = 0;
  bool operator==(const Rect&) const = default;
};

struct Placement {
  Rect picture;  // where the picture lands, in output pixels; black around it
  Rect source;   // the part of the frame shown there, in frame pixels
};

// Where a frame of frameWidth × frameHeight lands in an output of
// outWidth × outHeight (all at least 1). Sizes are rounded to the nearest
// pixel, halves up, and are at least 1; what is left over is split with the
// odd pixel on the right or bottom (offset = leftover / 2, rounded down).
// - Contain: source = the whole frame; the picture spans the output's width
//   or height, whichever is tighter (width on a tie), the other side
//   frame side × scale.
// - Cover: picture = the whole output; the source spans the frame's width
//   or height, whichever is looser, the other side output side / scale,
//   centred.
// - Stretch: both whole.
// Equal sizes give the identity for every fit.
Placement placePicture(int32 frameWidth, int32 frameHeight, int32 outWidth, int32 outHeight, Fit fit);

// An XRGB picture in memory, rows of width pixels with no padding.
struct XrgbImage {
  int32 width = 0;
  int32 height = 0;
  std::vector<uint32> pixels;

  XrgbImage() = default;
  XrgbImage(int32 w, int32 h) : width(w), height(h), pixels(size_t(w) * size_t(h), 0) {}
  uint32 at(int32 x, int32 y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
  uint8* bytes() { return reinterpret_cast<uint8*>(pixels.data()); }
  size_t rowBytes() const { return size_t(width) * 4; }
};

// The pixels: scales frames of one geometry (size and pixel mode; the row
// stride may differ per call) to one output size. Sampling is by pixel
// centres: output pixel i of the picture looks at the source position
// s = source.x + (i + ½) × source.width / picture.width − ½.
// - Nearest takes the frame pixel nearest to s, halves to the right:
//   source.x + ⌊(2i + 1) × source.width / (2 × picture.width)⌋.
// - Smooth weighs the pixels within r = max(1, source.width /
//   picture.width) of s by 1 − |distance| / r (a tent), in 1/16384ths,
//   the source rectangle's edge pixels standing in for those beyond it.
// Rows alike. An axis of equal sizes is copied exactly; equal frame and
// output sizes give the frame's own pixels, whatever the filter. 8-bit
// frames go through palette32; the top byte of every output pixel is 0.
// Not thread-safe: one scaler per thread (it keeps scratch rows).
class Scaler {
 public:
  Scaler() = default;
  // outWidth, outHeight of 0 take the frame's own size.
  Scaler(const FrameGeometry& frame, int32 outWidth, int32 outHeight, Fit fit = Fit::Contain,
         ScaleFilter filter = ScaleFilter::Nearest);

  int32 outWidth() const { return outW_; }
  int32 outHeight() const { return outH_; }
  const Placement& placement() const { return place_; }
  // True when the output is the frame pixel for pixel.
  bool identity() const { return identity_; }

  // Writes every pixel of the output (the picture and the black around it):
  // outHeight rows of outWidth pixels, `outRowBytes` apart (at least
  // outWidth × 4). `pixels` holds a frame of the scaler's geometry with rows
  // `rowBytes` apart; palette32 is read for 8-bit frames only.
  void scale(const uint8* pixels, size_t rowBytes, const uint32* palette32, uint8* out, size_t outRowBytes);
  // The same from a Frame; a frame of another size or pixel mode than the
  // scaler's sets the scaler up for it first.
  void scale(const Frame& frame, const uint32* palette32, uint8* out, size_t outRowBytes);
  // Into an XrgbImage, sized to the output.
  void scale(const Frame& frame, const uint32* palette32, XrgbImage* out);

 private:
  struct Taps {
    std::vector<int32> first;    // per output pixel: first source index
    std::vector<int16> weights;  // per output pixel: `count` weights (sum 16384)
    int32 count = 0;
  };
  static void nearestMap(int32 from, int32 sourceSize, int32 pictureSize, std::vector<int32>* map);
  static void tentTaps(int32 from, int32 sourceSize, int32 pictureSize, Taps* taps);
  void nearest(const uint8* pixels, size_t rowBytes, const uint32* palette, uint8* out, size_t outRowBytes);
  void smooth(const uint8* pixels, size_t rowBytes, const uint32* palette, uint8* out, size_t outRowBytes);
  void scaleAcross(const uint8* row, const uint32* palette, int16* out);

  FrameGeometry geometry_;
  int32 outW_ = 0, outH_ = 0;
  Fit fit_ = Fit::Contain;
  ScaleFilter filter_ = ScaleFilter::Nearest;
  Placement place_;
  bool identity_ = false;
  std::vector<int32> columns_, rows_;  // nearest: the source column and row of each picture pixel
  // Smooth: the taps; source rows scaled across (8.7 fixed point), one slot
  // per vertical tap, each row made once per frame; one source row as XRGB
  // with spare pixels.
  Taps hTaps_, vTaps_;
  std::vector<int16> across_;
  std::vector<int32> acrossRow_;  // the source row in each slot, −1: none
  std::vector<const int16*> tapRows_;
  std::vector<uint32> sourceRow_;
};

}  // namespace tw
