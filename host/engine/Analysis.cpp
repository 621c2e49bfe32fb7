#include "engine/Analysis.h"

#include "CFilter.h"

#include <kissfft/kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tw {

int Analyzer::fftSizeFor(int rate) { return rate < 32000 ? 512 : rate > 64000 ? 2048 : 1024; }

Analyzer::Analyzer(int rate) : rate_(rate), n_(fftSizeFor(rate)) {
  window_.resize(size_t(n_));
  windowSum_ = 0;
  for (int i = 0; i < n_; ++i) {
    window_[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * M_PI * i / n_));
    windowSum_ += window_[size_t(i)];
  }
  in_.resize(size_t(n_));
  spec_.resize(size_t(n_ / 2 + 1));
  tilt_.resize(size_t(n_ / 2 + 1));
  for (int k = 0; k <= n_ / 2; ++k) tilt_[size_t(k)] = tilt(k);
  cfg_ = kiss_fftr_alloc(n_, 0, nullptr, nullptr);
  for (size_t b = 0; b < kBandEdgesHz.size(); ++b)
    bandBins_[b] = std::clamp(int(std::ceil(kBandEdgesHz[b] * n_ / rate_)), 0, n_ / 2 + 1);
}

Analyzer::~Analyzer() { kiss_fftr_free(cfg_); }

void Analyzer::analyse(const SampleWindow& w, int64_t centre, SoundFrame* out) {
  const int64_t first = centre - n_ / 2;
  // Samples [lo, hi) exist; everything else is silence.
  const int64_t lo = std::max<int64_t>(w.first, 0);
  const int64_t hi = w.end >= 0 ? std::min(w.first + w.count, w.end) : w.first + w.count;
  auto sample = [&](const float* src, int64_t at) { return at >= lo && at < hi ? src[at - w.first] : 0.0f; };
  const int bins = n_ / 2 + 1;
  auto* freq = reinterpret_cast<kiss_fft_cpx*>(spec_.data());
  for (int ch = 0; ch < 2; ++ch) {
    const float* src = ch == 0 ? w.left : w.right;
    double sumSq = 0;
    for (int i = 0; i < n_; ++i) {
      const float v = sample(src, first + i);
      sumSq += double(v) * v;
      in_[size_t(i)] = v * window_[size_t(i)];
    }
    out->level[ch] = kLevelGain * std::sqrt(sumSq / n_);
    kiss_fftr(static_cast<kiss_fftr_cfg>(cfg_), in_.data(), freq);
    // Amplitude of a sine in the bin: 2|X| / Σw (|X| / Σw for DC and Nyquist).
    const double scale = kSpectrumGain * 2.0 / windowSum_;
    float* dst = out->spectrum[size_t(ch)].data();
    for (int k = 0; k < SoundFrame::kSpectrum; ++k) {
      if (k >= bins) {
        dst[k] = 0;
        continue;
      }
      // The squares of floats are exact in double, so no hypot is needed
      // (and hypot costs more than the FFT itself).
      const double re = freq[k].r, im = freq[k].i;
      const double mag = std::sqrt(re * re + im * im);
      dst[k] = float(mag * scale * tilt_[size_t(k)] * (k == 0 || k == n_ / 2 ? 0.5 : 1.0));
    }
    for (int b = 0; b < 8; ++b) {
      double power = 0;
      const int lo = bandBins_[size_t(b)], hi = std::min(bandBins_[size_t(b) + 1], SoundFrame::kSpectrum);
      for (int k = lo; k < hi; ++k) power += double(dst[k]) * dst[k];
      out->bands[ch][b] = hi > lo ? kBandGain * std::sqrt(power / (hi - lo)) : 0.0;
    }
  }
  // The frame's newest samples, mono mix, ending where the window ends.
  const int64_t firstSample = first + n_ - SoundFrame::kSamples;
  for (int i = 0; i < SoundFrame::kSamples; ++i) {
    const int64_t at = firstSample + i;
    const float v = at >= lo && at < hi ? 0.5f * (w.left[at - w.first] + w.right[at - w.first]) : 0.0f;
    // To the nearest integer, halves away from zero, within 16 bits.
    const float c = std::clamp(v, -32768.0f, 32767.0f);
    out->samples[size_t(i)] = int32(std::round(c));
  }
}

}  // namespace tw
