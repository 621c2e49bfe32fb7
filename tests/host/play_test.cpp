// The live command's pure parts: the keyboard's modifiers as platform bits,
// the keys that steer a run, and the clock that keeps pictures on the sound.
#include "engine/HeldKeys.h"
#include "live/Capture.h"
#include "live/Keys.h"
#include "live/PlayClock.h"

#include <platform/interface.h>

#include <SDL_keyboard.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(PlayKeys, ModifiersAsPlatformBits) {
  // Expected values spelled as the header's bit values, so a mix-up between
  // the sides or between Option and Command shows.
  const struct {
    uint16_t sdl;
    uint32_t bits;
  } cases[] = {
      {KMOD_NONE, 0},
      {KMOD_LSHIFT, 0x1 | 0x100},
      {KMOD_RSHIFT, 0x1 | 0x200},
      {KMOD_LSHIFT | KMOD_RSHIFT, 0x1 | 0x100 | 0x200},
      {KMOD_LCTRL, 0x4 | 0x1000},
      {KMOD_RCTRL, 0x4 | 0x2000},
      {KMOD_LALT, 0x40 | 0x4000},
      {KMOD_LGUI, 0x2 | 0x400},
      {KMOD_RGUI, 0x2 | 0x800},
      {KMOD_RALT, 0x2 | 0x800},  // AltGr: Command, as the Super keys are often the desktop's
      {KMOD_CAPS, 0x8},
      {KMOD_NUM, 0x20},
      {KMOD_SCROLL, 0x10},
      {KMOD_LSHIFT | KMOD_LCTRL | KMOD_LGUI, 0x1 | 0x100 | 0x4 | 0x1000 | 0x2 | 0x400},
  };
  for (const auto& c : cases) EXPECT_EQ(tw::modifiersFor(c.sdl), c.bits) << std::hex << c.sdl;
  // The voxel filters' turn keys: left Shift must never look like right Shift.
  EXPECT_FALSE(tw::modifiersFor(KMOD_LSHIFT) & B_RIGHT_SHIFT_KEY);
  EXPECT_FALSE(tw::modifiersFor(KMOD_RSHIFT) & B_LEFT_SHIFT_KEY);
}

// A render steered with --hold-keys must see the bits a live window
// publishes while the same physical keys are down.
TEST(PlayKeys, HeldKeyNamesGiveTheWindowsBits) {
  const struct {
    const char* names;
    uint16_t sdl;
  } cases[] = {
      {"left-shift", KMOD_LSHIFT},
      {"right-shift", KMOD_RSHIFT},
      {"control", KMOD_LCTRL},
      {"left-control", KMOD_LCTRL},
      {"right-control", KMOD_RCTRL},
      {"option", KMOD_LALT},
      {"command", KMOD_LGUI},
      {"left-command", KMOD_LGUI},
      {"right-command", KMOD_RGUI},
      {"caps-lock", KMOD_CAPS},
      {"num-lock", KMOD_NUM},
      {"scroll-lock", KMOD_SCROLL},
      {"left-shift,control", KMOD_LSHIFT | KMOD_LCTRL},
      {"", KMOD_NONE},
  };
  for (const auto& c : cases) {
    uint32 bits = 0xdead;
    std::string why;
    ASSERT_TRUE(tw::parseHeldKeys(c.names, &bits, &why)) << c.names << ": " << why;
    EXPECT_EQ(bits, tw::modifiersFor(c.sdl)) << c.names;
  }
  for (const char* bad : {"shift", "left-shift,,nope", "Left-Shift"}) {
    uint32 bits = 0;
    std::string why;
    EXPECT_FALSE(tw::parseHeldKeys(bad, &bits, &why)) << bad;
    EXPECT_NE(why.find("--hold-keys: unknown key"), std::string::npos) << why;
  }
}

TEST(PlayKeys, Actions) {
  using tw::KeyAction;
  const struct {
    int32_t key;
    uint16_t mod;
    KeyAction action;
  } cases[] = {
      {SDLK_ESCAPE, 0, KeyAction::Quit},
      {SDLK_q, 0, KeyAction::Quit},
      {SDLK_SPACE, 0, KeyAction::Pause},
      {SDLK_LEFT, 0, KeyAction::SeekBack},
      {SDLK_RIGHT, 0, KeyAction::SeekForward},
      {SDLK_n, 0, KeyAction::NextFilter},
      {SDLK_p, 0, KeyAction::PreviousFilter},
      {SDLK_TAB, 0, KeyAction::NextFilter},
      {SDLK_TAB, KMOD_LSHIFT, KeyAction::PreviousFilter},
      {SDLK_f, 0, KeyAction::Fullscreen},
      {SDLK_h, 0, KeyAction::Help},
      {SDLK_i, 0, KeyAction::Info},
      {SDLK_h, KMOD_LSHIFT, KeyAction::Help},       // a steering key held does not take H away
      {SDLK_LSHIFT, KMOD_LSHIFT, KeyAction::None},  // steering keys do nothing else
      {SDLK_a, 0, KeyAction::None},
  };
  for (const auto& c : cases) EXPECT_EQ(tw::actionFor(c.key, c.mod), c.action) << c.key;
}

constexpr int kRate = 1000;  // one sample per millisecond keeps the arithmetic readable

