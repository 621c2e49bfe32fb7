// The live command's shared state: the play clock between the audio thread,
// which takes chunks and reports playback, and the drawing thread, which
// reads, seeks and pauses; the capture ring between the recording thread and
// the drawing thread.
#include "live/Capture.h"
#include "live/PlayClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Stands in for the sound server: writes as many chunks as the test grants
// (so that the test decides where the end falls), says half a chunk is still
// queued, except after the sound's last chunk.
class FakeOutput {
 public:
  explicit FakeOutput(tw::PlayClock* clock) : clock_(clock), thread_([this] { run(); }) {}
  ~FakeOutput() {
    {
      std::lock_guard<std::mutex> lock(m_);
      quit_ = true;
    }
    cv_.notify_all();
    clock_->stop();
    thread_.join();
  }
  void grant(int chunks) {
    std::lock_guard<std::mutex> lock(m_);
    credit_ += chunks;
    reachedEnd_ = false;
    cv_.notify_all();
  }
  // Until every granted chunk is written, or the sound's last one.
  void waitForGranted() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return credit_ == 0 || reachedEnd_; });
  }
  bool reachedEnd() {
    std::lock_guard<std::mutex> lock(m_);
    return reachedEnd_;
  }

 private:
  void run() {
    tw::PlayClock::Chunk c;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return quit_ || credit_ > 0; });
        if (quit_) return;
      }
      if (!clock_->next(64, &c)) return;
      const bool last = c.first + c.count == clock_->end();
      clock_->played(c, last ? 0 : 32, now());
      std::lock_guard<std::mutex> lock(m_);
      --credit_;
      reachedEnd_ = last;
      cv_.notify_all();
    }
  }
  tw::PlayClock* clock_;
  std::mutex m_;
  std::condition_variable cv_;
  int credit_ = 0;
  bool reachedEnd_ = false;
  bool quit_ = false;
  std::thread thread_;
};

TEST(PlayClockThreads, ReadsSeeksAndPausesWhileTheAudioThreadWrites) {
  constexpr int64_t kEnd = 2'000'000;
  tw::PlayClock clock(48000, 0, kEnd, true);
  FakeOutput output(&clock);

  // Reads race the writes.
  output.grant(50);
  int64_t last = 0;
  for (int i = 0; i < 2000; ++i) {
    const int64_t p = clock.position(now());
    ASSERT_GE(p, last);
    ASSERT_LE(p, 50 * 64);  // never ahead of what was written
    last = p;
  }
  output.waitForGranted();

  // Paused while chunks are asked for: the position holds, whatever report
  // was under way.
  output.grant(20);
  clock.setPaused(true, now());
  const int64_t held = clock.position(now());
  for (int i = 0; i < 200; ++i) ASSERT_EQ(clock.position(now()), held);
  clock.setPaused(false, now());
  output.waitForGranted();

  // A seek close to the end, then writes through to it.
  clock.seek(kEnd - 10 * 64, now());
  last = clock.position(now());
  EXPECT_EQ(last, kEnd - 10 * 64);
  output.grant(100);
  for (int i = 0; i < 2000; ++i) {
    const int64_t p = clock.position(now());
    ASSERT_GE(p, last);
    last = p;
  }
  output.waitForGranted();
  ASSERT_TRUE(output.reachedEnd());
  EXPECT_EQ(clock.position(now()), kEnd);
}

TEST(SampleRingThreads, ReadersSeeConsecutiveNewestSamples) {
  // Each sample carries its own index (left) and its negation (right), so a
  // torn or misordered read shows as a gap or a mismatch.
  tw::SampleRing ring(4096);
  constexpr int kChunk = 256, kFrames = kChunk * 800;
  std::thread writer([&] {
    int16_t buf[kChunk * 2];
    for (int k = 0; k < kFrames; k += kChunk) {
      for (int i = 0; i < kChunk; ++i) {
        const int16_t v = int16_t((k + i) % 30000);
        buf[2 * i] = v;
        buf[2 * i + 1] = int16_t(-v);
      }
      ring.push(buf, kChunk);
    }
  });
  tw::Sound s;
  for (int n = 0; n < 3000 && ring.written() < kFrames; ++n) {
    ring.latest(1025, &s);
    ASSERT_EQ(s.left.size(), 1025u);
    for (size_t i = 0; i < s.left.size(); ++i) ASSERT_EQ(s.right[i], -s.left[i]);
    for (size_t i = 1; i < s.left.size(); ++i) {
      if (s.left[i - 1] == 0 && s.left[i] == 0) continue;  // before anything was written
      ASSERT_EQ(int(s.left[i]), (int(s.left[i - 1]) + 1) % 30000) << i;
    }
  }
  writer.join();
  ring.latest(2, &s);
  EXPECT_EQ(s.left[1], float((kFrames - 1) % 30000));
}

}  // namespace
