// The in-process host the tests share: it opens a built add-on file the way
// the host does (dlopen, filterInit), owns a frame and its record, and drives
// a filter through its lifecycle.
#pragma once

#include "CFilter.h"
#include "engine/AddonLibrary.h"
#include "engine/FilterDriver.h"
#include "engine/Frame.h"

#include <memory>
#include <string>

namespace tw::test {

// Folder of the built add-on files, and the path of one by deliverable name.
std::string addonDir();
std::string addonPath(const std::string& deliverable);
// The shipped data folder (data/) and the tests' fixtures (tests/data/).
std::string projectDataDir();
std::string fixtureDir();

// Opens a built add-on; a failure fails the calling test with the loader's
// reason and returns null.
std::unique_ptr<AddonLibrary> openAddon(const std::string& deliverable);

// One filter and one frame. The filter is deleted (after terminate and unload
// as needed) with the run; the add-on must outlive it.
class FilterRun {
 public:
  explicit FilterRun(CFilter* filter);
  FilterRun(const AddonLibrary& addon, int32 index);

  CFilter& filter() { return driver_.filter(); }
  FilterDriver& driver() { return driver_; }
  bool valid() const { return valid_; }

  // Directories default to the shipped data folder.
  bool load();
  bool load(const std::string& base, const std::string& data, const std::string& image);
  // Makes a frame of the geometry (zero-filled) and prepares the filter with
  // the system palette.
  bool prepare(const FrameGeometry& geometry = {});
  Frame& frame() { return *frame_; }
  SFrameInfo& record() { return frame_->info(); }
  // One frame operation on the current frame (whose pixels are kept).
  void draw();

 private:
  FilterDriver driver_;
  std::unique_ptr<Frame> frame_;
  bool valid_;
};

}  // namespace tw::test
