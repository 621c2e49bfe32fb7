// RGB pictures for the host's outputs: conversion of frames, PNG files, the
// built-in label font and contact sheets.
#pragma once

#include "engine/Frame.h"
#include "output/Scaler.h"

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
// An XRGB picture (0x00RRGGBB per pixel, rows `rowBytes` apart) as RGB.
void xrgbToRgb(const uint8* pixels, int32 width, int32 height, size_t rowBytes, RgbImage* out);

// Writes a PNG file beside the target and renames it into place, so that a
// failure leaves no half-written file. False with a reason.
bool writePng(const std::string& path, const RgbImage& image, std::string* error);
bool readPng(const std::string& path, RgbImage* out, std::string* error);

// The host's own 5 × 7 bitmap font (printable ASCII; other characters show
// as '?'), drawn `scale` pixels per font pixel. Returns the text's width.
int drawText(RgbImage& image, int x, int y, const std::string& text, uint32 rgb, int scale = 1);
int textWidth(const std::string& text, int scale = 1);
constexpr int kGlyphHeight = 7;

// A contact sheet: the pictures as tiles, `columns` to a row, each with its
// label under it, under an optional title. Each picture is scaled (smooth,
// with `fit`) into tileWidth × tileHeight.
struct SheetTile {
  RgbImage picture;
  std::string label;
};
RgbImage makeSheet(const std::vector<SheetTile>& tiles, int columns, int tileWidth, int tileHeight, Fit fit,
                   const std::string& title);
// Tiles of the largest picture's size divided by `shrink`.
RgbImage makeSheet(const std::vector<SheetTile>& tiles, int columns, int shrink, const std::string& title);
// The tile size for pictures shown at width × height: half of it, and less
// for big outputs, so that a tile is at most about 320 pixels wide.
void sheetTileSize(int32 width, int32 height, int32* tileWidth, int32* tileHeight);
// Pixels that are not black.
long litPixels(const RgbImage& image);

}  // namespace tw
