// Img Radezu loaded from the built add-on, with its loader thread running:
// where pictures are pasted and how they are cropped and scaled, the random
// walk through the directory, the loader's ends (empty directory, a
// directory that cannot be opened, an unknown pixel mode), a second run,
// frames of other sizes, and stopping a loader at any moment. The loader's
// waits go through WaitGate, so each attempt is an event the test releases.
#include "Harness.h"
#include "Pictures.h"
#include "WaitGate.h"
#include "slider_addon.h"

#include <platform/kernel.h>
#include <platform/storage.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using slider_test::Pattern;
using slider_test::Rgb;
using tw::FrameGeometry;
using tw::test::FilterRun;

constexpr uint8 kCanary = 0xCD;  // 0xCDCDCDCD is no 32-bit pixel a filter writes

// A picture file the tests write, and how the loader must treat it: scale
// step s to dw × dh, pasted part cw × ch taken from column sx, row sy.
struct PictureCase {
  const char* what;
  int32 w, h;
  int s, dw, dh, cw, ch, sx, sy;
};

// Hand-derived from the scaling and cropping rules.
const PictureCase kCases[] = {
    {"640x480 fits as it is", 640, 480, 1, 640, 480, 640, 480, 0, 0},
    {"1024x768 is halved", 1024, 768, 2, 512, 384, 512, 384, 0, 0},
    {"679x519 keeps its size, cropped evenly", 679, 519, 1, 679, 519, 640, 480, 19, 19},
    {"2000x1500 is a third, cropped", 2000, 1500, 3, 666, 500, 640, 480, 13, 10},
    {"680x100 is halved, width to the grid", 680, 100, 2, 340, 50, 336, 50, 2, 0},
    {"15x1100 is under 8 wide after scaling", 15, 1100, 3, 5, 366, 0, 366, 0, 0},
};

std::string caseDir(size_t i) { return "case" + std::to_string(i); }

// Where a picture lands: scale step, crop origin and size, destination.
struct Placement {
  int s;
  int32 sx, sy, cw, ch, dx, dy;
  Pattern pattern;
};

// The C library's sequence after srand(seed), recorded before the loader
// draws from it.
class Rands {
 public:
  explicit Rands(unsigned seed) {
    srand(seed);
    for (int i = 0; i < 256; ++i) seq_.push_back(rand());
    srand(seed);
  }
  int take() { return seq_.at(next_++); }
  int peek() const { return seq_.at(next_); }

 private:
  std::vector<int> seq_;
  size_t next_ = 0;
};

// The destination of a cw × ch crop: dx on the 8-pixel grid, then dy, each
// drawn only when the crop does not fill that side.
Placement place(Rands& rands, int s, int32 sx, int32 sy, int32 cw, int32 ch, Pattern pattern) {
  const int32 dx = cw == 640 ? 0 : rands.take() % (640 - cw) / 8 * 8;
  const int32 dy = ch == 480 ? 0 : rands.take() % (480 - ch);
  return Placement{s, sx, sy, cw, ch, dx, dy, std::move(pattern)};
}

// The frame a run must show when it starts from a canary-filled frame: the
// newest picture inside its rectangle (clipped to the frame), the canary
// everywhere else.
std::vector<uint8> expectedFrame(const FrameGeometry& g, const std::optional<Placement>& p) {
  std::vector<uint8> f(size_t(g.frameBytes()), kCanary);
  if (!p) return f;
  for (int32 j = 0; j < p->ch; ++j)
    for (int32 i = 0; i < p->cw; ++i) {
      const int32 x = p->dx + i, y = p->dy + j;
      if (x >= g.width || y >= g.height) continue;
      const int32 x0 = (p->sx + i) * p->s, y0 = (p->sy + j) * p->s;
      Rgb c = p->pattern(x0, y0);
      if (p->s == 2) {
        const Rgb n = p->pattern(x0 + 1, y0);
        c = Rgb{uint8((c.r + n.r) >> 1), uint8((c.g + n.g) >> 1), uint8((c.b + n.b) >> 1)};
      }
      uint8* out = &f[size_t(y) * size_t(g.rowBytes()) + size_t(x) * (g.pixelMode == 2 ? 4 : 1)];
      if (g.pixelMode == 2) {
        const uint32 v = uint32(c.r) << 16 | uint32(c.g) << 8 | c.b;
        std::memcpy(out, &v, 4);
      } else {
        *out = tw_index_for_color(c.r, c.g, c.b);
      }
    }
  return f;
}

