// The voxel flights, loaded from the built add-on files (Moorvista,
// Fourivale, Gemelle): descriptors, the terrain against a model of the
// subdivision for a known rand() state, whole frames of every output form
// against the model's pictures, the camera and its keys, the steering state
// the filters share or keep apart, frames of other sizes, and the repairs
// (whole-turn heading wrap, camera range, buffers, the settings view).
//
// The filters' members are read through the engine's declaration (the
// object is the add-on's own); nothing of the add-on is linked in.
#include "CVoxelFilter.h"
#include "Harness.h"
#include "VoxelReference.h"

#include <platform/interface_host.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using tw::FrameGeometry;
using tw::test::FilterRun;
using voxelref::Camera;
using voxelref::Picture;
using voxelref::Steering;
using voxelref::Terrain;

constexpr uint8 kMarker = 0xEE;

struct Addons {
  std::unique_ptr<tw::AddonLibrary> moorvista = tw::test::openAddon("Moorvista");
  std::unique_ptr<tw::AddonLibrary> fourivale = tw::test::openAddon("Fourivale");
  std::unique_ptr<tw::AddonLibrary> gemelle = tw::test::openAddon("Gemelle");
};

Addons& addons() {
  static Addons a;
  return a;
}

enum class Kind { Vidivi, Devazo, Fft, Bi };

const tw::AddonLibrary& libraryOf(Kind k) {
  switch (k) {
    case Kind::Vidivi:
    case Kind::Devazo:
      return *addons().moorvista;
    case Kind::Fft:
      return *addons().fourivale;
    default:
      return *addons().gemelle;
  }
}
int32 indexOf(Kind k) { return k == Kind::Devazo ? 1 : 0; }

std::unique_ptr<FilterRun> makeRun(Kind k) {
  auto run = std::make_unique<FilterRun>(libraryOf(k), indexOf(k));
  EXPECT_TRUE(run->valid());
  EXPECT_TRUE(run->load());
  return run;
}

CVoxelFilter& voxel(FilterRun& run) { return static_cast<CVoxelFilter&>(run.filter()); }

void setSound(FilterRun& run, double band, double level) {
  run.record().bands[1][0] = band;
  run.record().level[1] = level;
}

// Brings a filter's steering state to a known point: with a steady sound the
// smoothed change decays to nothing (well under anything a float heading can
// feel) and the last value is that sound's. The state belongs to the filter's
// update function, so any instance of the filter will do.
void settleSteering(Kind k, double band) {
  auto run = makeRun(k);
  ASSERT_TRUE(run->prepare({1, 1, 1}));
  setSound(*run, band, 0);
  tw_set_modifiers(0);
  for (int i = 0; i < 1200; ++i) run->draw();
}
Steering settled(double band) { return Steering{float(band / 8192), 0.0f}; }

// Where each output form puts the picture, over a frame filled with kMarker.
std::vector<uint8> placeDoubled8(const Picture& pic, const FrameGeometry& g) {
  std::vector<uint8> f(size_t(g.frameBytes()), kMarker);
  const int cols = std::min({640, g.width, g.rowBytes()});
  for (int y = 0; y < std::min(480, g.height); ++y)
    for (int x = 0; x < cols; ++x) f[size_t(y) * size_t(g.rowBytes()) + size_t(x)] = pic.at(x / 2, y / 2);
  return f;
}

std::vector<uint8> placePlain8(const Picture& pic, const FrameGeometry& g) {
  std::vector<uint8> f(size_t(g.frameBytes()), kMarker);
  const int stride = g.rowBytes() & ~7;
  for (int r = 0; r < std::min(240, g.height); ++r)
    for (int i = 0; i < std::min({320, g.width, stride}); ++i)
      f[size_t(r) * size_t(stride) + size_t(i)] = pic.at(i, r);
  return f;
}

std::vector<uint8> placeMirror8(const Picture& pic, const FrameGeometry& g) {
  std::vector<uint8> f(size_t(g.frameBytes()), kMarker);
  const int bpr = g.rowBytes(), cols = std::min({640, g.width, bpr});
  for (int r = 0; r < 120; ++r)
    for (int first : {240 + 2 * r, 238 - 2 * r}) {
      for (int second = 0; second < 2; ++second) {
        if (first + second >= g.height) continue;
        const size_t base = size_t(first) * size_t(bpr) + (second ? size_t(bpr & ~7) : 0);
        for (int x = 0; x < cols; ++x) f[base + size_t(x)] = pic.at(x / 2, r);
      }
    }
  return f;
}

