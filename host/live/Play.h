// `tidewave play`: the filters live in a window, over the sound as it is
// heard. The sound plays on a thread of its own (Playback) and the frames
// follow what has actually been played (PlayClock); without a sound server
// they follow the wall clock.
#pragma once

#include "engine/Catalog.h"
#include "engine/Frame.h"
#include "engine/Sound.h"

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
  const Sound* sound = nullptr;
  bool audio = true;  // false: no sound server, wall-clock pacing
  // Each frame moves the position on by one frame period, as fast as the
  // frames are drawn, without sound: the frames render draws (tests, captures).
  bool frameClock = false;
  std::string screenshot;  // PNG of the window's last picture, or empty
  // A sound server source to analyse live instead of `sound` (no seeking,
  // pictures at the wall clock's pace), or empty.
  std::string capture;
  std::string record;       // the analysis stream of the frames drawn (render's format), or empty
  bool fullscreen = false;  // open fullscreen (F toggles)
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
  // Frame times that passed without a frame: a late frame skips the ones it
  // missed (pauses and seeks excepted).
  long dropped = 0;
  std::vector<PlayTiming> timings;  // each filter that ran, in order of first use
};

// False with a one-line reason (no display, a filter that refuses).
bool play(const PlayOptions& options, PlayResult* result, std::string* error);

}  // namespace tw
