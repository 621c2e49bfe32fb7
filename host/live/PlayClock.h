// Where in the sound a live run is: the sample the listener hears now. The
// audio thread advances it from what the sound server has actually played
// (samples written less the stream's latency); without audio it follows the
// wall clock. The drawing thread reads it, seeks and pauses. Times are
// seconds on one steady clock, passed in so that the arithmetic is testable.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tw {

class PlayClock {
 public:
  // Plays samples [start, end) of a sound at `sampleRate`. `audioDriven`:
  // the position moves only as the audio thread reports playback.
  PlayClock(int sampleRate, int64_t start, int64_t end, bool audioDriven);

  int sampleRate() const { return rate_; }
  int64_t end() const;
  // The end, once known (a stream whose length was not told beforehand).
  void setEnd(int64_t end);

  // The drawing thread's side.
  // The sample heard at time `now`: the last report, carried forward by the
  // time since (so frames move smoothly between the audio thread's writes),
  // never past what has been handed to the audio thread, never backwards
  // except by a seek.
  int64_t position(double now);
  bool paused() const;
  // Pausing freezes the position; resuming plays on from it. The audio
  // thread drops what the server still holds (see Chunk::flush).
  void setPaused(bool paused, double now);
  // Jumps to `sample` (clamped to the sound) and plays on from there.
  void seek(int64_t sample, double now);
  // Wakes the audio thread for good.
  void stop();

  // The audio thread's side.
  struct Chunk {
    int64_t first = 0;
    int count = 0;
    bool flush = false;  // a seek or pause came since the last chunk: drop the server's buffer first
    uint64_t generation = 0;
  };
  // The next samples to write, at most `most`. Waits while paused or at the
  // end; false once stopped.
  bool next(int most, Chunk* out);
  // After writing `chunk`: the server still holds `latency` samples of it and
  // earlier ones. Ignored when a seek or pause came in the meantime.
  void played(const Chunk& chunk, int64_t latency, double now);

 private:
  int64_t carried(double now) const;  // under the lock

  const int rate_;
  const int64_t start_;
  int64_t end_;
  const bool audioDriven_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  int64_t anchor_;          // sample heard at anchorTime_
  double anchorTime_ = -1;  // < 0: not started (the position stays at anchor_)
  int64_t cursor_;          // next sample for the audio thread
  int64_t lastReported_;    // keeps position() from stepping back
  uint64_t generation_ = 0;
  uint64_t handedOut_ = 0;  // generation of the last chunk handed out
  bool paused_ = false;
  bool stopped_ = false;
};

}  // namespace tw