std::vector<uint8> placeCentred32(const Picture& pic, const FrameGeometry& g, const uint32* palette32) {
  std::vector<uint8> f(size_t(g.frameBytes()), kMarker);
  const int factor = g.width >= 640 ? 2 : g.width >= 320 ? 1 : 0;
  if (!factor) return f;
  const int x0 = (g.width - 320 * factor) >> 1, y0 = (g.height - 240 * factor) >> 1;
  const int pitch = g.rowBytes() / 4;
  for (int r = 0; r < 240 * factor; ++r)
    for (int i = 0; i < 320 * factor; ++i) {
      const int x = x0 + i, y = y0 + r;
      if (x < 0 || y < 0 || x >= std::min(g.width, pitch) || y >= g.height) continue;
      const uint32 v = palette32[pic.at(i / factor, r / factor)];
      std::memcpy(&f[(size_t(y) * size_t(pitch) + size_t(x)) * 4], &v, 4);
    }
  return f;
}

// Compares a frame with its expectation; reports the first difference.
::testing::AssertionResult sameFrame(const tw::Frame& frame, const std::vector<uint8>& expected) {
  if (frame.size() != expected.size()) return ::testing::AssertionFailure() << "frame size differs";
  const uint8* p = frame.pixels();
  size_t diffs = 0, first = 0;
  for (size_t i = 0; i < expected.size(); ++i)
    if (p[i] != expected[i] && diffs++ == 0) first = i;
  if (diffs == 0) return ::testing::AssertionSuccess();
  const int bpr = frame.geometry().rowBytes();
  return ::testing::AssertionFailure()
         << diffs << " bytes differ; first at byte " << first << " (row " << first / size_t(bpr) << ", byte "
         << first % size_t(bpr) << "): " << int(p[first]) << " instead of " << int(expected[first]);
}

// The sound of frame n of a sequence: rising and falling so that the camera
// turns both ways and changes speed.
double bandAt(int n) { return 150000 + 90000 * std::sin(n * 1.3) + 17.25 * n; }
double levelAt(int n) { return 3000.5 + 700 * n; }
double burstBandAt(int n) { return 400000 + 350000 * std::sin(n * 0.9); }

// ---------------------------------------------------------------------------

TEST(VoxelDescriptor, EachFilterDescribesItself) {
  struct Case {
    Kind kind;
    const char* name;
    const char* author;
    int32 modes;
  } cases[] = {{Kind::Vidivi, "Vidivi Vadu", "Brack & Mornel", 3},
               {Kind::Devazo, "Devazo Davu", "Tinker, Brack & Mornel", 3},
               {Kind::Fft, "FfT Moorvista", "Brack & Mornel", 1},
               {Kind::Bi, "Bi Moorvista", "Brack & Mornel", 1}};
  for (const Case& c : cases) {
    auto run = makeRun(c.kind);
    const CFilter& f = run->filter();
    EXPECT_STREQ(f.name, c.name);
    EXPECT_STREQ(f.author, c.author);
    EXPECT_STREQ(f.info, "Da code");
    EXPECT_EQ(f.hostHint1, 0);
    EXPECT_EQ(f.hostHint2, 3);
    EXPECT_EQ(f.hostFactor, 0.0f);
    EXPECT_EQ(f.icon, nullptr);
    EXPECT_EQ(f.supportedModes, c.modes) << c.name;
    if (c.kind != Kind::Fft) {
      EXPECT_TRUE(f.params.IsEmpty()) << c.name;
      EXPECT_EQ(run->filter().settingsOpened(), nullptr) << c.name;
    }
  }
}

TEST(VoxelDescriptor, FftMoorvistaDeclaresItsFiveParametersOnceEvenWhenLoadedTwice) {
  auto run = makeRun(Kind::Fft);
  ASSERT_TRUE(run->filter().load());
  const BMessage& p = run->filter().params;
  EXPECT_EQ(p.CountNames(B_ANY_TYPE), 5);
  const char* floats[] = {"X Observer", "Y Observer", "Vision Angle", "Sound Divider"};
  const float values[] = {8.0f, 0.0f, 1.5707964f, 8192.0f};
  for (int i = 0; i < 4; ++i) {
    float v = -1;
    EXPECT_EQ(p.FindFloat(floats[i], &v), B_OK) << floats[i];
    EXPECT_EQ(v, values[i]) << floats[i];
    EXPECT_NE(p.FindFloat(floats[i], 1, &v), B_OK) << floats[i] << " declared twice";
  }
  int32 speed = 0;
  EXPECT_EQ(p.FindInt32("Speed", &speed), B_OK);
  EXPECT_EQ(speed, 16);
  const char* name = nullptr;
  type_code type;
  ASSERT_EQ(p.GetInfo(B_ANY_TYPE, 0, &name, &type), B_OK);
  EXPECT_STREQ(name, "X Observer");
  ASSERT_EQ(p.GetInfo(B_ANY_TYPE, 4, &name, &type), B_OK);
  EXPECT_STREQ(name, "Sound Divider");
}

