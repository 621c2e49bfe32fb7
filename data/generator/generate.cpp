// tw-picture-gen <repository root> [name-filter]
//
// Writes the shipped pictures (the flip-book, the icons), the tests'
// picture fixtures and the PNG fuzzer's seeds from code, so every picture in the repository is our own
// and can be made again. Each picture is one row of the table at the end:
// a path, a painter and a file format. To add pictures, write a painter and
// add rows.
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Rgb {
  uint8_t r, g, b;
};

// A picture in memory, rows top to bottom, packed red, green, blue.
struct Image {
  int width, height;
  std::vector<uint8_t> rgb;
  Image(int w, int h, Rgb fill = {0, 0, 0}) : width(w), height(h), rgb(size_t(w) * h * 3) {
    for (size_t i = 0; i < rgb.size(); i += 3) rgb[i] = fill.r, rgb[i + 1] = fill.g, rgb[i + 2] = fill.b;
  }
  void set(int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
    p[0] = c.r, p[1] = c.g, p[2] = c.b;
  }
  Rgb at(int x, int y) const {
    const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
    return {p[0], p[1], p[2]};
  }
};

// Full saturation and value; h in [0, 1).
Rgb hue(double h) {
  h -= std::floor(h);
  const double x = h * 6;
  const int sector = int(x) % 6;
  const double f = x - std::floor(x);
  const auto up = uint8_t(std::lround(255 * f)), down = uint8_t(std::lround(255 * (1 - f)));
  switch (sector) {
    case 0:
      return {255, up, 0};
    case 1:
      return {down, 255, 0};
    case 2:
      return {0, 255, up};
    case 3:
      return {0, down, 255};
    case 4:
      return {up, 0, 255};
    default:
      return {255, 0, down};
  }
}

// The shade ramp of the 8-bit system palette's low entries: pictures drawn
// in these colours and in full hues keep their look in 8-bit frames.
Rgb shade(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {uint8_t(std::lround(30 + 170 * t)), uint8_t(std::lround(40 + 190 * t)),
          uint8_t(std::lround(20 + 120 * t))};
}

// Draws at `factor` times the size, then averages each factor × factor block:
// smooth edges without a rasteriser that knows about coverage.
Image supersampled(int w, int h, int factor, const std::function<void(Image&, double scale)>& paint) {
  Image big(w * factor, h * factor);
  paint(big, factor);
  Image out(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int sum[3] = {0, 0, 0};
      for (int j = 0; j < factor; ++j)
        for (int i = 0; i < factor; ++i) {
          const Rgb c = big.at(x * factor + i, y * factor + j);
          sum[0] += c.r, sum[1] += c.g, sum[2] += c.b;
        }
      const int n = factor * factor;
      out.set(x, y, {uint8_t(sum[0] / n), uint8_t(sum[1] / n), uint8_t(sum[2] / n)});
    }
  return out;
}

struct Point {
  double x, y;
};

// Fills a convex polygon given in either winding.
void fillConvex(Image& img, const std::vector<Point>& poly, Rgb c) {
  double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
  for (const Point& p : poly)
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x), minY = std::min(minY, p.y),
    maxY = std::max(maxY, p.y);
  for (int y = std::max(0, int(minY)); y <= std::min(img.height - 1, int(maxY) + 1); ++y)
    for (int x = std::max(0, int(minX)); x <= std::min(img.width - 1, int(maxX) + 1); ++x) {
      const double px = x + 0.5, py = y + 0.5;
      int sign = 0;
      bool inside = true;
      for (size_t i = 0; i < poly.size() && inside; ++i) {
        const Point a = poly[i], b = poly[(i + 1) % poly.size()];
        const double cross = (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
        const int s = cross > 0 ? 1 : cross < 0 ? -1 : 0;
        if (s != 0 && sign != 0 && s != sign) inside = false;
        if (s != 0) sign = s;
      }
      if (inside) img.set(x, y, c);
    }
}

