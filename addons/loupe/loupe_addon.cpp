#include "loupe_addon.h"

#include "FilterKit.h"

#include <cstring>

namespace {

constexpr int32 kColumn = 8;  // column width and trace step, in pixels
constexpr int64 kScale = 50;  // s ↦ trunc(s × 50 / 32768)
constexpr int32 kLow = 30, kHigh = 69;
constexpr int32 kTop8 = 160;  // row of trace value 30 in 8-bit mode
constexpr uint8 kIndex = 0xFA;
constexpr uint32 kBar = 0x00FA00, kCap = 0xFAFA00;

// The trace band of each column: lo…hi, clamped to 30…69.
struct Column {
  int32 lo, hi;
};

// C++ division truncates toward zero, as the trace's scaling requires
// (−1 × 50 / 32768 is 0, not −1).
int64 scaled(int64 s) { return s * kScale / 32768; }

int32 clampValue(int64 v) { return v <= kLow - 1 ? kLow : v >= kHigh + 1 ? kHigh : int32(v); }

// Calls fn(i, column) for the n columns of a frame; n ≥ 1.
template <typename Fn>
void forEachColumn(const int32* samples, int32 n, Fn fn) {
  // The mean's sum is 32-bit and wraps as such; the wrap is spelled out to
  // keep it defined for any sample values.
  uint32 sum = 0;
  for (int32 i = 0; i < n; ++i) sum += uint32(samples[i]);
  const int64 mean = int32(sum) / n;
  const int64 a = scaled(mean);
  int64 v = scaled(samples[0]) - a + 50;
  for (int32 i = 0; i < n; ++i) {
    const int64 next = scaled(samples[i + 1]) - a + 50;
    const int64 lo = v < next ? v : next, hi = v < next ? next : v;
    fn(i, Column{clampValue(lo), clampValue(hi)});
    v = next;
  }
}

}  // namespace

bool CSampleLoupeFilter::load() {
  name = "Ziduv";
  author = "Mornel";
  info = "Sample code";
  hostHint1 = 0;
  hostHint2 = 3;
  hostFactor = 0.81f;
  supportedModes = 3;
  return true;
}

bool CSampleLoupeFilter::prepare() { return true; }

void CSampleLoupeFilter::processFrame8(SFrameInfo& info) {
  // Only whole blocks are written, and only where they lie inside the frame
  // (the kit's rule: height rows of width pixels within bytesPerRow and
  // frameBytes); a frame narrower than 8 pixels gets nothing.
  const int32 n = width / kColumn;
  if (n <= 0 || info.samples == nullptr || info.bits == nullptr) return;
  const SFrameRows frame = frame_rows(*this, 1);
  uint8* const origin = static_cast<uint8*>(info.bits);
  uint8 pattern[kColumn];
  std::memset(pattern, kIndex, sizeof pattern);

  forEachColumn(info.samples, n, [&](int32 i, Column c) {
    const int64 x = int64(i) * kColumn;
    for (int32 k = c.lo; k <= c.hi; ++k) {
      const int32 top = kTop8 + kColumn * (k - kLow);
      for (int32 r = 0; r < kColumn; ++r) {
        const int64 y = top + r, start = y * frame.bytesPerRow;
        // Later blocks of the column lie lower still, so the first that does
        // not fit ends the column.
        if (frame.fit(y, start, x, kColumn) != kColumn) return;
        std::memcpy(origin + start + x, pattern, kColumn);
      }
    }
  });
}

void CSampleLoupeFilter::processFrame32(SFrameInfo& info) {
  const int32 n = width / kColumn;
  if (n <= 0 || info.samples == nullptr) return;
  forEachColumn(info.samples, n, [&](int32 i, Column c) {
    const int32 left = kColumn * i, right = left + kColumn - 1;
    blitRect32(left, kColumn * c.lo - 90, right, kColumn * c.hi - 82, kBar);
    blitRect32(left, kColumn * c.lo - 90, right, kColumn * c.lo - 82, kCap);
  });
}

extern "C" CFilter* filterInit(int32 index) noexcept {
  return index == 0 ? new_filter<CSampleLoupeFilter>() : nullptr;
}