// ---------------------------------------------------------------------------
// Terrain

TEST(VoxelTerrain, EachPrepareDrawsTheNextTerrainOfTheProcessSequence) {
  for (Kind k : {Kind::Vidivi, Kind::Devazo, Kind::Bi}) {
    auto run = makeRun(k);
    std::srand(4242);
    ASSERT_TRUE(run->prepare());
    std::srand(4242);
    const Terrain first = voxelref::randomTerrain();
    const Terrain second = voxelref::randomTerrain();
    const CVoxelFilter& v = voxel(*run);
    for (int i = 0; i < 65536; ++i) {
      ASSERT_EQ(v.heightMap[i], first.height[size_t(i)]) << "height cell " << i;
      ASSERT_EQ(v.shadeMap[i], first.shade[size_t(i)]) << "shade cell " << i;
    }
    // The next prepare goes on with the process's sequence: no filter seeds.
    std::srand(4242);
    for (int i = 0; i < 65535; ++i) std::rand();
    run->driver().terminate();
    ASSERT_TRUE(run->prepare());
    for (int i = 0; i < 65536; ++i)
      ASSERT_EQ(v.heightMap[i], second.height[size_t(i)]) << "second, cell " << i;
  }
}

TEST(VoxelTerrain, SubdivisionDrawsThreeRandomNumbersPerSquareInOrder) {
  // 21845 squares over the eight passes (1 + 4 + … + 16384), three draws
  // each: the next rand() after a prepare is the one after those 65535.
  auto run = makeRun(Kind::Vidivi);
  std::srand(7);
  ASSERT_TRUE(run->prepare());
  const int after = std::rand();
  std::srand(7);
  for (int i = 0; i < 65535; ++i) std::rand();
  EXPECT_EQ(after, std::rand());
}

TEST(VoxelTerrain, FftMoorvistaStartsOnTheCosineRipple) {
  auto run = makeRun(Kind::Fft);
  const Terrain ripple = voxelref::rippleTerrain();
  const CVoxelFilter& v = voxel(*run);
  for (int i = 0; i < 65536; ++i) {
    ASSERT_EQ(v.heightMap[i], ripple.height[size_t(i)]) << "cell " << i;
    ASSERT_EQ(v.shadeMap[i], ripple.shade[size_t(i)]) << "cell " << i;
  }
}

// ---------------------------------------------------------------------------
// Whole frames

// Runs `frames` frames of a Vidivi Vadu or Devazo Davu after prepare and
// compares each with the model.
void runSmoothFrames(Kind kind, const FrameGeometry& g, int frames) {
  const bool tekno = kind == Kind::Devazo;
  const double band0 = tekno ? burstBandAt(0) : bandAt(0);
  settleSteering(kind, band0);
  auto run = makeRun(kind);
  std::srand(99);
  ASSERT_TRUE(run->prepare(g));
  std::srand(99);
  const Terrain t = voxelref::randomTerrain();
  Steering s = settled(band0);
  Camera cam;
  for (int n = 1; n <= frames; ++n) {
    const double band = tekno ? burstBandAt(n) : bandAt(n);
    setSound(*run, band, levelAt(n));
    run->frame().clear(kMarker);
    run->draw();
    const Picture pic = voxelref::render(t, int32(cam.x), int32(cam.y), cam.heading, cam.level, 240, 8);
    std::vector<uint8> expected;
    if (g.pixelMode == 2)
      expected = placeCentred32(pic, g, tw_system_palette32());
    else if (g.width >= 640)
      expected = placeDoubled8(pic, g);
    else
      expected = placePlain8(pic, g);
    ASSERT_TRUE(sameFrame(run->frame(), expected)) << "frame " << n << " at " << g.width << "x" << g.height;
    if (tekno)
      voxelref::updateTekno(cam, s, band, 0);
    else
      voxelref::updateSmooth(cam, s, band, levelAt(n), 0, 0x200);
    ASSERT_EQ(voxel(*run).heading, cam.heading) << "after frame " << n;
    ASSERT_EQ(voxel(*run).camX, cam.x) << "after frame " << n;
    ASSERT_EQ(voxel(*run).camY, cam.y) << "after frame " << n;
  }
}

