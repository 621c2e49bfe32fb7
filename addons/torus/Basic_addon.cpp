#include "Basic_addon.h"

#include <cmath>
#include <new>

namespace {

constexpr double kTwoPi = 6.283185307179586;

// Lines to a vertex farther out than this are not drawn: walking them pixel
// by pixel would stall the frame, and beyond 2^31 their coordinates would
// not even fit the primitives' integers. Only absurd spectra (values beyond
// about 10^10; the host's stay below 10^8) or NaN get there.
constexpr double kFarthest = 1048576.0;

// Frame coordinates of one vertex, truncated toward zero.
struct Pixel {
  int32 x, y;
  bool drawable;
};

Pixel toPixel(const Point3D& p) {
  // The negated test also catches NaN.
  if (!(std::fabs(p.x) < kFarthest) || !(std::fabs(p.y) < kFarthest)) return {0, 0, false};
  return {int32(p.x), int32(p.y), true};
}

// The colours of the two modes. A level is quiet below 10, loud from 90 on,
// and in between picks a step of the ramp; a NaN level counts as loud.
struct Colours8 {
  using Value = uint8;
  static constexpr uint8 quiet = 32, loud = 42, wave = 250;
  // 49 at level 10, down to 41 just below 90.
  static uint8 middle(float level) { return uint8(int32(49 - (double(level) - 10) * 0.1)); }
};

struct Colours32 {
  using Value = uint32;
  static constexpr uint32 quiet = 0x0000F8, loud = 0xF80000, wave = 0xFAFA33;
  // Red 80 at level 10, growing by 21.875 per unit of level. From level 18 on
  // the value passes 255; it is held there, so it never spills into green.
  static uint32 middle(float level) {
    int32 v = int32(80 + (double(level) - 10) * 175 * 0.125);
    if (v > 255) v = 255;
    return uint32(v) << 16;
  }
};

template <typename C>
typename C::Value tubeColour(float level) {
  if (level < 10) return C::quiet;
  if (level < 90) return C::middle(level);
  return C::loud;
}

// A ring line joins two segments: it is quiet unless one of them is above 10,
// and then takes the colour of the louder one.
template <typename C>
typename C::Value ringColour(float l1, float l2) {
  if (!(l1 > 10 || l2 > 10)) return C::quiet;
  const float m = l1 > l2 ? l1 : l2;
  if (m < 90) return C::middle(m);
  return C::loud;
}

}  // namespace

CSampleFftFilter::CSampleFftFilter()
    : points(nullptr),
      ringCount(0),
      tubeCount(0),
      ringCos(nullptr),
      ringSin(nullptr),
      tubeCos(nullptr),
      tubeSin(nullptr),
      tubeRadius(0),
      ringRadius(0),
      tiltAngle(0),
      turnAngle(0),
      spinAngle(0),
      orbitAngle(0),
      sinTable(nullptr),
      levels(nullptr),
      wavePos{-1, -1, -1},
      waveMirror{-1, -1, -1},
      waveFrames{0, 0, 0} {}

CSampleFftFilter::~CSampleFftFilter() { release(); }

void CSampleFftFilter::release() {
  delete[] points;
  delete[] ringCos;
  delete[] ringSin;
  delete[] tubeCos;
  delete[] tubeSin;
  delete sinTable;
  delete[] levels;
  points = nullptr;
  ringCos = ringSin = tubeCos = tubeSin = levels = nullptr;
  sinTable = nullptr;
}

