#include "Demo.h"

#include "Render.h"
#include "output/Image.h"
#include "output/Sinks.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

namespace tw {
namespace {

namespace fs = std::filesystem;

std::string fileNameFor(const std::string& filter) {
  std::string s;
  for (char c : filter) s += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '-';
  return s;
}

}  // namespace

bool demo(const Catalog& catalog, const DemoOptions& d, int* failed, std::string* error) {
  *failed = 0;
  if (catalog.filters.empty()) {
    *error = "no filters found in " + d.dirs.addons;
    return false;
  }
  // A start past the end of a short piece falls back to its beginning.
  double start = d.start;
  {
    std::unique_ptr<SoundSource> probe = openSound(d.sound, error);
    if (!probe) return false;
    if (probe->lengthHint() >= 0 && start >= double(probe->lengthHint()) / probe->sampleRate()) start = 0;
  }
  std::error_code ec;
  fs::create_directories(d.out, ec);
  if (ec) {
    *error = "cannot create '" + d.out + "': " + ec.message();
    return false;
  }
  const bool video = !findFfmpeg().empty();
  if (!video) std::fprintf(stderr, "tidewave: ffmpeg not found; writing PNG frames instead of videos\n");
  std::vector<SheetTile> tiles;
  for (const FilterInfo& f : catalog.filters) {
    // Each filter in its richest mode.
    std::string why;
    if (!describe(d.dirs, f, &why)) {
      std::fprintf(stderr, "tidewave: %s\n", why.c_str());
      ++*failed;
      continue;
    }
    RenderOptions o;
    o.filters = {&f};
    o.dirs = d.dirs;
    o.geometry.pixelMode = (f.modes & 2) ? 2 : 1;
    o.start = start;
    o.seconds = d.seconds;
    o.sound = [file = d.sound](std::string* why) { return openSound(file, why); };
    o.warmUp = 0.3;
    // Background loaders get time to show something: the slide show waits
    // 2 s before each attempt, and an attempt that picks a file that is no
    // picture (or one too narrow to paste) shows nothing.
    o.backgroundWarmUp = 2.2;
    o.backgroundSeconds = 8;
    const std::string stem = (fs::path(d.out) / fileNameFor(f.name)).string();
    if (video) {
      o.output = stem + ".mp4";
    } else {
      fs::create_directories(stem, ec);
      o.output = stem + "/%05d.png";
    }
    // The tile: the liveliest of a few frames late in the stretch, so that
    // a filter that has not yet drawn much is not shown blank.
    o.keepAt = {2.0 / 3, 0.5, 5.0 / 6, 1.0};
    RenderResult result;
    if (!render(o, &result, &why)) {
      std::fprintf(stderr, "tidewave: %s: %s\n", f.name.c_str(), why.c_str());
      ++*failed;
      continue;
    }
    std::fprintf(stderr, "%-16s %s (%s, mean %.0f us per frame)\n", f.name.c_str(), o.output.c_str(),
                 o.geometry.pixelMode == 2 ? "32-bit" : "8-bit",
                 result.timings.empty() ? 0.0 : result.timings[0].meanMicros);
    if (!result.kept.empty()) {
      SheetTile tile = std::move(*std::max_element(result.kept.begin(), result.kept.end(),
                                                   [](const SheetTile& a, const SheetTile& b) {
                                                     return litPixels(a.picture) < litPixels(b.picture);
                                                   }));
      tile.label = f.name;
      tiles.push_back(std::move(tile));
    }
  }
  const std::string overview = (fs::path(d.out) / "overview.png").string();
  if (!tiles.empty()) {
    if (!writePng(overview, makeSheet(tiles, 4, 2, "Tidewave filters over the demo track"), error))
      return false;
    std::fprintf(stderr, "overview: %s\n", overview.c_str());
  }
  return true;
}

}  // namespace tw
