// GStreamer's own programs with the plugin, as a user runs them: gst-inspect
// lists every filter as a visualisation and knows the plugin's version, the
// usual (forked) plugin scanner survives a crashing add-on without
// blacklisting the plugin, and gst-launch runs a pipeline and playbin.
// Only in builds without sanitizers, whose plugin GStreamer's programs can
// load.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Result {
  int rc = -1;
  std::string out;
};

class GstPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tw-gst-cli-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  Result run(const std::string& command, const std::string& env = "") {
    const std::string cmd = "env -u TIDEWAVE_ADDON_PATH -u GST_REGISTRY_FORK GST_REGISTRY='" +
                            (dir_ / "registry.bin").string() + "' GST_PLUGIN_PATH='" + TW_GST_PLUGIN_DIR +
                            "' " + env + " " + command + " 2>&1";
    Result r;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int status = pclose(p);
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }
  fs::path dir_;
};

const std::vector<std::string> kFilters = {
    "tidewave-bi-moorvista", "tidewave-devazo-davu",   "tidewave-dudozariri",  "tidewave-fft-2",
    "tidewave-fft-central",  "tidewave-fft-moorvista", "tidewave-fft-scope",   "tidewave-img-radezu",
    "tidewave-tessary",      "tidewave-tidetorus",     "tidewave-vidivi-vadu", "tidewave-ziduv"};

TEST_F(GstPrograms, InspectListsEveryFilterAsAVisualization) {
  const Result plugin = run("gst-inspect-1.0 tidewave");
  ASSERT_EQ(plugin.rc, 0) << plugin.out;
  EXPECT_NE(plugin.out.find("12 elements"), std::string::npos) << plugin.out;
  for (const std::string& name : kFilters) {
    SCOPED_TRACE(name);
    EXPECT_NE(plugin.out.find("  " + name + ": Tidewave "), std::string::npos) << plugin.out;
    const Result one = run("gst-inspect-1.0 " + name);
    EXPECT_EQ(one.rc, 0) << one.out;
    EXPECT_NE(one.out.find("Klass                    Visualization\n"), std::string::npos) << one.out;
  }
  // The plugin's version has the three parts this check needs.
  EXPECT_NE(plugin.out.find("Version                  " TW_VERSION "\n"), std::string::npos) << plugin.out;
  EXPECT_EQ(run("gst-inspect-1.0 --atleast-version=" TW_VERSION " tidewave-fft-scope").rc, 0);
  EXPECT_NE(run("gst-inspect-1.0 --atleast-version=" TW_LATER_VERSION " tidewave-fft-scope").rc, 0);
}

TEST_F(GstPrograms, TheScannerSurvivesACrashingAddonAndNeverBlacklistsThePlugin) {
  const fs::path mine = dir_ / "crash";
  fs::create_directories(mine);
  fs::copy_file(fs::path(TW_CRASH_DIR) / "TestCrash", mine / "TestCrash");
  const std::string env = "TIDEWAVE_ADDON_PATH='" + mine.string() + "' TW_CRASH_MODE=load";
  const Result r = run("gst-inspect-1.0 tidewave", env);
  EXPECT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("12 elements"), std::string::npos) << r.out;
  const Result blacklist = run("gst-inspect-1.0 -b", env);
  EXPECT_EQ(blacklist.out.find("tidewave"), std::string::npos) << blacklist.out;
  // The add-on removed: still there, still whole.
  fs::remove(mine / "TestCrash");
  const Result after = run("gst-inspect-1.0 tidewave", env);
  EXPECT_NE(after.out.find("12 elements"), std::string::npos) << after.out;
}

TEST_F(GstPrograms, LaunchRunsAFilterAndPlaybinsVisualisation) {
  const Result r =
      run("timeout 120 gst-launch-1.0 -q audiotestsrc num-buffers=20 ! tidewave-vidivi-vadu ! "
          "video/x-raw,framerate=25/1 ! fakesink");
  EXPECT_EQ(r.rc, 0) << r.out;
  const fs::path wav = dir_ / "tone.wav";
  const Result make =
      run("timeout 120 gst-launch-1.0 -q audiotestsrc num-buffers=40 ! wavenc ! filesink location='" +
          wav.string() + "'");
  ASSERT_EQ(make.rc, 0) << make.out;
  const Result play =
      run("timeout 120 gst-launch-1.0 -q playbin uri=file://" + wav.string() +
          " flags=audio+vis vis-plugin=tidewave-ziduv video-sink=fakesink audio-sink=fakesink");
  EXPECT_EQ(play.rc, 0) << play.out;
}

}  // namespace