bool CSampleFftFilter::load() {
  name = "TideTorus";
  author = "Orrel Dask";
  info = "orrel.dask@example.org";
  hostHint1 = 0;
  hostHint2 = 4;
  supportedModes = 3;

  release();  // a second load builds afresh instead of leaking the first
  ringCount = 32;
  tubeCount = 12;
  tubeRadius = 10.0f;
  ringRadius = 60.0f;
  ringCos = new (std::nothrow) float[size_t(ringCount)];
  ringSin = new (std::nothrow) float[size_t(ringCount)];
  tubeCos = new (std::nothrow) float[size_t(tubeCount)];
  tubeSin = new (std::nothrow) float[size_t(tubeCount)];
  points = new (std::nothrow) Point3D[size_t(ringCount * tubeCount)];
  sinTable = new (std::nothrow) SinTable;
  levels = new (std::nothrow) float[size_t(ringCount)]();
  if (!ringCos || !ringSin || !tubeCos || !tubeSin || !points || !sinTable || !levels) {
    release();
    return false;
  }

  // Segment i is centred half a segment past its start, so segments i and
  // 31 − i mirror each other across the torus's x axis.
  for (int32 i = 0; i < ringCount; ++i) {
    const double a = (i + 0.5) * kTwoPi;
    ringCos[i] = float(std::cos(a / ringCount));
    ringSin[i] = float(std::sin(a / ringCount));
  }
  for (int32 j = 0; j < tubeCount; ++j) {
    const double a = kTwoPi * j;
    tubeCos[j] = float(std::cos(a / tubeCount));
    tubeSin[j] = float(std::sin(a / tubeCount));
  }
  for (int32 k = 0; k < ringCount * tubeCount; ++k) points[k].table = sinTable;
  return true;
}

bool CSampleFftFilter::prepare() {
  tiltAngle = turnAngle = spinAngle = orbitAngle = 0;
  for (int k = 0; k < 3; ++k) wavePos[k] = waveMirror[k] = -1;
  return points != nullptr;  // nothing to draw with unless load succeeded
}

void CSampleFftFilter::pre_update(float* spectrum) {
  spinAngle = int16((spinAngle + 5) % 360);
  tiltAngle = int16((tiltAngle + 4) % 360);
  turnAngle = int16((turnAngle + 3) % 360);
  orbitAngle = int16((orbitAngle + 1) % 360);

  // The centre circles the middle of the frame; the table's float values are
  // widened, the sum is taken in double and truncated.
  const int32 centreX = int32(160 * double(sinTable->cosValues[orbitAngle]) + (width >> 1));
  const int32 centreY = int32(120 * double(sinTable->sinValues[orbitAngle]) + (height >> 1));

  const float stretchX = float(spectrum[10] * 3.3333333333333335e-05);
  const float stretchY = float(spectrum[9] * 3.3333333333333335e-05);

  if (stretchX > 35 || stretchY > 35) {
    int k = -1;
    if (wavePos[0] == -1)
      k = 0;
    else if (wavePos[1] == -1 && wavePos[0] > 1)
      k = 1;
    else if (wavePos[2] == -1 && wavePos[0] > 1 && wavePos[1] > 1)
      k = 2;
    if (k >= 0) {
      wavePos[k] = 0;
      waveMirror[k] = ringCount - 1;
      waveFrames[k] = 0;
    }
  }

  for (int32 i = 0; i < ringCount / 2; ++i) {
    float level;
    if (i == 0) {
      const float sum = float(double(spectrum[1]) + spectrum[2] + spectrum[3]);
      level = float(sum * 1.3333333333333333e-05);
    } else {
      // Higher bands weigh more: the divisor falls from 120000 to 50000.
      const int32 b = (i * 256) / ringCount;
      const float sum =
          float(double(spectrum[b - 2]) + spectrum[b - 1] + spectrum[b] + spectrum[b + 1] + spectrum[b + 2]);
      level = float(sum / double(125000 - 5000 * i));
    }
    const int32 mirror = ringCount - 1 - i;
    levels[i] = levels[mirror] = level;

    const double r = double(level) + tubeRadius;
    for (int32 j = 0; j < tubeCount; ++j) {
      Point3D& p = points[i + ringCount * j];
      Point3D& m = points[mirror + ringCount * j];
      const double across = r * tubeCos[j];
      p.SetTo((double(stretchX) + ringRadius + across) * ringCos[i],
              (double(stretchY) + ringRadius + across) * ringSin[i], r * tubeSin[j]);
      // The mirror image is taken before either point turns.
      m.SetTo(p.x, 0 - p.y, p.z);
      p.FastRotateZ(spinAngle);
      p.FastRotateX(tiltAngle);
      p.FastRotateZ(turnAngle);
      m.FastRotateZ(spinAngle);
      m.FastRotateX(tiltAngle);
      m.FastRotateZ(turnAngle);
      // Orthographic projection: z is dropped.
      p.x += centreX;
      p.y += centreY;
      m.x += centreX;
      m.y += centreY;
    }
  }
}

