#include "line_addon.h"

#include "FilterKit.h"

#include <array>
#include <cmath>

namespace {

// Conversions from floating point truncate toward zero, saturating (the
// sound data is not ours to trust). The result is wide so that the
// arithmetic that follows cannot overflow either.
int64 truncToInt(double v) { return trunc_int32(v); }

int64 clampTo(int64 v, int64 lo, int64 hi) { return v < lo ? lo : v > hi ? hi : v; }

// Coordinates handed to the primitives, saturated into their int32 range.
int32 coord(int64 v) { return int32(clampTo(v, INT32_MIN, INT32_MAX)); }

// One line in the pixel type of the frame operation that draws it.
void line(CFilter& f, int64 x1, int64 y1, int64 x2, int64 y2, uint8 color) {
  f.blitLine8(coord(x1), coord(y1), coord(x2), coord(y2), color);
}
void line(CFilter& f, int64 x1, int64 y1, int64 x2, int64 y2, uint32 color) {
  f.blitLine32(coord(x1), coord(y1), coord(x2), coord(y2), color);
}

// Colour A (green) and colour B (yellow) of the scopes, per pixel mode.
constexpr uint8 kGreen8 = 52, kYellow8 = 250;
constexpr uint32 kGreen32 = 0x00DF00, kYellow32 = 0xDFDF00;

constexpr double kScopeScale = 1.0 / 8192;     // FFT Scope, FFT 2
constexpr double kCentralScale = 1.0 / 32768;  // FFT Central
constexpr double kFanScale = 1.0 / 16384;      // DudoZariri

// ---- FFT Scope -------------------------------------------------------------

// One panel: 255 bars standing on row 110 from column `left`, then the level
// line, which reaches two columns past the last bar.
template <typename Pixel>
void scopePanel(CFilter& f, const float* spectrum, double level, int64 left, Pixel bar, Pixel levelColor) {
  const int64 row = clampTo(110 - truncToInt(level * kScopeScale), 0, 479);
  for (int64 i = 0; i < 255; ++i) {
    const int64 h = clampTo(100 - truncToInt(kScopeScale * spectrum[i]), 0, 99);
    line(f, left + i, 10 + h, left + i, 110, bar);
  }
  line(f, left, row, left + 256, row, levelColor);
}

template <typename Pixel>
void drawScope(CFilter& f, const SFrameInfo& info, Pixel a, Pixel b) {
  scopePanel(f, info.spectrum[1], info.level[1], 10, a, b);
  scopePanel(f, info.spectrum[0], info.level[0], 374, b, a);
}

// ---- FFT 2 -----------------------------------------------------------------

int64 bandHeight(double v) { return clampTo(truncToInt(v * kScopeScale), 0, 300); }

template <typename Pixel>
void drawBands(CFilter& f, const SFrameInfo& info, Pixel a, Pixel b) {
  for (int64 i = 0; i < 8; ++i) {
    const int64 xL = 10 + 32 * i, xR = 374 + 32 * i;
    const int64 yR = 470 - bandHeight(info.bands[0][i]);
    const int64 yL = 470 - bandHeight(info.bands[1][i]);
    line(f, xL, 470, xL, yL, a);
    line(f, xL, yL, xL + 31, yL, a);
    line(f, xR, 470, xR, yR, b);
    line(f, xR, yR, xR + 31, yR, b);
  }
  const int64 yR = 470 - bandHeight(info.level[0]);
  const int64 yL = 470 - bandHeight(info.level[1]);
  line(f, 10, yL, 266, yL, b);
  line(f, 374, yR, 630, yR, a);
}

// ---- FFT Central -------------------------------------------------------------

// Rows whose bin (frameCount + y) AND 511 lies past 255 stay untouched; the
// others get a line of half-length |bin / 32768|, capped at width / 2. Mode 1
// leaves out half-lengths up to 2, mode 2 only 0.
template <int Mode>
void drawCentral(CFilter& f, const SFrameInfo& info) {
  const int64 cx = f.width / 2;
  const float* spectrum = info.spectrum[1];
  for (int64 y = 0; y < f.height; ++y) {
    // Unsigned: the counter may run through the whole int32 range.
    const uint32 k = (uint32(info.frameCount) + uint32(y)) & 511;
    if (k > 255) continue;
    int64 v = truncToInt(spectrum[k] * kCentralScale);
    if (v < 0) v = -v;
    if (v <= (Mode == 1 ? 2 : 0)) continue;
    if (v > cx) v = cx;
    if constexpr (Mode == 1)
      line(f, cx - v, y, cx + v, y, uint8(uint64(y + v) & 255));
    else
      line(f, cx - v, y, cx + v, y, color_line2(int32(v), int32(cx)));
  }
}

// ---- DudoZariri ----------------------------------------------------------------

// The fan's own cosine: P(t)² − 1, where P is the Taylor polynomial of
// √2·cos(t/2) with single-precision constants, evaluated in double. It is
// within 1e−6 of the true cosine but the difference shows after truncation
// (128·cos 0 truncates to 127), and the picture keeps it.
constexpr float kA0 = 1.4142135f, kA1 = 0.17677669f, kA2 = 0.0036828478f, kA3 = 0.000030690397f,
                kA4 = 1.370107e-7f;
constexpr double kHalfPi = 1.5707963267948966;

double fanCos(float t) {
  const double u = double(t) * double(t);
  const double p = double(kA0) - double(kA1) * u + double(kA2) * u * u - double(kA3) * u * u * u +
                   double(kA4) * u * u * u * u;
  return p * p - 1.0;
}
// The same formula at the single-precision value of π/2 − t.
double fanSin(float t) { return fanCos(float(kHalfPi - double(t))); }

struct Ray {
  double c, s;
};
// The 64 directions of a fan: from 0 in single-precision steps of π/128 (the
// float 0.024543693), the sum rounded to single precision at every step. They
// depend on nothing else, so they are computed once.
const std::array<Ray, 64> kRays = [] {
  std::array<Ray, 64> rays{};
  float t = 0.0f;
  for (Ray& r : rays) {
    r = {fanCos(t), fanSin(t)};
    t = t + 0.024543693f;
  }
  return rays;
}();

// The 32-bit colour cycle, one entry per phase 0…127.
const std::array<uint32, 128> kCycle = [] {
  std::array<uint32, 128> colors{};
  for (int32 p = 0; p < 128; ++p) colors[size_t(p)] = color_line(p, 1.0f / 128);
  return colors;
}();

uint8 fanColor8(int32 i, int32 frameCount) { return uint8((uint32(i) + uint32(frameCount)) & 255); }
uint32 fanColor32(int32 i, int32 frameCount) { return kCycle[(uint32(i) + uint32(frameCount)) & 127]; }

// One fan around (cx, cy): line i runs from the circle of `startRadius` to
// radius base + sign · trunc(bin / 16384) in direction i.
template <typename ColorOf>
void drawFan(CFilter& f, const float* spectrum, int64 cx, int64 cy, int64 startRadius, int64 base, int64 sign,
             int32 frameCount, ColorOf colorOf) {
  for (int32 i = 0; i < 64; ++i) {
    const Ray& ray = kRays[size_t(i)];
    const int64 x1 = cx + truncToInt(double(startRadius) * ray.c);
    const int64 y1 = cy - truncToInt(double(startRadius) * ray.s);
    const int64 r = base + sign * truncToInt(spectrum[i] * kFanScale);
    const int64 x2 = cx + truncToInt(double(r) * ray.c);
    const int64 y2 = cy - truncToInt(double(r) * ray.s);
    line(f, x1, y1, x2, y2, colorOf(i, frameCount));
  }
}

template <typename ColorOf>
void drawFans(CFilter& f, const SFrameInfo& info, ColorOf colorOf) {
  drawFan(f, info.spectrum[0], 150, 200, 128, 128, -1, info.frameCount, colorOf);
  drawFan(f, info.spectrum[1], 450, 300, 50, 60, +1, info.frameCount, colorOf);
}

// The descriptor the four filters share.
void describe(CFilter& f, const char* name, float hostFactor) {
  f.name = name;
  f.author = "Mornel";
  f.info = "Sample code";
  f.hostHint1 = 0;
  f.hostHint2 = 3;
  f.hostFactor = hostFactor;
}

// The panels FFT Scope and FFT 2 declare; the drawing never reads them back.
void declarePanels(BMessage& params) {
  params.AddRect("Bass Frame", BRect(10, 10, 265, 109));
  params.AddRect("High Frame", BRect(374, 10, 629, 109));
  params.AddBool("Average", true);
  params.AddFloat("Divider", 8192);
}

}  // namespace