TEST(VoxelFrames, VidiviVaduDoubledEightBitFrames) { runSmoothFrames(Kind::Vidivi, {640, 480, 1}, 5); }
TEST(VoxelFrames, VidiviVaduQuarterEightBitFramesSitTopLeft) {
  runSmoothFrames(Kind::Vidivi, {320, 240, 1}, 3);
}
TEST(VoxelFrames, VidiviVaduCentredThirtyTwoBitFrames) {
  runSmoothFrames(Kind::Vidivi, {640, 480, 2}, 3);
  runSmoothFrames(Kind::Vidivi, {800, 600, 2}, 2);
  runSmoothFrames(Kind::Vidivi, {500, 300, 2}, 2);
}
TEST(VoxelFrames, DevazoDavuFramesBothModes) {
  runSmoothFrames(Kind::Devazo, {640, 480, 1}, 5);
  runSmoothFrames(Kind::Devazo, {640, 480, 2}, 2);
}

TEST(VoxelFrames, BiMoorvistaMirrorsAHalfHeightStrip) {
  const FrameGeometry g{640, 480, 1};
  settleSteering(Kind::Bi, bandAt(0));
  auto run = makeRun(Kind::Bi);
  std::srand(5);
  ASSERT_TRUE(run->prepare(g));
  std::srand(5);
  const Terrain t = voxelref::randomTerrain();
  Steering s = settled(bandAt(0));
  Camera cam;
  cam.speedShift = 16;
  for (int n = 1; n <= 5; ++n) {
    setSound(*run, bandAt(n), levelAt(n));
    run->frame().clear(kMarker);
    run->draw();
    // No smoothing: the camera's depth is the ground's under it.
    const Picture pic = voxelref::render(t, int32(cam.x), int32(cam.y), cam.heading, cam.level, 120, 1);
    ASSERT_TRUE(sameFrame(run->frame(), placeMirror8(pic, g))) << "frame " << n;
    const tw::Frame& f = run->frame();
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 640; x += 37) ASSERT_EQ(f.at8(x, y), f.at8(x, 479 - y)) << x << "," << y;
    voxelref::updateSmooth(cam, s, bandAt(n), levelAt(n), 0, 0x40);
  }
  // The 32-bit call draws nothing and leaves the camera where it is.
  FilterRun wide(libraryOf(Kind::Bi), 0);
  ASSERT_TRUE(wide.load());
  CVoxelFilter& v = voxel(wide);
  SFrameInfo rec{};
  std::vector<uint32> pixels(640 * 480, 0x12345678);
  rec.bits = pixels.data();
  v.processFrame32(rec);
  EXPECT_EQ(pixels[12345], 0x12345678u);
}

TEST(VoxelFrames, FftMoorvistaFliesOverItsSpectrogram) {
  const FrameGeometry g{640, 480, 1};
  auto run = makeRun(Kind::Fft);
  Terrain t = voxelref::rippleTerrain();
  ASSERT_TRUE(run->prepare(g));
  Camera cam;
  cam.heading = 1.5707964f;
  cam.speedShift = 16;
  cam.x = 0x80000;
  int row = 30;
  for (int n = 1; n <= 5; ++n) {
    float* spectrum = run->record().spectrum[1];
    for (int x = 0; x < 256; ++x) spectrum[x] = float((x * 7919 + n * 104729) % 2500000);
    run->frame().clear(kMarker);
    run->draw();
    voxelref::writeRow(t, spectrum, row);
    row = (row + 1) & 255;
    const Picture pic = voxelref::render(t, int32(cam.x), int32(cam.y), cam.heading, cam.level, 240, 16);
    ASSERT_TRUE(sameFrame(run->frame(), placeDoubled8(pic, g))) << "frame " << n;
    voxelref::updateFft(cam, 0);
    ASSERT_EQ(voxel(*run).camY, cam.y);
  }
  EXPECT_EQ(voxel(*run).spectrumRow, 35);
}

