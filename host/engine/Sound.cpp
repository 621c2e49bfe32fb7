#include "engine/Sound.h"

#include "engine/SoundSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tw {

bool loadSound(const std::string& path, Sound* out, std::string* error, std::string* problem) {
  std::unique_ptr<SoundSource> source = openSoundFile(path, error);
  if (!source) return false;
  Sound s;
  s.sampleRate = source->sampleRate();
  s.stereo = source->stereo();
  // The length is a hint (an estimate for some formats): reserve for it, but
  // not more than an hour's worth up front.
  const int64_t hint = source->lengthHint();
  if (hint > 0) {
    const size_t reserve = size_t(std::min<int64_t>(hint + 4096, int64_t(s.sampleRate) * 3600));
    s.left.reserve(reserve);
    s.right.reserve(reserve);
  }
  constexpr int kBlock = 4096;
  float left[kBlock], right[kBlock];
  for (int got; (got = source->read(left, right, kBlock)) > 0;) {
    s.left.insert(s.left.end(), left, left + got);
    s.right.insert(s.right.end(), right, right + got);
  }
  if (s.left.empty()) {
    const std::string why = source->problem();
    *error = why.empty() ? "'" + path + "' holds no audio samples" : "cannot decode '" + path + "': " + why;
    return false;
  }
  if (problem) *problem = source->problem();
  *out = std::move(s);
  return true;
}

namespace {

void put16(unsigned char* p, unsigned v) {
  p[0] = static_cast<unsigned char>(v), p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

bool writeWav(const std::string& path, const Sound& sound, int64_t first, int64_t count, std::string* error) {
  constexpr int64_t kFrameBytes = 4;  // 16-bit stereo
  // RIFF sizes are 32-bit: the data and the 36 header bytes after the size.
  if (count < 0 || count > (int64_t(UINT32_MAX) - 36) / kFrameBytes) {
    *error = "cannot write '" + path + "': " + std::to_string(count) + " samples do not fit a WAV file";
    return false;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    *error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  const uint32_t dataBytes = uint32_t(count * kFrameBytes);
  const uint32_t rate = uint32_t(sound.sampleRate);
  unsigned char header[44];
  std::memcpy(header, "RIFF", 4);
  put32(header + 4, 36 + dataBytes);
  std::memcpy(header + 8, "WAVEfmt ", 8);
  put32(header + 16, 16);  // PCM format chunk
  put16(header + 20, 1);   // integer PCM
  put16(header + 22, 2);   // channels
  put32(header + 24, rate);
  put32(header + 28, rate * kFrameBytes);
  put16(header + 32, kFrameBytes);
  put16(header + 34, 16);
  std::memcpy(header + 36, "data", 4);
  put32(header + 40, dataBytes);
  bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;

  constexpr int64_t kBlock = 4096;
  unsigned char block[kBlock * kFrameBytes];
  for (int64_t i = 0; i < count && ok; i += kBlock) {
    const int64_t n = std::min(kBlock, count - i);
    for (int64_t k = 0; k < n; ++k) {
      const int64_t at = first + i + k;
      const bool inside = at >= 0 && at < sound.frames();
      // Truncation toward zero, as the samples were always written.
      const int l = inside ? int(std::clamp(sound.left[size_t(at)], -32768.0f, 32767.0f)) : 0;
      const int r = inside ? int(std::clamp(sound.right[size_t(at)], -32768.0f, 32767.0f)) : 0;
      put16(block + k * kFrameBytes, unsigned(l) & 0xffffu);
      put16(block + k * kFrameBytes + 2, unsigned(r) & 0xffffu);
    }
    ok = std::fwrite(block, size_t(kFrameBytes), size_t(n), f) == size_t(n);
  }
  if (std::fclose(f) != 0) ok = false;
  if (!ok) *error = "cannot write '" + path + "': disk full or not writable";
  return ok;
}

}  // namespace tw
