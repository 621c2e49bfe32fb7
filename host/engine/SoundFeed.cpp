#include "engine/SoundFeed.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>

namespace tw {

long frameCountFor(double seconds, double fps) {
  return seconds <= 0 ? 0 : long(std::ceil(seconds * fps - 1e-9));
}

namespace {

int64_t centreOf(int64_t first, long n, double fps, int rate) {
  return first + int64_t(std::llround(double(n) / fps * rate));
}

// The least length of the piece (in samples) for which frame n is drawn.
int64_t lengthFor(long n, double start, double fps, int rate) {
  auto frames = [&](int64_t length) { return frameCountFor(double(length) / rate - start, fps); };
  int64_t e = int64_t(std::floor((double(n) / fps + start) * rate)) + 1;
  while (e > 1 && frames(e - 1) > n) --e;
  while (frames(e) <= n) ++e;
  return e;
}

constexpr int kTeeBlock = 4096;

}  // namespace

AnalysisFeed::AnalysisFeed(SoundStream& stream, const Options& options)
    : stream_(stream),
      o_(options),
      rate_(stream.sampleRate()),
      first_(int64_t(std::llround(options.start * stream.sampleRate()))),
      analyzer_(stream.sampleRate()),
      slots_(size_t(std::max(options.depth, 2))),
      batch_(std::max(1L, long(slots_.size()) / 4)),
      left_(size_t(analyzer_.before() + analyzer_.after())),
      right_(left_.size()),
      teed_(first_) {}

AnalysisFeed::~AnalysisFeed() { stop(); }

int64_t AnalysisFeed::firstNeeded(int sampleRate, const Options& o) {
  Analyzer a(sampleRate);
  return std::max<int64_t>(0, int64_t(std::llround(o.start * sampleRate)) - a.before());
}

void AnalysisFeed::start() {
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "analysis");
    run();
  });
}

void AnalysisFeed::stop() {
  bool finished;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    finished = finished_;
    ready_.notify_all();
    freed_.notify_all();
  }
  // A writer of the video's music that nobody reads any more must not hold
  // the thread.
  if (o_.audio && !finished) o_.audio->cancel();
  if (thread_.joinable()) thread_.join();
}

bool AnalysisFeed::tee(int64_t upTo) {
  float left[kTeeBlock], right[kTeeBlock];
  while (teed_ < upTo) {
    const int n = int(std::min<int64_t>(upTo - teed_, kTeeBlock));
    if (!stream_.read(teed_, n, left, right) || !o_.audio->push(left, right, n)) return false;
    teed_ += n;
  }
  return true;
}

void AnalysisFeed::run() {
  const int before = analyzer_.before(), span = int(left_.size());
  const int64_t audioEnd = o_.frames >= 0 ? centreOf(first_, o_.frames, o_.fps, rate_) : -1;
  bool teeing = o_.audio != nullptr;
  long n = 0;
  for (;; ++n) {
    if (o_.frames >= 0 && n >= o_.frames) break;
    // Frame n exists when the piece is long enough for it.
    const int64_t end = stream_.waitFor(lengthFor(n, o_.start, o_.fps, rate_) - 1);
    if (end >= 0 && n >= frameCountFor(double(end) / rate_ - o_.start, o_.fps)) break;
    {
      // Full: wait until the drawer has freed half the slots, so that the
      // two threads wake each other once per batch, not once per frame.
      std::unique_lock lock(mutex_);
      const long depth = long(slots_.size());
      if (!stopped_ && produced_ - std::max(taken_ - 1, 0L) >= depth) {
        producerWaiting_ = true;
        freed_.wait(lock, [&] { return stopped_ || produced_ - std::max(taken_ - 1, 0L) <= depth / 2; });
        producerWaiting_ = false;
      }
      if (stopped_) return;
    }
    const int64_t centre = centreOf(first_, n, o_.fps, rate_);
    if (!stream_.read(centre - before, span, left_.data(), right_.data())) break;
    SoundFrame& slot = slots_[size_t(n) % slots_.size()];
    analyzer_.analyse(SampleWindow{left_.data(), right_.data(), centre - before, span, -1}, centre, &slot);
    if (teeing) teeing = tee(audioEnd >= 0 ? std::min(centre, audioEnd) : centre);
    stream_.release(centre - before);
    std::lock_guard lock(mutex_);
    ++produced_;
    // While the music is teed, the tee may wait on the video's writer, which
    // may wait on this very frame: no batching then.
    if (consumerWaiting_ && (teeing || produced_ - taken_ >= batch_)) ready_.notify_one();
  }
  // The video's music lasts as long as its frames: what the piece lacks of
  // it is silence.
  if (teeing) tee(centreOf(first_, n, o_.fps, rate_));
  std::lock_guard lock(mutex_);
  finished_ = true;
  if (o_.audio) o_.audio->close();
  problem_ = stream_.problem();
  ready_.notify_all();
}

const SoundFrame* AnalysisFeed::next() {
  std::unique_lock lock(mutex_);
  if (produced_ <= taken_ && !stopped_ && !finished_) {
    // Empty: wait for a batch (or the end), as the analysis waits for room.
    consumerWaiting_ = true;
    ready_.wait(lock, [&] { return stopped_ || finished_ || produced_ - taken_ >= (o_.audio ? 1 : batch_); });
    consumerWaiting_ = false;
  }
  if (produced_ <= taken_) return nullptr;
  const SoundFrame* frame = &slots_[size_t(taken_) % slots_.size()];
  ++taken_;
  if (producerWaiting_ && produced_ - (taken_ - 1) <= long(slots_.size()) / 2) freed_.notify_one();
  return frame;
}

std::string AnalysisFeed::problem() const {
  std::lock_guard lock(mutex_);
  return problem_;
}

bool ReplayFeed::open(const std::string& path, double start, long frames, std::string* error) {
  if (!reader_.open(path, error)) return false;
  const long first = long(std::floor(start * reader_.fps()));
  frames_ = std::max(0L, reader_.frames() - first);
  if (frames >= 0) frames_ = std::min(frames_, frames);
  for (long i = 0; i < first; ++i)
    if (!reader_.read(&frame_, error)) {
      if (error->empty()) *error = "record file '" + path + "' is shorter than --start";
      return false;
    }
  return true;
}

const SoundFrame* ReplayFeed::next() {
  if (done_ >= frames_ || !problem_.empty()) return nullptr;
  std::string why;
  if (!reader_.read(&frame_, &why)) {
    problem_ = why.empty() ? "record file ended early" : why;
    return nullptr;
  }
  ++done_;
  return &frame_;
}

}  // namespace tw