BRect rectOf(const std::optional<Placement>& p) {
  if (!p) return BRect(0, 0, 0, 0);
  return BRect(float(p->dx), float(p->dy), float(p->dx + p->cw), float(p->dy + p->ch));
}

// Compares two frames and names the first pixel that differs.
::testing::AssertionResult sameFrame(const std::vector<uint8>& want, const uint8* got,
                                     const FrameGeometry& g) {
  for (size_t i = 0; i < want.size(); ++i)
    if (want[i] != got[i]) {
      const size_t row = i / size_t(g.rowBytes()), col = i % size_t(g.rowBytes());
      return ::testing::AssertionFailure()
             << "byte " << col << " of row " << row << ": want " << int(want[i]) << ", got " << int(got[i]);
    }
  return ::testing::AssertionSuccess();
}

CSliderFilter& slider(FilterRun& run) { return static_cast<CSliderFilter&>(run.filter()); }

// Leaf names of a directory in the order the platform lists them.
std::vector<std::string> listingOrder(const std::string& dir) {
  std::vector<std::string> names;
  BDirectory d(dir.c_str());
  BEntry e;
  BPath p;
  while (d.GetNextEntry(&e) == B_OK && e.GetPath(&p) == B_OK) names.push_back(p.Leaf());
  return names;
}

class SliderLoader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lib_ = tw::test::openAddon("Radezu").release();
    pictures_ = new slider_test::TempDir;
    const auto dir = [](const std::string& name) {
      std::filesystem::create_directory(pictures_->file(name));
      return pictures_->file(name) + "/";
    };
    for (size_t i = 0; i < std::size(kCases); ++i)
      ASSERT_TRUE(slider_test::writePng(dir(caseDir(i)) + "picture.png", kCases[i].w, kCases[i].h,
                                        slider_test::coordinates(uint8(i))));
    const std::string three = dir("three");
    ASSERT_TRUE(slider_test::writePng(three + "a.png", 640, 480, slider_test::coordinates(0x11)));
    ASSERT_TRUE(slider_test::writeTga(three + "b.tga", 320, 240, slider_test::coordinates(0x22)));
    ASSERT_TRUE(slider_test::writePng(three + "c.png", 640, 100, slider_test::coordinates(0x33)));
    ASSERT_TRUE(slider_test::writeTga(dir("one") + "only.tga", 320, 240, slider_test::coordinates(0x44)));
    const std::string mixed = dir("mixed");
    ASSERT_TRUE(slider_test::writePng(mixed + "p.png", 200, 120, slider_test::coordinates(0x55)));
    ASSERT_TRUE(slider_test::writeText(mixed + "readme.txt", "no picture here\n"));
    std::filesystem::create_directory(mixed + "folder");
    dir("empty");
    ASSERT_TRUE(slider_test::writePng(dir("small") + "s.png", 200, 150, slider_test::coordinates(0x66)));
  }
  static void TearDownTestSuite() {
    delete pictures_;
    delete lib_;
  }
  void TearDown() override { gate::reset(gate::Mode::Real); }

  static std::string picturesIn(const std::string& name) { return pictures_->file(name); }

  // A run over `dir`: loaded, prepared on a frame of geometry g, its loader
  // waiting for the test (Step mode) at its first wait.
  std::unique_ptr<FilterRun> start(const std::string& dir, FrameGeometry g,
                                   gate::Mode mode = gate::Mode::Step) {
    gate::reset(mode);
    auto run = std::make_unique<FilterRun>(*lib_, 0);
    EXPECT_TRUE(run->load(dir, dir, dir));
    EXPECT_TRUE(run->prepare(g));
    return run;
  }

  // Lets the loader make one attempt and waits until it waits again.
  static void attempt() {
    const int n = gate::arrivals();
    gate::grant();
    ASSERT_TRUE(gate::awaitArrivals(n + 1)) << "the loader did not come back to its wait";
  }

  // Draws one frame over the canary and compares it with what must show.
  static void expectShown(FilterRun& run, const std::optional<Placement>& p, const std::string& when) {
    run.frame().clear(kCanary);
    run.draw();
    EXPECT_TRUE(
        sameFrame(expectedFrame(run.frame().geometry(), p), run.frame().pixels(), run.frame().geometry()))
        << when;
  }

  static tw::AddonLibrary* lib_;
  static slider_test::TempDir* pictures_;
};

