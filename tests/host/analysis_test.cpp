// The analysis on known signals, the demo track, the fade and the palette's
// fixed points.
#include "engine/Analysis.h"
#include "engine/Fade.h"
#include "engine/Sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace tw {
namespace {

Sound tone(double hz, double amplitude, bool left, bool right, int rate = 44100, double seconds = 0.5) {
  Sound s;
  s.sampleRate = rate;
  const size_t n = size_t(seconds * rate);
  for (size_t i = 0; i < n; ++i) {
    const float v = float(amplitude * std::sin(2 * M_PI * hz * double(i) / rate));
    s.left.push_back(left ? v : 0.0f);
    s.right.push_back(right ? v : 0.0f);
  }
  return s;
}

TEST(Analysis, SineLandsInItsBinWithItsAmplitude) {
  struct Case {
    int rate, bin;
    double amplitude;
  } cases[] = {
      {44100, 10, 8000}, {44100, 3, 1000}, {48000, 100, 20000}, {22050, 40, 5000}, {96000, 200, 3000}};
  for (const Case& c : cases) {
    Analyzer an(c.rate);
    const int n = Analyzer::fftSizeFor(c.rate);
    const Sound s = tone(double(c.bin) * c.rate / n, c.amplitude, true, true, c.rate);
    SoundFrame f;
    an.analyse(s, s.frames() / 2, &f);
    // Independent expectation: the documented scale, gain × tilt × amplitude.
    const double expected = 560.0 * std::sqrt(c.bin / 10.0) * c.amplitude;
    for (int ch = 0; ch < 2; ++ch) {
      EXPECT_NEAR(f.spectrum[size_t(ch)][size_t(c.bin)], expected, expected * 0.01)
          << c.rate << " Hz, bin " << c.bin;
      // A Hann window leaks into the two neighbours only (at half height).
      EXPECT_NEAR(f.spectrum[size_t(ch)][size_t(c.bin + 1)],
                  expected * 0.5 * std::sqrt((c.bin + 1.0) / c.bin), expected * 0.02);
      EXPECT_LT(f.spectrum[size_t(ch)][size_t(c.bin + 3)], expected * 1e-3);
      // RMS of a sine is a / sqrt 2.
      EXPECT_NEAR(f.level[ch], 40.0 * c.amplitude / std::sqrt(2.0), c.amplitude * 40 * 0.01);
    }
  }
}

TEST(Analysis, SilenceGivesZeros) {
  Sound s = tone(440, 0, true, true);
  Analyzer an(44100);
  SoundFrame f;
  f.frameCount = 99;
  an.analyse(s, 5000, &f);
  for (int ch = 0; ch < 2; ++ch) {
    for (float v : f.spectrum[size_t(ch)]) EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(f.level[ch], 0.0);
    for (double b : f.bands[ch]) EXPECT_EQ(b, 0.0);
  }
  for (int32 v : f.samples) EXPECT_EQ(v, 0);
}

TEST(Analysis, LeftOnlySoundIsOnChannelZeroOnly) {
  const Sound s = tone(1000, 10000, true, false);
  Analyzer an(44100);
  SoundFrame f;
  an.analyse(s, 10000, &f);
  EXPECT_GT(f.level[0], 100000);
  EXPECT_EQ(f.level[1], 0.0);
  double left = 0, right = 0;
  for (int k = 0; k < SoundFrame::kSpectrum; ++k)
    left += f.spectrum[0][size_t(k)], right += f.spectrum[1][size_t(k)];
  EXPECT_GT(left, 1e6);
  EXPECT_EQ(right, 0.0);
  // 1 kHz lies in band 4 (1000–2000 Hz edges: bins 24 … 46 at 43 Hz).
  EXPECT_GT(f.bands[0][3] + f.bands[0][4], 0.0);
  for (double b : f.bands[1]) EXPECT_EQ(b, 0.0);
  // Samples are the mono mix: half the left channel.
  int32 peak = 0;
  for (int32 v : f.samples) peak = std::max(peak, std::abs(v));
  EXPECT_NEAR(peak, 5000, 10);
}

TEST(Analysis, WindowOutsideTheSoundIsSilence) {
  const Sound s = tone(440, 10000, true, true);
  Analyzer an(44100);
  SoundFrame f;
  an.analyse(s, -100000, &f);
  EXPECT_EQ(f.level[0], 0.0);
  an.analyse(s, s.frames() + 100000, &f);
  EXPECT_EQ(f.level[1], 0.0);
}

TEST(DemoTrack, IsDeterministicStereoAndThirtySeconds) {
  const Sound a = makeDemoTrack(), b = makeDemoTrack();
  EXPECT_EQ(a.sampleRate, 44100);
  EXPECT_NEAR(a.seconds(), 30.0, 0.01);
  EXPECT_EQ(a.left, b.left);
  EXPECT_EQ(a.right, b.right);
  EXPECT_NE(a.left, a.right);
  float peak = 0;
  for (float v : a.left) peak = std::max(peak, std::fabs(v));
  EXPECT_GT(peak, 16000);
  EXPECT_LE(peak, 32767);
}

TEST(Fade, FactorsAndChains) {
  const rgb_color* pal = tw_system_palette();
  const Fade clear(0.0f, pal), keep(1.0f, pal), most(0.8f, pal);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(clear.index(uint8(i)), 0);
    EXPECT_EQ(keep.index(uint8(i)), i);
    // Every trail dies out: repeated fades reach black.
    uint8 c = uint8(i);
    for (int step = 0; step < 256 && c != 0; ++step) c = most.index(c);
    EXPECT_EQ(c, 0) << "index " << i;
  }
  FrameGeometry g;
  g.width = 16, g.height = 2, g.pixelMode = 2;
  Frame frame(g);
  frame.clear();
  const uint32 px = 0x00C86432;  // 200, 100, 50
  std::memcpy(frame.pixels() + 4 * 5, &px, 4);
  most.apply(frame);
  EXPECT_EQ(frame.at32(5, 0), uint32(160) << 16 | 80 << 8 | 40);
  EXPECT_EQ(frame.at32(4, 0), 0u);
}

