#include "engine/SoundStream.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

namespace tw {
namespace {

// Samples the decoder asks its source for at a time.
constexpr int kBlock = 4096;

}  // namespace

SoundStream::SoundStream(std::unique_ptr<SoundSource> source, int64_t capacity)
    : source_(std::move(source)),
      rate_(source_->sampleRate()),
      lengthHint_(source_->lengthHint()),
      stereo_(source_->stereo()),
      name_(source_->name()),
      capacity_(std::max<int64_t>(capacity, 4 * kBlock)),
      left_(size_t(capacity_)),
      right_(size_t(capacity_)) {}

SoundStream::~SoundStream() { stop(); }

bool SoundStream::start(int64_t from, std::string* error) {
  from = std::max<int64_t>(from, 0);
  if (from > 0 && !source_->seek(from, error)) return false;
  lo_ = hi_ = keepFrom_ = from;
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "decoder");
    run();
  });
  return true;
}

bool SoundStream::seek(int64_t at, std::string* error) {
  at = std::max<int64_t>(at, 0);
  std::unique_lock lock(mutex_);
  ++generation_;
  seekTo_ = at;
  lo_ = hi_ = keepFrom_ = at;
  end_ = -1;
  problem_.clear();
  idle_ = false;
  changed_.notify_all();
  // The decoder carries the seek out; wait for its verdict.
  const uint64_t mine = generation_;
  changed_.wait(lock, [&] { return stopped_ || generation_ != mine || seekTo_ < 0; });
  if (generation_ != mine) return true;  // overtaken by a later seek
  if (stopped_ || !problem_.empty()) {
    *error = stopped_ ? "the sound stream was stopped" : problem_;
    return false;
  }
  return true;
}

void SoundStream::run() {
  std::vector<float> left(kBlock), right(kBlock);
  for (;;) {
    uint64_t generation;
    int64_t seekTo;
    {
      std::unique_lock lock(mutex_);
      auto hasRoom = [&] { return end_ < 0 && hi_ + kBlock - std::min(keepFrom_, hi_) <= capacity_; };
      if (!stopped_ && seekTo_ < 0 && !hasRoom()) {
        idle_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return stopped_ || seekTo_ >= 0 || hasRoom(); });
        idle_ = false;
      }
      if (stopped_) return;
      generation = generation_;
      seekTo = seekTo_;
    }
    if (seekTo >= 0) {
      std::string why;
      const bool ok = source_->seek(seekTo, &why);
      std::lock_guard lock(mutex_);
      if (generation != generation_) continue;
      seekTo_ = -1;
      if (!ok) {
        end_ = hi_;
        problem_ = why;
      }
      changed_.notify_all();
      continue;
    }
    const int n = source_->read(left.data(), right.data(), kBlock);
    std::lock_guard lock(mutex_);
    if (generation != generation_) continue;  // a seek came meanwhile: this block is stale
    if (n <= 0) {
      end_ = hi_;
      problem_ = source_->problem();
      changed_.notify_all();
      continue;
    }
    // Room was made only from released samples (hasRoom above).
    lo_ = std::max(lo_, hi_ + n - capacity_);
    for (int done = 0; done < n;) {
      const size_t at = size_t((hi_ + done) % capacity_);
      const int run = int(std::min<int64_t>(n - done, capacity_ - int64_t(at)));
      std::memcpy(&left_[at], &left[size_t(done)], size_t(run) * sizeof(float));
      std::memcpy(&right_[at], &right[size_t(done)], size_t(run) * sizeof(float));
      done += run;
    }
    hi_ += n;
    decoded_ += n;
    changed_.notify_all();
  }
}

bool SoundStream::available(int64_t to) const { return end_ >= 0 || hi_ >= to; }

bool SoundStream::read(int64_t from, int count, float* left, float* right) {
  std::unique_lock lock(mutex_);
  const uint64_t mine = generation_;
  const int64_t to = from + count;
  // A reader that asks further ahead than the window is sure to reach (the
  // decoder stops up to a block short of it) would wait for ever on a
  // decoder that may not drop what was not released.
  if (to - keepFrom_ > capacity_ - kBlock) {
    keepFrom_ = to - (capacity_ - kBlock);
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return stopped_ || generation_ != mine || available(to); });
  if (stopped_ || generation_ != mine) return false;
  copy(from, count, left, right);
  return true;
}

bool SoundStream::tryRead(int64_t from, int count, float* left, float* right) {
  std::lock_guard lock(mutex_);
  if (!available(from + count)) return false;
  copy(from, count, left, right);
  return true;
}

void SoundStream::copy(int64_t from, int count, float* left, float* right) const {
  const int64_t to = from + count;
  const int64_t hi = end_ >= 0 ? std::min(hi_, end_) : hi_;
  const int64_t a = std::clamp(std::max(from, lo_), from, to);
  const int64_t b = std::clamp(hi, a, to);
  std::fill(left, left + (a - from), 0.0f);
  std::fill(right, right + (a - from), 0.0f);
  for (int64_t i = a; i < b;) {
    const size_t at = size_t(i % capacity_);
    const int64_t run = std::min(b - i, capacity_ - int64_t(at));
    std::memcpy(left + (i - from), &left_[at], size_t(run) * sizeof(float));
    std::memcpy(right + (i - from), &right_[at], size_t(run) * sizeof(float));
    i += run;
  }
  std::fill(left + (b - from), left + count, 0.0f);
  std::fill(right + (b - from), right + count, 0.0f);
}

void SoundStream::release(int64_t before) {
  std::lock_guard lock(mutex_);
  if (before <= keepFrom_) return;
  keepFrom_ = before;
  changed_.notify_all();
}

int64_t SoundStream::end() const {
  std::lock_guard lock(mutex_);
  return end_;
}

int64_t SoundStream::waitFor(int64_t at) {
  std::unique_lock lock(mutex_);
  const uint64_t mine = generation_;
  if (at + 1 - keepFrom_ > capacity_ - kBlock) {
    keepFrom_ = at + 1 - (capacity_ - kBlock);
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return stopped_ || generation_ != mine || available(at + 1); });
  return end_ >= 0 && at >= end_ ? end_ : -1;
}

std::string SoundStream::problem() const {
  std::lock_guard lock(mutex_);
  return problem_;
}

void SoundStream::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

int64_t SoundStream::decoded() const {
  std::lock_guard lock(mutex_);
  return decoded_;
}

void SoundStream::waitIdle() const {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopped_ || end_ >= 0 || idle_; });
}

}  // namespace tw
