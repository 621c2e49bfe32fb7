#include "Report.h"

#include "engine/Analysis.h"
#include "engine/SoundFeed.h"
#include "engine/SoundStream.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace tw {
namespace {

// Percentiles of a stream of non-negative values in bounded memory, whatever
// the length of the piece: exact zeros, log-spaced bins above (2000 per
// decade from 1e-3 on, so a percentile is off by at most 0.12 %), and the
// exact maximum.
class Series {
 public:
  void add(double x) {
    ++count_;
    max_ = std::max(max_, x);
    if (x <= 0) {
      ++zeros_;
      return;
    }
    const double at = std::floor((std::log10(x) - kLowDecade) * kPerDecade);
    bins_[size_t(std::clamp(at, 0.0, double(kBins - 1)))]++;
  }
  // The value of rank round(p / 100 × (count − 1)).
  double pct(double p) const {
    if (count_ == 0) return 0;
    const long rank = long(p / 100.0 * double(count_ - 1) + 0.5);
    if (rank >= count_ - 1) return max_;
    if (rank < zeros_) return 0;
    long seen = zeros_;
    for (size_t b = 0; b < bins_.size(); ++b) {
      seen += bins_[b];
      if (seen > rank) return std::min(max_, std::pow(10.0, kLowDecade + (double(b) + 0.5) / kPerDecade));
    }
    return max_;
  }

 private:
  static constexpr double kLowDecade = -3;
  static constexpr int kPerDecade = 2000;
  static constexpr int kBins = 15 * kPerDecade;
  std::vector<long> bins_ = std::vector<long>(kBins, 0);
  long count_ = 0, zeros_ = 0;
  double max_ = 0;
};

void row(FILE* out, const std::string& name, const Series& s) {
  std::fprintf(out, "  %-22s %10.0f %10.0f %10.0f %10.0f %10.0f\n", name.c_str(), s.pct(10), s.pct(50),
               s.pct(90), s.pct(99), s.pct(100));
}

}  // namespace

bool analyseSound(std::unique_ptr<SoundSource> source, double fps, FILE* out, ThresholdShares* shares,
                  std::string* error) {
  const int rate = source->sampleRate();
  const bool stereo = source->stereo();
  Analyzer an(rate);
  SoundStream stream(std::move(source), SoundStream::defaultCapacity(rate));
  AnalysisFeed::Options fo;
  fo.fps = fps;
  if (!stream.start(AnalysisFeed::firstNeeded(rate, fo), error)) return false;
  AnalysisFeed feed(stream, fo);
  feed.start();
  // Spectrum groups: the bins the filters read, by region.
  const int groups[][2] = {{1, 3}, {4, 15}, {10, 10}, {16, 63}, {64, 127}, {128, 255}};
  // Large: on the heap.
  auto spectra = std::make_unique<std::array<std::array<Series, 6>, 2>>();
  auto level = std::make_unique<std::array<Series, 2>>();
  auto bands = std::make_unique<std::array<std::array<Series, 8>, 2>>();
  long wave = 0, flip = 0, burst = 0, full = 0, frames = 0;
  for (const SoundFrame* f; (f = feed.next()) != nullptr; ++frames) {
    for (int ch = 0; ch < 2; ++ch) {
      for (int gi = 0; gi < 6; ++gi)
        for (int k = groups[gi][0]; k <= groups[gi][1]; ++k)
          (*spectra)[size_t(ch)][size_t(gi)].add(f->spectrum[size_t(ch)][size_t(k)]);
      (*level)[size_t(ch)].add(f->level[ch]);
      for (int b = 0; b < 8; ++b) (*bands)[size_t(ch)][size_t(b)].add(f->bands[ch][b]);
      for (int k = 0; k < 255; ++k) full += f->spectrum[size_t(ch)][size_t(k)] / 8192.0 >= 100;
    }
    wave += f->spectrum[1][10] > 1050000;
    flip += f->spectrum[1][10] > 1750000;
    burst += f->bands[1][0] > 480000;
  }
  const std::string problem = feed.problem();
  feed.stop();
  const double seconds = double(std::max<int64_t>(stream.end(), 0)) / rate;
  stream.stop();
  if (!problem.empty()) std::fprintf(stderr, "tidewave: %s\n", problem.c_str());
  ThresholdShares t;
  t.frames = frames;
  if (frames > 0) {
    t.torusWave = double(wave) / double(frames);
    t.flipBook = double(flip) / double(frames);
    t.voxelBurst = double(burst) / double(frames);
    t.scopeFull = double(full) / double(frames * 2 * 255);
  }
  if (shares) *shares = t;
  if (!out) return true;
  std::fprintf(out, "%.1f s, %d Hz, %s, %ld frames at %g fps, FFT of %d samples (bin width %.1f Hz)\n",
               seconds, rate, stereo ? "stereo" : "mono", frames, fps, an.fftSize(), an.binHz(1));
  for (int ch = 0; ch < 2; ++ch) {
    std::fprintf(out, "\nchannel %d (%s)%24s %10s %10s %10s %10s\n", ch, ch == 0 ? "left" : "right", "p10",
                 "p50", "p90", "p99", "max");
    for (int gi = 0; gi < 6; ++gi) {
      char name[40];
      if (groups[gi][0] == groups[gi][1])
        std::snprintf(name, sizeof name, "spectrum[%d]", groups[gi][0]);
      else
        std::snprintf(name, sizeof name, "spectrum[%d..%d]", groups[gi][0], groups[gi][1]);
      row(out, name, (*spectra)[size_t(ch)][size_t(gi)]);
    }
    row(out, "level", (*level)[size_t(ch)]);
    for (int b = 0; b < 8; ++b) {
      char name[48];
      std::snprintf(name, sizeof name, "bands[%d] %g-%g Hz", b, kBandEdgesHz[size_t(b)],
                    kBandEdgesHz[size_t(b) + 1]);
      row(out, name, (*bands)[size_t(ch)][size_t(b)]);
    }
  }
  std::fprintf(out, "\nthresholds (share of frames)\n");
  std::fprintf(out, "  spectrum[1][10] > 1050000 (TideTorus wave)      %5.1f %%\n", 100 * t.torusWave);
  std::fprintf(out, "  spectrum[1][10] > 1750000 (Tessary flip-book)   %5.1f %%\n", 100 * t.flipBook);
  std::fprintf(out, "  bands[1][0]     >  480000 (Devazo Davu burst)   %5.1f %%\n", 100 * t.voxelBurst);
  std::fprintf(out, "  scope bars at full height (bins 0..254 / 8192 >= 100) %5.2f %%\n", 100 * t.scopeFull);
  return true;
}

}  // namespace tw