tw::AddonLibrary* SliderLoader::lib_ = nullptr;
slider_test::TempDir* SliderLoader::pictures_ = nullptr;

// Every case in both modes: nothing before the first wait has passed, then
// the picture scaled, cropped and placed as the rules say, with rand() drawn
// for the pick and for each coordinate that is not fixed, in that order.
TEST_F(SliderLoader, PastesEachPictureScaledCroppedAndPlaced) {
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const PictureCase& c = kCases[i];
    for (int32 mode : {1, 2}) {
      SCOPED_TRACE(std::string(c.what) + (mode == 1 ? ", 8-bit" : ", 32-bit"));
      Rands rands(1000u + unsigned(i) * 7u + unsigned(mode));
      auto run = start(picturesIn(caseDir(i)), FrameGeometry{640, 480, mode, 0});
      ASSERT_TRUE(gate::awaitArrivals(1));
      expectShown(*run, std::nullopt, "before the first picture");

      attempt();
      EXPECT_EQ(rands.take() % 1, 0);  // the pick in a one-entry directory
      const Placement p = place(rands, c.s, c.sx, c.sy, c.cw, c.ch, slider_test::coordinates(uint8(i)));
      EXPECT_EQ(slider(*run).pictureRect, rectOf(p));
      if (c.cw == 0) {
        expectShown(*run, std::nullopt, "a 0-wide picture draws nothing");
      } else {
        EXPECT_EQ(p.dx % 8, 0);
        EXPECT_LE(p.dx + p.cw, 640);
        EXPECT_LE(p.dy + p.ch, 480);
        expectShown(*run, p, "after the first picture");
      }
      EXPECT_EQ(rand(), rands.peek()) << "the loader drew a different number of random values";
      run.reset();
    }
  }
}

struct WalkEntry {
  std::string name;
  std::optional<PictureCase> picture;  // none for an entry that is no picture
  uint8 tint;
};

// Replays the loader's walk over `entries` (in listing order) from a fixed
// rand() state and checks every attempt's outcome on the frame.
void walk(FilterRun& run, Rands& rands, const std::vector<WalkEntry>& entries, int attempts) {
  const int count = int(entries.size());
  size_t cursor = 0;
  std::optional<Placement> shown;
  int pasted = 0, passEnds = 0;
  for (int a = 0; a < attempts; ++a) {
    SCOPED_TRACE("attempt " + std::to_string(a + 1));
    const int r = rands.take() % count;
    if (cursor + size_t(r) + 1 > entries.size()) {
      cursor = 0;  // ran past the last entry: a new pass from the first
      ++passEnds;
    } else {
      cursor += size_t(r) + 1;
      const WalkEntry& e = entries[cursor - 1];
      if (e.picture) {
        const PictureCase& c = *e.picture;
        shown = place(rands, c.s, c.sx, c.sy, c.cw, c.ch, slider_test::coordinates(e.tint));
        ++pasted;
      }
    }
    int n = gate::arrivals();
    gate::grant();
    ASSERT_TRUE(gate::awaitArrivals(n + 1));
    EXPECT_EQ(slider(run).pictureRect, rectOf(shown));
    run.frame().clear(kCanary);
    run.draw();
    EXPECT_TRUE(sameFrame(expectedFrame(run.frame().geometry(), shown), run.frame().pixels(),
                          run.frame().geometry()));
  }
  EXPECT_GT(pasted, 1) << "choose a seed whose walk shows pictures";
  EXPECT_GT(passEnds, 0) << "choose a seed whose walk runs past the end";
  EXPECT_EQ(rand(), rands.peek());
}

