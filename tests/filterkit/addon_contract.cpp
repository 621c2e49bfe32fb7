// What every add-on file promises, checked on the built file itself:
//   addon_contract FILE ICONS(0|1) APP_INFO(0|1) "filter name"...
// its filterInit table, its alert when launched as a program, and its
// resources: the platform's, exactly, then the host's two (its ABI stamp and
// its filters' names).
#include "Harness.h"
#include "engine/AddonManifest.h"

#include <platform/resources.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string addonFile;
bool expectIcons = false, expectAppInfo = false;
std::vector<std::string> expectedNames;

std::string deliverable() { return std::filesystem::path(addonFile).filename().string(); }

TEST(AddonContract, FilterInitHandsOutTheTableThenNull) {
  std::string why;
  auto lib = tw::AddonLibrary::open(addonFile, &why);
  ASSERT_TRUE(lib) << why;
  for (size_t i = 0; i < expectedNames.size(); ++i) {
    tw::test::FilterRun a(lib->create(int32(i)));
    tw::test::FilterRun b(lib->create(int32(i)));
    ASSERT_TRUE(a.valid() && b.valid()) << "index " << i;
    EXPECT_NE(&a.filter(), &b.filter()) << "two calls give two objects";
    // Constructed, not loaded: the descriptor is still the kit's default.
    EXPECT_EQ(a.filter().name, nullptr);
    EXPECT_EQ(a.filter().width, 640);
    ASSERT_TRUE(a.load()) << "index " << i;
    EXPECT_STREQ(a.filter().name, expectedNames[i].c_str());
  }
  for (int32 index : {int32(expectedNames.size()), int32(expectedNames.size()) + 1, -1, INT32_MIN, INT32_MAX})
    EXPECT_EQ(lib->create(index), nullptr) << "index " << index;
}

TEST(AddonContract, LaunchedAsAProgramItShowsItsAlertAndExitsZero) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  // Without a display the alert goes to standard output; with standard input
  // not a terminal it does not wait.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "WAYLAND_DISPLAY=", 16) != 0)
      env.push_back(*e);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {addonFile.data(), nullptr};
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, addonFile.c_str(), &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << text;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string n = deliverable();
  EXPECT_EQ(text, n + "\n\nThanks for using " + n + " !\n\nPlease move the " + n +
                      " executable into\nthe Tidewave add-on directory\nand try again !\n\n[ Great ! ]\n");
}

TEST(AddonContract, CarriesItsResources) {
  std::vector<TwResource> list;
  ASSERT_EQ(tw_read_resources(addonFile.c_str(), &list), B_OK);
  struct Want {
    const char* type;
    int32 id;
    const char* name;
    size_t size;
  };
  std::vector<Want> want = {{"MIMS", 2, "BEOS:TYPE", 35}};
  if (expectIcons) {
    want.push_back({"ICON", 101, "BEOS:L:STD_ICON", 1024});
    want.push_back({"MICN", 101, "BEOS:M:STD_ICON", 256});
  }
  if (expectAppInfo) {
    want.push_back({"APPF", 1, "BEOS:APP_FLAGS", 4});
    want.push_back({"APPV", 1, "BEOS:APP_VERSION", 680});
    want.push_back({"MIMS", 1, "BEOS:APP_SIG", 1});
  }
  // After the platform's: the host's, which a host reads before loading.
  want.push_back({"TWAB", 1, "TIDEWAVE:ABI", 56});
  size_t names = 0;
  for (const std::string& n : expectedNames) names += n.size() + 1;
  want.push_back({"TWFL", 1, "TIDEWAVE:FILTERS", names});
  ASSERT_EQ(list.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(tw_type_code_text(list[i].type), want[i].type);
    EXPECT_EQ(list[i].id, want[i].id);
    EXPECT_EQ(list[i].name, want[i].name);
    EXPECT_EQ(list[i].data.size(), want[i].size) << want[i].name;
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(list[0].data.data())),
            "application/x-vnd.Be-elfexecutable");
  if (expectIcons) {
    // Our artwork: an icon that is one flat colour is a placeholder.
    const std::vector<uint8>& large = list[1].data;
    EXPECT_NE(std::count(large.begin(), large.end(), large[0]), long(large.size()));
  }
  if (expectAppInfo) {
    for (uint8 b : list[3].data) ASSERT_EQ(b, 0);  // flags 0
    for (size_t i = 0; i < 340; ++i) ASSERT_EQ(list[4].data[i], 0) << "version 0.0.0, empty texts";
    EXPECT_EQ(list[5].data[0], 0);
  }

  // The host's reading of them: a stamp that matches this host, and the
  // names the filters give after load, in index order.
  tw::AddonManifest manifest;
  std::string why;
  ASSERT_TRUE(tw::readAddonManifest(addonFile, &manifest, &why)) << why;
  EXPECT_TRUE(manifest.stamped);
  EXPECT_EQ(manifest.abiMismatch, "");
  EXPECT_EQ(manifest.filters, expectedNames);
}

