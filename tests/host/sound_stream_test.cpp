// The sound decoded ahead of drawing: the decoder's window holds at most its
// capacity however long the piece, readers get exactly the piece's samples
// (silence outside it), seeks land on the sample asked for, and the analysis
// feed gives the frames and the video's music that analysing the whole piece
// in memory gives.
#include "engine/Analysis.h"
#include "engine/SampleQueue.h"
#include "engine/SoundFeed.h"
#include "engine/SoundSource.h"
#include "engine/SoundStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

namespace {

using tw::AnalysisFeed;
using tw::SoundStream;

// Sample i of the ramp: distinct on each channel, exact in float.
float rampLeft(int64_t i) { return float(i % 30011) - 15000.0f; }
float rampRight(int64_t i) { return float(-(i % 29989)) + 14000.0f; }

// A piece of any length (negative: endless) computed from the index, that
// counts how far it has been read.
class RampSource : public tw::SoundSource {
 public:
  explicit RampSource(int64_t length, std::atomic<int64_t>* read = nullptr) : length_(length), read_(read) {}
  int sampleRate() const override { return 44100; }
  int64_t lengthHint() const override { return length_; }
  bool stereo() const override { return true; }
  std::string name() const override { return "ramp"; }
  int read(float* left, float* right, int most) override {
    int n = most;
    if (length_ >= 0) n = int(std::min<int64_t>(most, length_ - at_));
    for (int i = 0; i < n; ++i) left[i] = rampLeft(at_ + i), right[i] = rampRight(at_ + i);
    at_ += n;
    if (read_) *read_ = at_;
    return n;
  }
  bool seek(int64_t at, std::string*) override {
    at_ = at;
    return true;
  }
  bool canSeek() const override { return true; }
  std::string problem() const override { return {}; }

 private:
  int64_t length_;
  std::atomic<int64_t>* read_;
  int64_t at_ = 0;
};

std::shared_ptr<tw::Sound> rampSound(int64_t length) {
  auto s = std::make_shared<tw::Sound>();
  s->sampleRate = 44100;
  s->stereo = true;
  for (int64_t i = 0; i < length; ++i) s->left.push_back(rampLeft(i)), s->right.push_back(rampRight(i));
  return s;
}

TEST(SoundStream, ReadAheadStaysWithinTheWindowHoweverLongThePiece) {
  std::atomic<int64_t> read{0};
  const int64_t capacity = 65536;
  SoundStream stream(std::make_unique<RampSource>(-1, &read), capacity);
  std::string why;
  ASSERT_TRUE(stream.start(0, &why)) << why;
  std::vector<float> l(1000), r(1000);
  // A reader that stops: the decoder fills the window and waits.
  ASSERT_TRUE(stream.read(0, 1000, l.data(), r.data()));
  stream.waitIdle();
  EXPECT_LE(read.load(), capacity);
  EXPECT_GT(read.load(), capacity / 2);
  // Releasing lets it run on by as much, no further.
  stream.release(1000000);
  ASSERT_TRUE(stream.read(1000000, 1000, l.data(), r.data()));
  stream.waitIdle();
  EXPECT_LE(read.load(), 1000000 + capacity);
  EXPECT_EQ(l[0], rampLeft(1000000));
  // A reader that asks further ahead than the window holds is served anyway.
  ASSERT_TRUE(stream.read(5000000, 1000, l.data(), r.data()));
  EXPECT_EQ(r[999], rampRight(5000999));
  stream.stop();
}

TEST(SoundStream, ReadsThePiecesSamplesWithSilenceOutside) {
  const int64_t length = 100000;
  SoundStream stream(std::make_unique<RampSource>(length), 20000);
  std::string why;
  ASSERT_TRUE(stream.start(0, &why)) << why;
  std::vector<float> l(3000), r(3000);
  // Walk the piece in steps that wrap the ring at odd places, from before
  // its start to past its end.
  for (int64_t from = -1500; from < length + 1500; from += 2777) {
    ASSERT_TRUE(stream.read(from, 3000, l.data(), r.data()));
    for (int i = 0; i < 3000; ++i) {
      const int64_t at = from + i;
      const bool inside = at >= 0 && at < length;
      ASSERT_EQ(l[size_t(i)], inside ? rampLeft(at) : 0.0f) << at;
      ASSERT_EQ(r[size_t(i)], inside ? rampRight(at) : 0.0f) << at;
    }
    stream.release(from);
  }
  EXPECT_EQ(stream.end(), length);
  EXPECT_EQ(stream.waitFor(length - 1), -1);
  EXPECT_EQ(stream.waitFor(length), length);
}

TEST(SoundStream, SeeksLandOnTheSampleAskedFor) {
  SoundStream stream(tw::makeMemorySource(rampSound(200000), "ramp"), 30000);
  std::string why;
  ASSERT_TRUE(stream.start(12345, &why)) << why;
  std::vector<float> l(64), r(64);
  ASSERT_TRUE(stream.read(12345, 64, l.data(), r.data()));
  EXPECT_EQ(l[0], rampLeft(12345));
  for (int64_t to : {150001, 7, 199990, 0}) {
    ASSERT_TRUE(stream.seek(to, &why)) << why;
    ASSERT_TRUE(stream.read(to, 64, l.data(), r.data()));
    for (int i = 0; i < 64; ++i) {
      const int64_t at = to + i;
      ASSERT_EQ(l[size_t(i)], at < 200000 ? rampLeft(at) : 0.0f) << to;
    }
  }
}

// The feed against analyses of the whole piece in memory, at odd starts and
// rates, to its last frame; and the video's music is the frames' stretch of
// the piece, silence where the piece has ended.
TEST(AnalysisFeed, GivesTheFramesOfTheWholePieceAndItsMusic) {
  struct Case {
    double start, fps;
    long frames;  // -1: to the end
  } cases[] = {{0, 60, -1}, {0.37, 29.97, -1}, {1.5, 25, 12}, {0, 240, 7}};
  auto sound = rampSound(44100 * 2 + 123);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "start " << c.start << " fps " << c.fps << " frames " << c.frames);
    AnalysisFeed::Options o;
    o.start = c.start;
    o.fps = c.fps;
    o.frames = c.frames;
    o.depth = 3;
    tw::SampleQueue music(44100, 5000);
    o.audio = &music;
    SoundStream stream(tw::makeMemorySource(sound, "ramp"), 20000);
    std::string why;
    ASSERT_TRUE(stream.start(AnalysisFeed::firstNeeded(44100, o), &why)) << why;
    AnalysisFeed feed(stream, o);
    std::vector<int16_t> heard;
    std::thread reader([&] {
      int16_t block[2 * 700];
      for (int n; (n = music.pop(block, 700)) > 0;) heard.insert(heard.end(), block, block + 2 * n);
    });
    feed.start();

