// The sound of one video frame, as the filters read it from SFrameInfo, and
// the analysis that computes it from a Sound.
//
// Scales (the one place they are defined; docs/host.md explains them):
// - FFT: kiss_fftr over N samples, N = 1024 at 32–64 kHz (512 below, 2048
//   above), so one bin is about 43 Hz; periodic Hann window; the window is
//   centred on the frame's time.
// - spectrum[ch][k] = kSpectrumGain × tilt(k) × the amplitude, in 16-bit
//   sample units, of a sine in bin k (2|X[k]| / Σw; |X| / Σw at DC and
//   Nyquist). tilt(k) = sqrt(max(k, 1) / 10) lifts the spectrum by 3 dB per
//   octave, pivoting on bin 10, so that music (which falls with frequency)
//   spreads over all of a scope's bars.
// - level[ch] = kLevelGain × the RMS of the channel's N window samples.
// - bands[ch][b] = kBandGain × the root mean square of the spectrum values
//   above whose bin centres lie in [kBandEdgesHz[b], kBandEdgesHz[b + 1]):
//   the typical bar height of that octave, whatever its width in bins.
#pragma once

#include "engine/Sound.h"

#include <platform/support.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

namespace tw {

constexpr double kSpectrumGain = 560.0;
constexpr double kTiltPivotBin = 10.0;
constexpr double kLevelGain = 40.0;
constexpr double kBandGain = 0.5;
constexpr std::array<double, 9> kBandEdgesHz = {30, 120, 250, 500, 1000, 2000, 4000, 8000, 16000};

// One frame's analysed sound: what SFrameInfo points at, in storage of its own
// so that it can be recorded and replayed.
struct SoundFrame {
  static constexpr int kSamples = 1025;  // newest samples, mono mix (Ziduv reads width / 8 + 1)
  static constexpr int kSpectrum = 513;  // bins 0 … 512 per channel
  std::array<int32, kSamples> samples{};
  std::array<std::array<float, kSpectrum>, 2> spectrum{};
  double level[2] = {0, 0};
  double bands[2][8] = {};
  int32 frameCount = 0;
};

// A stretch of a piece in memory, for one analysis: samples[i] is sample
// first + i of the piece. Samples outside the stretch, before 0 or at and
// after `end` (when the end is known, else -1) count as silence.
struct SampleWindow {
  const float* left = nullptr;
  const float* right = nullptr;
  int64_t first = 0;
  int64_t count = 0;
  int64_t end = -1;

  // The whole of a piece in memory.
  static SampleWindow of(const Sound& sound) {
    return {sound.left.data(), sound.right.data(), 0, sound.frames(), sound.frames()};
  }
};

class Analyzer {
 public:
  explicit Analyzer(int sampleRate);
  ~Analyzer();
  Analyzer(const Analyzer&) = delete;
  Analyzer& operator=(const Analyzer&) = delete;

  static int fftSizeFor(int sampleRate);
  int fftSize() const { return n_; }
  int sampleRate() const { return rate_; }
  // The spectrum's weight of bin k.
  static double tilt(int k) { return std::sqrt(double(k < 1 ? 1 : k) / kTiltPivotBin); }
  // Hz at the centre of bin k.
  double binHz(int k) const { return double(k) * rate_ / n_; }

  // The stretch of the piece one analysis reads: samples [centre - before(),
  // centre + after()).
  int before() const { return std::max(n_, SoundFrame::kSamples) - n_ / 2; }
  int after() const { return n_ / 2; }

  // Analyses the window centred on sample `centre` into *out; frameCount is
  // the caller's.
  void analyse(const SampleWindow& samples, int64_t centre, SoundFrame* out);
  void analyse(const Sound& sound, int64_t centre, SoundFrame* out) {
    analyse(SampleWindow::of(sound), centre, out);
  }

 private:
  int rate_;
  int n_;
  std::vector<float> window_;
  std::vector<float> in_;
  std::vector<double> tilt_;
  std::vector<std::array<float, 2>> spec_;  // kiss_fft_cpx storage
  float windowSum_ = 1;
  void* cfg_ = nullptr;  // kiss_fftr_cfg
  std::array<int, 9> bandBins_{};
};

}  // namespace tw
