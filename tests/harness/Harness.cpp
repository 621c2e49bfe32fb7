#include "Harness.h"

#include <gtest/gtest.h>

namespace tw::test {

std::string addonDir() { return TW_TEST_ADDON_DIR; }
std::string addonPath(const std::string& deliverable) { return addonDir() + "/" + deliverable; }
std::string projectDataDir() { return TW_TEST_PROJECT_DATA_DIR; }
std::string fixtureDir() { return TW_TEST_FIXTURE_DIR; }

std::unique_ptr<AddonLibrary> openAddon(const std::string& deliverable) {
  std::string why;
  auto lib = AddonLibrary::open(addonPath(deliverable), &why);
  if (!lib) ADD_FAILURE() << "cannot open add-on " << addonPath(deliverable) << ": " << why;
  return lib;
}

FilterRun::FilterRun(CFilter* filter) : driver_(filter), valid_(filter != nullptr) {}

FilterRun::FilterRun(const AddonLibrary& addon, int32 index) : FilterRun(addon.create(index)) {}

bool FilterRun::load() { return load(projectDataDir(), projectDataDir(), projectDataDir()); }

bool FilterRun::load(const std::string& base, const std::string& data, const std::string& image) {
  if (!valid_) return false;
  driver_.setDirectories(base, data, image);
  return driver_.load();
}

bool FilterRun::prepare(const FrameGeometry& geometry) {
  if (!valid_) return false;
  frame_ = std::make_unique<Frame>(geometry);
  return driver_.prepare(geometry, tw_system_palette(), tw_system_palette32());
}

void FilterRun::draw() {
  if (frame_) driver_.draw(frame_->info());
}

}  // namespace tw::test
