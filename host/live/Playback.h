// The sound's way to the speakers: a thread of its own that writes the
// samples the clock hands it to the sound server (PulseAudio, simple API) and
// reports back how far playback has got.
#pragma once

#include "engine/SoundStream.h"
#include "live/PlayClock.h"

#include <memory>
#include <string>
#include <thread>

struct pa_simple;

namespace tw {

// Seconds on the steady clock, the time base of PlayClock.
double steadySeconds();

class Playback {
 public:
  ~Playback();
  // Connects to the sound server; null with the server's reason when there is
  // none. Nothing plays before start().
  static std::unique_ptr<Playback> open(SoundStream& sound, std::string* error);
  // Starts the thread; it runs until the clock is stopped.
  void start(PlayClock* clock);
  // Stops the clock and waits for the thread.
  void stop();

 private:
  Playback(SoundStream& sound, pa_simple* stream) : sound_(sound), stream_(stream) {}
  void run();

  SoundStream& sound_;
  pa_simple* stream_;
  PlayClock* clock_ = nullptr;
  std::thread thread_;
};

}  // namespace tw
