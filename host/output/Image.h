// RGB pictures for the host's outputs: conversion of frames, PNG files, the
// built-in label font and contact sheets.
#pragma once

#include "engine/Frame.h"

#include <string>
#include <vector>

namespace tw {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8> rgb;  // width × height × 3, rows top to bottom

  RgbImage() = default;
  RgbImage(int w, int h) : width(w), height(h), rgb(size_t(w) * size_t(h) * 3, 0) {}
  uint8* at(int x, int y) { return &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3]; }
  const uint8* at(int x, int y) const { return &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3]; }
  void fillRect(int x, int y, int w, int h, uint32 rgb);
};

// The frame's pixels as RGB: 8-bit frames through palette32, 32-bit frames as
// they are (0x00RRGGBB).
void frameToRgb(const Frame& frame, const uint32* palette32, RgbImage* out);
// The frame as planar YUV 4:2:0 (Y, then U, then V; chroma planes of
// ceil(w/2) × ceil(h/2), each the mean of its 2 × 2 block), BT.601: full
// range (Y 0…255, for YUV4MPEG2 "C420jpeg") or the video range (Y 16…235,
// chroma 16…240, what H.264 and VP9 players expect of yuv420p).
enum class YuvRange { Full, Video };
void frameToYuv420(const Frame& frame, const uint32* palette32, YuvRange range, std::vector<uint8>* out);

// Writes a PNG file beside the target and renames it into place, so that a
// failure leaves no half-written file. False with a reason.
bool writePng(const std::string& path, const RgbImage& image, std::string* error);
bool readPng(const std::string& path, RgbImage* out, std::string* error);

// The host's own 5 × 7 bitmap font (printable ASCII; other characters show
// as '?'), drawn `scale` pixels per font pixel. Returns the text's width.
int drawText(RgbImage& image, int x, int y, const std::string& text, uint32 rgb, int scale = 1);
int textWidth(const std::string& text, int scale = 1);
// The same font over 32-bit pixels 0x00RRGGBB (a window's picture), rows
// `stride` pixels apart, clipped to width × height; `alpha` (0 … 255) blends
// the colour over what is there. Returns the text's width.
int drawTextXrgb(uint32* pixels, int width, int height, int stride, int x, int y, const std::string& text,
                 uint32 rgb, int scale = 1, int alpha = 255);
constexpr int kGlyphHeight = 7;

// A contact sheet: tiles of the frames, shrunk by `shrink`, `columns` to a
// row, each with its label under it.
struct SheetTile {
  RgbImage picture;
  std::string label;
};
// Pixels that are not black.
long litPixels(const RgbImage& image);
RgbImage makeSheet(const std::vector<SheetTile>& tiles, int columns, int shrink, const std::string& title);

}  // namespace tw