// The repaired outputs: on frames of other sizes they write only inside the
// frame, the picture placed as on the standard frame and cut at its edges.
TEST(VoxelFrames, OtherSizesGetThePictureCutAtTheFrameEdges) {
  struct Case {
    Kind kind;
    FrameGeometry g;
  } cases[] = {
      {Kind::Vidivi, {641, 479, 1, 644}}, {Kind::Vidivi, {700, 200, 1}},  {Kind::Vidivi, {400, 100, 1, 404}},
      {Kind::Vidivi, {640, 400, 2}},      {Kind::Vidivi, {1000, 300, 2}}, {Kind::Vidivi, {330, 200, 2, 1400}},
      {Kind::Bi, {640, 300, 1}},          {Kind::Bi, {333, 480, 1, 340}}, {Kind::Bi, {100, 50, 1}},
      {Kind::Fft, {500, 100, 1}},         {Kind::Fft, {644, 481, 1, 652}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.kind) << " " << c.g.width << "x" << c.g.height << " mode "
                                      << c.g.pixelMode << " row bytes " << c.g.rowBytes());
    if (c.kind != Kind::Fft) settleSteering(c.kind, 0);
    auto run = makeRun(c.kind);
    Terrain t;
    if (c.kind == Kind::Fft) {
      t = voxelref::rippleTerrain();
      ASSERT_TRUE(run->prepare(c.g));
    } else {
      std::srand(3);
      ASSERT_TRUE(run->prepare(c.g));
      std::srand(3);
      t = voxelref::randomTerrain();
    }
    setSound(*run, 0, 0);
    run->frame().clear(kMarker);
    run->draw();
    std::vector<uint8> expected;
    switch (c.kind) {
      case Kind::Bi: {
        int32 level = 0;
        expected = placeMirror8(voxelref::render(t, 0, 0, 0, level, 120, 1), c.g);
        break;
      }
      case Kind::Fft: {
        voxelref::writeRow(t, run->record().spectrum[1], 30);
        int32 level = 0;
        expected = placeDoubled8(voxelref::render(t, 0x80000, 0, 1.5707964f, level, 240, 16), c.g);
        break;
      }
      default: {
        int32 level = 0;
        const Picture pic = voxelref::render(t, 0, 0, 0, level, 240, 8);
        expected = c.g.pixelMode == 2 ? placeCentred32(pic, c.g, tw_system_palette32())
                   : c.g.width >= 640 ? placeDoubled8(pic, c.g)
                                      : placePlain8(pic, c.g);
      }
    }
    EXPECT_TRUE(sameFrame(run->frame(), expected));
  }
}

TEST(VoxelFrames, FramesNarrowerThanTheQuarterPictureStayUntouchedWhileTheCameraMoves) {
  for (int32 mode : {1, 2}) {
    auto run = makeRun(Kind::Vidivi);
    ASSERT_TRUE(run->prepare({319, 240, mode}));
    setSound(*run, 0, 65536 * 2.0);
    run->frame().clear(kMarker);
    for (int i = 0; i < 3; ++i) run->draw();
    EXPECT_TRUE(sameFrame(run->frame(), std::vector<uint8>(run->frame().size(), kMarker)));
    EXPECT_NE(voxel(*run).camX, 0) << "mode " << mode;
  }
}

TEST(VoxelFrames, PictureFacts) {
  // The top picture row is never drawn (frame rows 0 and 1 stay sky), and the
  // shade ramp gives indices 0…31 only.
  settleSteering(Kind::Vidivi, 0);
  auto run = makeRun(Kind::Vidivi);
  ASSERT_TRUE(run->prepare());
  setSound(*run, 0, 40000);
  for (int n = 0; n < 20; ++n) {
    run->draw();
    const tw::Frame& f = run->frame();
    for (int x = 0; x < 640; ++x) {
      ASSERT_EQ(f.at8(x, 0), 0);
      ASSERT_EQ(f.at8(x, 1), 0);
    }
    for (size_t i = 0; i < f.size(); ++i) ASSERT_LT(f.pixels()[i], 32);
  }
}

// ---------------------------------------------------------------------------
// Camera, keys and steering

