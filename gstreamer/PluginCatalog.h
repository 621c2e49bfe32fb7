// What the GStreamer plugin registers: one element per filter of every add-on
// found in its directories, named and described without loading any add-on
// into the calling process (names from the add-on's manifest, descriptors
// from AddonProbe's child processes). The result is kept as text in
// GStreamer's registry, so that a process that only loads the plugin to make
// an element reuses it instead of examining the add-ons again.
#pragma once

#include "AddonProbe.h"
#include "engine/Catalog.h"

#include <chrono>
#include <string>
#include <vector>

namespace tw::gst {

// One element to register.
struct ElementEntry {
  std::string factory;    // "tidewave-fft-scope"
  std::string addonPath;  // the add-on file
  int32 index = 0;        // filterInit's index
  std::string name, author, info;
  int32 modes = 0;  // supportedModes
  float hostFactor = 0;
};

// An add-on file as it was examined: a changed file is examined again.
struct AddonStamp {
  std::string path;
  int64_t size = 0;
  int64_t mtimeNs = 0;
  std::string failure;  // empty when its filters were registered
};

struct PluginCatalog {
  std::vector<AddonStamp> addons;
  std::vector<ElementEntry> elements;
  std::vector<std::string> warnings;  // one line each: a file skipped, a filter or name left out
  int examined = 0, reused = 0;       // files examined now, and known from the cache (not encoded)
};

// The element name of a filter: "tidewave-" and the name in lower case, each
// run of other characters than letters and digits turned into one '-'
// ("FFT Scope" → "tidewave-fft-scope"). Empty when the name has no letter or
// digit.
std::string factoryNameFor(const std::string& filterName);

// The directories to search: those of `envPath` (colon-separated, empty
// entries skipped) first, so that a user's add-on can stand in for an
// installed one, then `builtIn`; each directory once.
std::vector<std::string> addonDirectories(const std::string& builtIn, const char* envPath);

// Finds the add-on files of `dirs` (regular files, each directory's sorted by
// name). Files whose path, size and time match an entry of `cached` keep
// what was learned then; the others are examined (AddonProbe, with `limit`
// per file). When two filters give the same element name, the first wins.
PluginCatalog discover(const std::vector<std::string>& dirs, const HostDirs& hostDirs,
                       const PluginCatalog* cached, std::chrono::milliseconds limit);

// The catalogue as one line-based text, and back (false on text not made by
// encode).
std::string encodeCatalog(const PluginCatalog& catalog);
bool decodeCatalog(const std::string& text, PluginCatalog* out);

}  // namespace tw::gst
