// Pictures as planar YUV 4:2:0 for the video outputs: Y, then U, then V;
// chroma planes of ⌈w/2⌉ × ⌈h/2⌉, each sample from the mean of its 2 × 2
// block (an edge block missing a column or row repeats what it has). BT.601
// in 16-bit fixed point: full range (Y 0…255, for YUV4MPEG2 "C420jpeg") or
// the video range (Y 16…235, chroma 16…240, what H.264 and VP9 players
// expect of yuv420p). The same bytes from every path below.
#pragma once

#include "engine/Frame.h"

#include <vector>

namespace tw {

enum class YuvRange { Full, Video };

// Bytes of the three planes of a width × height picture.
size_t yuv420Bytes(int32 width, int32 height);

// An XRGB picture (0x00RRGGBB per pixel; the top byte is ignored), rows
// `rowBytes` apart, into `out` (yuv420Bytes(width, height) bytes).
void xrgbToYuv420(const uint8* pixels, int32 width, int32 height, size_t rowBytes, YuvRange range,
                  uint8* out);

// A frame as it is (8-bit frames through palette32), for tests and tools:
// the sinks convert the scaled picture. Expanding an 8-bit frame to XRGB and
// converting that beats per-palette-entry tables (bench_output).
void frameToYuv420(const Frame& frame, const uint32* palette32, YuvRange range, std::vector<uint8>* out);

}  // namespace tw