void thickLine(Image& img, Point a, Point b, double width, Rgb c) {
  const double dx = b.x - a.x, dy = b.y - a.y, len = std::hypot(dx, dy);
  if (len == 0) return;
  const double nx = -dy / len * width / 2, ny = dx / len * width / 2;
  fillConvex(img, {{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}},
             c);
}

void disc(Image& img, Point centre, double radius, Rgb c) {
  for (int y = int(centre.y - radius) - 1; y <= int(centre.y + radius) + 1; ++y)
    for (int x = int(centre.x - radius) - 1; x <= int(centre.x + radius) + 1; ++x)
      if (std::hypot(x + 0.5 - centre.x, y + 0.5 - centre.y) <= radius) img.set(x, y, c);
}

// ---- painters ----

// Flip-book frame `frame` of 6: a tiled floor whose colour rings move
// outwards, and a shaded cube that turns a sixth of a quarter turn per frame,
// so that frame 6 runs on into frame 1 without a jump.
Image flipBookFrame(int frame) {
  return supersampled(640, 480, 3, [frame](Image& img, double s) {
    const double phase = frame / 6.0;
    const int tile = 32;
    for (int ty = 0; ty < 480 / tile; ++ty)
      for (int tx = 0; tx < 640 / tile; ++tx) {
        const double cx = tx * tile + tile / 2.0 - 320, cy = ty * tile + tile / 2.0 - 240;
        const Rgb c = hue(std::hypot(cx, cy) / 300.0 - phase);
        fillConvex(img,
                   {{(tx * tile + 2) * s, (ty * tile + 2) * s},
                    {((tx + 1) * tile - 2) * s, (ty * tile + 2) * s},
                    {((tx + 1) * tile - 2) * s, ((ty + 1) * tile - 2) * s},
                    {(tx * tile + 2) * s, ((ty + 1) * tile - 2) * s}},
                   c);
      }

    // The cube: turned about the vertical axis, tilted towards the viewer.
    const double pi = std::acos(-1.0);
    const double turn = (20 + 15 * frame) * pi / 180, tilt = 28 * pi / 180;
    struct V {
      double x, y, z;
    };
    std::array<V, 8> v{};
    for (int i = 0; i < 8; ++i) {
      const V p{i & 1 ? 1.0 : -1.0, i & 2 ? 1.0 : -1.0, i & 4 ? 1.0 : -1.0};
      const V r{p.x * std::cos(turn) + p.z * std::sin(turn), p.y,
                -p.x * std::sin(turn) + p.z * std::cos(turn)};
      v[size_t(i)] = {r.x, r.y * std::cos(tilt) - r.z * std::sin(tilt),
                      r.y * std::sin(tilt) + r.z * std::cos(tilt)};
    }
    auto project = [&](const V& p) {
      const double k = 100 / (1 - p.z / 9);
      return Point{(320 + p.x * k) * s, (220 - p.y * k) * s};
    };
    const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                             {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
    const V light{0.4, 0.7, 0.6};
    for (const auto& f : faces) {
      const V a = v[size_t(f[0])], b = v[size_t(f[1])], c = v[size_t(f[2])];
      const V u{b.x - a.x, b.y - a.y, b.z - a.z}, w{c.x - a.x, c.y - a.y, c.z - a.z};
      V n{u.y * w.z - u.z * w.y, u.z * w.x - u.x * w.z, u.x * w.y - u.y * w.x};
      // Outward normal: away from the cube's centre.
      const V mid{(a.x + c.x) / 2, (a.y + c.y) / 2, (a.z + c.z) / 2};
      if (n.x * mid.x + n.y * mid.y + n.z * mid.z < 0) n = {-n.x, -n.y, -n.z};
      if (n.z <= 0) continue;  // faces away from the viewer
      const double len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
      const double lit = (n.x * light.x + n.y * light.y + n.z * light.z) / len / 1.02;
      std::vector<Point> poly;
      for (int k : f) poly.push_back(project(v[size_t(k)]));
      fillConvex(img, poly, shade(0.15 + 0.85 * lit));
      for (size_t k = 0; k < 4; ++k) thickLine(img, poly[k], poly[(k + 1) % 4], 4 * s, {0, 0, 0});
    }

    // Which frame this is: six dots, the current one lit.
    for (int k = 0; k < 6; ++k) {
      const Point centre{(320 + (k - 2.5) * 30) * s, 452 * s};
      disc(img, centre, 11 * s, {0, 0, 0});
      disc(img, centre, 8 * s, k == frame ? Rgb{0xDF, 0xDF, 0} : Rgb{0, 0, 0xF8});
    }
  });
}

// The flip-book's icon: a small spectrum, eight bars in a hue sweep.
Image fftIcon() {
  Image img(32, 32);
  const int heights[8] = {26, 22, 24, 17, 13, 15, 9, 6};
  for (int b = 0; b < 8; ++b) {
    const Rgb c = hue(b / 10.0);
    for (int y = 0; y < heights[b]; ++y)
      for (int x = 0; x < 3; ++x) img.set(2 + b * 4 + x, 29 - y, c);
  }
  for (int x = 1; x < 31; ++x) img.set(x, 30, {0xDF, 0xDF, 0});
  return img;
}

// The test pattern: a 6 × 5 "F", red on blue. Asymmetric in both axes, so a
// flipped, mirrored or transposed decode shows, and two colours far apart in
// every channel, so swapped channels show.
Image letterF() {
  static const char* rows[5] = {".XXXX.", ".X....", ".XXX..", ".X....", ".X...."};
  Image img(6, 5, {0, 0, 255});
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      if (rows[y][x] == 'X') img.set(x, y, {255, 0, 0});
  return img;
}

// ---- the slide show's pictures (imageDir) ----
// Sizes chosen to take every road through the loader's scaling: kept as
// they are, halved, a third and cropped, and one that ends up narrower than
// the 8-pixel grid.

// Evening dunes: a sky from violet to red, a low sun, three rows of dunes in
// the shade ramp, each nearer one darker.
Image dunes(int w, int h) {
  Image img(w, h);
  const double pi = std::acos(-1.0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double u = double(x) / w, v = double(y) / h;
      Rgb c = hue(0.78 + 0.24 * v);
      if (std::hypot(u - 0.68, (v - 0.5) * h / w) < 0.07) c = {0xDF, 0xDF, 0};
      for (int k = 0; k < 3; ++k) {
        const double ridge = 0.55 + 0.13 * k + 0.05 * std::sin(2 * pi * (u * (1.5 + k) + 0.3 * k));
        if (v > ridge) c = shade(0.75 - 0.3 * k - 0.4 * (v - ridge));
      }
      img.set(x, y, c);
    }
  return img;
}

// Rings of flat hues around a point left of centre, with dark borders.
Image rings(int w, int h) {
  Image img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double r = std::hypot(x - 0.4 * w, y - 0.55 * h);
      const int band = int(r / 70);
      const bool border = std::fmod(r, 70) < 7;
      img.set(x, y, border ? Rgb{0, 0, 0} : hue(band / 12.0));
    }
  return img;
}

