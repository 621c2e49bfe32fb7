// Tessary, run from the built add-on: loading in the background, the frame
// cleared until all six pictures are in, the beat that starts a run, the
// messages of each outcome, and stopping the loader in every state.
#include <gtest/gtest.h>
#include <platform/kernel_host.h>
#include <platform/translation_host.h>
#include <pthread.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Basic_addon.h"
#include "Harness.h"

namespace fs = std::filesystem;
using tw::test::FilterRun;

namespace {

// Picture n (1…6): black with one red bar, columns [40n, 40n + 20) of a
// `width`-wide picture scaled from 320, so each picture tells itself apart.
int barLeft(int n, int width) { return 40 * n * width / 320; }

void writePicture(const fs::path& path, int n, int width, int height) {
  std::vector<uint8> rgb(size_t(width) * height * 3, 0);
  const int left = barLeft(n, width), right = left + 20 * width / 320;
  for (int y = 0; y < height; ++y)
    for (int x = left; x < right; ++x) rgb[(size_t(y) * width + x) * 3] = 255;
  tjhandle tj = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_444, 95, 0), 0);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out), std::streamsize(size));
  tjFree(out);
  tjDestroy(tj);
}

bool isRed(uint8 index) {
  const rgb_color c = tw_system_palette()[index];
  return c.red >= 180 && c.green <= 80 && c.blue <= 80;
}

// Which picture the frame shows, 1…6 (0 when none is recognisable), read
// in the middle row of a 640-wide picture.
int shownPicture(const tw::Frame& frame, int width = 640, int y = 240) {
  int shown = 0;
  for (int n = 1; n <= 6; ++n) {
    const int x = barLeft(n, width) + 10 * width / 320 / 2;
    if (isRed(frame.at8(x, y))) {
      if (shown) return 0;
      shown = n;
    }
  }
  return frame.at8(5, y) == 0 ? shown : 0;
}

bool allBytes(const tw::Frame& frame, uint8 value) {
  for (size_t i = 0; i < frame.size(); ++i)
    if (frame.pixels()[i] != value) return false;
  return true;
}

// Holds the loader inside a decode: every Translate on the thread named
// "LoadImages" counts; the one numbered `holdAt` waits until released.
struct DecodeGate {
  std::mutex lock;
  std::condition_variable changed;
  int calls = 0;
  int holdAt = 0;
  bool holding = false, released = false;

  static void hook(void* arg) {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    if (std::strcmp(name, "LoadImages") != 0) return;
    auto* g = static_cast<DecodeGate*>(arg);
    std::unique_lock<std::mutex> l(g->lock);
    if (++g->calls != g->holdAt) return;
    g->holding = true;
    g->changed.notify_all();
    g->changed.wait(l, [&] { return g->released; });
  }
  void waitHolding() {
    std::unique_lock<std::mutex> l(lock);
    ASSERT_TRUE(changed.wait_for(l, std::chrono::seconds(30), [&] { return holding; }));
  }
  void release() {
    std::lock_guard<std::mutex> l(lock);
    released = true;
    changed.notify_all();
  }
};

// Waits for the loader's last step (or gives up after a generous period).
bool waitLoaderDone(CTessary& t) {
  for (int i = 0; i < 30000 && !t.loaderDone.load(); ++i) snooze(1000);
  return t.loaderDone.load();
}

template <typename Predicate>
bool waitFor(Predicate p) {
  for (int i = 0; i < 30000 && !p(); ++i) snooze(1000);
  return p();
}