TEST(VoxelCamera, KeysTurnAndPaceEachFilter) {
  struct Case {
    Kind kind;
    uint32 keys;
    float turn;                // heading change of one frame from 0 with a steady sound
    int32 shiftFrom, shiftTo;  // speedShift before and after
  } cases[] = {
      {Kind::Vidivi, B_LEFT_SHIFT_KEY, -0.07853982f, 0, 0},
      {Kind::Vidivi, B_RIGHT_SHIFT_KEY, 0.07853982f, 0, 0},
      {Kind::Vidivi, B_OPTION_KEY, 0, 0, 0},
      {Kind::Vidivi, B_CONTROL_KEY, 0, 0, 1},
      {Kind::Vidivi, B_CONTROL_KEY, 0, 16, 16},
      {Kind::Vidivi, B_COMMAND_KEY, 0, 2, 1},
      {Kind::Vidivi, B_COMMAND_KEY, 0, 1, 1},
      {Kind::Vidivi, B_COMMAND_KEY, 0, 0, 0},
      {Kind::Vidivi, B_CONTROL_KEY | B_COMMAND_KEY, 0, 16, 15},
      {Kind::Devazo, B_LEFT_SHIFT_KEY, -0.07853982f, 0, 0},
      {Kind::Devazo, B_OPTION_KEY, 0.07853982f, 0, 0},
      {Kind::Devazo, B_RIGHT_SHIFT_KEY, 0, 0, 0},
      {Kind::Devazo, B_LEFT_SHIFT_KEY | B_OPTION_KEY, -0.07853982f, 0, 0},
      {Kind::Devazo, B_COMMAND_KEY, 0, 1, 0},
      {Kind::Devazo, B_CONTROL_KEY, 0, 15, 16},
      {Kind::Bi, B_OPTION_KEY, 0.07853982f, 16, 16},
      {Kind::Bi, B_RIGHT_SHIFT_KEY, 0, 16, 16},
      {Kind::Bi, B_COMMAND_KEY, 0, 16, 15},
      {Kind::Bi, B_COMMAND_KEY, 0, 1, 1},
      {Kind::Fft, B_LEFT_SHIFT_KEY, 1.5707964f - 0.07853982f, 16, 16},
      {Kind::Fft, B_OPTION_KEY, 1.5707964f + 0.07853982f, 16, 16},
      {Kind::Fft, B_COMMAND_KEY, 1.5707964f, 16, 15},
      {Kind::Fft, B_COMMAND_KEY, 1.5707964f, 1, 1},
  };
  // Every case hears the same steady sound, so the state settled here stays so.
  for (Kind k : {Kind::Vidivi, Kind::Devazo, Kind::Bi}) settleSteering(k, 1000);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.kind) << " keys " << c.keys);
    auto run = makeRun(c.kind);
    ASSERT_TRUE(run->prepare({1, 1, 1}));
    setSound(*run, 1000, 0);
    voxel(*run).speedShift = c.shiftFrom;
    tw_set_modifiers(c.keys);
    run->draw();
    tw_set_modifiers(0);
    EXPECT_EQ(voxel(*run).heading, c.turn);
    EXPECT_EQ(voxel(*run).speedShift, c.shiftTo);
  }
}

TEST(VoxelCamera, HeldTurnKeyNeverMakesTheViewJump) {
  // Repaired: a heading past ±π comes back by a whole turn, so each frame
  // turns by the key's π/40 and nothing more.
  for (Kind k : {Kind::Vidivi, Kind::Bi}) {
    settleSteering(k, 0);
    auto run = makeRun(k);
    ASSERT_TRUE(run->prepare({1, 1, 1}));
    setSound(*run, 0, 0);
    tw_set_modifiers(k == Kind::Vidivi ? B_RIGHT_SHIFT_KEY : B_OPTION_KEY);
    float before = voxel(*run).heading;
    bool wrapped = false;
    for (int n = 0; n < 100; ++n) {
      run->draw();
      const float now = voxel(*run).heading;
      ASSERT_LE(std::fabs(now), M_PI + 0.08) << "frame " << n;
      double turned = std::remainder(double(now) - double(before), 2 * M_PI);
      ASSERT_NEAR(turned, M_PI / 40, 1e-5) << "frame " << n;
      wrapped = wrapped || now < before;
      before = now;
    }
    tw_set_modifiers(0);
    EXPECT_TRUE(wrapped);
  }
  // Devazo Davu swings back: holding left Shift it settles near −π/20.
  settleSteering(Kind::Devazo, 0);
  auto run = makeRun(Kind::Devazo);
  ASSERT_TRUE(run->prepare({1, 1, 1}));
  setSound(*run, 0, 0);
  tw_set_modifiers(B_LEFT_SHIFT_KEY);
  for (int n = 0; n < 60; ++n) run->draw();
  tw_set_modifiers(0);
  EXPECT_NEAR(voxel(*run).heading, -M_PI / 20, 1e-4);
}