// A black sky with stars and three planets, one of them ringed.
Image planets(int w, int h) {
  Image img(w, h);
  for (int k = 0; k < 120; ++k) img.set((k * 7919) % w, (k * 104729) % h, {200, 230, 140});
  disc(img, {0.25 * w, 0.35 * h}, 0.16 * h, hue(0.58));
  disc(img, {0.7 * w, 0.6 * h}, 0.25 * h, hue(0.08));
  thickLine(img, {0.7 * w - 0.42 * h, 0.6 * h + 0.12 * h}, {0.7 * w + 0.42 * h, 0.6 * h - 0.12 * h}, 0.03 * h,
            {0xDF, 0xDF, 0});
  disc(img, {0.88 * w, 0.18 * h}, 0.06 * h, hue(0.33));
  return img;
}

// Lantern cloth: wavy vertical stripes of full hues, darker towards the edges.
Image lantern(int w, int h) {
  Image img(w, h);
  const double pi = std::acos(-1.0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double wave = 18 * std::sin(2 * pi * y / 150.0);
      const Rgb c = hue(int((x + wave) / 50) / 16.0);
      const double edge = std::min(
          1.0, 2.5 * std::min(std::min(x, w - 1 - x) / double(w), std::min(y, h - 1 - y) / double(h)) + 0.35);
      img.set(x, y, {uint8_t(c.r * edge), uint8_t(c.g * edge), uint8_t(c.b * edge)});
    }
  return img;
}