void CSampleFftFilter::post_update() {
  for (int k = 0; k < 3; ++k) {
    // A wave moves one segment every fourth frame, on its first frame too.
    if (wavePos[k] != -1 && (waveFrames[k] & 3) == 0) {
      if (++wavePos[k] > ringCount / 2 - 1) wavePos[k] = -1;
      if (--waveMirror[k] < ringCount / 2) waveMirror[k] = -1;
    }
  }
  // The counters run on while their waves rest; they wrap rather than
  // overflow on a very long run.
  for (int k = 0; k < 3; ++k) waveFrames[k] = int32(uint32(waveFrames[k]) + 1u);
}

template <typename C>
void CSampleFftFilter::drawMesh() {
  constexpr int32 kMaxVertices = 32 * 12;
  const int32 count = ringCount * tubeCount;
  if (count > kMaxVertices) return;
  Pixel at[kMaxVertices];
  for (int32 k = 0; k < count; ++k) at[k] = toPixel(points[k]);

  // In the software path a line whose bounding box misses the frame sets no
  // pixel; skipping it saves walking far-away lines of a hugely stretched
  // torus. The card hooks get every line, as they clip for themselves.
  constexpr bool wide = sizeof(typename C::Value) == 4;
  const bool hooked = useCardHooks && (wide ? lineHook32 != nullptr : lineHook8 != nullptr);
  auto line = [&](const Pixel& a, const Pixel& b, typename C::Value colour) {
    if (!a.drawable || !b.drawable) return;
    if (!hooked && ((a.x < 0 && b.x < 0) || (a.y < 0 && b.y < 0) || (a.x >= width && b.x >= width) ||
                    (a.y >= height && b.y >= height)))
      return;
    if constexpr (wide)
      blitLine32(a.x, a.y, b.x, b.y, colour);
    else
      blitLine8(a.x, a.y, b.x, b.y, colour);
  };

  for (int32 i = 0; i < ringCount; ++i) {
    const int32 prev = i == 0 ? ringCount - 1 : i - 1;
    bool reached = false;
    for (int k = 0; k < 3; ++k) reached = reached || i == wavePos[k] || i == waveMirror[k];
    const auto tube = reached ? C::wave : tubeColour<C>(levels[i]);
    const auto ring = ringColour<C>(levels[i], levels[prev]);
    for (int32 j = 0; j < tubeCount; ++j) {
      const int32 below = j == 0 ? tubeCount - 1 : j - 1;
      const Pixel& p = at[i + ringCount * j];
      line(p, at[prev + ringCount * j], ring);
      line(p, at[i + ringCount * below], tube);
    }
  }
}

void CSampleFftFilter::processFrame8(SFrameInfo& info) {
  if (points == nullptr || info.spectrum[1] == nullptr) return;
  pre_update(info.spectrum[1]);
  drawMesh<Colours8>();
  post_update();
}

void CSampleFftFilter::processFrame32(SFrameInfo& info) {
  if (points == nullptr || info.spectrum[1] == nullptr) return;
  pre_update(info.spectrum[1]);
  drawMesh<Colours32>();
  post_update();
}

extern "C" CFilter* filterInit(int32 index) noexcept {
  return index == 0 ? new_filter<CSampleFftFilter>() : nullptr;
}
