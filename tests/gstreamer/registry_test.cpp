// The plugin as GStreamer's registry sees it: add-ons that crash or hang
// while examined are left out (the others registered, the plugin never
// blacklisted), the registry follows the add-on directories, and what was
// learned is reused by applications instead of examining the add-ons again. Each case runs
// GStreamer in a fresh process (tw_gst_scan) with its own environment.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Scan {
  int rc = -1;
  std::vector<std::string> elements;  // names, sorted
  std::string log;                    // the plugin's debug output
};

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tw-gst-registry-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs the scanner with the shared registry of the case and `env`
  // ("NAME=value" words for env(1)).
  Scan scan(const std::string& env, const std::string& make = "") {
    const fs::path log = dir_ / "debug.log";
    fs::remove(log);
    const std::string cmd =
        "env -u TIDEWAVE_ADDON_PATH -u TIDEWAVE_PROBE_TIMEOUT GST_REGISTRY_FORK=no GST_REGISTRY='" +
        (dir_ / "registry.bin").string() + "' GST_PLUGIN_PATH='" + TW_GST_PLUGIN_DIR +
        "' GST_DEBUG=tidewave:4 GST_DEBUG_NO_COLOR=1 GST_DEBUG_FILE='" + log.string() + "' " + env + " '" +
        TW_GST_SCAN + "' " + make;
    Scan s;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return s;
    char line[1024];
    while (std::fgets(line, sizeof line, p) != nullptr) {
      std::string l(line);
      s.elements.push_back(l.substr(0, l.find('\t')));
    }
    const int status = pclose(p);
    s.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::sort(s.elements.begin(), s.elements.end());
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    s.log = text.str();
    return s;
  }

  static bool has(const Scan& s, const std::string& name) {
    return std::find(s.elements.begin(), s.elements.end(), name) != s.elements.end();
  }

  fs::path dir_;
};

const std::vector<std::string> kFilters = {
    "tidewave-bi-moorvista", "tidewave-devazo-davu",   "tidewave-dudozariri",  "tidewave-fft-2",
    "tidewave-fft-central",  "tidewave-fft-moorvista", "tidewave-fft-scope",   "tidewave-img-radezu",
    "tidewave-tessary",      "tidewave-tidetorus",     "tidewave-vidivi-vadu", "tidewave-ziduv"};

TEST_F(Registry, AnAddonThatCrashesOrHangsIsLeftOutAndTheOthersStay) {
  // Each case its own copy of the test add-on, so that the registry sees a
  // new file (a failure is remembered until the file changes).
  int copies = 0;
  auto crashing = [&](const std::string& mode) {
    const fs::path d = dir_ / ("crash-" + std::to_string(++copies));
    fs::create_directories(d);
    fs::copy_file(fs::path(TW_CRASH_DIR) / "TestCrash", d / "TestCrash");
    return std::make_pair(d, "TIDEWAVE_ADDON_PATH=" + d.string() + " TW_CRASH_MODE=" + mode);
  };
  struct Case {
    std::string mode, env;
    std::string reason;  // in the warning
  };
  const std::vector<Case> cases = {
      {"load", "", "while loading"},
      {"init", "", "while loading"},
      // Every add-on is examined within the limit, sanitizer builds too.
      {"hang", "TIDEWAVE_PROBE_TIMEOUT=10", "still loading after 10 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    const auto [d, env] = crashing(c.mode);
    const Scan s = scan(env + " " + c.env);
    EXPECT_EQ(s.rc, 0);
    EXPECT_EQ(s.elements, kFilters) << s.log;
    EXPECT_NE(s.log.find("TestCrash (" + (d / "TestCrash").string() + ") skipped: "), std::string::npos)
        << s.log;
    EXPECT_NE(s.log.find(c.reason), std::string::npos) << s.log;
  }
  // The same add-on, well-behaved: the plugin was never put aside.
  const Scan fine = scan(crashing("none").second);
  std::vector<std::string> all = kFilters;
  all.push_back("tidewave-testcrash");
  std::sort(all.begin(), all.end());
  EXPECT_EQ(fine.elements, all) << fine.log;
}

TEST_F(Registry, TheRegistryFollowsTheAddonDirectories) {
  const fs::path mine = dir_ / "mine";
  fs::create_directories(mine);
  const std::string env = "TIDEWAVE_ADDON_PATH=" + mine.string();
  const fs::path probe = fs::path(TW_PROBE_DIR) / "TestProbe";

  Scan s = scan(env);
  EXPECT_EQ(s.elements, kFilters) << s.log;
  EXPECT_NE(s.log.find("8 add-on files examined, 0 known"), std::string::npos) << s.log;

  // An add-on comes.
  fs::copy_file(probe, mine / "TestProbe");
  s = scan(env);
  EXPECT_TRUE(has(s, "tidewave-testprobe")) << s.log;
  EXPECT_NE(s.log.find("9 add-on files examined"), std::string::npos) << s.log;

  // Nothing changed: the registry is current and the plugin is not looked
  // at; an application that makes an element loads the plugin, which takes
  // what it learned from the registry instead of examining the add-ons.
  s = scan(env, "tidewave-testprobe");
  EXPECT_TRUE(has(s, "made"));
  EXPECT_TRUE(has(s, "tidewave-testprobe"));
  EXPECT_NE(s.log.find("0 add-on files examined, 9 known from the registry"), std::string::npos) << s.log;

  // It goes.
  fs::remove(mine / "TestProbe");
  s = scan(env);
  EXPECT_EQ(s.elements, kFilters) << s.log;

  // A directory named twice, and an empty entry, count once.
  fs::copy_file(probe, mine / "TestProbe");
  s = scan("TIDEWAVE_ADDON_PATH=" + mine.string() + "::" + mine.string());
  EXPECT_TRUE(has(s, "tidewave-testprobe")) << s.log;
  EXPECT_EQ(s.elements.size(), kFilters.size() + 1);
}

TEST_F(Registry, AFileThatIsNotAnAddonIsSkippedWithItsReason) {
  const fs::path mine = dir_ / "mine";
  fs::create_directories(mine);
  std::ofstream(mine / "README") << "not an add-on\n";
  const Scan s = scan("TIDEWAVE_ADDON_PATH=" + mine.string());
  EXPECT_EQ(s.elements, kFilters) << s.log;
  EXPECT_NE(s.log.find("README (" + (mine / "README").string() + ") skipped: "), std::string::npos) << s.log;
}

}  // namespace