// ---- The colour ramps ------------------------------------------------------------

uint32 color_line(int32 phase, float scale) {
  const double theta = 2.0 * 3.141592653589793 * double(scale) * double(phase);
  const int64 e = 128 + truncToInt(127.0 * std::cos(theta));
  const int64 b = 128 + truncToInt(127.0 * std::cos(theta + 2.0943951023931953));
  return uint32(e) << 16 | uint32(e) << 8 | uint32(b);
}

uint32 color_line2(int32 value, int32 maximum) {
  const int32 q = maximum / 4;
  // A zero quarter would make the quotient infinite or undefined; the ramp
  // gives black there, as for every c ≤ 0.
  if (q == 0) return 0;
  const int64 c = truncToInt(512.0 * double(value) / double(q));
  if (c >= 1 && c <= 255) return uint32(c) << 16 | uint32(c) << 8;
  if (c <= 0) return 0;
  const int64 d = c - 256 < 255 ? c - 256 : 255;
  return uint32(d) << 16 | uint32(255 - d) << 8;
}

// ---- The filters -------------------------------------------------------------

bool CSampleFftFilter::load() {
  describe(*this, "FFT Scope", 0.79f);
  supportedModes = 3;
  declarePanels(params);
  return true;
}
bool CSampleFftFilter::prepare() { return true; }
void CSampleFftFilter::processFrame8(SFrameInfo& info) { drawScope(*this, info, kGreen8, kYellow8); }
void CSampleFftFilter::processFrame32(SFrameInfo& info) { drawScope(*this, info, kGreen32, kYellow32); }

