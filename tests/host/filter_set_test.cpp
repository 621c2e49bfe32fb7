// FilterSet replacing what runs, as `tidewave play` does when the viewer
// switches filters: the old run ends (terminate, unload, delete) before the
// new one loads, seen through the probe add-on's log.
#include "engine/Catalog.h"
#include "engine/FilterSet.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class FilterSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = fs::temp_directory_path() / ("tw-filter-set-" + std::to_string(getpid()) + ".log");
    dirs_.addons = TW_PROBE_DIR;
    std::string why;
    ASSERT_TRUE(tw::openCatalog(dirs_, &catalog_, &why)) << why;
    probe_ = tw::findFilter(catalog_, "TestProbe");
    ASSERT_NE(probe_, nullptr);
    fs::remove(log_);
    setenv("TW_PROBE_LOG", log_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TW_PROBE_LOG");
    unsetenv("TW_PROBE_FAIL_LOAD");
    fs::remove(log_);
  }
  std::vector<std::string> calls() const {
    std::ifstream in(log_);
    std::vector<std::string> v;
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
  }
  static tw::FrameGeometry geometry(int w, int h) {
    tw::FrameGeometry g;
    g.width = w, g.height = h;
    return g;
  }

  fs::path log_;
  tw::HostDirs dirs_;
  tw::Catalog catalog_;
  const tw::FilterInfo* probe_ = nullptr;
};

TEST_F(FilterSetTest, StartingAgainEndsTheOldRunFirst) {
  tw::FilterSet set;
  std::string why;
  ASSERT_TRUE(set.start({probe_}, dirs_, geometry(320, 200), &why)) << why;
  ASSERT_TRUE(set.start({probe_}, dirs_, geometry(160, 100), &why)) << why;
  set.stop();
  EXPECT_TRUE(set.empty());
  const std::vector<std::string> expected = {
      "load 640 480 1", "prepare 320 200 1", "terminate 320 200 1", "unload 320 200 1", "delete 320 200 1",
      "load 640 480 1", "prepare 160 100 1", "terminate 160 100 1", "unload 160 100 1", "delete 160 100 1"};
  EXPECT_EQ(calls(), expected);
}

TEST_F(FilterSetTest, ARefusalLeavesNothingRunning) {
  // Two probes in one frame; the second load of the process is refused, so
  // the first is unloaded and deleted again, never prepared.
  setenv("TW_PROBE_FAIL_LOAD", "2", 1);
  tw::FilterSet set;
  std::string why;
  EXPECT_FALSE(set.start({probe_, probe_}, dirs_, geometry(320, 200), &why));
  EXPECT_NE(why.find("failed to load"), std::string::npos) << why;
  EXPECT_TRUE(set.empty());
  const std::vector<std::string> expected = {"load 640 480 1", "load-refused 640 480 1", "delete 640 480 1",
                                             "unload 640 480 1", "delete 640 480 1"};
  EXPECT_EQ(calls(), expected);
}

}  // namespace
