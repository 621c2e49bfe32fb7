#include "output/Image.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tw {

void RgbImage::fillRect(int x0, int y0, int w, int h, uint32 c) {
  for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y)
    for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) {
      uint8* p = at(x, y);
      p[0] = uint8(c >> 16), p[1] = uint8(c >> 8), p[2] = uint8(c);
    }
}

void frameToRgb(const Frame& frame, const uint32* palette32, RgbImage* out) {
  const FrameGeometry& g = frame.geometry();
  if (out->width != g.width || out->height != g.height) *out = RgbImage(g.width, g.height);
  const size_t rowBytes = size_t(g.rowBytes());
  for (int32 y = 0; y < g.height; ++y) {
    const uint8* src = frame.pixels() + size_t(y) * rowBytes;
    uint8* dst = out->at(0, y);
    for (int32 x = 0; x < g.width; ++x, dst += 3) {
      uint32 v;
      if (g.pixelMode == 2)
        std::memcpy(&v, src + size_t(x) * 4, 4);
      else
        v = palette32[src[x]];
      dst[0] = uint8(v >> 16), dst[1] = uint8(v >> 8), dst[2] = uint8(v);
    }
  }
}

namespace {

// BT.601 in 16-bit fixed point: rows Y, U, V; columns R, G, B.
struct YuvCoefficients {
  int32 m[3][3];
  int32 yOffset;
};
constexpr YuvCoefficients kFullRange = {
    {{19595, 38470, 7471}, {-11059, -21709, 32768}, {32768, -27439, -5329}}, 0};
constexpr YuvCoefficients kVideoRange = {
    {{16829, 33039, 6416}, {-9714, -19071, 28784}, {28784, -24103, -4681}}, 16};

uint8 toByte(int32 v) { return uint8(std::clamp(v, 0, 255)); }

}  // namespace

void frameToYuv420(const Frame& frame, const uint32* palette32, YuvRange range, std::vector<uint8>* out) {
  const YuvCoefficients& k = range == YuvRange::Full ? kFullRange : kVideoRange;
  const FrameGeometry& g = frame.geometry();
  const int32 w = g.width, h = g.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
  out->resize(size_t(w) * size_t(h) + 2 * size_t(cw) * size_t(ch));
  uint8* Y = out->data();
  uint8* U = Y + size_t(w) * size_t(h);
  uint8* V = U + size_t(cw) * size_t(ch);
  const size_t rowBytes = size_t(g.rowBytes());
  // A pixel's weighted Y, U and V sums before rounding; for indexed frames
  // once per palette entry.
  struct Parts {
    int32 y, u, v;
  };
  auto partsOf = [&k](uint32 c) {
    const int32 r = int32(c >> 16 & 255), gr = int32(c >> 8 & 255), b = int32(c & 255);
    return Parts{k.m[0][0] * r + k.m[0][1] * gr + k.m[0][2] * b,
                 k.m[1][0] * r + k.m[1][1] * gr + k.m[1][2] * b,
                 k.m[2][0] * r + k.m[2][1] * gr + k.m[2][2] * b};
  };
  auto luma = [&k](const Parts& p) { return toByte(k.yOffset + ((p.y + 32768) >> 16)); };
  // The mean of a block of 2^shift pixels, rounded to the nearest step.
  auto chroma = [](int32 sum, int shift) { return toByte(128 + ((sum + (1 << (shift - 1))) >> shift)); };

  auto convert = [&](auto pixel) {
    for (int32 y = 0; y < h; ++y) {
      const uint8* row = frame.pixels() + size_t(y) * rowBytes;
      uint8* dst = Y + size_t(y) * size_t(w);
      for (int32 x = 0; x < w; ++x) dst[x] = luma(pixel(row, x));
    }
    for (int32 y = 0; y < ch; ++y) {
      const uint8* row0 = frame.pixels() + size_t(2 * y) * rowBytes;
      const bool pair = 2 * y + 1 < h;
      const uint8* row1 = pair ? row0 + rowBytes : row0;
      for (int32 x = 0; x < cw; ++x) {
        const bool two = 2 * x + 1 < w;
        const int32 x1 = two ? 2 * x + 1 : 2 * x;
        const Parts a = pixel(row0, 2 * x), b = pixel(row0, x1), c = pixel(row1, 2 * x), d = pixel(row1, x1);
        // Missing pixels of an edge block repeat its others, so the sum
        // of four always is four times the mean.
        const int32 u = a.u + b.u + c.u + d.u, v = a.v + b.v + c.v + d.v;
        U[size_t(y) * size_t(cw) + size_t(x)] = chroma(u, 18);
        V[size_t(y) * size_t(cw) + size_t(x)] = chroma(v, 18);
      }
    }
  };
  if (g.pixelMode == 2) {
    convert([&](const uint8* row, int32 x) {
      uint32 c;
      std::memcpy(&c, row + size_t(x) * 4, 4);
      return partsOf(c);
    });
  } else {
    // Indexed: every value comes from per-entry tables.
    uint8 yOf[256];
    int32 uOf[256], vOf[256];
    for (int i = 0; i < 256; ++i) {
      const Parts p = partsOf(palette32[i]);
      yOf[i] = luma(p), uOf[i] = p.u, vOf[i] = p.v;
    }
    for (int32 y = 0; y < h; ++y) {
      const uint8* row = frame.pixels() + size_t(y) * rowBytes;
      uint8* dst = Y + size_t(y) * size_t(w);
      for (int32 x = 0; x < w; ++x) dst[x] = yOf[row[x]];
    }
    for (int32 y = 0; y < ch; ++y) {
      const uint8* row0 = frame.pixels() + size_t(2 * y) * rowBytes;
      const uint8* row1 = 2 * y + 1 < h ? row0 + rowBytes : row0;
      uint8* du = U + size_t(y) * size_t(cw);
      uint8* dv = V + size_t(y) * size_t(cw);
      for (int32 x = 0; x < cw; ++x) {
        const int32 x0 = 2 * x, x1 = 2 * x + 1 < w ? 2 * x + 1 : 2 * x;
        const uint8 a = row0[x0], b = row0[x1], c = row1[x0], d = row1[x1];
        du[x] = chroma(uOf[a] + uOf[b] + uOf[c] + uOf[d], 18);
        dv[x] = chroma(vOf[a] + vOf[b] + vOf[c] + vOf[d], 18);
      }
    }
  }
}

