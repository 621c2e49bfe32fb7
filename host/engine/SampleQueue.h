// Music handed from the thread that decodes it to the thread that writes it
// out (the sound of a video): 16-bit stereo, interleaved, through a bounded
// buffer. The writer waits while the buffer is full, the reader while it is
// empty; close() ends the stream after what is queued, cancel() at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tw {

class SampleQueue {
 public:
  // `capacity`: stereo samples the buffer holds.
  SampleQueue(int sampleRate, int capacity);
  SampleQueue(const SampleQueue&) = delete;
  SampleQueue& operator=(const SampleQueue&) = delete;

  int sampleRate() const { return rate_; }

  // The writer's side. Appends `count` samples (float, 16-bit range; clamped
  // and rounded). Waits for room; false once the reader cancelled.
  bool push(const float* left, const float* right, int count);
  // No more samples will come.
  void close();

  // The reader's side. Up to `most` stereo samples, interleaved, into `out`;
  // waits for at least one. Returns how many; 0 once closed and drained, or
  // cancelled.
  int pop(int16_t* out, int most);
  // The reader gives up: the writer stops waiting and its pushes fail.
  void cancel();

  // Stereo samples pushed so far.
  int64_t pushed() const;

 private:
  const int rate_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int16_t> ring_;  // interleaved pairs
  size_t capacity_;            // in pairs
  size_t head_ = 0;            // next pair to read
  size_t size_ = 0;            // pairs queued
  int64_t pushed_ = 0;
  bool closed_ = false;
  bool cancelled_ = false;
};

}  // namespace tw
