// When a visualiser element draws: exactly one frame per frame time of the
// negotiated rate, whatever the size of the audio buffers that arrive, each
// analysed as `tidewave render` analyses it.
//
// Samples are kept by absolute position in the stream (sample s lies at time
// s / rate on the buffers' time axis). Frame n lies at time n / fps; its
// analysis is centred on sample round(n × rate / fps) and reads samples
// [centre − before, centre + after). A frame is due once those samples are in,
// or, after finish(), for every frame whose time lies before the stream's end
// (what has not come is silence). Samples before the stream's first one, and
// in gaps between buffers, are silence too.
//
// Memory is bounded by the analysis' reach, whatever the buffers' size:
// write() takes what fits and the caller draws the due frames before it
// writes the rest.
#pragma once

#include "engine/Analysis.h"

#include <cstdint>
#include <vector>

namespace tw::gst {

class FrameCadence {
 public:
  struct Rates {
    int sampleRate = 44100;
    int fpsN = 60;  // frames per second, fpsN / fpsD
    int fpsD = 1;
  };

  // `before` and `after`: the analysis' reach around its centre (Analyzer).
  FrameCadence(Rates rates, int before, int after);

  // Forgets the stream: the next write must follow start().
  void restart();
  bool started() const { return started_; }
  // The stream's first sample lies at `at`; frames are drawn from the first
  // whose time is at or after sample position `from`.
  void start(int64_t at, int64_t from);
  // Changes the frame rate mid-stream: the next frame is the first of the new
  // rate whose time is at or after that of the next frame of the old one.
  void setFrameRate(int fpsN, int fpsD);
  const Rates& rates() const { return rates_; }

  // The position the next sample is expected at.
  int64_t end() const { return end_; }
  // Samples [at, at + count): those before end() are dropped (already
  // heard), a gap after end() is silence. Returns how many of them were
  // taken; fewer than `count` when storage is full: draw the due frames, then
  // write the rest. Null `left` and `right` write silence.
  int write(int64_t at, const float* left, const float* right, int count);
  // The end of the stream: every frame whose time lies before end() is due.
  void finish() { finished_ = true; }
  bool finished() const { return finished_; }

  struct Due {
    int64_t index = 0;   // frame n, the frame counter
    int64_t centre = 0;  // the analysis' centre sample
    SampleWindow window;
  };
  // The next frame, when it is due.
  bool due(Due* out) const;
  // The due frame was drawn (or dropped): on to the next.
  void advance();
  int64_t next() const { return next_; }

  // Frame n's centre sample, round(n × rate × fpsD / fpsN).
  int64_t centreOf(int64_t n) const;
  // The first frame at or after sample position `at`.
  int64_t firstFrameAt(int64_t at) const;
  // Whether frame n's time lies before sample position `end`.
  bool frameBefore(int64_t n, int64_t end) const;

 private:
  void discardBefore(int64_t at);

  Rates rates_;
  int before_, after_;
  bool started_ = false;
  bool finished_ = false;
  int64_t next_ = 0;
  int64_t end_ = 0;        // next position expected
  int64_t keepFrom_ = 0;   // the oldest sample a coming frame reads
  int64_t storeFrom_ = 0;  // samples [storeFrom_, end_) are stored
  int64_t base_ = 0;       // position of storage index 0
  std::vector<float> left_, right_;
};

}  // namespace tw::gst
