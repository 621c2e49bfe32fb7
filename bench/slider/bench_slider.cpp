// Img Radezu at 640 × 480: the frame copy of a full-frame picture in both
// modes, as a multiple of a memcpy of the same frame, and the loader's work
// on one shipped picture (decode, scale and convert, paste), each step and
// the whole, as a multiple of the same memcpy.
#include "../Yardstick.h"

#include "engine/Frame.h"
#include "slider_addon.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using tw::bench::measureAgainst;
using tw::bench::yardstickNanos;

// A filter prepared on an empty picture directory, so its loader ends at
// once and the benchmark alone writes the picture buffer.
struct Setup {
  explicit Setup(int32 mode) : frame({640, 480, mode, 0}) {
    empty = (std::filesystem::temp_directory_path() / "bench-slider-XXXXXX").string();
    if (mkdtemp(empty.data()) == nullptr) std::abort();
    f.imageDir.SetTo(empty.c_str());
    f.load();
    f.pixelMode = mode;
    f.bytesPerRow = frame.geometry().rowBytes();
    f.frameBytes = frame.geometry().frameBytes();
    if (!f.prepare()) std::abort();
    f.frame = &frame.info();
  }
  ~Setup() {
    f.terminate();
    std::filesystem::remove(empty);
  }
  CSliderFilter f;
  tw::Frame frame;
  std::string empty;
};

std::string picture(const char* name) { return std::string(TW_BENCH_DATA_DIR) + "/images/" + name; }

// Every frame copies the newest picture's rectangle; here it is the whole
// frame, the most a frame ever copies.
template <int32 Mode>
void BM_FrameCopy(benchmark::State& state) {
  Setup s(Mode);
  const int32 px = Mode == 2 ? 4 : 1;
  std::unique_ptr<uint8[]> full(new uint8[640 * 480 * 4]());
  s.f.pastePicture(CSliderFilter::Picture{full.get(), 640, 480, 640 * px, px});
  const double ys = yardstickNanos(s.frame.size(), true);
  measureAgainst(state, ys, "memcpys", [&] {
    if constexpr (Mode == 1)
      s.f.processFrame8(s.frame.info());
    else
      s.f.processFrame32(s.frame.info());
  });
}

// The loader's steps for one picture file: decode, then scale and convert
// with the step the loader would choose, then paste into the buffer.
enum Step { kDecode = 1, kConvert = 2, kPaste = 4, kAll = 7 };

template <int32 Mode, int Steps>
void BM_Picture(benchmark::State& state, const char* name) {
  Setup s(Mode);
  const std::string path = picture(name);
  std::unique_ptr<BBitmap> decoded(s.f.GetBitmap(path.c_str()));
  if (!decoded) {
    state.SkipWithError(("cannot decode " + path).c_str());
    return;
  }
  const int32 w = int32(decoded->Bounds().Width()) + 1, h = int32(decoded->Bounds().Height()) + 1;
  const int step = std::max(w / 680, h / 520) + 1;
  std::unique_ptr<BBitmap> converted8(Mode == 1 ? s.f._makeBitmap8Bit(decoded.get(), step) : nullptr);
  std::unique_ptr<uint32[]> converted32(Mode == 2 ? s.f.makeBitmap32Bit(decoded.get(), step) : nullptr);
  const int32 dw = w / step, dh = h / step;
  const CSliderFilter::Picture ready =
      Mode == 1
          ? CSliderFilter::Picture{static_cast<const uint8*>(converted8->Bits()), dw, dh,
                                   converted8->BytesPerRow(), 1}
          : CSliderFilter::Picture{reinterpret_cast<const uint8*>(converted32.get()), dw, dh, dw * 4, 4};
  const double ys = yardstickNanos(s.frame.size(), true);
  measureAgainst(state, ys, "memcpys", [&] {
    std::unique_ptr<BBitmap> b;
    if (Steps & kDecode) b.reset(s.f.GetBitmap(path.c_str()));
    BBitmap* source = b ? b.get() : decoded.get();
    if (Steps & kConvert) {
      if constexpr (Mode == 1) {
        std::unique_ptr<BBitmap> c(s.f._makeBitmap8Bit(source, step));
        if (Steps & kPaste)
          s.f.pastePicture(
              CSliderFilter::Picture{static_cast<const uint8*>(c->Bits()), dw, dh, c->BytesPerRow(), 1});
      } else {
        std::unique_ptr<uint32[]> c(s.f.makeBitmap32Bit(source, step));
        if (Steps & kPaste)
          s.f.pastePicture(
              CSliderFilter::Picture{reinterpret_cast<const uint8*>(c.get()), dw, dh, dw * 4, 4});
      }
    } else if (Steps & kPaste) {
      s.f.pastePicture(ready);
    }
  });
  state.SetLabel(std::string(name) + " " + std::to_string(w) + "x" + std::to_string(h) + " step " +
                 std::to_string(step));
}

}  // namespace

BENCHMARK(BM_FrameCopy<1>)->Name("FrameCopy/8bit");
BENCHMARK(BM_FrameCopy<2>)->Name("FrameCopy/32bit");
int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("Picture/decode/lantern", BM_Picture<1, kDecode>, "slide-lantern.jpg");
  benchmark::RegisterBenchmark("Picture/scale8/lantern", BM_Picture<1, kConvert>, "slide-lantern.jpg");
  benchmark::RegisterBenchmark("Picture/scale32/lantern", BM_Picture<2, kConvert>, "slide-lantern.jpg");
  benchmark::RegisterBenchmark("Picture/paste8/lantern", BM_Picture<1, kPaste>, "slide-lantern.jpg");
  benchmark::RegisterBenchmark("Picture/paste32/lantern", BM_Picture<2, kPaste>, "slide-lantern.jpg");
  benchmark::RegisterBenchmark("Picture/all8/lantern", BM_Picture<1, kAll>, "slide-lantern.jpg");
  benchmark::RegisterBenchmark("Picture/all32/lantern", BM_Picture<2, kAll>, "slide-lantern.jpg");
  benchmark::RegisterBenchmark("Picture/all8/dunes", BM_Picture<1, kAll>, "slide-dunes.jpg");
  benchmark::RegisterBenchmark("Picture/all32/rings", BM_Picture<2, kAll>, "slide-rings.png");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
