// How the voxel engine samples one slice of the ground and draws its spans
// (steps 2, 3 and 6 of the README). There are two ways, which give the same
// pixels: a portable one, and one that works eight columns at a time with
// AVX2. A CVoxelFilter picks one when it is made and calls it for every
// slice; nothing inside the loops asks which.
#pragma once

#include <platform/support.h>

#include <algorithm>
#include <cstddef>

constexpr int kVoxelColumns = 320;    // columns of the rendered picture
constexpr int kVoxelHorizon = 100;    // picture row of the horizon
constexpr int kVoxelShadeShift = 19;  // 16 fraction bits and 8 → 32 palette steps

// The packed copy of the maps: rows kPackedStride cells apart, each ending
// with a copy of its first cell, and row 0 repeated after row 255, so that a
// sample's four corners lie at fixed offsets from the first.
constexpr int kPackedStride = 257;
constexpr size_t kPackedCells = size_t(kPackedStride) * kPackedStride;

// One slice at every column: the row it reaches, its shade, the shade the
// column had before it, and which columns it shows in (bit i % 8 of
// visible[i / 8]).
struct SliceSamples {
  int32 row[kVoxelColumns], shade[kVoxelColumns], previous[kVoxelColumns];
  uint8 visible[kVoxelColumns / 8];
};

struct SVoxelSampler {
  // Bytes of one packed cell: 8 (depth in bits 0…7, shade in 32…39) or 4
  // (depth in 0…7, shade in 16…23).
  size_t cellBytes;
  // Packs rows first…last (inclusive) of the two 256 × 256 maps into `map`
  // (kPackedCells cells).
  void (*pack)(uint8* map, const uint8* heights, const uint8* shades, int first, int last);
  // One slice: samples it from (x0, y0), stepping (dx, dy) per column, at
  // every column and projects it with the eye depth and the slice's scale
  // (each column that is not full moves on to this slice's shade), then
  // draws the spans it shows into the picture (kVoxelColumns bytes a row,
  // rows 0…last) and moves each column's top up. `columns` holds the
  // columns' tops, then their shades (CVoxelFilter's columnTop and
  // columnColour): one pointer reaches both, which the loops feel.
  void (*slice)(const uint8* map, uint32 x0, uint32 y0, uint32 dx, uint32 dy, int eye, int scale,
                int32* columns, uint8* picture, int last);
};

// The portable way (CVoxelFilter.cpp).
extern const SVoxelSampler kPortableVoxelSampler;
// The AVX2 way, or null where the processor lacks AVX2 (VoxelAvx2.cpp).
const SVoxelSampler* voxel_avx2_sampler();

// Packs the maps into cells of type Cell, the shade ShadeShift bits up.
template <typename Cell, int ShadeShift>
void voxel_pack(uint8* bytes, const uint8* heights, const uint8* shades, int first, int last) {
  Cell* const map = reinterpret_cast<Cell*>(bytes);
  for (int y = first; y <= last; ++y) {
    Cell* row = map + y * kPackedStride;
    for (int x = 0; x < 256; ++x) row[x] = Cell(heights[y << 8 | x]) | Cell(shades[y << 8 | x]) << ShadeShift;
    row[256] = row[0];
  }
  // The copy of row 0 after row 255, its own wrapped cell included.
  if (first == 0) std::copy(map, map + kPackedStride, map + 256 * kPackedStride);
}
