#include "Report.h"

#include "engine/Analysis.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace tw {
namespace {

struct Series {
  std::vector<double> v;
  void add(double x) { v.push_back(x); }
  double pct(double p) {
    if (v.empty()) return 0;
    const size_t k = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5));
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return v[k];
  }
};

void row(FILE* out, const std::string& name, Series& s) {
  std::fprintf(out, "  %-22s %10.0f %10.0f %10.0f %10.0f %10.0f\n", name.c_str(), s.pct(10), s.pct(50),
               s.pct(90), s.pct(99), s.pct(100));
}

}  // namespace

ThresholdShares analyseSound(const Sound& sound, double fps, FILE* out) {
  Analyzer an(sound.sampleRate);
  const long frames = long(std::ceil(sound.seconds() * fps - 1e-9));
  // Spectrum groups: the bins the filters read, by region.
  const int groups[][2] = {{1, 3}, {4, 15}, {10, 10}, {16, 63}, {64, 127}, {128, 255}};
  Series spectra[2][6], level[2], bands[2][8];
  long wave = 0, flip = 0, burst = 0, full = 0;
  SoundFrame f;
  for (long n = 0; n < frames; ++n) {
    an.analyse(sound, int64_t(std::llround(double(n) / fps * sound.sampleRate)), &f);
    for (int ch = 0; ch < 2; ++ch) {
      for (int gi = 0; gi < 6; ++gi)
        for (int k = groups[gi][0]; k <= groups[gi][1]; ++k)
          spectra[ch][gi].add(f.spectrum[size_t(ch)][size_t(k)]);
      level[ch].add(f.level[ch]);
      for (int b = 0; b < 8; ++b) bands[ch][b].add(f.bands[ch][b]);
      for (int k = 0; k < 255; ++k) full += f.spectrum[size_t(ch)][size_t(k)] / 8192.0 >= 100;
    }
    wave += f.spectrum[1][10] > 1050000;
    flip += f.spectrum[1][10] > 1750000;
    burst += f.bands[1][0] > 480000;
  }
  ThresholdShares t;
  t.frames = frames;
  if (frames > 0) {
    t.torusWave = double(wave) / double(frames);
    t.flipBook = double(flip) / double(frames);
    t.voxelBurst = double(burst) / double(frames);
    t.scopeFull = double(full) / double(frames * 2 * 255);
  }
  if (!out) return t;
  std::fprintf(out, "%.1f s, %d Hz, %s, %ld frames at %g fps, FFT of %d samples (bin width %.1f Hz)\n",
               sound.seconds(), sound.sampleRate, sound.stereo ? "stereo" : "mono", frames, fps, an.fftSize(),
               an.binHz(1));
  for (int ch = 0; ch < 2; ++ch) {
    std::fprintf(out, "\nchannel %d (%s)%24s %10s %10s %10s %10s\n", ch, ch == 0 ? "left" : "right", "p10",
                 "p50", "p90", "p99", "max");
    for (int gi = 0; gi < 6; ++gi) {
      char name[40];
      if (groups[gi][0] == groups[gi][1])
        std::snprintf(name, sizeof name, "spectrum[%d]", groups[gi][0]);
      else
        std::snprintf(name, sizeof name, "spectrum[%d..%d]", groups[gi][0], groups[gi][1]);
      row(out, name, spectra[ch][gi]);
    }
    row(out, "level", level[ch]);
    for (int b = 0; b < 8; ++b) {
      char name[48];
      std::snprintf(name, sizeof name, "bands[%d] %g-%g Hz", b, kBandEdgesHz[size_t(b)],
                    kBandEdgesHz[size_t(b) + 1]);
      row(out, name, bands[ch][b]);
    }
  }
  std::fprintf(out, "\nthresholds (share of frames)\n");
  std::fprintf(out, "  spectrum[1][10] > 1050000 (TideTorus wave)      %5.1f %%\n", 100 * t.torusWave);
  std::fprintf(out, "  spectrum[1][10] > 1750000 (Tessary flip-book)   %5.1f %%\n", 100 * t.flipBook);
  std::fprintf(out, "  bands[1][0]     >  480000 (Devazo Davu burst)   %5.1f %%\n", 100 * t.voxelBurst);
  std::fprintf(out, "  scope bars at full height (bins 0..254 / 8192 >= 100) %5.2f %%\n", 100 * t.scopeFull);
  return t;
}

}  // namespace tw