TEST(VoxelCamera, FftMoorvistaTurnsWithoutLimit) {
  auto run = makeRun(Kind::Fft);
  ASSERT_TRUE(run->prepare({1, 1, 1}));
  tw_set_modifiers(B_OPTION_KEY);
  float expected = 1.5707964f;
  for (int n = 0; n < 100; ++n) {
    run->draw();
    expected = expected + 0.07853982f;
  }
  tw_set_modifiers(0);
  EXPECT_EQ(voxel(*run).heading, expected);
  EXPECT_GT(voxel(*run).heading, 3 * M_PI - 0.01);
}

TEST(VoxelCamera, CameraStaysInRangeOverLongFlights) {
  // Repaired: at a speed that would take the coordinates past the int32
  // range within a few dozen frames, they stay in range and keep their place
  // within the map period, so the same cells are sampled.
  for (Kind k : {Kind::Vidivi, Kind::Bi}) {
    settleSteering(k, 0);
    auto run = makeRun(k);
    ASSERT_TRUE(run->prepare({1, 1, 1}));
    setSound(*run, 0, 3e7);
    const int64 step = int64(std::pow(2.0, voxel(*run).speedShift) + 3e7);
    for (int n = 1; n <= 400; ++n) {
      run->draw();
      const int64 x = voxel(*run).camX;
      ASSERT_LT(std::llabs(x), int64(1) << 30) << "frame " << n;
      ASSERT_EQ(((x - n * step) % (1 << 24) + (1 << 24)) % (1 << 24), 0) << "frame " << n;
      ASSERT_EQ(voxel(*run).camY, 0);
    }
  }
  // FfT Moorvista brings its camera into one period before every move.
  auto run = makeRun(Kind::Fft);
  ASSERT_TRUE(run->prepare({1, 1, 1}));
  for (int n = 0; n < 600; ++n) {
    run->draw();
    ASSERT_LE(std::abs(voxel(*run).camY), (1 << 24) + (1 << 16));
    ASSERT_LE(std::abs(voxel(*run).camX), (1 << 24) + (1 << 16));
  }
}

TEST(VoxelCamera, CameraFollowsAFallSlowlyAndARiseAtOnce) {
  // After prepare the camera is at depth 0 over deeper ground: Vidivi Vadu
  // sinks by an eighth of the gap per frame, Bi Moorvista drops at once.
  for (Kind k : {Kind::Vidivi, Kind::Bi}) {
    settleSteering(k, 0);
    auto run = makeRun(k);
    std::srand(11);
    ASSERT_TRUE(run->prepare({1, 1, 1}));
    std::srand(11);
    const Terrain t = voxelref::randomTerrain();
    setSound(*run, 0, 0);
    voxel(*run).speedShift = 0;
    const int ground = int(voxelref::sample(t.height, 0, 0) >> 16);
    run->draw();
    EXPECT_EQ(voxel(*run).camLevel, k == Kind::Bi ? ground : ground / 8);
  }
}

TEST(VoxelSteering, InstancesOfOneFilterShareTheirStateAndFiltersKeepTheirOwn) {
  const double b0 = 100000, b1 = 900000;
  const float lr0 = float(b0 / 8192), lr1 = float(b1 / 8192);
  // The heading one frame gives from 0 for a given change of the sound.
  auto turnAfter = [](Kind k, Steering s, double band) {
    Camera c;
    if (k == Kind::Devazo)
      voxelref::updateTekno(c, s, band, 0);
    else
      voxelref::updateSmooth(c, s, band, 0, 0, 0x200);
    return c.heading;
  };
  for (Kind k : {Kind::Vidivi, Kind::Devazo, Kind::Bi}) settleSteering(k, b0);

  // A Vidivi Vadu hears the jump to b1 …
  auto a = makeRun(Kind::Vidivi);
  ASSERT_TRUE(a->prepare({1, 1, 1}));
  setSound(*a, b1, 0);
  a->draw();
  const Steering afterJump{lr1, (lr1 - lr0) / 10};
  EXPECT_EQ(voxel(*a).heading, turnAfter(Kind::Vidivi, Steering{lr0, 0}, b1));

  // … so a second Vidivi Vadu sees no change at b1: the state is shared.
  auto b = makeRun(Kind::Vidivi);
  ASSERT_TRUE(b->prepare({1, 1, 1}));
  setSound(*b, b1, 0);
  b->draw();
  EXPECT_EQ(voxel(*b).heading, turnAfter(Kind::Vidivi, afterJump, b1));
  EXPECT_NE(voxel(*b).heading, voxel(*a).heading);

  // Devazo Davu (same add-on) and Bi Moorvista (another) still hear the jump.
  for (Kind k : {Kind::Devazo, Kind::Bi}) {
    auto c = makeRun(k);
    ASSERT_TRUE(c->prepare({1, 1, 1}));
    voxel(*c).heading = 0;
    setSound(*c, b1, 0);
    c->draw();
    EXPECT_EQ(voxel(*c).heading, turnAfter(k, Steering{lr0, 0}, b1)) << int(k);
  }
}