// A thread of colour, far taller than wide.
Image thread(int w, int h) {
  Image img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.set(x, y, hue(double(y) / h));
  return img;
}

// ---- writers ----

bool writeFile(const std::filesystem::path& path, const void* data, size_t size) {
  std::filesystem::create_directories(path.parent_path());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

bool writeJpeg(const std::filesystem::path& path, const Image& img, int quality) {
  tjhandle tj = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  // 4:4:4 keeps the tiles' colours from bleeding into the grout.
  const bool ok = tjCompress2(tj, img.rgb.data(), img.width, 0, img.height, TJPF_RGB, &out, &size, TJSAMP_444,
                              quality, TJFLAG_ACCURATEDCT) == 0 &&
                  writeFile(path, out, size);
  tjFree(out);
  tjDestroy(tj);
  return ok;
}

bool writePng(const std::filesystem::path& path, const Image& img) {
  std::filesystem::create_directories(path.parent_path());
  png_image p{};
  p.version = PNG_IMAGE_VERSION;
  p.width = png_uint_32(img.width);
  p.height = png_uint_32(img.height);
  p.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&p, path.c_str(), 0, img.rgb.data(), 0, nullptr) != 0;
}

// A PNG of the given colour type and bit depth, through libpng's own writer,
// for the fuzzer's seeds: every layout the decoder takes apart. Grey and
// palette pictures take each pixel's red channel as the sample (scaled to
// the depth), or as the palette index; alpha is a pattern of its own.
bool writePngAs(const std::filesystem::path& path, const Image& img, int colorType, int depth,
                bool interlaced, bool transparency) {
  std::filesystem::create_directories(path.parent_path());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = png && info;
  if (ok && setjmp(png_jmpbuf(png)) != 0) ok = false;
  if (ok) {
    png_init_io(png, f);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, png_uint_32(img.width), png_uint_32(img.height), depth, colorType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    const int levels = 1 << std::min(depth, 8);
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
      std::vector<png_color> palette(static_cast<size_t>(levels));
      for (int i = 0; i < levels; ++i)
        palette[size_t(i)] = {png_byte(255 * i / (levels - 1)), 0, png_byte(255 - 255 * i / (levels - 1))};
      png_set_PLTE(png, info, palette.data(), levels);
      if (transparency) {
        png_byte alpha[1] = {128};
        png_set_tRNS(png, info, alpha, 1, nullptr);
      }
    } else if (transparency && (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_RGB)) {
      png_color_16 key{};
      png_set_tRNS(png, info, nullptr, 0, &key);
    }
    png_write_info(png, info);
    const int channels = colorType == PNG_COLOR_TYPE_RGB          ? 3
                         : colorType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                         : colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                  : 1;
    const int bits = channels * depth;
    std::vector<std::vector<png_byte>> rows(size_t(img.height),
                                            std::vector<png_byte>((size_t(img.width) * bits + 7) / 8, 0));
    const int maxSample = (1 << depth) - 1;
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x) {
        const Rgb c = img.at(x, y);
        const int alpha = (x + y) % 2 ? 255 : 96;
        int samples[4] = {c.r, c.g, c.b, alpha};
        if (channels <= 2) samples[1] = alpha;
        for (int k = 0; k < channels; ++k) {
          const int v =
              colorType == PNG_COLOR_TYPE_PALETTE ? c.r * (levels - 1) / 255 : samples[k] * maxSample / 255;
          const size_t bit = size_t(x * bits + k * depth);
          std::vector<png_byte>& row = rows[size_t(y)];
          if (depth == 16) {
            row[bit / 8] = png_byte(v >> 8), row[bit / 8 + 1] = png_byte(v);
          } else {
            row[bit / 8] = png_byte(row[bit / 8] | v << (8 - depth - int(bit % 8)));
          }
        }
      }
    std::vector<png_bytep> pointers;
    for (auto& row : rows) pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  return std::fclose(f) == 0 && ok;
}

