// "Sample Bars": one bar per band of channel 1, drawn with the kit's
// primitives, in both pixel modes.
#include <CFilter.h>

namespace {

class CSampleBars : public CFilter {
 public:
  bool load() override {
    name = "Sample Bars";
    author = "Tidewave SDK";
    info = "A tiny example add-on";
    hostFactor = 0.6f;
    supportedModes = 3;
    return true;
  }
  bool prepare() override { return true; }
  void processFrame8(SFrameInfo& f) override { draw(f, true); }
  void processFrame32(SFrameInfo& f) override { draw(f, false); }

 private:
  void draw(SFrameInfo& f, bool eight) {
    const int32 w = width / 8;
    for (int32 b = 0; b < 8; ++b) {
      const int32 h = int32(f.bands[1][b] / 4096);  // band levels to pixels
      const int32 x = b * w;
      if (eight)
        blitRect8(x + 2, height - 1 - h, x + w - 3, height - 1, uint8(52));
      else
        blitRect32(x + 2, height - 1 - h, x + w - 3, height - 1, 0x00DF00);
    }
  }
};

}  // namespace

extern "C" CFilter* filterInit(int32 index) noexcept {
  return index == 0 ? new_filter<CSampleBars>() : nullptr;
}
