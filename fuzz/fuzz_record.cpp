// The record reader on arbitrary bytes, as --replay reads a file: the
// header, then every whole frame until one is refused. Every frame it
// accepts holds only what the filters are promised.
#include "engine/Recording.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool promised(const tw::SoundFrame& f) {
  for (int32 v : f.samples)
    if (v < -32768 || v > 32767) return false;
  for (int ch = 0; ch < 2; ++ch) {
    if (!(std::isfinite(f.level[ch]) && f.level[ch] >= 0)) return false;
    for (double v : f.bands[ch])
      if (!(std::isfinite(v) && v >= 0)) return false;
    for (float v : f.spectrum[size_t(ch)])
      if (!(std::isfinite(v) && v >= 0)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tw::RecordHeader header;
  std::string why;
  if (!tw::parseRecordHeader(data, size, "fuzz", &header, &why)) {
    if (why.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  if (!(header.fps > 0 && header.fps <= 1000) || header.sampleRate <= 0) __builtin_trap();
  tw::SoundFrame frame;
  for (size_t at = tw::kRecordHeaderBytes; size - at >= tw::kRecordFrameBytes; at += tw::kRecordFrameBytes) {
    if (!tw::parseRecordFrame(data + at, "fuzz", &frame, &why)) {
      if (why.empty()) __builtin_trap();
      break;
    }
    if (!promised(frame)) __builtin_trap();
  }
  return 0;
}
