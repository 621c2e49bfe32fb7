// `tidewave render`: the frame engine driven by the frame counter. Frame n is
// analysed at n / fps seconds after --start, drawn, and handed to a sink;
// the sound is decoded and analysed ahead on threads of their own.
#pragma once

#include "engine/Catalog.h"
#include "engine/FrameEngine.h"
#include "engine/SoundSource.h"
#include "output/Image.h"
#include "output/Scaler.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tw {

// How fast frames are drawn. A filter with a thread of its own running (a
// picture loader) works on the wall clock; drawn faster than real time, its
// pictures would lag the music, so Auto draws at real-time pace while such a
// thread runs.
enum class Pace { Auto, RealTime, Fast };

// Opens the music of a render (each render opens its own).
using SoundOpener = std::function<std::unique_ptr<SoundSource>(std::string* error)>;

struct RenderOptions {
  std::vector<const FilterInfo*> filters;  // drawn in this order into one frame
  HostDirs dirs;
  FrameGeometry geometry;
  double fps = 60;
  double start = 0;                  // seconds into the sound (or the recording)
  double seconds = -1;               // negative: to the end
  std::optional<float> persistence;  // overrides the first filter's hostFactor
  std::string output = "null";
  // The output's picture: its size (0: the frame's) and how the frame fits
  // it; the contact sheet's tiles take the same shape.
  int videoWidth = 0, videoHeight = 0;
  Fit fit = Fit::Contain;
  ScaleFilter scale = ScaleFilter::Nearest;
  std::string sheet;   // contact-sheet PNG, or empty
  std::string record;  // analysis stream to write, or empty
  std::string replay;  // analysis stream to draw from instead of sound
  SoundOpener sound;   // the music, unless replaying
  bool progress = false;  // a progress bar on stderr
  // Seconds to wait after prepare before the first frame, for filters whose
  // loader threads fill pictures in (Tessary, Img Radezu).
  double warmUp = 0;
  // When a filter has a thread running after prepare: further seconds to
  // wait, and the least stretch to draw (within the sound).
  double backgroundWarmUp = 0;
  double backgroundSeconds = 0;
  Pace pace = Pace::Auto;
  // Points of the render (0 first frame … 1 last) whose frames come back as
  // pictures.
  std::vector<double> keepAt;
};

struct RenderResult {
  long frames = 0;
  double wallSeconds = 0;
  std::vector<FilterTiming> timings;
  bool realTime = false;        // some frames were drawn at real-time pace
  bool background = false;      // a filter had a thread running after prepare
  std::string wrote;            // what the sink wrote
  std::string problem;          // the sound ended early or was damaged (the frames drawn stand)
  std::vector<SheetTile> kept;  // the frames of RenderOptions::keepAt, labelled with their time
};

// False with a one-line reason; nothing half-written is left behind.
bool render(const RenderOptions& options, RenderResult* result, std::string* error);

}  // namespace tw