TEST(PlayClock, WallClockPlaysPausesAndSeeks) {
  tw::PlayClock clock(kRate, 500, 3000, false);
  EXPECT_EQ(clock.position(10.0), 500);  // starts at the first call
  EXPECT_EQ(clock.position(10.25), 750);
  clock.setPaused(true, 10.5);
  EXPECT_EQ(clock.position(12.0), 1000);  // frozen where the pause came
  clock.setPaused(false, 20.0);
  EXPECT_EQ(clock.position(20.125), 1125);  // plays on from there, not from the wall time
  clock.seek(100, 20.125);                  // before the start: clamped
  EXPECT_EQ(clock.position(20.125), 500);
  clock.seek(2800, 21.0);
  EXPECT_EQ(clock.position(30.0), 3000);  // stops at the end
}

TEST(PlayClock, AudioDrivenFollowsPlaybackReports) {
  tw::PlayClock clock(kRate, 0, 10000, true);
  EXPECT_EQ(clock.position(5.0), 0);  // nothing played yet: no movement on the wall clock
  tw::PlayClock::Chunk a, b;
  ASSERT_TRUE(clock.next(400, &a));
  EXPECT_EQ(a.first, 0);
  EXPECT_EQ(a.count, 400);
  ASSERT_TRUE(clock.next(400, &b));
  EXPECT_EQ(b.first, 400);
  clock.played(b, 300, 6.0);  // 800 written, 300 still in the server
  EXPECT_EQ(clock.position(6.0), 500);
  EXPECT_EQ(clock.position(6.25), 750);  // carried forward between reports
  EXPECT_EQ(clock.position(7.0), 800);   // but never past what was written
  clock.played(b, 500, 7.0);             // a late report that would step back
  EXPECT_EQ(clock.position(7.0), 800);

  clock.seek(5000, 7.5);
  EXPECT_EQ(clock.position(9.0), 5000);  // waits for the sound to arrive there
  clock.played(b, 0, 9.0);               // a report on a chunk from before the seek
  EXPECT_EQ(clock.position(9.0), 5000);
  tw::PlayClock::Chunk c;
  ASSERT_TRUE(clock.next(400, &c));
  EXPECT_TRUE(c.flush);  // the server's buffer still holds the old place
  EXPECT_EQ(c.first, 5000);
  tw::PlayClock::Chunk d;
  ASSERT_TRUE(clock.next(400, &d));
  EXPECT_FALSE(d.flush);
  clock.played(d, 400, 9.5);
  EXPECT_EQ(clock.position(9.5), 5400);

  clock.setPaused(true, 9.625);  // carried to 5525, still within what was written
  EXPECT_EQ(clock.position(20.0), 5525);
  clock.setPaused(false, 20.0);
  tw::PlayClock::Chunk e;
  ASSERT_TRUE(clock.next(400, &e));
  EXPECT_EQ(e.first, 5525);  // on from what was heard, not from what was buffered
  EXPECT_TRUE(e.flush);
}

// The server's latency figure jitters; the clock must not, or frames come
// unevenly and some are skipped. Reports 8 ms early and late by turns leave
// it within a few samples of the true, steady position.
TEST(PlayClock, JitteryReportsGiveAnEvenPace) {
  tw::PlayClock clock(kRate, 0, 100000, true);
  tw::PlayClock::Chunk c;
  int64_t written = 0;
  double worst = 0;
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(clock.next(100, &c));
    written = c.first + c.count;
    const double t = 1.0 + 0.1 * i;
    const int64_t truth = 100 * i + 20;  // what is heard at t: 80 ms behind what was written
    const int64_t jitter = i % 2 == 0 ? 8 : -8;
    clock.played(c, written - truth - jitter, t);
    if (i >= 20) worst = std::max(worst, std::fabs(double(clock.position(t) - truth)));
  }
  EXPECT_LE(worst, 3.0);  // followed as reported, it would be off by 8
  // A real jump (an underrun: 200 ms lost) is followed at once.
  ASSERT_TRUE(clock.next(100, &c));
  clock.played(c, 0, 21.0);
  EXPECT_EQ(clock.position(21.0), c.first + c.count);
}

TEST(PlayClock, LastChunkIsShortAndStopEndsTheWait) {
  tw::PlayClock clock(kRate, 0, 700, true);
  tw::PlayClock::Chunk a;
  ASSERT_TRUE(clock.next(512, &a));
  ASSERT_TRUE(clock.next(512, &a));
  EXPECT_EQ(a.first, 512);
  EXPECT_EQ(a.count, 188);
  clock.stop();
  EXPECT_FALSE(clock.next(512, &a));  // at the end it would wait; stopped, it returns
}

TEST(SampleRing, NewestSamplesPaddedAndWrapped) {
  tw::SampleRing ring(4);
  tw::Sound s;
  ring.latest(3, &s);
  EXPECT_EQ(s.left, (std::vector<float>{0, 0, 0}));  // nothing recorded yet: silence
  const int16_t a[] = {1, -1, 2, -2};
  ring.push(a, 2);
  ring.latest(3, &s);
  EXPECT_EQ(s.left, (std::vector<float>{0, 1, 2}));
  EXPECT_EQ(s.right, (std::vector<float>{0, -1, -2}));
  const int16_t b[] = {3, -3, 4, -4, 5, -5};
  ring.push(b, 3);     // five written into four places: the oldest is gone
  ring.latest(9, &s);  // no more than the ring holds
  EXPECT_EQ(s.left, (std::vector<float>{2, 3, 4, 5}));
  EXPECT_EQ(s.right, (std::vector<float>{-2, -3, -4, -5}));
}

}  // namespace
