// The embedded demo track. Everything is computed from the sample index with
// a fixed noise generator, so every call yields the same samples.
//
// Arrangement in 2-second bars (120 BPM, four beats a bar):
//   bars 0–1   kick and hats, soft chords
//   bars 2–5   bass line and snare join
//   bars 6–7   break: chords, bass and a rising sweep, no drums
//   bars 8–13  everything, louder, with a lead arpeggio; a second sweep in bar 11
//   bar 14 on  the drums stop and the chords ring out
#include "engine/Sound.h"

#include <cmath>
#include <cstdint>

namespace tw {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A small linear congruential generator: fixed, platform-independent noise.
struct Noise {
  uint32_t state = 0x1234567u;
  float next() {
    state = state * 1664525u + 1013904223u;
    return float(int32_t(state)) / 2147483648.0f;
  }
};

double midiHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

struct Pan {
  float l, r;
};
Pan pan(double p) {  // 0 = left, 0.5 = centre, 1 = right; constant power
  return {float(std::cos(p * kPi / 2)), float(std::sin(p * kPi / 2))};
}

}  // namespace

Sound makeDemoTrack(double seconds, int rate) {
  Sound s;
  s.sampleRate = rate;
  s.stereo = true;
  const int64_t total = int64_t(seconds * rate);
  s.left.assign(size_t(total > 0 ? total : 0), 0.0f);
  s.right.assign(s.left.size(), 0.0f);

  const double beat = 0.5;  // seconds at 120 BPM
  const double bar = 4 * beat;
  // Am, F, C, G: chord tones (MIDI) and bass roots.
  const int chords[4][3] = {{57, 60, 64}, {53, 57, 60}, {55, 60, 64}, {55, 59, 62}};
  const int roots[4] = {45, 41, 48, 43};
  const int bassPattern[8] = {0, 0, 12, 0, 7, 0, 12, 10};

  Noise noise;
  float hatState = 0, sweepLow = 0, sweepBand = 0;
  double kickPhase = 0, bassPhase = 0, snarePhase = 0, leadPhase = 0;
  double chordPhase[3] = {0, 0, 0};
  const double dt = 1.0 / rate;

  for (int64_t i = 0; i < total; ++i) {
    const double t = double(i) * dt;
    const int barNo = int(t / bar);
    const double inBar = t - barNo * bar;
    const int beatNo = int(inBar / beat);
    const double inBeat = inBar - beatNo * beat;
    const double inEighth = std::fmod(inBar, beat / 2);
    const int eighth = int(inBar / (beat / 2));
    const bool drums = barNo < 14 && (barNo < 6 || barNo >= 8);
    const bool full = barNo >= 8 && barNo < 14;
    const double gain = full ? 1.0 : 0.7;
    const int chord = barNo % 4;
    float l = 0, r = 0;
    const float n = noise.next();

    // Kick: a falling sine with a click, on every beat.
    if (drums) {
      const double f = 50 + 110 * std::exp(-inBeat / 0.03);
      kickPhase += 2 * kPi * f * dt;
      if (inBeat < dt) kickPhase = 0;
      // Driven into a soft clip for the harmonics a real kick has.
      const float k = float(0.8 * gain * std::tanh(2.2 * std::exp(-inBeat / 0.16) * std::sin(kickPhase)));
      l += k, r += k;
    }
    // Snare on beats 2 and 4, a little left of centre.
    if (drums && barNo >= 2 && (beatNo == 1 || beatNo == 3)) {
      snarePhase += 2 * kPi * 185 * dt;
      const double body = std::exp(-inBeat / 0.06);
      const float sn =
          float(gain * (0.32 * n * std::exp(-inBeat / 0.09) +
                        body * (0.35 * std::sin(snarePhase) + 0.3 * std::sin(2.3 * snarePhase))));
      const Pan p = pan(0.45);
      l += sn * p.l, r += sn * p.r;
    }
    // Hats on every eighth, high-passed noise, right of centre.
    if (drums) {
      const float hp = n - hatState;
      hatState = n;
      const float h = float(gain * 0.16 * hp * std::exp(-inEighth / (eighth % 2 ? 0.06 : 0.025)));
      const Pan p = pan(0.8);
      l += h * p.l, r += h * p.r;
    }
    // Bass: a few harmonics of the root pattern on eighths, centre.
    if (barNo >= 2) {
      const double f = midiHz(roots[chord] + bassPattern[eighth % 8] - 12);
      bassPhase += 2 * kPi * f * dt;
      const double env = std::exp(-inEighth / 0.18);
      const float b =
          float(gain * 0.42 * env *
                (std::sin(bassPhase) + 0.45 * std::sin(2 * bassPhase) + 0.2 * std::sin(3 * bassPhase)));
      l += b, r += b;
    }
    // Lead: an arpeggio of the chord an octave up, on sixteenths, in the
    // loud part, right of centre.
    if (full) {
      const int sixteenth = int(inBar / (beat / 4));
      const double inSixteenth = std::fmod(inBar, beat / 4);
      const int note = chords[chord][sixteenth % 3] + 12 * (1 + (sixteenth / 3) % 2);
      leadPhase += 2 * kPi * midiHz(note) * dt;
      const double env = std::exp(-inSixteenth / 0.07);
      const float ld = float(0.16 * env * (std::sin(leadPhase) + 0.4 * std::sin(3 * leadPhase)));
      const Pan p = pan(0.68);
      l += ld * p.l, r += ld * p.r;
    }
    // Chords: three voices, each panned to its own place; they swell in the
    // break and ring out at the end.
    {
      const double swell =
          barNo >= 14 ? std::exp(-(t - 14 * bar) / 1.2) : (barNo >= 6 && barNo < 8 ? 1.2 : 0.8);
      const double env = swell * (0.6 + 0.4 * std::exp(-inBar / 0.6));
      const double places[3] = {0.15, 0.5, 0.85};
      for (int v = 0; v < 3; ++v) {
        chordPhase[v] += 2 * kPi * midiHz(chords[chord][v]) * dt;
        const double x = chordPhase[v];
        const float c =
            float(gain * 0.11 * env * (std::sin(x) + 0.3 * std::sin(2 * x) + 0.12 * std::sin(3 * x)));
        const Pan p = pan(places[v]);
        l += c * p.l, r += c * p.r;
      }
    }
    // Sweep: noise through a resonant band-pass rising over the break (bars
    // 6–7) and over bar 11, travelling from left to right.
    const bool breakSweep = barNo >= 6 && barNo < 8;
    if (breakSweep || barNo == 11) {
      const double start = breakSweep ? 6 * bar : 11 * bar, len = breakSweep ? 2 * bar : bar;
      const double u = (t - start) / len;
      const double fc = 200 * std::pow(40.0, u);
      const float f = float(2 * std::sin(kPi * fc * dt));
      const float q = 0.25f;
      sweepLow += f * sweepBand;
      const float high = n - sweepLow - q * sweepBand;
      sweepBand += f * high;
      const float sw = float(0.12 * u * sweepBand);
      const Pan p = pan(u);
      l += sw * p.l, r += sw * p.r;
    }
    // Soft clip keeps the loud part below full scale.
    s.left[size_t(i)] = float(32767.0 * std::tanh(0.9 * l));
    s.right[size_t(i)] = float(32767.0 * std::tanh(0.9 * r));
  }
  return s;
}

}  // namespace tw
