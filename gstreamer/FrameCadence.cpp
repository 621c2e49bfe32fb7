#include "FrameCadence.h"

#include <algorithm>
#include <cstring>

namespace tw::gst {
namespace {

using Wide = __int128;

// Room for two analyses' reach and a block of input: whatever is due is
// drawn before storage is needed again.
constexpr int kSlack = 8192;

}  // namespace

FrameCadence::FrameCadence(Rates rates, int before, int after)
    : rates_(rates),
      before_(before),
      after_(after),
      left_(size_t(2 * (before + after) + kSlack)),
      right_(left_.size()) {}

void FrameCadence::restart() {
  started_ = finished_ = false;
  next_ = end_ = keepFrom_ = storeFrom_ = base_ = 0;
}

int64_t FrameCadence::centreOf(int64_t n) const {
  // Halves round up, as llround does for the non-negative times of render.
  const Wide num = Wide(2) * n * rates_.sampleRate * rates_.fpsD + rates_.fpsN;
  const Wide den = Wide(2) * rates_.fpsN;
  const Wide q = num / den;
  return int64_t(num % den < 0 ? q - 1 : q);
}

int64_t FrameCadence::firstFrameAt(int64_t at) const {
  if (at <= 0) return 0;
  const Wide num = Wide(at) * rates_.fpsN;
  const Wide den = Wide(rates_.sampleRate) * rates_.fpsD;
  return int64_t((num + den - 1) / den);
}

bool FrameCadence::frameBefore(int64_t n, int64_t end) const {
  return Wide(n) * rates_.sampleRate * rates_.fpsD < Wide(end) * rates_.fpsN;
}

void FrameCadence::start(int64_t at, int64_t from) {
  restart();
  started_ = true;
  next_ = firstFrameAt(std::max(at, from));
  end_ = storeFrom_ = base_ = at;
  keepFrom_ = centreOf(next_) - before_;
}

void FrameCadence::setFrameRate(int fpsN, int fpsD) {
  if (fpsN == rates_.fpsN && fpsD == rates_.fpsD) return;
  // The next frame's time as a sample position, rounded up so that no frame
  // time is drawn twice.
  const Wide num = Wide(next_) * rates_.sampleRate * rates_.fpsD;
  const int64_t at = int64_t((num + rates_.fpsN - 1) / rates_.fpsN);
  rates_.fpsN = fpsN;
  rates_.fpsD = fpsD;
  if (!started_) return;
  next_ = firstFrameAt(at);
  keepFrom_ = centreOf(next_) - before_;
  discardBefore(keepFrom_);
}

void FrameCadence::discardBefore(int64_t at) { storeFrom_ = std::clamp(at, storeFrom_, end_); }

int FrameCadence::write(int64_t at, const float* left, const float* right, int count) {
  if (!started_ || count <= 0) return 0;
  int taken = 0;
  // What lies before the end was heard already.
  if (at < end_) {
    const int64_t skip = std::min<int64_t>(end_ - at, count);
    taken += int(skip);
    at += skip;
    if (taken == count) return taken;
  }
  const int capacity = int(left_.size());
  // A gap: silence from the end to `at`, then the samples. Positions no
  // frame will read are counted but not stored.
  auto place = [&](const float* l, const float* r, int64_t from, int64_t n) -> int64_t {
    // from == end_ here.
    const int64_t unneeded = std::clamp<int64_t>(keepFrom_ - from, 0, n);
    if (unneeded > 0) {
      end_ = from + unneeded;
      storeFrom_ = base_ = end_;
    }
    int64_t stored = 0;
    const int64_t want = n - unneeded;
    if (want > 0) {
      if (end_ - base_ + want > capacity && storeFrom_ > base_) {
        const size_t kept = size_t(end_ - storeFrom_);
        std::memmove(left_.data(), left_.data() + (storeFrom_ - base_), kept * sizeof(float));
        std::memmove(right_.data(), right_.data() + (storeFrom_ - base_), kept * sizeof(float));
        base_ = storeFrom_;
      }
      stored = std::min<int64_t>(want, capacity - (end_ - base_));
      const size_t to = size_t(end_ - base_);
      if (l != nullptr) {
        std::memcpy(left_.data() + to, l + unneeded, size_t(stored) * sizeof(float));
        std::memcpy(right_.data() + to, r + unneeded, size_t(stored) * sizeof(float));
      } else {
        std::fill_n(left_.data() + to, stored, 0.0f);
        std::fill_n(right_.data() + to, stored, 0.0f);
      }
      end_ += stored;
    }
    return unneeded + stored;
  };
  if (at > end_) {
    const int64_t gap = at - end_;
    if (place(nullptr, nullptr, end_, gap) < gap) return taken;
  }
  const bool silent = left == nullptr || right == nullptr;
  taken += int(place(silent ? nullptr : left + taken, silent ? nullptr : right + taken, end_, count - taken));
  return taken;
}

bool FrameCadence::due(Due* out) const {
  if (!started_) return false;
  const int64_t centre = centreOf(next_);
  if (finished_) {
    if (!frameBefore(next_, end_)) return false;
  } else if (end_ < centre + after_) {
    return false;
  }
  out->index = next_;
  out->centre = centre;
  const float* l = left_.data() + (storeFrom_ - base_);
  const float* r = right_.data() + (storeFrom_ - base_);
  out->window = SampleWindow{l, r, storeFrom_, end_ - storeFrom_, finished_ ? end_ : -1};
  return true;
}

void FrameCadence::advance() {
  ++next_;
  keepFrom_ = centreOf(next_) - before_;
  discardBefore(keepFrom_);
}

}  // namespace tw::gst