enum class Tga { Plain24BottomUp, RunLength24BottomUp, RunLength32TopDown };

// True-colour TGA. Run-length packets never cross a row end.
bool writeTga(const std::filesystem::path& path, const Image& img, Tga kind) {
  const bool rle = kind != Tga::Plain24BottomUp, topDown = kind == Tga::RunLength32TopDown;
  const int bytes = kind == Tga::RunLength32TopDown ? 4 : 3;
  std::vector<uint8_t> out(18, 0);
  out[2] = rle ? 10 : 2;
  out[12] = uint8_t(img.width), out[13] = uint8_t(img.width >> 8);
  out[14] = uint8_t(img.height), out[15] = uint8_t(img.height >> 8);
  out[16] = uint8_t(bytes * 8);
  out[17] = uint8_t((topDown ? 0x20 : 0) | (bytes == 4 ? 8 : 0));
  auto pixel = [&](int x, int y) {
    const Rgb c = img.at(x, y);
    std::vector<uint8_t> p{c.b, c.g, c.r};
    if (bytes == 4) p.push_back(255);
    return p;
  };
  for (int row = 0; row < img.height; ++row) {
    const int y = topDown ? row : img.height - 1 - row;
    if (!rle) {
      for (int x = 0; x < img.width; ++x)
        for (uint8_t b : pixel(x, y)) out.push_back(b);
      continue;
    }
    for (int x = 0; x < img.width;) {
      int run = 1;
      while (x + run < img.width && run < 128 && pixel(x + run, y) == pixel(x, y)) ++run;
      if (run > 1) {
        out.push_back(uint8_t(0x80 | (run - 1)));
        for (uint8_t b : pixel(x, y)) out.push_back(b);
        x += run;
        continue;
      }
      int raw = 1;
      while (x + raw < img.width && raw < 128 &&
             !(x + raw + 1 < img.width && pixel(x + raw, y) == pixel(x + raw + 1, y)))
        ++raw;
      out.push_back(uint8_t(raw - 1));
      for (int k = 0; k < raw; ++k)
        for (uint8_t b : pixel(x + k, y)) out.push_back(b);
      x += raw;
    }
  }
  return writeFile(path, out.data(), out.size());
}

// ---- the table ----

struct Output {
  std::string path;  // relative to the repository root
  std::function<bool(const std::filesystem::path&)> write;
};

