// Finding the add-ons and their filters. An add-on file names its filters in
// its resources, so the catalogue knows them without loading anything; a
// file is opened (dlopen) only when one of its filters is used, and a filter
// is loaded to read its descriptor only when that is asked for (describe(),
// `tidewave list`) or when it runs. Files without the list of names are
// opened and their filters loaded once to learn them.
#pragma once

#include "engine/AddonLibrary.h"

#include <cstdio>
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
// The directories for add-ons in `addons` and the data folder `dataRoot`,
// laid out as above.
HostDirs hostDirsFor(const std::string& addons, const std::string& dataRoot);

// One add-on file, opened on first use; the library stays loaded as long as
// this object lives.
class AddonFile {
 public:
  explicit AddonFile(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }
  // The file name without its directory: the deliverable's name.
  std::string name() const;
  // The loaded library; null with the loader's reason when it cannot be.
  const AddonLibrary* library(std::string* error) const;

 private:
  std::string path_;
  mutable std::unique_ptr<AddonLibrary> library_;
  mutable std::string failure_;
};

// What a filter says about itself after load (the descriptor), as text and
// numbers that outlive the filter object.
struct FilterDescriptor {
  std::string name, author, info;
  int32 modes = 0;
  int32 hostHint1 = 0, hostHint2 = 0;
  bool hostFlag1 = false, hostFlag2 = false;
  float hostFactor = 0;
  int iconWidth = 0, iconHeight = 0;  // 0: no icon
  std::vector<std::string> params;    // one line per declared value
};

// One filter of the catalogue.
struct FilterInfo {
  const AddonFile* addon = nullptr;
  int32 index = 0;
  std::string name;
  // Learned when the filter is loaded (describe(), or a run); `modes` is 0
  // until then.
  mutable int32 modes = 0;
  mutable bool described = false;
  mutable FilterDescriptor descriptor;
};

struct Catalog {
  std::vector<std::unique_ptr<AddonFile>> addons;
  std::vector<std::string> failures;  // "file: reason"
  std::vector<FilterInfo> filters;    // every filter of every add-on, in order
};

// Lists the add-ons of the directory and their filters. False with a reason
// when the directory cannot be read.
bool openCatalog(const HostDirs& dirs, Catalog* out, std::string* error);

// Loads the filter once (then unloads and deletes it) to learn its
// descriptor, unless that is known already. False with a reason when the
// add-on cannot be opened or the filter refuses to load.
bool describe(const HostDirs& dirs, const FilterInfo& filter, std::string* error);
// Records the descriptor of a loaded filter.
void remember(const FilterInfo& info, const CFilter& loaded);

// Finds a filter by display name, case-insensitively.
const FilterInfo* findFilter(const Catalog& catalog, const std::string& name);
std::string filterNames(const Catalog& catalog);

// `tidewave list`: every add-on, filter, descriptor, parameter and resource
// (each filter loaded once).
void printListing(const HostDirs& dirs, const Catalog& catalog, FILE* out);

std::string modeNames(int32 modes);

}  // namespace tw
