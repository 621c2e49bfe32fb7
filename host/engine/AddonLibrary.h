// One add-on file, loaded with dlopen. The library stays loaded as long as
// this object lives; every filter it handed out must be deleted before.
#pragma once

#include "CFilter.h"

#include <memory>
#include <string>
#include <vector>

namespace tw {

class AddonLibrary {
 public:
  // Loads the file; on failure returns null and sets *error to the reason:
  // an ABI stamp that does not match this host (or none), checked before the
  // file is loaded, "not an add-on: no filterInit", or dlerror's text.
  static std::unique_ptr<AddonLibrary> open(const std::string& path, std::string* error);
  ~AddonLibrary();
  AddonLibrary(const AddonLibrary&) = delete;
  AddonLibrary& operator=(const AddonLibrary&) = delete;

  const std::string& path() const { return path_; }
  // The file name without its directory: the deliverable's name.
  std::string name() const;

  // filterInit(index); null past the last filter. Any exception thrown inside
  // the add-on is caught here and reported as null.
  CFilter* create(int32 index) const;
  // filterInit(0), (1), … until the first null.
  std::vector<std::unique_ptr<CFilter>> createAll() const;

 private:
  AddonLibrary(std::string path, void* handle, filter_init_func init);
  std::string path_;
  void* handle_;
  filter_init_func init_;
};

// The add-on files of a directory (regular files, sorted by name), each
// opened; files that fail to open are reported in *failures as
// "name: reason", and the rest still load.
std::vector<std::unique_ptr<AddonLibrary>> openAddonDirectory(const std::string& dir,
                                                              std::vector<std::string>* failures);

}  // namespace tw
