// The frame step every front-end drives: the running filters, the frame they
// draw into, the fade from one frame to the next, and each filter's drawing
// time. A front-end only says when a frame is due (render: the frame
// counter, play: the sound clock, a GStreamer element: buffer timestamps),
// with which sound, and where the frame goes.
//
// All calls come from one thread, the drawing thread of the contract.
#pragma once

#include "engine/Analysis.h"
#include "engine/Catalog.h"
#include "engine/Fade.h"
#include "engine/FilterSet.h"
#include "engine/Frame.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tw {

struct FilterTiming {
  std::string name;
  long frames = 0;
  double meanMicros = 0;
  double worstMicros = 0;
};

class FrameEngine {
 public:
  FrameEngine() = default;
  ~FrameEngine() { stop(); }
  FrameEngine(const FrameEngine&) = delete;
  FrameEngine& operator=(const FrameEngine&) = delete;

  // Ends what runs, then starts `filters` (drawn in this order into one
  // frame) for frames of geometry `g` (pixelMode may be kFirstFiltersMode),
  // in the contract's order: directories,
  // load, geometry and palettes, prepare. The fade keeps the first filter's
  // hostFactor of each frame unless `persistence` says otherwise. The frame
  // starts black. False with a one-line reason, nothing left running, when a
  // filter does not draw in the mode or refuses.
  bool start(const std::vector<const FilterInfo*>& filters, const HostDirs& dirs, const FrameGeometry& g,
             std::optional<float> persistence, std::string* error);
  // Terminates, unloads and deletes the filters (each stage over all of them
  // before the next).
  void stop();
  bool running() const { return !filters_.empty(); }

  // One frame: the previous picture faded, the record filled from `sound`
  // with `frameCount`, then every filter in order, each timed.
  void draw(const SoundFrame& sound, int32 frameCount);
  // A frame left out (one a player would show too late): the picture fades
  // as if it had been drawn, so that the frames after it keep their place in
  // the fade's sequence.
  void skip();

  Frame& frame() { return *frame_; }
  const Frame& frame() const { return *frame_; }
  const FrameGeometry& geometry() const { return frame_->geometry(); }
  const uint32* palette32() const;
  // The filters of the last start, and their drawing times since (kept
  // after stop, for the report).
  const std::vector<const FilterInfo*>& filters() const { return infos_; }
  std::vector<FilterTiming> timings() const;

 private:
  FilterSet filters_;
  std::vector<const FilterInfo*> infos_;
  std::unique_ptr<Frame> frame_ = std::make_unique<Frame>();
  std::unique_ptr<Fade> fade_;
  std::vector<double> total_, worst_;
  long frames_ = 0;
};

}  // namespace tw