std::vector<Output> outputs() {
  std::vector<Output> list;
  // The flip-book: dataDir/image_map/image1.jpg … image6.jpg.
  for (int n = 1; n <= 6; ++n)
    list.push_back({"data/filterdata/image_map/image" + std::to_string(n) + ".jpg",
                    [n](const auto& p) { return writeJpeg(p, flipBookFrame(n - 1), 90); }});
  // Icons, found as "./add-ons.icons/<name>" under imageDir.
  list.push_back({"data/images/add-ons.icons/fft.tga",
                  [](const auto& p) { return writeTga(p, fftIcon(), Tga::RunLength24BottomUp); }});
  // The slide show: every entry of imageDir is a candidate (the icons'
  // folder and the README are entries that are no picture).
  list.push_back(
      {"data/images/slide-dunes.jpg", [](const auto& p) { return writeJpeg(p, dunes(1600, 1200), 88); }});
  list.push_back(
      {"data/images/slide-rings.png", [](const auto& p) { return writePng(p, rings(2000, 1500)); }});
  list.push_back({"data/images/slide-planets.tga",
                  [](const auto& p) { return writeTga(p, planets(480, 360), Tga::RunLength24BottomUp); }});
  list.push_back(
      {"data/images/slide-lantern.jpg", [](const auto& p) { return writeJpeg(p, lantern(800, 600), 88); }});
  list.push_back(
      {"data/images/slide-thread.png", [](const auto& p) { return writePng(p, thread(14, 900)); }});
  // The same scenes at other sizes: a picture smaller than the frame, one
  // that needs the second scale step, one just under a step's limit.
  list.push_back(
      {"data/images/slide-dunes-small.jpg", [](const auto& p) { return writeJpeg(p, dunes(320, 240), 88); }});
  list.push_back(
      {"data/images/slide-rings-1024.png", [](const auto& p) { return writePng(p, rings(1024, 768)); }});
  list.push_back({"data/images/slide-lantern-679.tga",
                  [](const auto& p) { return writeTga(p, lantern(679, 519), Tga::RunLength24BottomUp); }});
  // Fixtures of the translators' tests.
  list.push_back({"tests/data/pictures/f.png", [](const auto& p) { return writePng(p, letterF()); }});
  list.push_back({"tests/data/pictures/f.jpg", [](const auto& p) { return writeJpeg(p, letterF(), 100); }});
  list.push_back({"tests/data/pictures/f.tga",
                  [](const auto& p) { return writeTga(p, letterF(), Tga::Plain24BottomUp); }});
  list.push_back({"tests/data/pictures/f-rle.tga",
                  [](const auto& p) { return writeTga(p, letterF(), Tga::RunLength32TopDown); }});
  // The PNG fuzzer's seeds: the letter in every colour type and bit depth,
  // one interlaced, some with a transparent colour.
  const struct {
    const char* name;
    int type, depth;
    bool interlaced, transparency;
  } seeds[] = {
      {"gray1", PNG_COLOR_TYPE_GRAY, 1, false, false},
      {"gray2", PNG_COLOR_TYPE_GRAY, 2, false, false},
      {"gray4", PNG_COLOR_TYPE_GRAY, 4, false, true},
      {"gray8", PNG_COLOR_TYPE_GRAY, 8, false, false},
      {"gray16", PNG_COLOR_TYPE_GRAY, 16, false, true},
      {"graya8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false},
      {"graya16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, false},
      {"rgb8", PNG_COLOR_TYPE_RGB, 8, false, true},
      {"rgb16", PNG_COLOR_TYPE_RGB, 16, false, false},
      {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false},
      {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, false},
      {"pal1", PNG_COLOR_TYPE_PALETTE, 1, false, false},
      {"pal2", PNG_COLOR_TYPE_PALETTE, 2, false, true},
      {"pal4", PNG_COLOR_TYPE_PALETTE, 4, false, false},
      {"pal8", PNG_COLOR_TYPE_PALETTE, 8, false, true},
      {"rgb8-adam7", PNG_COLOR_TYPE_RGB, 8, true, false},
      {"pal4-adam7", PNG_COLOR_TYPE_PALETTE, 4, true, false},
  };
  for (const auto& s : seeds)
    list.push_back({std::string("fuzz/corpus/png/f-") + s.name + ".png", [s](const auto& p) {
                      return writePngAs(p, letterF(), s.type, s.depth, s.interlaced, s.transparency);
                    }});
  return list;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <repository root> [part of a path, to write only those]\n", argv[0]);
    return 2;
  }
  const std::filesystem::path root = argv[1];
  const std::string only = argc > 2 ? argv[2] : "";
  int failed = 0, written = 0;
  for (const Output& o : outputs()) {
    if (!only.empty() && o.path.find(only) == std::string::npos) continue;
    if (o.write(root / o.path)) {
      ++written;
      std::printf("wrote %s\n", o.path.c_str());
    } else {
      ++failed;
      std::fprintf(stderr, "tw-picture-gen: cannot write %s\n", o.path.c_str());
    }
  }
  return failed == 0 && written > 0 ? 0 : 1;
}
