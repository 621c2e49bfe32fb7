// tidewave: runs the filters of the add-ons it finds over a sound signal.
// For now `tidewave demo` draws a few frames of every filter over a
// synthetic signal and writes them as PNG files under out/demo/.
#include "AddonLibrary.h"
#include "FilterDriver.h"
#include "Frame.h"

#include <png.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

bool writePng(const std::string& path, const tw::Frame& frame) {
  const tw::FrameGeometry& g = frame.geometry();
  std::vector<uint8> rgb(size_t(g.width) * size_t(g.height) * 3);
  const rgb_color* pal = tw_system_palette();
  for (int32 y = 0; y < g.height; ++y)
    for (int32 x = 0; x < g.width; ++x) {
      uint8* p = &rgb[(size_t(y) * size_t(g.width) + size_t(x)) * 3];
      if (g.pixelMode == 2) {
        const uint32 v = frame.at32(x, y);
        p[0] = uint8(v >> 16), p[1] = uint8(v >> 8), p[2] = uint8(v);
      } else {
        const rgb_color c = pal[frame.at8(x, y)];
        p[0] = c.red, p[1] = c.green, p[2] = c.blue;
      }
    }
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = png_uint_32(g.width);
  img.height = png_uint_32(g.height);
  img.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&img, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

int demo() {
  namespace fs = std::filesystem;
  std::vector<std::string> failures;
  auto libs = tw::openAddonDirectory(TW_DEFAULT_ADDON_DIR, &failures);
  for (const std::string& f : failures) std::fprintf(stderr, "tidewave: skipped add-on %s\n", f.c_str());
  const fs::path out = "out/demo";
  fs::create_directories(out);
  int written = 0;
  for (auto& lib : libs) {
    for (int32 index = 0;; ++index) {
      CFilter* f = lib->create(index);
      if (!f) break;
      tw::FilterDriver driver(f);
      driver.setDirectories(TW_DEFAULT_DATA_DIR, TW_DEFAULT_DATA_DIR, TW_DEFAULT_DATA_DIR);
      if (!driver.load()) continue;
      for (int32 mode : {1, 2}) {
        if ((f->supportedModes & mode) == 0) continue;
        tw::FrameGeometry g;
        g.pixelMode = mode;
        tw::Frame frame(g);
        if (!driver.prepare(g, tw_system_palette(), tw_system_palette32())) continue;
        for (int32 n = 0; n < 4; ++n) {
          frame.clear();
          for (int i = 0; i <= tw::Frame::kSamples; ++i)
            frame.samples()[i] = int32(6000 * std::sin((i + n * 7) * 0.21) + 2500 * std::sin(i * 1.3));
          frame.info().frameCount = n;
          driver.draw(frame.info());
          std::string file = (out / (std::string(f->name) + "-" + (mode == 1 ? "8" : "32") + "bit-" +
                                     std::to_string(n) + ".png"))
                                 .string();
          if (writePng(file, frame)) ++written;
        }
        driver.terminate();
      }
    }
  }
  std::printf("wrote %d frames to %s\n", written, out.c_str());
  return written > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "demo";
  if (cmd == "demo") return demo();
  std::fprintf(stderr, "tidewave: unknown command '%s' (try: demo)\n", cmd.c_str());
  return 2;
}
