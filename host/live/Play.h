// `tidewave play`: the frame engine driven by the sound clock, into a window.
// The sound is decoded ahead on a thread of its own and plays on another
// (Playback); each frame is analysed at the sample heard now (PlayClock).
// Without a sound server the clock follows the wall clock; with
// frameClock, each frame moves on by one frame period, and the frames are
// render's. The window shows the frame through the outputs' scaler, fitted
// to its size, with the on-screen display over it.
#pragma once

#include "Render.h"
#include "engine/Catalog.h"
#include "engine/Frame.h"
#include "output/Scaler.h"

#include <optional>
#include <string>
#include <vector>

namespace tw {

struct PlayOptions {
  std::vector<const FilterInfo*> filters;  // drawn in this order into one frame
  const Catalog* catalog = nullptr;        // where N and P find the next filter
  HostDirs dirs;
  FrameGeometry geometry;
  bool modeGiven = false;  // false: a switch to a filter of the other mode changes mode
  double fps = 60;
  double start = 0;
  double seconds = -1;  // stop after this much sound; negative: at the end
  std::optional<float> persistence;
  SoundOpener sound;  // the music, unless capturing
  bool audio = true;  // false: no sound server, wall-clock pacing
  bool frameClock = false;
  std::string screenshot;  // PNG of the window's last picture, or empty
  // A sound server source to analyse live instead of `sound` (no seeking,
  // pictures at the wall clock's pace), or empty.
  std::string capture;
  std::string record;       // the analysis stream of the frames drawn (render's format), or empty
  bool fullscreen = false;  // open fullscreen (F toggles)
  int windowWidth = 0, windowHeight = 0;     // the window's first size; 0: the frame's
  ScaleFilter scale = ScaleFilter::Nearest;  // how the window scales the frame
};

struct PlayTiming {
  std::string name;
  long frames = 0;
  double meanMicros = 0;
  double worstMicros = 0;
};

struct PlayResult {
  long frames = 0;
  double soundSeconds = 0;  // sound played (pauses and seeks left out)
  bool audio = false;       // the sound went to a server
  std::string problem;      // the sound ended early or was damaged
  // Frame times that passed without a frame: a late frame skips the ones it
  // missed (pauses and seeks excepted).
  long dropped = 0;
  std::vector<PlayTiming> timings;  // each filter that ran, in order of first use
};

// False with a one-line reason (no display, a filter that refuses).
bool play(const PlayOptions& options, PlayResult* result, std::string* error);

}  // namespace tw
