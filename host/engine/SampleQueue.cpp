#include "engine/SampleQueue.h"

#include <algorithm>
#include <cmath>

namespace tw {
namespace {

int16_t toShort(float v) { return int16_t(std::lrint(std::clamp(v, -32768.0f, 32767.0f))); }

}  // namespace

SampleQueue::SampleQueue(int sampleRate, int capacity)
    : rate_(sampleRate), ring_(size_t(std::max(capacity, 1)) * 2), capacity_(size_t(std::max(capacity, 1))) {}

bool SampleQueue::push(const float* left, const float* right, int count) {
  int done = 0;
  std::unique_lock lock(mutex_);
  while (done < count) {
    changed_.wait(lock, [&] { return cancelled_ || size_ < capacity_; });
    if (cancelled_) return false;
    const size_t room = capacity_ - size_;
    const size_t n = std::min(room, size_t(count - done));
    for (size_t i = 0; i < n; ++i) {
      const size_t at = (head_ + size_ + i) % capacity_;
      ring_[2 * at] = toShort(left[size_t(done) + i]);
      ring_[2 * at + 1] = toShort(right[size_t(done) + i]);
    }
    size_ += n;
    pushed_ += int64_t(n);
    done += int(n);
    changed_.notify_all();
  }
  return true;
}

void SampleQueue::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

int SampleQueue::pop(int16_t* out, int most) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return cancelled_ || closed_ || size_ > 0; });
  if (cancelled_) return 0;
  const size_t n = std::min(size_, size_t(std::max(most, 0)));
  for (size_t i = 0; i < n; ++i) {
    const size_t at = (head_ + i) % capacity_;
    out[2 * i] = ring_[2 * at];
    out[2 * i + 1] = ring_[2 * at + 1];
  }
  head_ = (head_ + n) % capacity_;
  size_ -= n;
  changed_.notify_all();
  return int(n);
}

void SampleQueue::cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  changed_.notify_all();
}

int64_t SampleQueue::pushed() const {
  std::lock_guard lock(mutex_);
  return pushed_;
}

}  // namespace tw