// Every filter, in every mode it announces, at many frame sizes (tiny ones
// included, and rows padded or not): it writes nothing outside its frame. The
// frame sits between guard areas that must come back untouched; the sound is
// loud and busy so that every drawing path runs.
TEST(AddonContract, EveryFilterDrawsOnlyInsideFramesOfAnySize) {
  std::string why;
  auto lib = tw::AddonLibrary::open(addonFile, &why);
  ASSERT_TRUE(lib) << why;
  struct Size {
    int32 w, h, pad;
  } sizes[] = {{640, 480, 0}, {1, 1, 0},     {7, 5, 1},     {32, 32, 0},  {320, 240, 0},
               {641, 479, 3}, {800, 600, 0}, {640, 200, 0}, {100, 480, 0}};
  constexpr size_t kGuard = 4096;
  constexpr uint8 kCanary = 0xCD;
  unsigned seed = 99;
  auto rnd = [&] { return (seed = seed * 1103515245u + 12345u) >> 8; };

  for (size_t index = 0; index < expectedNames.size(); ++index) {
    tw::test::FilterRun run(lib->create(int32(index)));
    ASSERT_TRUE(run.load()) << expectedNames[index];
    CFilter& f = run.filter();
    for (int32 mode : {1, 2}) {
      if ((f.supportedModes & mode) == 0) continue;
      for (const Size& sz : sizes) {
        tw::FrameGeometry g{sz.w, sz.h, mode, sz.w * (mode == 2 ? 4 : 1) + sz.pad * (mode == 2 ? 4 : 1)};
        ASSERT_TRUE(run.prepare(g)) << expectedNames[index] << " " << sz.w << "x" << sz.h;
        std::vector<uint8> buffer(kGuard + size_t(g.frameBytes()) + kGuard, kCanary);
        SFrameInfo& rec = run.record();
        rec.bits = buffer.data() + kGuard;
        for (int frameNo = 0; frameNo < 4; ++frameNo) {
          rec.frameCount = frameNo;
          for (int i = 0; i < tw::Frame::kSamples; ++i) rec.samples[i] = int32(rnd() % 65536) - 32768;
          for (int ch = 0; ch < 2; ++ch) {
            for (int i = 0; i < tw::Frame::kSpectrum; ++i) rec.spectrum[ch][i] = float(rnd() % 3000000);
            rec.level[ch] = double(rnd() % 1000000);
            for (double& b : rec.bands[ch]) b = double(rnd() % 1000000);
          }
          run.draw();
        }
        run.driver().terminate();
        for (size_t i = 0; i < kGuard; ++i) {
          ASSERT_EQ(buffer[i], kCanary) << expectedNames[index] << " mode " << mode << " " << sz.w << "x"
                                        << sz.h << ": wrote " << (kGuard - i) << " bytes before the frame";
          ASSERT_EQ(buffer[buffer.size() - 1 - i], kCanary)
              << expectedNames[index] << " mode " << mode << " " << sz.w << "x" << sz.h
              << ": wrote past the frame";
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s FILE ICONS(0|1) APP_INFO(0|1) NAME...\n", argv[0]);
    return 2;
  }
  addonFile = argv[1];
  expectIcons = std::string(argv[2]) == "1";
  expectAppInfo = std::string(argv[3]) == "1";
  for (int i = 4; i < argc; ++i) expectedNames.push_back(argv[i]);
  return RUN_ALL_TESTS();
}
