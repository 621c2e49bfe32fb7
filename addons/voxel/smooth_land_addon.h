// Moorvista: two flights over random terrain. "Vidivi Vadu" is the plain
// engine: the sound level sets its speed and the changes of the sound turn
// it gently. "Devazo Davu" (CTeknoVoxel) bursts forward on loud or sudden
// sound and swings back toward its starting direction every frame.
#pragma once

#include "CVoxelFilter.h"

class CTeknoVoxel : public CVoxelFilter {
 public:
  CTeknoVoxel();
  // Bursts of speed from the sound; the heading is pulled back toward 0.
  void update(SFrameInfo& info) override;
};