bool writePng(const std::string& path, const RgbImage& image, std::string* error) {
  const std::string tmp = path + ".partial";
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = png_uint_32(image.width);
  img.height = png_uint_32(image.height);
  img.format = PNG_FORMAT_RGB;
  img.flags = PNG_IMAGE_FLAG_FAST;  // frame sequences: speed over size
  if (png_image_write_to_file(&img, tmp.c_str(), 0, image.rgb.data(), 0, nullptr) == 0) {
    *error = "cannot write '" + path + "': " + (img.message[0] ? img.message : "write failed");
    std::remove(tmp.c_str());
    return false;
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    *error = "cannot write '" + path + "': " + ec.message();
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

bool readPng(const std::string& path, RgbImage* out, std::string* error) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&img, path.c_str()) == 0) {
    *error = "cannot read '" + path + "': " + img.message;
    return false;
  }
  img.format = PNG_FORMAT_RGB;
  RgbImage r(int(img.width), int(img.height));
  if (png_image_finish_read(&img, nullptr, r.rgb.data(), 0, nullptr) == 0) {
    *error = "cannot read '" + path + "': " + img.message;
    png_image_free(&img);
    return false;
  }
  *out = std::move(r);
  return true;
}

namespace {

// Rows of 5 bits, the leftmost column in bit 4; characters 32 … 126.
const uint8 kFont[95][7] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04},
    {0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A},
    {0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04}, {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03},
    {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}, {0x04, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00},
    {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}, {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08},
    {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00}, {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00},
    {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}, {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}, {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00},
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}, {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08},
    {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}, {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00},
    {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}, {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04},
    {0x0E, 0x11, 0x01, 0x0D, 0x15, 0x15, 0x0E}, {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11},
    {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}, {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},
    {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}, {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F},
    {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}, {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}, {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11},
    {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}, {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},
    {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}, {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D},
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}, {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E},
    {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}, {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A},
    {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}, {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04},
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}, {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E},
    {0x00, 0x10, 0x08, 0x04, 0x02, 0x01, 0x00}, {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E},
    {0x04, 0x0A, 0x11, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F},
    {0x08, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F},
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}, {0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E},
    {0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}, {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E},
    {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}, {0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E},
    {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}, {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E},
    {0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C}, {0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12},
    {0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11},
    {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}, {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E},
    {0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}, {0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x01},
    {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}, {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E},
    {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}, {0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D},
    {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04}, {0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A},
    {0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}, {0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E},
    {0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}, {0x02, 0x04, 0x04, 0x08, 0x04, 0x04, 0x02},
    {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, {0x08, 0x04, 0x04, 0x02, 0x04, 0x04, 0x08},
    {0x00, 0x00, 0x08, 0x15, 0x02, 0x00, 0x00},
};

}  // namespace

