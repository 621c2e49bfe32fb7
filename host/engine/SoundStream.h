// A piece decoded ahead of its readers, on a thread of its own ("decoder"),
// into a bounded window of samples: readers ask for stretches by sample
// index and wait until they are decoded. Memory follows the window's
// capacity, never the length of the piece.
//
// The decoder runs ahead until the window is full. Samples before the
// reader's mark (release()) may be dropped to make room; nothing later is
// ever dropped, so a reader that stops reading stops the decoder.
#pragma once

#include "engine/SoundSource.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tw {

class SoundStream {
 public:
  // `capacity`: samples per channel the window holds (at least a few
  // analyses' worth; see kDefaultSeconds).
  SoundStream(std::unique_ptr<SoundSource> source, int64_t capacity);
  ~SoundStream();
  SoundStream(const SoundStream&) = delete;
  SoundStream& operator=(const SoundStream&) = delete;

  static constexpr double kDefaultSeconds = 2.0;
  static int64_t defaultCapacity(int sampleRate) { return int64_t(kDefaultSeconds * sampleRate) + 8192; }

  int sampleRate() const { return rate_; }
  int64_t lengthHint() const { return lengthHint_; }
  bool stereo() const { return stereo_; }
  const std::string& name() const { return name_; }
  int64_t capacity() const { return capacity_; }

  // Starts decoding at sample `from` (clamped to 0). False with a reason when
  // the source cannot get there.
  bool start(int64_t from, std::string* error);
  // Drops what is decoded and decodes on from `at` (a seek while playing).
  // False with a reason when the source cannot seek there (the stream then
  // ends).
  bool seek(int64_t at, std::string* error);

  // Copies samples [from, from + count) into left[] and right[], waiting
  // until they are decoded or the piece has ended; samples before 0, past
  // the end, or already dropped read as silence. Returns false only when the
  // stream was stopped or moved by seek() while waiting.
  bool read(int64_t from, int count, float* left, float* right);
  // As read(), but does not wait: true when the whole stretch was there (or
  // lies past the end).
  bool tryRead(int64_t from, int count, float* left, float* right);
  // Samples before `before` are no longer needed.
  void release(int64_t before);

  // The end of the piece (its length in samples) once the decoder reached
  // it; -1 until then.
  int64_t end() const;
  // Waits until sample `at` is decoded or the end is known. The end when the
  // piece ends at or before `at`, else -1 (also when the stream stopped).
  int64_t waitFor(int64_t at);
  // One line when decoding stopped early or skipped damage; empty otherwise.
  std::string problem() const;

  // Stops the decoder; waiting readers return false.
  void stop();

  // Samples decoded in all (tests: the read-ahead stays within capacity).
  int64_t decoded() const;
  // Waits until the decoder has nothing to do: the window is full with
  // nothing released, the piece ended, or the stream stopped.
  void waitIdle() const;

 private:
  void run();
  // Under the lock:
  bool available(int64_t to) const;
  void copy(int64_t from, int count, float* left, float* right) const;

  std::unique_ptr<SoundSource> source_;
  const int rate_;
  const int64_t lengthHint_;
  const bool stereo_;
  const std::string name_;
  const int64_t capacity_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<float> left_, right_;  // ring: sample i at i % capacity_
  int64_t lo_ = 0;                   // oldest sample held
  int64_t hi_ = 0;                   // next sample to decode
  int64_t keepFrom_ = 0;             // readers still need samples from here on
  int64_t end_ = -1;
  int64_t decoded_ = 0;
  int64_t seekTo_ = -1;  // a seek for the decoder to carry out
  uint64_t generation_ = 0;
  bool idle_ = false;
  bool stopped_ = false;
  std::string problem_;
  std::thread thread_;
};

}  // namespace tw
