// Fourivale: "FfT Moorvista", a flight over the sound's own spectrogram.
// Every frame the newest spectrum becomes one row of the height map, 30 rows
// ahead of the camera, which flies straight along the rows at about one row
// per frame: loud frequencies stand up as ridges that come toward the viewer.
// Only the keys turn the camera and change its speed.
#include "CVoxelFilter.h"

#include <cmath>
#include <cstdio>

namespace {

// Cosine ridges along the diagonals, changing every 6 cells: the terrain
// before any spectrum has been written.
int ripple(int row, int column, int, int) { return int(128 + 10 * std::cos(double((row + column) / 6))); }

void declareParams(BMessage& params) {
  // Declared for the host; the flight always uses the fixed values.
  params.AddFloat("X Observer", 8.0f);
  params.AddFloat("Y Observer", 0.0f);
  params.AddFloat("Vision Angle", 1.5707964f);
  params.AddInt32("Speed", 16);
  params.AddFloat("Sound Divider", 8192.0f);
}

void writeSpectrumRow(CVoxelFilter& f, SFrameInfo& info) {
  f.setMap(info, uint32(f.spectrumRow));
  f.spectrumRow = (f.spectrumRow + 1) & 255;
}

// An empty dark red panel, made once; the filter keeps it.
BView* openSettings(CVoxelFilter& f) {
  std::printf("CSampleFftFilter::settingsOpened -- (%p)\n", static_cast<void*>(f.settingsView));
  if (f.settingsView) return f.settingsView;
  f.settingsView = new BView(BRect(0, 0, 200, 50), "myview", B_FOLLOW_ALL, B_WILL_DRAW);
  std::printf("CSampleFftFilter::settingsOpened -- new view %p\n", static_cast<void*>(f.settingsView));
  if (!f.settingsView) return nullptr;
  f.settingsView->SetViewColor(150, 40, 40, 255);
  return f.settingsView;
}

constexpr SVoxelVariant kFftMoorvista = {
    .name = "FfT Moorvista",
    .author = "Brack & Mornel",
    .supportedModes = 1,
    .declareParams = declareParams,
    .subdivide = ripple,
    .mapInLoad = true,
    .rows = 240,
    .fallDivisor = 16,
    .output8 = &CVoxelFilter::outputDoubled8,
    .output32 = nullptr,
    .beforeFrame = writeSpectrumRow,
    .soundSpeed = false,
    .soundSteering = false,
    .wrapHeading = false,
    .reduceBeforeMove = true,
    .turnRightKey = B_OPTION_KEY,
    .lowestSpeedShift = 1,
    .startHeading = 1.5707964f,
    .startSpeedShift = 16,
    .startCamX = 0x80000,
    .clearInPrepare = false,
    .openSettings = openSettings,
};

}  // namespace

void CVoxelFilter::setMap(SFrameInfo& info, uint32 row) {
  const float* s = info.spectrum[1];
  const int y = int(row & 255);
  uint8* const h = heightMap;
  auto at = [h](int r, int x) -> uint8& { return h[((r & 255) << 8) | (x & 255)]; };
  // A silent frequency is the deepest ground (255); the loudest reach 128.
  for (int x = 0; x < 256; ++x) {
    const int v = Clamp(s ? trunc_int32(s[x] * 0.0001220703125f) : 0);
    at(y, x) = uint8(255 - v / 2);
  }
  // One smoothing pass and the shading, over this row only.
  for (int x = 0; x < 256; ++x)
    at(y, x) = uint8((at(y + 1, x) + at(y, x + 1) + at(y - 1, x) + at(y, x - 1)) / 4);
  for (int x = 0; x < 256; ++x)
    shadeMap[(y << 8) | x] = uint8(Clamp(128 + 4 * (at(y + 1, x + 1) - at(y, x))));
  packMaps(y, y);
}

extern "C" CFilter* filterInit(int32 index) noexcept {
  return index == 0 ? new_filter<CVoxelFilter>(kFftMoorvista) : nullptr;
}
