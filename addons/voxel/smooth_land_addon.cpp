#include "smooth_land_addon.h"

#include <cmath>

namespace {

constexpr SVoxelVariant kVidiviVadu = {
    .name = "Vidivi Vadu",
    .author = "Brack & Mornel",
    .supportedModes = 3,
    .declareParams = nullptr,
    .subdivide = voxel_random_subdivide,
    .mapInLoad = false,
    .rows = 240,
    .fallDivisor = 8,
    .output8 = &CVoxelFilter::outputByWidth8,
    .output32 = &CVoxelFilter::outputCentred32,
    .beforeFrame = nullptr,
    .soundSpeed = true,
    .soundSteering = true,
    .wrapHeading = true,
    .reduceBeforeMove = false,
    .turnRightKey = B_RIGHT_SHIFT_KEY,
    .lowestSpeedShift = 1,
    .startHeading = 0.0f,
    .startSpeedShift = 0,
    .startCamX = 0,
    .clearInPrepare = true,
    .openSettings = nullptr,
};

// The same flight; only its descriptor and its own update differ (Option
// turns right, Command reaches speedShift 0).
constexpr SVoxelVariant kDevazoDavu = [] {
  SVoxelVariant v = kVidiviVadu;
  v.name = "Devazo Davu";
  v.author = "Tinker, Brack & Mornel";
  v.turnRightKey = B_OPTION_KEY;
  v.lowestSpeedShift = 0;
  return v;
}();

constexpr int32 kBurstThreshold = 60000;
constexpr int32 kBurstLimit = 0x50000;  // five cells per frame

}  // namespace

CTeknoVoxel::CTeknoVoxel() : CVoxelFilter(kDevazoDavu) {}

void CTeknoVoxel::update(SFrameInfo& info) {
  // This filter's own steering state, apart from Vidivi Vadu's.
  static float lastRaie = 0.0f, idealraie = 0.0f;
  const double b = info.bands[1][0];
  const float lr = float(b * (1.0 / 8192));
  const float d = lr - lastRaie;
  idealraie = idealraie + (d - idealraie) / 10;
  lastRaie = lr;

  // Only loud passages or very sudden changes add speed.
  int64 boost =
      int64(trunc_int32(std::fabs(double(d)) * 4 + double(trunc_int32(b * 0.125)))) - kBurstThreshold;
  if (boost < 0) boost = 0;
  if (boost > kBurstLimit) boost = kBurstLimit;
  const int32 step = int32(boost) + (int32(1) << speedShift);
  moveCamera(step, heading);

  // The faster the camera, the less the sound steers; the weights add up to
  // 8 and the factor is 1/16, so every frame also halves the heading.
  const float target = float(double(idealraie) * double(kQuarterPi) / 20 + double(heading));
  const float k = float(std::atan(double(step) / 120000) * 16 / 3.14159265385);
  const float w = 8 - k;
  float next = (w * target + k * heading) * 0.0625f;
  next = wrapHeading(next);
  heading = applyKeys(next, variant.turnRightKey, variant.lowestSpeedShift);
}

extern "C" CFilter* filterInit(int32 index) noexcept {
  switch (index) {
    case 0:
      return new_filter<CVoxelFilter>(kVidiviVadu);
    case 1:
      return new_filter<CTeknoVoxel>();
    default:
      return nullptr;
  }
}