class Tessary : public ::testing::Test {
 protected:
  void SetUp() override {
    lib = tw::test::openAddon("Tessary");
    ASSERT_NE(lib, nullptr);
    root = fs::temp_directory_path() / ("tw-tessary-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "image_map");
  }
  void TearDown() override {
    tw_set_translate_hook(nullptr, nullptr);
    fs::remove_all(root);
  }
  void writePictures(int width = 640, int height = 480, int skip = 0) {
    for (int n = 1; n <= 6; ++n)
      if (n != skip)
        writePicture(root / "image_map" / ("image" + std::to_string(n) + ".jpg"), n, width, height);
  }
  std::unique_ptr<FilterRun> start() {
    auto run = std::make_unique<FilterRun>(*lib, 0);
    EXPECT_TRUE(run->load(root.string(), root.string(), root.string()));
    return run;
  }
  static CTessary& tessary(FilterRun& run) { return static_cast<CTessary&>(run.filter()); }

  // The messages of a loader that reaches picture `last` (each found).
  std::string loadingMessages(int last) const {
    std::string s = "CTessary::LoadImages\n";
    for (int n = 1; n <= last; ++n) {
      const std::string file = "image" + std::to_string(n) + ".jpg";
      s += "CTessary::LoadImages -> Loading " + file + "...\n";
      s += "CTessary::GetBitmapFile -- path '" + (root / "image_map" / file).string() + "'\n";
    }
    return s;
  }

  std::unique_ptr<tw::AddonLibrary> lib;
  fs::path root;
};

TEST_F(Tessary, DescriptorAndModes) {
  writePictures();
  auto run = start();
  CFilter& f = run->filter();
  EXPECT_STREQ(f.name, "Tessary");
  EXPECT_STREQ(f.author, "Dravin Tobb AKA Kalu");
  EXPECT_STREQ(f.info, "...");
  EXPECT_EQ(f.hostHint1, 0);
  EXPECT_EQ(f.hostHint2, 1);
  EXPECT_EQ(f.supportedModes, 1);
  EXPECT_TRUE(f.hostFlag2);
  EXPECT_FALSE(f.hostFlag1);
  EXPECT_FLOAT_EQ(f.hostFactor, 0.5f);
  EXPECT_EQ(f.icon, nullptr) << "no icon under this imageDir";
  ASSERT_TRUE(waitLoaderDone(tessary(*run)));

  // A 32-bit frame is never asked for; if it were, it would stay as it is.
  EXPECT_FALSE(run->prepare({640, 480, 2}));
  tw::Frame frame32({640, 480, 2});
  frame32.clear(0x5A);
  f.frame = &frame32.info();
  f.processFrame32(frame32.info());
  EXPECT_TRUE(allBytes(frame32, 0x5A));
  f.frame = nullptr;
}

TEST_F(Tessary, ClearsUntilAllSixAreLoadedThenShowsTheFirst) {
  writePictures();
  DecodeGate gate;
  gate.holdAt = 1;
  tw_set_translate_hook(DecodeGate::hook, &gate);
  testing::internal::CaptureStdout();
  auto run = start();
  CTessary& t = tessary(*run);
  ASSERT_TRUE(run->prepare());
  gate.waitHolding();
  run->frame().clear(0x55);
  run->draw();
  EXPECT_TRUE(allBytes(run->frame(), 0)) << "cleared to index 0 while loading";
  EXPECT_FALSE(t.imagesReady.load());

  gate.release();
  ASSERT_TRUE(waitLoaderDone(t));
  std::fflush(stdout);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, loadingMessages(6) + "CTessary::LoadImages -> OK\n");
  ASSERT_TRUE(t.imagesReady.load());
  ASSERT_EQ(t.images.CountItems(), 6);
  for (int i = 0; i < 6; ++i) {
    auto* b = static_cast<BBitmap*>(t.images.ItemAt(i));
    EXPECT_EQ(b->ColorSpace(), B_CMAP8);
    EXPECT_EQ(b->Bounds(), BRect(0, 0, 639, 479));
  }
  for (int i = 0; i < 3; ++i) {
    run->draw();
    EXPECT_EQ(shownPicture(run->frame()), 1);
  }
}