bool CCentralFftFilter::load() {
  describe(*this, "FFT Central", 0.78f);
  supportedModes = 3;
  return true;
}
bool CCentralFftFilter::prepare() { return true; }
void CCentralFftFilter::processFrame8(SFrameInfo& info) { drawCentral<1>(*this, info); }
void CCentralFftFilter::processFrame32(SFrameInfo& info) { drawCentral<2>(*this, info); }

bool CFft2Filter::load() {
  describe(*this, "FFT 2", 0.79f);
  hostFlag1 = true;
  supportedModes = 3;
  declarePanels(params);
  return true;
}
bool CFft2Filter::prepare() { return true; }
void CFft2Filter::processFrame8(SFrameInfo& info) { drawBands(*this, info, kGreen8, kYellow8); }
void CFft2Filter::processFrame32(SFrameInfo& info) { drawBands(*this, info, kGreen32, kYellow32); }

// supportedModes keeps its default, 3.
bool CSampleCercleFilter::load() {
  describe(*this, "DudoZariri", 0.8f);
  return true;
}
bool CSampleCercleFilter::prepare() { return true; }
void CSampleCercleFilter::processFrame8(SFrameInfo& info) { drawFans(*this, info, fanColor8); }
void CSampleCercleFilter::processFrame32(SFrameInfo& info) { drawFans(*this, info, fanColor32); }

// The index is compared unsigned: a negative index lies past the end.
extern "C" CFilter* filterInit(int32 index) noexcept {
  switch (uint32(index)) {
    case 0:
      return new_filter<CSampleFftFilter>();
    case 1:
      return new_filter<CCentralFftFilter>();
    case 2:
      return new_filter<CFft2Filter>();
    case 3:
      return new_filter<CSampleCercleFilter>();
    default:
      return nullptr;
  }
}