int textWidth(const std::string& text, int scale) { return int(text.size()) * 6 * scale; }

int drawText(RgbImage& image, int x, int y, const std::string& text, uint32 c, int scale) {
  int cx = x;
  for (char ch : text) {
    const int code = (ch >= 32 && ch <= 126) ? ch - 32 : '?' - 32;
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (kFont[code][row] & (0x10 >> col))
          image.fillRect(cx + col * scale, y + row * scale, scale, scale, c);
    cx += 6 * scale;
  }
  return cx - x;
}

int drawTextXrgb(uint32* pixels, int width, int height, int stride, int x, int y, const std::string& text,
                 uint32 c, int scale, int alpha) {
  alpha = std::clamp(alpha, 0, 255);
  auto blend = [alpha](uint32 under, uint32 over) {
    uint32 out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const int u = int((under >> shift) & 0xFF), o = int((over >> shift) & 0xFF);
      out |= uint32(u + (o - u) * alpha / 255) << shift;
    }
    return out;
  };
  int cx = x;
  for (char ch : text) {
    const int code = (ch >= 32 && ch <= 126) ? ch - 32 : '?' - 32;
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col) {
        if (!(kFont[code][row] & (0x10 >> col))) continue;
        const int x0 = std::max(cx + col * scale, 0), x1 = std::min(cx + (col + 1) * scale, width);
        const int y0 = std::max(y + row * scale, 0), y1 = std::min(y + (row + 1) * scale, height);
        for (int py = y0; py < y1; ++py)
          for (int px = x0; px < x1; ++px) {
            uint32& p = pixels[size_t(py) * size_t(stride) + size_t(px)];
            p = blend(p, c);
          }
      }
    cx += 6 * scale;
  }
  return cx - x;
}

long litPixels(const RgbImage& image) {
  long lit = 0;
  for (size_t i = 0; i + 2 < image.rgb.size(); i += 3)
    lit += (image.rgb[i] | image.rgb[i + 1] | image.rgb[i + 2]) != 0;
  return lit;
}

RgbImage makeSheet(const std::vector<SheetTile>& tiles, int columns, int shrink, const std::string& title) {
  const int pad = 8, labelH = kGlyphHeight * 2 + 8, titleH = title.empty() ? 0 : kGlyphHeight * 2 + 12;
  int tileW = 0, tileH = 0;
  for (const SheetTile& t : tiles) {
    tileW = std::max(tileW, t.picture.width / shrink);
    tileH = std::max(tileH, t.picture.height / shrink);
  }
  columns = std::max(1, std::min(columns, int(tiles.size())));
  const int rows = (int(tiles.size()) + columns - 1) / columns;
  RgbImage sheet(pad + columns * (tileW + pad), titleH + pad + rows * (tileH + labelH + pad));
  sheet.fillRect(0, 0, sheet.width, sheet.height, 0x202428);
  if (!title.empty()) drawText(sheet, pad, pad, title, 0xFFFFFF, 2);
  for (size_t i = 0; i < tiles.size(); ++i) {
    const SheetTile& t = tiles[i];
    const int ox = pad + int(i % size_t(columns)) * (tileW + pad);
    const int oy = titleH + pad + int(i / size_t(columns)) * (tileH + labelH + pad);
    // Each tile pixel is the mean of its shrink × shrink block.
    const int w = t.picture.width / shrink, h = t.picture.height / shrink;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int sum[3] = {0, 0, 0};
        for (int dy = 0; dy < shrink; ++dy)
          for (int dx = 0; dx < shrink; ++dx) {
            const uint8* p = t.picture.at(x * shrink + dx, y * shrink + dy);
            for (int k = 0; k < 3; ++k) sum[k] += p[k];
          }
        uint8* d = sheet.at(ox + x, oy + y);
        for (int k = 0; k < 3; ++k) d[k] = uint8(sum[k] / (shrink * shrink));
      }
    std::string label = t.label;
    const int maxChars = std::max(1, tileW / 12);
    if (int(label.size()) > maxChars) label = label.substr(0, size_t(maxChars));
    drawText(sheet, ox, oy + h + 4, label, 0xF0F0F0, 2);
  }
  return sheet;
}

}  // namespace tw