// spectrum[1][10] × 2e−05 must exceed 35: 1 700 000 gives 34, 1 800 000 gives 36.
TEST_F(Tessary, BeatThresholdAndOneRun) {
  writePictures();
  auto run = start();
  ASSERT_TRUE(run->prepare());
  ASSERT_TRUE(waitLoaderDone(tessary(*run)));
  ASSERT_TRUE(tessary(*run).imagesReady.load());
  float* spectrum = run->frame().spectrum(1);

  std::vector<int> shown;
  auto frameWith = [&](float level) {
    spectrum[10] = level;
    run->draw();
    shown.push_back(shownPicture(run->frame()));
  };
  for (int i = 0; i < 4; ++i) frameWith(1700000);
  frameWith(1800000);
  for (int i = 0; i < 7; ++i) frameWith(0);
  EXPECT_EQ(shown, (std::vector<int>{1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 1, 1}));

  // A beat during a run changes nothing; one on the frame showing picture 6
  // is lost.
  shown.clear();
  frameWith(1800000);
  for (float level : {0.f, 1800000.f, 0.f, 0.f, 1800000.f, 0.f, 0.f}) frameWith(level);
  EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 4, 5, 6, 1, 1}));

  // prepare ends a run.
  frameWith(1800000);
  frameWith(0);
  run->driver().terminate();
  ASSERT_TRUE(run->driver().prepare({}, tw_system_palette(), tw_system_palette32()));
  shown.clear();
  frameWith(0);
  EXPECT_EQ(shown, (std::vector<int>{1}));
}

TEST_F(Tessary, BeatOnEveryFrameCycles) {
  writePictures();
  auto run = start();
  ASSERT_TRUE(run->prepare());
  ASSERT_TRUE(waitLoaderDone(tessary(*run)));
  run->frame().spectrum(1)[10] = 5e6f;
  std::vector<int> shown;
  for (int i = 0; i < 14; ++i) {
    run->draw();
    shown.push_back(shownPicture(run->frame()));
  }
  EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 4, 5, 6, 1, 2, 3, 4, 5, 6, 1, 2}));
}

TEST_F(Tessary, MissingFourthPictureEndsLoading) {
  writePictures(640, 480, 4);
  testing::internal::CaptureStdout();
  auto run = start();
  CTessary& t = tessary(*run);
  ASSERT_TRUE(waitLoaderDone(t));
  std::fflush(stdout);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, loadingMessages(3) +
                     "CTessary::LoadImages -> Loading image4.jpg...\n"
                     "CTessary::LoadImages -> Error find entry: 0x80006003 - No such file or directory\n");
  EXPECT_FALSE(t.imagesReady.load());
  EXPECT_EQ(t.images.CountItems(), 3);
  ASSERT_TRUE(run->prepare());
  run->frame().clear(0x55);
  run->frame().spectrum(1)[10] = 5e6f;
  run->draw();
  EXPECT_TRUE(allBytes(run->frame(), 0)) << "a failed loader leaves the frame cleared";
  run->driver().unload();  // after a failure: one look at the flag, then release
  EXPECT_EQ(t.images.CountItems(), 0);
}

TEST_F(Tessary, UndecodablePictureAndMissingDirectory) {
  writePictures();
  std::ofstream(root / "image_map" / "image2.jpg") << "not a jpeg";
  testing::internal::CaptureStdout();
  auto run = start();
  ASSERT_TRUE(waitLoaderDone(tessary(*run)));
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            loadingMessages(2) + "CTessary::LoadImages -> Error Get Bimap File\n");
  EXPECT_EQ(tessary(*run).images.CountItems(), 1);

  fs::remove_all(root / "image_map");
  testing::internal::CaptureStdout();
  auto second = start();
  ASSERT_TRUE(waitLoaderDone(tessary(*second)));
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "CTessary::LoadImages\nCTessary::LoadImages -> Loading image1.jpg...\n"
            "CTessary::LoadImages -> Error find entry: 0x80006003 - No such file or directory\n");
}

TEST_F(Tessary, UnloadDuringDecodingWaitsForThatPicture) {
  writePictures();
  DecodeGate gate;
  gate.holdAt = 2;
  tw_set_translate_hook(DecodeGate::hook, &gate);
  testing::internal::CaptureStdout();
  auto run = start();
  CTessary& t = tessary(*run);
  gate.waitHolding();
  std::thread unloader([&] { run->driver().unload(); });
  ASSERT_TRUE(waitFor([&] { return t.stopLoading.load(); }));
  EXPECT_FALSE(t.loaderDone.load()) << "unload is still waiting for the picture in progress";
  gate.release();
  unloader.join();
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), loadingMessages(2) + "CTessary::LoadImages -> OK\n");
  EXPECT_FALSE(t.imagesReady.load());
  EXPECT_TRUE(t.loaderDone.load());
  EXPECT_EQ(t.images.CountItems(), 0) << "unload released the two pictures";
}