std::vector<WalkEntry> inListingOrder(const std::string& dir, std::map<std::string, WalkEntry> byName) {
  std::vector<WalkEntry> entries;
  for (const std::string& name : listingOrder(dir)) entries.push_back(byName.at(name));
  return entries;
}

// Three pictures: a pick lies 1 … 3 entries after the previous one; one that
// would run past the third shows nothing and the next pass starts again.
TEST_F(SliderLoader, WalksThreePicturesWithoutRewindingBetweenPicks) {
  const std::string dir = picturesIn("three");
  const auto entries = inListingOrder(
      dir, {{"a.png", {"a.png", PictureCase{"", 640, 480, 1, 640, 480, 640, 480, 0, 0}, 0x11}},
            {"b.tga", {"b.tga", PictureCase{"", 320, 240, 1, 320, 240, 320, 240, 0, 0}, 0x22}},
            {"c.png", {"c.png", PictureCase{"", 640, 100, 1, 640, 100, 640, 100, 0, 0}, 0x33}}});
  Rands rands(42);
  auto run = start(dir, FrameGeometry{640, 480, 1, 0});
  ASSERT_TRUE(gate::awaitArrivals(1));
  walk(*run, rands, entries, 14);
  for (bigtime_t p : gate::periods()) EXPECT_EQ(p, 500000);
}

// One picture: every second attempt runs past the end, so the picture comes
// back at a new place every two waits; in 32-bit mode each wait is 2 s.
TEST_F(SliderLoader, WalksASinglePictureEverySecondAttempt) {
  const std::string dir = picturesIn("one");
  Rands rands(7);
  auto run = start(dir, FrameGeometry{640, 480, 2, 0});
  ASSERT_TRUE(gate::awaitArrivals(1));
  walk(*run, rands, {{"only.tga", PictureCase{"", 320, 240, 1, 320, 240, 320, 240, 0, 0}, 0x44}}, 8);
  for (bigtime_t p : gate::periods()) EXPECT_EQ(p, 2000000);
}

// Entries that are no picture (a text file, a folder) end their attempt and
// the walk goes on.
TEST_F(SliderLoader, SkipsEntriesThatAreNoPictures) {
  const std::string dir = picturesIn("mixed");
  const auto entries =
      inListingOrder(dir, {{"p.png", {"p.png", PictureCase{"", 200, 120, 1, 200, 120, 200, 120, 0, 0}, 0x55}},
                           {"readme.txt", {"readme.txt", std::nullopt, 0}},
                           {"folder", {"folder", std::nullopt, 0}}});
  Rands rands(2024);
  auto run = start(dir, FrameGeometry{640, 480, 1, 0});
  ASSERT_TRUE(gate::awaitArrivals(1));
  walk(*run, rands, entries, 16);
}

// An empty directory ends the loader at once, by itself: it never waits and
// no frame is drawn to.
TEST_F(SliderLoader, AnEmptyDirectoryEndsTheLoaderAtOnce) {
  for (int32 mode : {1, 2}) {
    auto run = start(picturesIn("empty"), FrameGeometry{640, 480, mode, 0});
    status_t exit = -1;
    ASSERT_EQ(wait_for_thread(slider(*run).loaderThread, &exit), B_OK);
    EXPECT_EQ(exit, 0);
    EXPECT_EQ(gate::arrivals(), 0);
    EXPECT_TRUE(slider(*run).loaderQuit);
    expectShown(*run, std::nullopt, "after the loader ended");
  }
}

// A directory that cannot be opened is no empty one: the loader goes on
// waiting and retrying, showing nothing, until terminate.
TEST_F(SliderLoader, ADirectoryThatCannotBeOpenedKeepsTheLoaderWaiting) {
  for (const std::string& dir : {picturesIn("missing"), picturesIn("one") + "/only.tga"}) {
    SCOPED_TRACE(dir);
    auto run = start(dir, FrameGeometry{640, 480, 1, 0});
    ASSERT_TRUE(gate::awaitArrivals(1));
    for (int i = 0; i < 4; ++i) attempt();
    EXPECT_FALSE(slider(*run).loaderQuit);
    expectShown(*run, std::nullopt, "nothing was found");
  }
}

