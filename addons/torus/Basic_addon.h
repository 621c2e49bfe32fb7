// TideTorus: a wire-frame torus of 32 ring segments by 12 tube segments that
// the music swells, stretches and lights. Each ring segment takes its level
// from one band of the spectrum (channel 1); sixteen bands fill one half of
// the ring and are mirrored onto the other. Two low bins stretch the ring and,
// when strong, launch waves that run from segments 0 and 31 round both halves
// to 15 and 16. The filter draws lines only; it never clears the frame.
#pragma once

#include "CFilter.h"
#include "Point3D.h"
#include "SinTable.h"

class CSampleFftFilter : public CFilter {
 public:
  CSampleFftFilter();
  // Releases the mesh, the tables and the levels.
  ~CSampleFftFilter() override;

  // Fills the descriptor and builds the geometry; false (with nothing left
  // allocated) when an allocation fails.
  bool load() override;
  // Resets the angles and the waves, so every run starts alike.
  bool prepare() override;
  void processFrame8(SFrameInfo& info) override;
  void processFrame32(SFrameInfo& info) override;

  // Once per frame before drawing: advances the angles, computes the levels,
  // starts a wave when the stretch is strong, rebuilds the mesh in frame
  // coordinates. `spectrum` holds at least 123 values.
  void pre_update(float* spectrum);
  // Once per frame after drawing: moves the running waves on.
  void post_update();

  Point3D* points;  // vertex (i, j) is element i + ringCount·j
  int32 ringCount;
  int32 tubeCount;
  float* ringCos;
  float* ringSin;
  float* tubeCos;
  float* tubeSin;
  float tubeRadius;
  float ringRadius;
  int16 tiltAngle;
  int16 turnAngle;
  int16 spinAngle;
  int16 orbitAngle;
  SinTable* sinTable;
  float* levels;
  int32 wavePos[3];     // segment reached on the first half, or −1 when idle
  int32 waveMirror[3];  // the matching segment on the second half, or −1
  int32 waveFrames[3];  // frames since the wave started

 private:
  void release();
  // Draws the 768 lines of the mesh in the colours of one pixel mode.
  template <typename Colours>
  void drawMesh();
};
