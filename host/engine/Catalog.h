// Finding the add-ons and what their filters say about themselves.
#pragma once

#include "engine/AddonLibrary.h"

#include <memory>
#include <string>
#include <vector>

namespace tw {

// The directories a filter is given before load, and where the add-ons are.
struct HostDirs {
  std::string addons;
  std::string base;
  std::string data;
  std::string image;
};
// Defaults: an installed host (<prefix>/bin/tidewave) uses
// <prefix>/lib/tidewave/add-ons and <prefix>/share/tidewave/data; otherwise
// the build tree's add-on folder and the source tree's data/. baseDir is that
// data folder; dataDir its filterdata/ (Tessary's image_map/ lies there) and
// imageDir its images/ (the slide show's pictures, add-ons.icons/), each the
// data folder itself when the subfolder is missing.
HostDirs defaultDirs();

// One filter as its add-on describes it after load.
struct FilterInfo {
  const AddonLibrary* addon = nullptr;
  int32 index = 0;
  std::string name;
  int32 modes = 0;
};

struct Catalog {
  std::vector<std::unique_ptr<AddonLibrary>> addons;
  std::vector<std::string> failures;  // "file: reason"
  std::vector<FilterInfo> filters;    // every filter of every add-on, in order
};

// Opens every add-on of the directory and loads each filter once (then
// unloads and deletes it) to learn its name. False with a reason when the
// directory cannot be read.
bool openCatalog(const HostDirs& dirs, Catalog* out, std::string* error);

// Finds a filter by display name, case-insensitively.
const FilterInfo* findFilter(const Catalog& catalog, const std::string& name);
std::string filterNames(const Catalog& catalog);

// `tidewave list`: every add-on, filter, descriptor, parameter and resource.
void printListing(const HostDirs& dirs, const Catalog& catalog, FILE* out);

std::string modeNames(int32 modes);

}  // namespace tw
