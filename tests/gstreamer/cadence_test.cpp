// FrameCadence: which frames a visualiser draws, when, and over which samples,
// whatever the sizes and stamps of the blocks of sound it is handed.
#include "FrameCadence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using tw::SampleWindow;
using tw::gst::FrameCadence;

constexpr int kRate = 44100;
constexpr int kBefore = 513, kAfter = 512;  // the analysis' reach at 44.1 kHz

// A recognisable sound: sample i of the left channel is i mod 30000, the
// right channel its negative.
float ramp(int64_t i) { return float(i % 30000); }

struct Drawn {
  int64_t index, centre;
  bool complete;  // every sample the analysis reads was what the piece holds there (or silence outside)
};

// Value the window gives for position `at`, as the analysis reads it.
float sampleAt(const SampleWindow& w, int64_t at, const float* src) {
  const int64_t lo = std::max<int64_t>(w.first, 0);
  const int64_t hi = w.end >= 0 ? std::min(w.first + w.count, w.end) : w.first + w.count;
  return at >= lo && at < hi ? src[at - w.first] : 0.0f;
}

// Feeds a piece of `length` samples from `from` on, in blocks of the sizes
// given (repeated), then ends it; `expected(pos)` is what position pos must
// read as (the piece, silence in gaps).
template <typename Expected>
std::vector<Drawn> run(FrameCadence& c, int64_t from, int64_t length, std::vector<int> blocks,
                       Expected expected, bool finish = true) {
  std::vector<float> left(static_cast<size_t>(length)), right(static_cast<size_t>(length));
  for (int64_t i = 0; i < length; ++i) left[size_t(i)] = ramp(from + i), right[size_t(i)] = -ramp(from + i);
  std::vector<Drawn> drawn;
  auto drain = [&] {
    FrameCadence::Due d;
    while (c.due(&d)) {
      bool ok = true;
      for (int64_t p = d.centre - kBefore; p < d.centre + kAfter; ++p) {
        const float want = expected(p);
        ok = ok && sampleAt(d.window, p, d.window.left) == want &&
             sampleAt(d.window, p, d.window.right) == -want;
      }
      drawn.push_back({d.index, d.centre, ok});
      c.advance();
    }
  };
  int64_t done = 0;
  for (size_t b = 0; done < length; ++b) {
    const int n = int(std::min<int64_t>(blocks[b % blocks.size()], length - done));
    for (int w = 0; w < n;) {
      const int took = c.write(from + done + w, left.data() + done + w, right.data() + done + w, n - w);
      w += took;
      const size_t before = drawn.size();
      drain();
      if (took == 0 && drawn.size() == before) {
        ADD_FAILURE() << "no room and nothing due at " << from + done + w;
        return drawn;
      }
    }
    done += n;
  }
  if (finish) {
    c.finish();
    drain();
  }
  return drawn;
}

// Render's rule, independently: frame n at round(n × rate / fps), frames
// while n / fps lies before the piece's end.
int64_t centre(int64_t n, double fps) { return std::llround(double(n) / fps * kRate); }
int64_t frameCount(int64_t samples, double fps) {
  return int64_t(std::ceil(double(samples) / kRate * fps - 1e-9));
}

TEST(FrameCadence, OneFramePerFrameTimeWhateverTheBlockSize) {
  const int64_t length = 2 * kRate;  // 2 s
  for (std::vector<int> blocks : std::vector<std::vector<int>>{
           {1}, {256}, {1024}, {1764}, {4096}, {100000}, {1, 7000, 333, 1764, 20000, 2}}) {
    for (double fps : {25.0, 60.0, 7.0}) {
      FrameCadence c({kRate, int(fps), 1}, kBefore, kAfter);
      c.start(0, 0);
      const auto drawn =
          run(c, 0, length, blocks, [&](int64_t p) { return p >= 0 && p < length ? ramp(p) : 0.0f; });
      SCOPED_TRACE("block " + std::to_string(blocks[0]) + ", " + std::to_string(fps) + " fps");
      ASSERT_EQ(int64_t(drawn.size()), frameCount(length, fps));
      for (size_t n = 0; n < drawn.size(); ++n) {
        EXPECT_EQ(drawn[n].index, int64_t(n));
        EXPECT_EQ(drawn[n].centre, centre(int64_t(n), fps));
        EXPECT_TRUE(drawn[n].complete) << "frame " << n;
      }
    }
  }
}

TEST(FrameCadence, AFrameIsDueOnceTheSamplesAfterItsCentreAreIn) {
  FrameCadence c({kRate, 25, 1}, kBefore, kAfter);
  c.start(0, 0);
  std::vector<float> zeros(5000);
  FrameCadence::Due d;
  // Frame 1 is centred on 1764 and reads up to 1764 + 512.
  ASSERT_EQ(c.write(0, zeros.data(), zeros.data(), 1764 + kAfter - 1), 1764 + kAfter - 1);
  ASSERT_TRUE(c.due(&d));
  EXPECT_EQ(d.index, 0);
  c.advance();
  EXPECT_FALSE(c.due(&d));
  ASSERT_EQ(c.write(c.end(), zeros.data(), zeros.data(), 1), 1);
  ASSERT_TRUE(c.due(&d));
  EXPECT_EQ(d.index, 1);
}

