#include "engine/Sound.h"

#include "engine/SoundSource.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tw {

bool loadSound(const std::string& path, Sound* out, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    *error = "audio file '" + path + "' does not exist";
    return false;
  }
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) {
    *error = "cannot decode '" + path + "': " + sf_strerror(nullptr);
    return false;
  }
  if (info.channels < 1 || info.samplerate < 1000 || info.samplerate > 384000) {
    sf_close(f);
    *error = "cannot decode '" + path + "': unsupported channel count or sample rate";
    return false;
  }
  Sound s;
  s.sampleRate = info.samplerate;
  s.stereo = info.channels >= 2;
  // Reads in blocks: the frame count of compressed formats is only an estimate.
  const int ch = info.channels;
  std::vector<float> block(size_t(4096) * size_t(ch));
  for (;;) {
    const sf_count_t got = sf_readf_float(f, block.data(), 4096);
    if (got <= 0) break;
    for (sf_count_t i = 0; i < got; ++i) {
      const float l = block[size_t(i) * size_t(ch)] * 32768.0f;
      const float r = ch >= 2 ? block[size_t(i) * size_t(ch) + 1] * 32768.0f : l;
      s.left.push_back(std::clamp(l, -32768.0f, 32767.0f));
      s.right.push_back(std::clamp(r, -32768.0f, 32767.0f));
    }
  }
  const int err = sf_error(f);
  sf_close(f);
  if (err != SF_ERR_NO_ERROR && s.left.empty()) {
    *error = "cannot decode '" + path + "': " + sf_error_number(err);
    return false;
  }
  if (s.left.empty()) {
    *error = "'" + path + "' holds no audio samples";
    return false;
  }
  *out = std::move(s);
  return true;
}

bool writeWav(const std::string& path, const Sound& sound, int64_t first, int64_t count, std::string* error) {
  SF_INFO info{};
  info.samplerate = sound.sampleRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) {
    *error = "cannot write '" + path + "': " + sf_strerror(nullptr);
    return false;
  }
  std::vector<short> block;
  block.reserve(8192);
  bool ok = true;
  for (int64_t i = 0; i < count && ok; i += 4096) {
    block.clear();
    const int64_t n = std::min<int64_t>(4096, count - i);
    for (int64_t k = 0; k < n; ++k) {
      const int64_t at = first + i + k;
      const bool inside = at >= 0 && at < sound.frames();
      block.push_back(short(inside ? std::clamp(sound.left[size_t(at)], -32768.0f, 32767.0f) : 0));
      block.push_back(short(inside ? std::clamp(sound.right[size_t(at)], -32768.0f, 32767.0f) : 0));
    }
    ok = sf_writef_short(f, block.data(), n) == n;
  }
  sf_close(f);
  if (!ok) *error = "cannot write '" + path + "': disk full or not writable";
  return ok;
}

// Until the streaming decoder is in: the whole file, then a source over it.
std::unique_ptr<SoundSource> openSoundFile(const std::string& path, std::string* error) {
  auto sound = std::make_shared<Sound>();
  if (!loadSound(path, sound.get(), error)) return nullptr;
  return makeMemorySource(std::move(sound), path);
}

}  // namespace tw
