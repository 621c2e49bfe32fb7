// The fade against its definition: every 32-bit channel v becomes
// uint8(float(v) × factor), every 8-bit index its table entry, whatever the
// mix of black and lit bytes around it and whatever the row padding.
#include "engine/Fade.h"

#include <platform/interface.h>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace tw {
namespace {

// A frame of width × height with rows `pad` bytes longer than needed: runs of
// black long enough to be skipped, between bytes of every value.
std::unique_ptr<Frame> makeFrame(int width, int height, int mode, int pad, std::mt19937& rng) {
  const int used = width * (mode == 2 ? 4 : 1);
  auto frame = std::make_unique<Frame>(FrameGeometry{width, height, mode, used + pad});
  Frame& f = *frame;
  f.clear(0x77);  // the padding must stay as it is
  int value = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < used; ++x) {
      // Blocks of 300 bytes alternate between black and every value in
      // turn; lone bytes in the black, some at the ends of 64-byte blocks.
      const int i = y * used + x;
      const bool lit = (i / 300) % 2 == 1 || i % 128 == 0 || i % 128 == 127 || rng() % 97 == 0;
      f.pixels()[y * (used + pad) + x] = lit ? uint8(value++ % 256) : 0;
    }
  return frame;
}

TEST(Fade, ThirtyTwoBitChannelsAreTheFloatProductExactly) {
  std::mt19937 rng(11);
  std::vector<float> factors = {0.79f, 0.78f, 0.8f, 0.81f, 0.7f, 0.5f, 0.999f, 0.001f, 1.0f / 3, 0.25f};
  for (int i = 0; i < 200; ++i) factors.push_back(std::uniform_real_distribution<float>(0.0f, 1.0f)(rng));
  const rgb_color* pal = tw_system_palette();
  for (const float factor : factors) {
    const Fade fade(factor, pal);
    // Every byte value against the formula, in one span and in padded rows.
    for (const int pad : {0, 12}) {
      const std::unique_ptr<Frame> frame = makeFrame(67, 9, 2, pad, rng);
      Frame& f = *frame;
      std::vector<uint8> before(f.pixels(), f.pixels() + f.size());
      fade.apply(f);
      const int used = 67 * 4, row = used + pad;
      int wrong = 0;
      for (int i = 0; i < int(before.size()); ++i) {
        const uint8 want = i % row < used ? uint8(float(before[size_t(i)]) * factor) : before[size_t(i)];
        if (f.pixels()[i] != want && ++wrong < 4)
          ADD_FAILURE() << "factor " << factor << " byte " << int(before[size_t(i)]) << " at " << i << ": "
                        << int(f.pixels()[i]) << " instead of " << int(want);
      }
      EXPECT_EQ(wrong, 0) << "factor " << factor << " pad " << pad;
    }
  }
}

TEST(Fade, EightBitIndicesFollowTheTable) {
  std::mt19937 rng(5);
  const rgb_color* pal = tw_system_palette();
  for (const float factor : {0.79f, 0.81f, 0.7f, 0.5f}) {
    const Fade fade(factor, pal);
    for (const int pad : {0, 3}) {
      const std::unique_ptr<Frame> frame = makeFrame(333, 7, 1, pad, rng);
      Frame& f = *frame;
      std::vector<uint8> before(f.pixels(), f.pixels() + f.size());
      fade.apply(f);
      const int row = 333 + pad;
      for (int i = 0; i < int(before.size()); ++i) {
        const uint8 want = i % row < 333 ? fade.index(before[size_t(i)]) : before[size_t(i)];
        ASSERT_EQ(f.pixels()[i], want) << "factor " << factor << " at " << i;
      }
    }
  }
}

TEST(Fade, NoneAndAll) {
  std::mt19937 rng(1);
  const rgb_color* pal = tw_system_palette();
  const std::unique_ptr<Frame> frame = makeFrame(40, 3, 2, 0, rng);
  Frame& keep = *frame;
  std::vector<uint8> before(keep.pixels(), keep.pixels() + keep.size());
  Fade(1.0f, pal).apply(keep);
  EXPECT_EQ(std::vector<uint8>(keep.pixels(), keep.pixels() + keep.size()), before);
  Fade(0.0f, pal).apply(keep);
  for (size_t i = 0; i < keep.size(); ++i) ASSERT_EQ(keep.pixels()[i], 0) << i;
}

}  // namespace
}  // namespace tw
