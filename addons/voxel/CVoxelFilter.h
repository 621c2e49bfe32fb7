// The voxel terrain engine: a camera flies over a wrapping 256 × 256 height
// map and every frame the ground in front of it is drawn column by column
// into a 320-column 8-bit picture, which is then copied into the host's
// frame. The engine is written once; each add-on builds its CVoxelFilter
// from an SVoxelVariant fixed at construction (how the map is made, how many
// rows the picture has, how the camera follows the ground, how the picture
// reaches the frame, how the camera moves and which keys turn it).
//
// Each add-on links its own copy of this class; hidden visibility keeps the
// copies, and the steering state inside update, apart.
#pragma once

#include "CFilter.h"
#include "FilterKit.h"

#include <memory>

class CVoxelFilter;
struct SVoxelSampler;

// The settings that make one filter out of the engine. Every field is read
// where a frame or a map starts, never inside the sampling loops.
struct SVoxelVariant {
  // Descriptor written by load.
  const char* name;
  const char* author;
  int32 supportedModes;                     // 1: 8-bit only, 3: 8-bit and 32-bit
  void (*declareParams)(BMessage& params);  // null: no parameters

  // Map generation: the value of each cell the midpoint subdivision writes,
  // from the cell's place, the mean of the corners it lies between and the
  // displacement range of its pass. The result is clamped to 0…255.
  int (*subdivide)(int row, int column, int cornerMean, int range);
  bool mapInLoad;  // true: built once in load; false: anew in every prepare

  // Rendering.
  int32 rows;         // rows of the picture: 240, or 120 for a strip
  int32 fallDivisor;  // the camera follows a fall of the ground by 1/n per frame

  // Output: picks how a rendered picture reaches the frame, in each mode. A
  // null entry draws nothing in that mode (and does not move the camera).
  void (CVoxelFilter::*output8)(SFrameInfo& info);
  void (CVoxelFilter::*output32)(SFrameInfo& info);
  // Called before a frame is rendered (the spectrogram feeds its map here).
  void (*beforeFrame)(CVoxelFilter& filter, SFrameInfo& info);

  // Camera motion (update).
  bool soundSpeed;         // the forward step adds level[1]
  bool soundSteering;      // bands[1][0] turns the camera
  bool wrapHeading;        // keep the heading within ±π
  bool reduceBeforeMove;   // bring the camera into one map period before each move
  uint32 turnRightKey;     // modifier bit that turns right (left Shift turns left)
  int32 lowestSpeedShift;  // Command lowers speedShift down to this value

  // Start values set by prepare.
  float startHeading;
  int32 startSpeedShift;
  int32 startCamX;
  bool clearInPrepare;  // prepare clears the picture (otherwise load does)

  // Answers settingsOpened (the filter keeps the view it makes in
  // settingsView); null: no settings view.
  BView* (*openSettings)(CVoxelFilter& filter);
};

class CVoxelFilter : public CFilter {
 public:
  explicit CVoxelFilter(const SVoxelVariant& variant);
  // Releases the three buffers and the settings view.
  ~CVoxelFilter() override;

  // Descriptor and buffers; a second load reuses the buffers of the first.
  bool load() override;
  // Resets the camera; builds a new map unless the variant builds it in load.
  bool prepare() override;
  // Render with the current camera, copy into the frame, then update.
  void processFrame8(SFrameInfo& info) override;
  void processFrame32(SFrameInfo& info) override;
  // The view is made once and returned on every later call; the filter owns it.
  BView* settingsOpened() override;
  // The camera motion for the next frame: called after the frame is drawn.
  virtual void update(SFrameInfo& info);

  static constexpr int32 kMapSide = 256;
  static constexpr int32 kMapCells = kMapSide * kMapSide;
  static constexpr int32 kColumns = 320;
  // Map coordinates are 16.16 fixed point; one period of the map is 2^24.
  static constexpr int32 kMapPeriod = 1 << 24;
  // Half the horizontal field of view, and the turn per frame of a key.
  static constexpr float kQuarterPi = 0.7853982f;
  static constexpr float kKeyTurn = 0.07853982f;

  // Builds heightMap and shadeMap: midpoint subdivision, three smoothing
  // passes, shading.
  void ComputeMap();
  static int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
  // Renders one picture into voxelFrame from (x, y) in map units.
  void ComputeVoxel(int x, int y, float heading);
  // Samples one slice from (x0, y0) towards (x1, y1) at the 320 columns and
  // draws what nearer slices left visible.
  void Line(int x0, int y0, int x1, int y1, int eye, int scale);
  // Writes the spectrum of the frame into one map row (the spectrogram's
  // terrain; defined by the add-on that uses it).
  void setMap(SFrameInfo& info, uint32 row);
  // Brings the sampling copy of the maps up to date with heightMap and
  // shadeMap, over rows first…last (inclusive); after every change of a map.
  void packMaps(int first, int last);

  // Output forms (SVoxelVariant::output8 / output32).
  void outputByWidth8(SFrameInfo& info);   // doubled from the top-left, or 320 × 240
  void outputDoubled8(SFrameInfo& info);   // always doubled from the top-left
  void outputMirrored8(SFrameInfo& info);  // doubled strip, mirrored into the upper half
  void outputCentred32(SFrameInfo& info);  // doubled or 320 × 240, centred, via palette32

  // The steering helpers the update functions share.
  // Brings a heading beyond ±π back by a whole turn.
  static float wrapHeading(float heading);
  // Left Shift / the variant's right key turn; Control / Command pace.
  float applyKeys(float heading, uint32 rightKey, int32 lowestSpeedShift);
  // Moves the camera by step along heading, keeping it within int32.
  void moveCamera(int32 step, float heading);

  const SVoxelVariant& variant;

  uint8* heightMap = nullptr;   // 256 rows × 256 columns; larger is deeper
  uint8* shadeMap = nullptr;    // same layout; 128 on flat ground
  uint8* voxelFrame = nullptr;  // rows × 320 palette indices, 0 is sky
  // columnColour follows columnTop: the samplers reach both from one pointer.
  int32 columnTop[kColumns];     // topmost row drawn so far per column
  int32 columnColour[kColumns];  // shade of the previous slice, 16 fraction bits
  float heading = 0;             // radians; forward is (cos, sin)
  int32 speedShift = 0;          // the base step is 2^speedShift map units
  int32 camX = 0, camY = 0;      // 16.16 map units
  int32 camLevel = 0;            // smoothed ground depth under the camera
  int32 spectrumRow = 0;         // the map row the next spectrum overwrites
  BView* settingsView = nullptr;

 private:
  std::unique_ptr<uint8[]> buffers_;  // heightMap, shadeMap and voxelFrame in one block
  // How slices are sampled and drawn: with AVX2 where the processor has it
  // (unless TW_VOXEL_SCALAR is set in the environment), portably otherwise.
  // Fixed at construction; it also decides the packed map's cells.
  const SVoxelSampler& sampler_;
  // The maps packed for sampling: one bilinear sample of a cell yields depth
  // and shade at once. 257 × 257 cells: each row, and the map, end with a
  // copy of their first (VoxelSampler.h).
  std::unique_ptr<uint8[]> packed_;
};

// The random midpoint rule: a displacement drawn from rand() over the range,
// centred on the corners' mean. Exactly one rand() call per cell.
int voxel_random_subdivide(int row, int column, int cornerMean, int range);
