// `tidewave analyse`: how the analysis of a piece lands on the filters'
// scales — percentiles of spectrum bins, levels and bands per channel, and
// the share of frames that cross each threshold the filters use.
#pragma once

#include "engine/SoundSource.h"

#include <cstdio>
#include <memory>
#include <string>

namespace tw {

struct ThresholdShares {
  long frames = 0;
  double torusWave = 0;   // spectrum[1][10] > 1 050 000 (TideTorus starts a wave)
  double flipBook = 0;    // spectrum[1][10] > 1 750 000 (Tessary starts a run)
  double voxelBurst = 0;  // bands[1][0] > 480 000 (Devazo Davu speeds up)
  double scopeFull = 0;   // share of scope bars (bins 0 … 254, both channels) at full height
};

// Analyses the whole piece, streaming, and prints the report to `report`
// (unless null). False with a one-line reason when it cannot be read.
bool analyseSound(std::unique_ptr<SoundSource> sound, double fps, FILE* report, ThresholdShares* shares,
                  std::string* error);

}  // namespace tw