    tw::Analyzer analyzer(44100);
    const int64_t first = std::llround(c.start * 44100);
    const long expected =
        c.frames >= 0 ? c.frames : tw::frameCountFor(double(sound->frames()) / 44100 - c.start, c.fps);
    long n = 0;
    tw::SoundFrame want;
    for (const tw::SoundFrame* got; (got = feed.next()) != nullptr; ++n) {
      analyzer.analyse(*sound, first + std::llround(double(n) / c.fps * 44100), &want);
      ASSERT_EQ(got->samples, want.samples) << n;
      ASSERT_EQ(got->spectrum, want.spectrum) << n;
      ASSERT_EQ(got->level[1], want.level[1]) << n;
      ASSERT_EQ(got->bands[0][3], want.bands[0][3]) << n;
    }
    EXPECT_EQ(n, expected);
    reader.join();
    const int64_t count = std::llround(double(n) / c.fps * 44100);
    ASSERT_EQ(int64_t(heard.size()), 2 * count);
    for (int64_t i = 0; i < count; ++i) {
      const int64_t at = first + i;
      const bool inside = at < sound->frames();
      ASSERT_EQ(heard[size_t(2 * i)], inside ? int16_t(rampLeft(at)) : 0) << at;
      ASSERT_EQ(heard[size_t(2 * i + 1)], inside ? int16_t(rampRight(at)) : 0) << at;
    }
  }
}

TEST(AnalysisFeed, StoppingMidwayLetsEveryThreadGo) {
  // Nobody reads the video's music and the drawer leaves after two frames:
  // stop() must not wait for ever on the full queue.
  AnalysisFeed::Options o;
  tw::SampleQueue music(44100, 100);
  o.audio = &music;
  SoundStream stream(std::make_unique<RampSource>(-1), 20000);
  std::string why;
  ASSERT_TRUE(stream.start(0, &why)) << why;
  AnalysisFeed feed(stream, o);
  feed.start();
  EXPECT_NE(feed.next(), nullptr);
  feed.stop();
  stream.stop();
}

}  // namespace
