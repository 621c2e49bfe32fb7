// `tidewave demo`: every filter of every add-on over a stretch of a piece
// (the embedded demo track by default), each into a video (PNG frames
// without ffmpeg), and a contact sheet of them all.
#pragma once

#include "engine/Catalog.h"

#include <string>

namespace tw {

struct DemoOptions {
  std::string sound;  // a file, or empty for the embedded demo track
  std::string out = "out/demo";
  double start = 15;
  double seconds = 3;
  HostDirs dirs;
};

// False with a one-line reason when nothing could be made; a filter that
// fails is reported on stderr and the others are still made (*failed counts
// them).
bool demo(const Catalog& catalog, const DemoOptions& options, int* failed, std::string* error);

}  // namespace tw
