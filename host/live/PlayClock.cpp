#include "live/PlayClock.h"

#include <algorithm>
#include <cmath>

namespace tw {
namespace {

// A report this far from the clock is followed at once; closer ones by
// kFollow of the difference.
constexpr double kSnapSeconds = 0.05;
constexpr double kFollow = 0.1;

}  // namespace

PlayClock::PlayClock(int sampleRate, int64_t start, int64_t end, bool audioDriven)
    : rate_(sampleRate > 0 ? sampleRate : 1),
      start_(start),
      end_(std::max(start, end)),
      audioDriven_(audioDriven),
      anchor_(start),
      cursor_(start),
      lastReported_(start) {}

int64_t PlayClock::carried(double now) const {
  if (paused_ || anchorTime_ < 0) return anchor_;
  int64_t p = anchor_ + int64_t(std::floor(std::max(0.0, now - anchorTime_) * rate_));
  // Never ahead of what the audio thread was given: the listener cannot hear it yet.
  if (audioDriven_) p = std::min(p, cursor_);
  return std::min(p, end_);
}

int64_t PlayClock::position(double now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!audioDriven_ && anchorTime_ < 0 && !paused_) anchorTime_ = now;
  lastReported_ = std::max(lastReported_, carried(now));
  return lastReported_;
}

int64_t PlayClock::end() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return end_;
}

void PlayClock::setEnd(int64_t end) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    end_ = std::max(start_, end);
    cursor_ = std::min(cursor_, end_);
    anchor_ = std::min(anchor_, end_);
  }
  wake_.notify_all();
}

bool PlayClock::paused() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return paused_;
}

void PlayClock::setPaused(bool paused, double now) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (paused == paused_) return;
    if (paused) {
      anchor_ = std::max(lastReported_, carried(now));
      cursor_ = anchor_;  // resume plays on from what was heard, not from what was buffered
      lastReported_ = anchor_;
      ++generation_;
    }
    paused_ = paused;
    anchorTime_ = (paused || audioDriven_) ? -1 : now;
  }
  wake_.notify_all();
}

void PlayClock::seek(int64_t sample, double now) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sample = std::clamp(sample, start_, end_);
    anchor_ = cursor_ = lastReported_ = sample;
    anchorTime_ = (paused_ || audioDriven_) ? -1 : now;
    ++generation_;
  }
  wake_.notify_all();
}

void PlayClock::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  wake_.notify_all();
}

bool PlayClock::next(int most, Chunk* out) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [&] { return stopped_ || (!paused_ && cursor_ < end_); });
  if (stopped_) return false;
  out->first = cursor_;
  out->count = int(std::min<int64_t>(std::max(most, 1), end_ - cursor_));
  out->flush = handedOut_ != generation_;
  out->generation = generation_;
  handedOut_ = generation_;
  cursor_ += out->count;
  return true;
}

void PlayClock::played(const Chunk& chunk, int64_t latency, double now) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (chunk.generation != generation_ || paused_) return;
  const int64_t heard = std::clamp(chunk.first + chunk.count - std::max<int64_t>(latency, 0), start_, end_);
  // The server's latency figure jitters by milliseconds from one report to
  // the next; followed as it is, the position stalls and jumps, and a jump
  // past a frame's time skips that frame. Small errors are taken a tenth of
  // the way per report, so the clock runs at the wall clock's even pace and
  // still converges on the server; a large one (the first report, a stall, an
  // underrun) is followed at once, and so is the end of the sound.
  const double predicted = double(anchor_) + std::max(0.0, now - anchorTime_) * rate_;
  const double error = double(heard) - predicted;
  const bool snap = anchorTime_ < 0 || heard >= end_ || std::fabs(error) > kSnapSeconds * rate_;
  anchor_ = snap ? heard : std::clamp(int64_t(std::llround(predicted + kFollow * error)), start_, end_);
  anchorTime_ = now;
}

}  // namespace tw
