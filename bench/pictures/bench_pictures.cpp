// One 640 × 480 JPEG of the flip-book: decoding, the 8-bit conversion, both
// together; and Tessary's frame once its pictures are loaded. Each figure is
// a multiple of a memcpy of a 640 × 480 8-bit frame ("memcpys").
#include <benchmark/benchmark.h>
#include <platform/kernel.h>

#include <memory>
#include <string>

#include "../Yardstick.h"
#include "Basic_addon.h"
#include "engine/AddonLibrary.h"
#include "engine/FilterDriver.h"
#include "engine/Frame.h"

namespace {

using tw::bench::measureAgainst;
using tw::bench::yardstickNanos;

constexpr size_t kFrame = 640 * 480;
const std::string kPicture = std::string(TW_BENCH_DATA_DIR) + "/filterdata/image_map/image1.jpg";

double memcpyNs() {
  static const double ns = yardstickNanos(kFrame, true);
  return ns;
}

void BM_FrameMemcpy(benchmark::State& state) {
  std::vector<unsigned char> a(kFrame, 1), b(kFrame, 2);
  measureAgainst(state, memcpyNs(), "memcpys", [&] { std::memcpy(a.data(), b.data(), kFrame); });
}

void BM_DecodeJpeg(benchmark::State& state) {
  CFilter f;
  measureAgainst(state, memcpyNs(), "memcpys", [&] {
    BBitmap* b = f.loadBitmap(kPicture.c_str());
    if (!b) state.SkipWithError("cannot decode the flip-book picture");
    delete b;
  });
}

void BM_MakeBitmap8Bit(benchmark::State& state) {
  CFilter f;
  std::unique_ptr<BBitmap> source(f.loadBitmap(kPicture.c_str()));
  if (!source) return state.SkipWithError("cannot decode the flip-book picture");
  measureAgainst(state, memcpyNs(), "memcpys", [&] { delete f.makeBitmap8Bit(source.get()); });
}

void BM_DecodeAndConvert(benchmark::State& state) {
  CFilter f;
  measureAgainst(state, memcpyNs(), "memcpys", [&] {
    std::unique_ptr<BBitmap> b(f.loadBitmap(kPicture.c_str()));
    delete f.makeBitmap8Bit(b.get());
  });
}

void BM_TessaryFrame(benchmark::State& state) {
  std::string why;
  auto lib = tw::AddonLibrary::open(std::string(TW_BENCH_ADDON_DIR) + "/Tessary", &why);
  if (!lib) return state.SkipWithError(why.c_str());
  tw::FilterDriver driver(lib->create(0));
  const std::string data = TW_BENCH_DATA_DIR;
  driver.setDirectories(data, data + "/filterdata", data + "/images");
  driver.load();
  auto& t = static_cast<CTessary&>(driver.filter());
  while (!t.loaderDone.load()) snooze(1000);
  if (!t.imagesReady.load()) return state.SkipWithError("the flip-book did not load");
  tw::Frame frame({640, 480, 1, 0});
  driver.prepare(frame.geometry(), tw_system_palette(), tw_system_palette32());
  frame.spectrum(1)[10] = 5e6f;  // a beat on every frame: the cycle runs through all six
  measureAgainst(state, memcpyNs(), "memcpys", [&] { driver.draw(frame.info()); });
}

BENCHMARK(BM_FrameMemcpy);
BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MakeBitmap8Bit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAndConvert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TessaryFrame);

}  // namespace

BENCHMARK_MAIN();