TEST(FrameCadence, GapsAreSilenceAndOverlapsKeepWhatCameFirst) {
  FrameCadence c({kRate, 25, 1}, kBefore, kAfter);
  c.start(0, 0);
  // 0 … 9999, then a block stamped 20000 (a gap of 10000), then one that
  // repeats 25000 … 29999 with other values.
  std::vector<float> a(10000), b(10000), over(5000, 7.0f);
  for (int i = 0; i < 10000; ++i) a[size_t(i)] = ramp(i), b[size_t(i)] = ramp(20000 + i);
  std::vector<float> na(a), nb(b), nover(over);
  for (auto* v : {&na, &nb, &nover})
    for (float& x : *v) x = -x;
  std::vector<int64_t> centres;
  bool complete = true;
  auto drain = [&] {
    FrameCadence::Due d;
    while (c.due(&d)) {
      for (int64_t p = d.centre - kBefore; p < d.centre + kAfter; ++p) {
        const float want = p >= 0 && p < 10000 ? ramp(p) : p >= 20000 && p < 30000 ? ramp(p) : 0.0f;
        complete = complete && sampleAt(d.window, p, d.window.left) == want;
      }
      centres.push_back(d.centre);
      c.advance();
    }
  };
  auto feed = [&](int64_t at, std::vector<float>& l, std::vector<float>& r) {
    for (int w = 0; w < int(l.size());) {
      w += c.write(at + w, l.data() + w, r.data() + w, int(l.size()) - w);
      drain();
    }
  };
  feed(0, a, na);
  feed(20000, b, nb);
  feed(25000, over, nover);
  c.finish();
  drain();
  EXPECT_TRUE(complete);
  EXPECT_EQ(c.end(), 30000);
  ASSERT_EQ(int64_t(centres.size()), frameCount(30000, 25));
  for (size_t n = 0; n < centres.size(); ++n) EXPECT_EQ(centres[n], centre(int64_t(n), 25));
}

TEST(FrameCadence, AStreamThatStartsLateDrawsFromItsFirstFrameTime) {
  // Samples from 10 s on; frames from the segment's start at 10.01 s: the
  // first frame time at or after it is 10.04 s, frame 251.
  FrameCadence c({kRate, 25, 1}, kBefore, kAfter);
  const int64_t at = 10 * kRate, from = int64_t(10.01 * kRate);
  c.start(at, from);
  const auto drawn =
      run(c, at, kRate, {4096}, [&](int64_t p) { return p >= at && p < at + kRate ? ramp(p) : 0.0f; });
  ASSERT_FALSE(drawn.empty());
  EXPECT_EQ(drawn.front().index, 251);
  EXPECT_EQ(drawn.back().index, 274);  // 10.96 s, the last before 11 s
  for (const Drawn& d : drawn) {
    EXPECT_EQ(d.centre, centre(d.index, 25));
    EXPECT_TRUE(d.complete);
  }
}

TEST(FrameCadence, ANewFrameRateGoesOnFromTheNextFrameTime) {
  FrameCadence c({kRate, 25, 1}, kBefore, kAfter);
  c.start(0, 0);
  // One second at 25 fps: frames 0 … 24 are due (25, at 1 s, needs samples
  // past it).
  auto first = run(
      c, 0, kRate, {1000}, [](int64_t p) { return p >= 0 ? ramp(p) : 0.0f; }, false);
  ASSERT_EQ(first.size(), 25u);
  EXPECT_EQ(c.next(), 25);
  c.setFrameRate(50, 1);
  EXPECT_EQ(c.next(), 50);  // 1 s at 50 fps
  c.setFrameRate(30000, 1001);
  EXPECT_EQ(c.next(), 30);  // the first frame at or after 1 s: 30 × 1001 / 30000 = 1.001 s
}

TEST(FrameCadence, StorageStaysBoundedAndRestartForgetsTheStream) {
  FrameCadence c({kRate, 1, 1}, kBefore, kAfter);
  c.start(0, 0);
  // At one frame per second almost every sample is unneeded: a minute of
  // sound in one block passes without storing it.
  std::vector<float> minute(size_t(60) * kRate, 1.0f);
  int64_t done = 0;
  int frames = 0;
  FrameCadence::Due d;
  while (done < int64_t(minute.size())) {
    done += c.write(done, minute.data() + done, minute.data() + done, int(minute.size() - size_t(done)));
    while (c.due(&d)) {
      EXPECT_LE(d.window.count, kBefore + kAfter + 8192 * 2);
      ++frames;
      c.advance();
    }
  }
  EXPECT_EQ(frames, 60);  // frame 60's window reaches past the minute
  c.restart();
  EXPECT_FALSE(c.started());
  EXPECT_FALSE(c.due(&d));
  EXPECT_EQ(c.write(0, minute.data(), minute.data(), 10), 0);
}

}  // namespace
