// The record format parsed from memory: a header of another layout and a
// frame holding values the analysis never writes are refused, so that
// --replay hands the filters only what they are promised.
#include "engine/Recording.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace tw {
namespace {

template <typename T>
void put(std::vector<uint8>& out, T v) {
  const auto* p = reinterpret_cast<const uint8*>(&v);
  out.insert(out.end(), p, p + sizeof v);
}

std::vector<uint8> header(uint32 version, uint32 samples, uint32 bins, uint32 rate, double fps) {
  std::vector<uint8> h{'T', 'W', 'S', 'O', 'U', 'N', 'D', '1'};
  put(h, version), put(h, samples), put(h, bins), put(h, rate), put(h, fps);
  return h;
}

// A frame in the file's layout, written field by field.
std::vector<uint8> frameBytes(const SoundFrame& f) {
  std::vector<uint8> b;
  put(b, f.frameCount);
  for (double v : f.level) put(b, v);
  for (const auto& ch : f.bands)
    for (double v : ch) put(b, v);
  for (const auto& ch : f.spectrum)
    for (float v : ch) put(b, v);
  for (int32 v : f.samples) put(b, v);
  return b;
}

TEST(RecordHeader, OnlyThisLayoutIsAccepted) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<uint8> cut = header(1, 1025, 513, 48000, 60);
  cut.pop_back();
  const struct {
    const char* what;
    std::vector<uint8> bytes;
    bool ok;
  } cases[] = {
      {"this layout", header(1, 1025, 513, 48000, 60), true},
      {"cut short", cut, false},
      {"another version", header(2, 1025, 513, 48000, 60), false},
      {"other counts", header(1, 1024, 513, 48000, 60), false},
      {"no frame rate", header(1, 1025, 513, 48000, 0), false},
      {"a frame rate that is no number", header(1, 1025, 513, 48000, nan), false},
      {"no sample rate", header(1, 1025, 513, 0, 60), false},
  };
  for (const auto& c : cases) {
    RecordHeader h;
    std::string why;
    EXPECT_EQ(parseRecordHeader(c.bytes.data(), c.bytes.size(), "r.twrec", &h, &why), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(h.sampleRate, 48000);
      EXPECT_EQ(h.fps, 60.0);
    } else {
      EXPECT_NE(why.find("'r.twrec'"), std::string::npos) << c.what << ": " << why;
    }
  }
}

TEST(RecordFrame, ValuesTheAnalysisNeverWritesAreRefused) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* what;
    std::function<void(SoundFrame&)> change;
    bool ok;
  } cases[] = {
      {"a frame as the analysis writes it", [](SoundFrame&) {}, true},
      {"the loudest samples", [](SoundFrame& f) { f.samples[0] = -32768, f.samples[1] = 32767; }, true},
      {"a sample past 16 bits", [](SoundFrame& f) { f.samples[7] = 32768; }, false},
      {"a sample below 16 bits", [](SoundFrame& f) { f.samples[1024] = -32769; }, false},
      {"a spectrum value that is no number", [](SoundFrame& f) { f.spectrum[1][10] = std::nanf(""); }, false},
      {"a negative spectrum value", [](SoundFrame& f) { f.spectrum[0][512] = -1; }, false},
      {"an endless level", [=](SoundFrame& f) { f.level[1] = inf; }, false},
      {"a negative band", [](SoundFrame& f) { f.bands[1][0] = -0.5; }, false},
  };
  for (const auto& c : cases) {
    SoundFrame f;
    f.frameCount = 41;
    for (int i = 0; i < SoundFrame::kSamples; ++i) f.samples[size_t(i)] = (i * 37) % 2001 - 1000;
    for (auto& ch : f.spectrum)
      for (int k = 0; k < SoundFrame::kSpectrum; ++k) ch[size_t(k)] = float(k) * 1000;
    f.level[0] = 12345, f.bands[1][3] = 678;
    c.change(f);
    const std::vector<uint8> b = frameBytes(f);
    ASSERT_EQ(b.size(), kRecordFrameBytes);
    SoundFrame back;
    std::string why;
    EXPECT_EQ(parseRecordFrame(b.data(), "r.twrec", &back, &why), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(std::memcmp(back.samples.data(), f.samples.data(), sizeof f.samples), 0) << c.what;
      EXPECT_EQ(back.spectrum, f.spectrum) << c.what;
      EXPECT_EQ(back.level[0], 12345);
      EXPECT_EQ(back.bands[1][3], 678);
      EXPECT_EQ(back.frameCount, 41);
    } else {
      EXPECT_EQ(why, "record file 'r.twrec' is damaged: frame 41 holds values the analysis never writes")
          << c.what;
    }
  }
}

}  // namespace
}  // namespace tw