// ---------------------------------------------------------------------------
// FfT Moorvista's map rows and settings view

TEST(VoxelSpectrogram, SpectrumRowsReplaceTheRippleOnePerFrame) {
  auto run = makeRun(Kind::Fft);
  ASSERT_TRUE(run->prepare({1, 1, 1}));
  Terrain t = voxelref::rippleTerrain();
  const CVoxelFilter& v = voxel(*run);
  float* s = run->record().spectrum[1];
  // Silence is the deepest ground; 8192 × 255 and above reach depth 128.
  for (int x = 0; x < 256; ++x) s[x] = x < 128 ? 0.0f : x < 200 ? 2088960.0f : 3e9f;
  for (int n = 0; n < 300; ++n) {
    run->draw();
    voxelref::writeRow(t, s, (30 + n) & 255);
  }
  EXPECT_EQ(v.spectrumRow, (30 + 300) & 255);
  for (int i = 0; i < 65536; ++i) {
    ASSERT_EQ(v.heightMap[i], t.height[size_t(i)]) << "cell " << i;
    ASSERT_EQ(v.shadeMap[i], t.shade[size_t(i)]) << "cell " << i;
  }
  // A second run starts at row 30 again over what the first one wrote.
  run->driver().terminate();
  ASSERT_TRUE(run->prepare({1, 1, 1}));
  s = run->record().spectrum[1];  // prepare made a new frame
  for (int x = 0; x < 256; ++x) s[x] = 1e6f;
  run->draw();
  voxelref::writeRow(t, s, 30);
  for (int i = 0; i < 65536; ++i) ASSERT_EQ(v.heightMap[i], t.height[size_t(i)]) << "cell " << i;
}

TEST(VoxelSpectrogram, SettingsViewIsMadeOnceAndOwnedByTheFilter) {
  auto run = makeRun(Kind::Fft);
  CFilter& f = run->filter();
  ::testing::internal::CaptureStdout();
  BView* view = f.settingsOpened();
  std::fflush(stdout);
  const std::string first = ::testing::internal::GetCapturedStdout();
  ASSERT_NE(view, nullptr);
  char expected[200];
  std::snprintf(expected, sizeof expected,
                "CSampleFftFilter::settingsOpened -- (%p)\nCSampleFftFilter::settingsOpened -- new view %p\n",
                static_cast<void*>(nullptr), static_cast<void*>(view));
  EXPECT_EQ(first, expected);
  EXPECT_EQ(view->Frame(), BRect(0, 0, 200, 50));
  EXPECT_STREQ(view->Name(), "myview");
  EXPECT_EQ(view->ResizingMode(), 0x1234u);
  EXPECT_EQ(view->Flags(), 0x20000000u);
  EXPECT_EQ(view->ViewColor(), (rgb_color{150, 40, 40, 255}));

  ::testing::internal::CaptureStdout();
  EXPECT_EQ(f.settingsOpened(), view);
  std::fflush(stdout);
  const std::string second = ::testing::internal::GetCapturedStdout();
  std::snprintf(expected, sizeof expected, "CSampleFftFilter::settingsOpened -- (%p)\n",
                static_cast<void*>(view));
  EXPECT_EQ(second, expected);
  // The run deletes the filter, and the filter its view (checked leak-free
  // under AddressSanitizer).
}

// ---------------------------------------------------------------------------
// Buffers

TEST(VoxelBuffers, ASecondLoadReusesTheBuffers) {
  for (Kind k : {Kind::Vidivi, Kind::Devazo, Kind::Fft, Kind::Bi}) {
    auto run = makeRun(k);
    const CVoxelFilter& v = voxel(*run);
    const uint8* maps = v.heightMap;
    ASSERT_NE(maps, nullptr);
    EXPECT_TRUE(run->filter().load());
    EXPECT_EQ(v.heightMap, maps);
    EXPECT_EQ(v.shadeMap, maps + 65536);
    EXPECT_EQ(v.voxelFrame, maps + 2 * 65536);
  }
}

}  // namespace