// A pixel mode other than 1 or 2 at prepare: the loader ends at once and
// nothing is drawn. (The host refuses such a mode, so the filter is prepared
// directly.)
TEST_F(SliderLoader, AnUnknownPixelModeEndsTheLoaderAtOnce) {
  gate::reset(gate::Mode::Step);
  FilterRun run(*lib_, 0);
  const std::string dir = picturesIn("case0");
  ASSERT_TRUE(run.load(dir, dir, dir));
  CSliderFilter& f = slider(run);
  f.pixelMode = 3;
  ASSERT_TRUE(f.prepare());
  status_t exit = -1;
  ASSERT_EQ(wait_for_thread(f.loaderThread, &exit), B_OK);
  EXPECT_EQ(exit, 0);
  EXPECT_EQ(gate::arrivals(), 0);
  tw::Frame frame;
  frame.clear(kCanary);
  f.processFrame8(frame.info());
  f.processFrame32(frame.info());
  EXPECT_TRUE(sameFrame(expectedFrame(frame.geometry(), std::nullopt), frame.pixels(), frame.geometry()));
  f.terminate();
}

// A second run without a new load starts from the previous run's rectangle
// over a zero-filled buffer; then a picture under 8 pixels wide leaves a
// 0-wide rectangle and frames draw nothing.
TEST_F(SliderLoader, ASecondRunShowsZerosAtTheOldPlaceUntilItsFirstPicture) {
  for (int32 mode : {1, 2}) {
    SCOPED_TRACE(mode == 1 ? "8-bit" : "32-bit");
    const FrameGeometry g{640, 480, mode, 0};
    Rands rands(99);
    auto run = start(picturesIn("one"), g);
    ASSERT_TRUE(gate::awaitArrivals(1));
    attempt();
    rands.take();
    const Placement first = place(rands, 1, 0, 0, 320, 240, slider_test::coordinates(0x44));
    ASSERT_EQ(slider(*run).pictureRect, rectOf(first));
    run->driver().terminate();

    slider(*run).imageDir.SetTo(picturesIn(caseDir(5)).c_str());  // the under-8-wide picture
    const int before = gate::arrivals();
    ASSERT_TRUE(run->prepare(g));
    ASSERT_TRUE(gate::awaitArrivals(before + 1));
    EXPECT_EQ(slider(*run).pictureRect, rectOf(first));
    std::vector<uint8> zeros = expectedFrame(g, std::nullopt);
    const int32 px = mode == 2 ? 4 : 1;
    for (int32 y = first.dy; y < first.dy + first.ch; ++y)
      std::memset(&zeros[size_t(y * g.rowBytes() + first.dx * px)], 0, size_t(first.cw * px));
    run->frame().clear(kCanary);
    run->draw();
    EXPECT_TRUE(sameFrame(zeros, run->frame().pixels(), g)) << "the old place, zero-filled";

    attempt();
    EXPECT_EQ(slider(*run).pictureRect.Width(), 0);
    expectShown(*run, std::nullopt, "after the 0-wide picture");
  }
}

