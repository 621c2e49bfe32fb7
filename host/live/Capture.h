// Live sound for `tidewave play --capture`: a thread records from a sound
// server source (by default what the default output plays, its monitor) into
// a ring of recent samples, from which each frame takes the newest.
#pragma once

#include "engine/Sound.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct pa_simple;

namespace tw {

// The newest samples of a stream, two channels, written by one thread and
// read by another.
class SampleRing {
 public:
  explicit SampleRing(int capacity);
  // Appends `frames` interleaved left/right 16-bit pairs.
  void push(const int16_t* interleaved, int frames);
  // The newest `count` samples (at most the capacity) into out->left and
  // out->right, oldest first; silence where nothing was recorded yet.
  void latest(int count, Sound* out) const;
  int64_t written() const;

 private:
  mutable std::mutex mutex_;
  std::vector<float> left_, right_;
  int64_t written_ = 0;
};

class Capture {
 public:
  static constexpr const char* kDefaultSource = "@DEFAULT_MONITOR@";
  ~Capture();
  // Connects to the server's source at `sampleRate`; null with the reason.
  static std::unique_ptr<Capture> open(const std::string& source, int sampleRate, std::string* error);
  void start();
  void stop();
  const SampleRing& ring() const { return ring_; }
  // True once the server stopped giving sound (it went away).
  bool failed() const { return failed_; }

 private:
  explicit Capture(pa_simple* stream) : stream_(stream), ring_(8192) {}
  pa_simple* stream_;
  SampleRing ring_;
  std::atomic<bool> stop_{false}, failed_{false};
  std::thread thread_;
};

}  // namespace tw
