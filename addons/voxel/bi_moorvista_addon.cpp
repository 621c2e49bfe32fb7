// Gemelle: "Bi Moorvista", the terrain rendered into a strip half as high
// and shown twice: as a floor in the lower half of the frame and, mirrored,
// as a ceiling in the upper half. The camera keeps exactly 30 units above the
// ground under it; the sound moves and steers it as in Vidivi Vadu.
#include "CVoxelFilter.h"

namespace {

constexpr SVoxelVariant kBiMoorvista = {
    .name = "Bi Moorvista",
    .author = "Brack & Mornel",
    .supportedModes = 1,
    .declareParams = nullptr,
    .subdivide = voxel_random_subdivide,
    .mapInLoad = false,
    .rows = 120,
    .fallDivisor = 1,  // the ground depth itself, rises and falls alike
    .output8 = &CVoxelFilter::outputMirrored8,
    .output32 = nullptr,
    .beforeFrame = nullptr,
    .soundSpeed = true,
    .soundSteering = true,
    .wrapHeading = true,
    .reduceBeforeMove = false,
    .turnRightKey = B_OPTION_KEY,
    .lowestSpeedShift = 1,
    .startHeading = 0.0f,
    .startSpeedShift = 16,
    .startCamX = 0,
    .clearInPrepare = true,
    .openSettings = nullptr,
};

}  // namespace

extern "C" CFilter* filterInit(int32 index) noexcept {
  return index == 0 ? new_filter<CVoxelFilter>(kBiMoorvista) : nullptr;
}