// The 32-bit fade works many bytes at a time where it can: every channel
// value must still come out as value × factor, truncated, for the factors
// the filters give and others, in runs of black and across row ends.
TEST(Fade, WideFadeEqualsTheProductInEveryByte) {
  const rgb_color* pal = tw_system_palette();
  FrameGeometry g;
  g.width = 67, g.height = 5, g.pixelMode = 2;  // 268 bytes a row: wide steps and a tail
  for (float f : {0.79f, 0.78f, 0.8f, 0.7f, 0.81f, 0.5f, 0.123f, 0.999f, 0.0001f, 0.33333f}) {
    Frame frame(g);
    std::vector<uint8> before(frame.size());
    for (size_t i = 0; i < before.size(); ++i) before[i] = (i / 64) % 3 == 1 ? 0 : uint8(i * 7 + i / 268);
    std::memcpy(frame.pixels(), before.data(), before.size());
    Fade(f, pal).apply(frame);
    size_t differ = 0;
    for (size_t i = 0; i < before.size(); ++i) differ += frame.pixels()[i] != uint8(float(before[i]) * f);
    EXPECT_EQ(differ, 0u) << "factor " << f;
  }
}

TEST(Palette, FixedPoints) {
  const rgb_color* pal = tw_system_palette();
  const uint32* pal32 = tw_system_palette32();
  const struct {
    int index;
    uint32 rgb;
  } fixed[] = {{0, 0x000000}, {32, 0x0000F8}, {42, 0xF80000}, {52, 0x00DF00}, {250, 0xDFDF00}};
  for (const auto& f : fixed) {
    EXPECT_EQ(pal32[f.index], f.rgb) << f.index;
    // The reverse lookup works on 5 bits per channel; 0xF8 red sits in the
    // same cell as 41's 0xFF.
    if (f.index != 42) {
      EXPECT_EQ(tw_index_for_color(uint8(f.rgb >> 16), uint8(f.rgb >> 8), uint8(f.rgb)), f.index) << f.index;
    }
  }
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(pal32[i], uint32(pal[i].red) << 16 | uint32(pal[i].green) << 8 | pal[i].blue) << i;
  // The torus reds darken from 42 (loud) down to 49 (dimmest), all pure red.
  for (int i = 42; i < 49; ++i) {
    EXPECT_GT(pal[i].red, pal[i + 1].red);
    EXPECT_EQ(pal[i].green | pal[i].blue, 0);
  }
  // The terrain ramp 1…31 brightens steadily.
  for (int i = 1; i < 31; ++i) EXPECT_LT(pal[i].green, pal[i + 1].green);
}

}  // namespace
}  // namespace tw
