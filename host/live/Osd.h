// The on-screen display of a live run, drawn over the window's picture (never
// into the filters' frame): the filter's name for a moment whenever it
// changes, a help panel of the keys (H) and a line of frame rate and drawing
// times (I). The picture is 32-bit pixels 0x00RRGGBB of any size, rows
// `stride` pixels apart; the text grows with the picture, so that it reads the
// same at 640 × 480 and at 4K.
//
// drawOsd is a pure function of the state and the time: the caller keeps the
// state, the display keeps nothing.
#pragma once

#include "live/Sources.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tw {

struct OsdDrawing {
  std::string name;   // a filter's display name
  double micros = 0;  // its mean drawing time per frame
};

struct OsdState {
  std::string filterName;              // what draws now ("A + B" for several)
  double filterChangedAt = -1e300;     // steady seconds; the name shows for kOsdNameSeconds after
  bool help = false;                   // H
  bool info = false;                   // I
  double fps = 0;                      // frames per second achieved
  double targetFps = 60;               // the frame budget is 1 / targetFps
  std::vector<OsdDrawing> drawing;     // each running filter's drawing time
  std::string listening;               // the source a capture listens to, or empty
  std::vector<CaptureSource> sources;  // what a capture could listen to (help panel), monitors first
};

constexpr double kOsdNameSeconds = 2.0;
constexpr double kOsdFadeSeconds = 0.5;  // the last part of those, fading out

// Draws what the state shows at `now` over the picture; pixels outside
// width × height are never touched.
void drawOsd(const OsdState& state, double now, uint32_t* pixels, int width, int height, int stride);

// The font's scale (pixels per font pixel) for a picture of that size.
int osdScale(int width, int height);
// The help panel's lines and the info line, as drawn.
std::vector<std::string> osdHelpLines(const OsdState& state);
std::string osdInfoLine(const OsdState& state);

}  // namespace tw