// Frames smaller or larger than 640 x 480, with or without padded rows: the
// picture is placed within 640 x 480 as always, and only what lies inside
// the frame is pasted and copied; the bytes around the frame stay as they
// were.
TEST_F(SliderLoader, FramesOfOtherSizesGetOnlyWhatFitsInside) {
  struct Size {
    int32 w, h, mode, bytesPerRow;
  } sizes[] = {{320, 240, 1, 0}, {100, 50, 2, 412}, {641, 479, 1, 644},
               {1, 1, 2, 0},     {800, 600, 1, 0},  {7, 3, 1, 9}};
  constexpr size_t kGuard = 4096;
  for (const Size& sz : sizes) {
    const FrameGeometry g{sz.w, sz.h, sz.mode, sz.bytesPerRow};
    SCOPED_TRACE(std::to_string(sz.w) + "x" + std::to_string(sz.h) + " mode " + std::to_string(sz.mode));
    auto run = start(picturesIn("case0"), g);  // 640 x 480: pasted whole at (0, 0)
    ASSERT_TRUE(gate::awaitArrivals(1));
    attempt();
    std::vector<uint8> buffer(kGuard + size_t(g.frameBytes()) + kGuard, kCanary);
    run->record().bits = buffer.data() + kGuard;
    run->draw();
    const Placement p{1, 0, 0, 640, 480, 0, 0, slider_test::coordinates(0)};
    EXPECT_TRUE(sameFrame(expectedFrame(g, p), buffer.data() + kGuard, g));
    for (size_t i = 0; i < kGuard; ++i) {
      ASSERT_EQ(buffer[i], kCanary) << "wrote before the frame";
      ASSERT_EQ(buffer[buffer.size() - 1 - i], kCanary) << "wrote past the frame";
    }
  }
}

// terminate while the loader waits cuts the real wait short: it returns long
// before the period (2 s in 32-bit mode, 0.5 s in 8-bit mode) and the loader
// leaves without another picture.
TEST_F(SliderLoader, TerminateDuringAWaitReturnsAtOnce) {
  for (int32 mode : {2, 1}) {
    auto run = start(picturesIn("case0"), FrameGeometry{640, 480, mode, 0}, gate::Mode::Real);
    ASSERT_TRUE(gate::awaitArrivals(1));
    const auto t0 = std::chrono::steady_clock::now();
    run->driver().terminate();
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, std::chrono::milliseconds(50));
    EXPECT_EQ(gate::lastResult(), B_BAD_SEM_ID) << "the wait ended by the deleted semaphore";
    EXPECT_EQ(gate::periods().at(0), mode == 2 ? 2000000 : 500000);
    EXPECT_EQ(gate::arrivals(), 1);
    EXPECT_EQ(slider(*run).pictureRect, BRect(0, 0, 0, 0));
  }
}

// 1000 runs stopped at every stage of the loader (before its first wait,
// while decoding, converting or pasting, while waiting), with frames drawn
// meanwhile. Under the sanitizers this shows that the hand-over has no
// race and nothing is touched after terminate.
TEST_F(SliderLoader, ManyRunsStoppedAtAnyMomentStayClean) {
  gate::reset(gate::Mode::FreeRun);
  FilterRun run(*lib_, 0);
  const std::string dir = picturesIn("small");
  ASSERT_TRUE(run.load(dir, dir, dir));
  for (int i = 0; i < 1000; ++i) {
    const FrameGeometry g{640, 480, 1 + i % 2, 0};
    const int base = gate::arrivals();
    ASSERT_TRUE(run.prepare(g));
    for (int k = 1; k <= i % 5; ++k) {
      ASSERT_TRUE(gate::awaitArrivals(base + k));
      run.draw();
    }
    run.driver().terminate();
    ASSERT_EQ(slider(run).pictureBuffer, nullptr);
  }
}

// A host that deletes the filter during a run, without terminate: the
// destructor stops and joins the loader before the filter's memory goes.
TEST_F(SliderLoader, DeletingARunningFilterJoinsItsLoader) {
  gate::reset(gate::Mode::FreeRun);
  const std::string dir = picturesIn("small");
  for (int i = 0; i < 100; ++i) {
    CFilter* f = lib_->create(0);
    ASSERT_NE(f, nullptr);
    f->imageDir.SetTo(dir.c_str());
    ASSERT_TRUE(f->load());
    if (i % 2) f->pixelMode = 2, f->bytesPerRow = 2560, f->frameBytes = 2560 * 480;
    const int base = gate::arrivals();
    ASSERT_TRUE(f->prepare());
    const thread_id loader = static_cast<CSliderFilter*>(f)->loaderThread;
    ASSERT_TRUE(gate::awaitArrivals(base + i % 4));
    delete f;
    status_t exit;
    EXPECT_EQ(wait_for_thread(loader, &exit), B_BAD_THREAD_ID) << "the loader was already joined";
  }
}

}  // namespace