// The host may delete the filter without unload: the destructor stops and
// joins the loader before the filter's memory goes.
TEST_F(Tessary, DeletingWithoutUnloadStopsTheLoader) {
  writePictures();
  DecodeGate gate;
  gate.holdAt = 3;
  tw_set_translate_hook(DecodeGate::hook, &gate);
  CFilter* f = lib->create(0);
  ASSERT_NE(f, nullptr);
  f->dataDir.SetTo(root.c_str());
  f->imageDir.SetTo(root.c_str());
  testing::internal::CaptureStdout();
  ASSERT_TRUE(f->load());
  gate.waitHolding();
  CTessary* t = static_cast<CTessary*>(f);
  std::thread deleter([f] { delete f; });
  ASSERT_TRUE(waitFor([&] { return t->stopLoading.load(); }));
  gate.release();
  deleter.join();
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), loadingMessages(3) + "CTessary::LoadImages -> OK\n");
}

TEST_F(Tessary, FailedSpawnLeavesNothingToWaitFor) {
  writePictures();
  tw_fail_next_spawns(1);
  testing::internal::CaptureStdout();
  auto run = start();
  ASSERT_TRUE(run->prepare());
  run->frame().clear(0x55);
  run->draw();
  EXPECT_TRUE(allBytes(run->frame(), 0));
  run->driver().unload();  // returns: no loader was ever started
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(tessary(*run).loaderDone.load());
}

// Pictures and frames of other sizes: only the area both hold is copied, top
// left aligned, each at its own stride.
TEST_F(Tessary, CopiesOnlyTheSharedArea) {
  writePictures(320, 240);
  auto run = start();
  ASSERT_TRUE(run->prepare());
  ASSERT_TRUE(waitLoaderDone(tessary(*run)));
  run->frame().clear(0x77);
  run->draw();
  const tw::Frame& f = run->frame();
  EXPECT_EQ(shownPicture(f, 320, 120), 1);
  for (int y : {0, 239})
    for (int x : {0, 319}) EXPECT_NE(f.at8(x, y), 0x77) << x << "," << y;
  for (int y : {0, 240, 479}) EXPECT_EQ(f.at8(320, y), 0x77) << "right of the picture, row " << y;
  for (int x : {0, 639}) EXPECT_EQ(f.at8(x, 240), 0x77) << "below the picture, column " << x;
}

TEST_F(Tessary, SmallPaddedFrameGetsOnlyItsPixels) {
  writePictures();
  auto run = start();
  ASSERT_TRUE(run->prepare({100, 50, 1, 104}));
  ASSERT_TRUE(waitLoaderDone(tessary(*run)));
  run->frame().clear(0x77);
  run->draw();
  const tw::Frame& f = run->frame();
  for (int y = 0; y < 50; ++y) {
    EXPECT_EQ(f.at8(0, y), 0) << "black corner of picture 1, row " << y;
    for (int x = 100; x < 104; ++x) ASSERT_EQ(f.at8(x, y), 0x77) << "row padding " << x << "," << y;
  }
  // Columns 80…99 of picture 1 are its bar (40n…40n+20 at 320 → 80…120 at 640).
  EXPECT_TRUE(isRed(f.at8(90, 10)));
}

TEST_F(Tessary, ShippedDataLoadsWithItsIcon) {
  const std::string data = tw::test::projectDataDir();
  auto run = std::make_unique<FilterRun>(*lib, 0);
  testing::internal::CaptureStdout();
  ASSERT_TRUE(run->load(data, data + "/filterdata", data + "/images"));
  CTessary& t = tessary(*run);
  ASSERT_TRUE(waitLoaderDone(t));
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(t.imagesReady.load());
  ASSERT_NE(run->filter().icon, nullptr);
  EXPECT_EQ(run->filter().icon->Bounds(), BRect(0, 0, 31, 31));
  ASSERT_TRUE(run->prepare());
  run->draw();
  EXPECT_FALSE(allBytes(run->frame(), 0));
}

}  // namespace
