#include "live/Playback.h"

#include "live/PulseFormat.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

namespace tw {

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

namespace {
// Samples per write: about 12 ms at 44.1 kHz, so the clock hears of progress
// several times per video frame's worth of sound.
constexpr int kChunk = 512;
// What the server may hold ahead of the speaker; small, so seeks and pauses
// are heard at once, large enough not to run dry on a busy machine.
constexpr double kBufferSeconds = 0.08;
}  // namespace

std::unique_ptr<Playback> Playback::open(SoundStream& sound, std::string* error) {
  const PulseFormat format = stereo16(sound.sampleRate());
  pa_buffer_attr buffer{};
  buffer.maxlength = uint32_t(-1);
  buffer.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(kBufferSeconds * 1e6), &format));
  buffer.prebuf = uint32_t(-1);
  buffer.minreq = uint32_t(-1);
  buffer.fragsize = uint32_t(-1);
  int code = 0;
  pa_simple* s = pa_simple_new(nullptr, "tidewave", PA_STREAM_PLAYBACK, nullptr, "music", &format, nullptr,
                               &buffer, &code);
  if (s == nullptr) {
    *error = std::string("no sound server (") + pa_strerror(code) + ")";
    return nullptr;
  }
  return std::unique_ptr<Playback>(new Playback(sound, s));
}

Playback::~Playback() {
  stop();
  if (stream_) pa_simple_free(stream_);
}

void Playback::start(PlayClock* clock) {
  clock_ = clock;
  thread_ = std::thread([this] { run(); });
}

void Playback::stop() {
  if (!thread_.joinable()) return;
  clock_->stop();
  thread_.join();
}

void Playback::run() {
  std::vector<int16_t> pcm(size_t(kChunk) * 2);
  std::vector<float> left(kChunk), right(kChunk);
  PlayClock::Chunk chunk;
  auto to16 = [](float v) { return int16_t(std::clamp(std::lround(v), -32768L, 32767L)); };
  while (clock_->next(kChunk, &chunk)) {
    int code = 0;
    if (chunk.flush) pa_simple_flush(stream_, &code);
    // A seek while waiting for the decoder makes this chunk stale.
    if (!sound_.read(chunk.first, chunk.count, left.data(), right.data())) continue;
    for (int i = 0; i < chunk.count; ++i) {
      pcm[size_t(i) * 2] = to16(left[size_t(i)]);
      pcm[size_t(i) * 2 + 1] = to16(right[size_t(i)]);
    }
    if (pa_simple_write(stream_, pcm.data(), size_t(chunk.count) * 4, &code) < 0) {
      // The server went away: keep the chunk's time by the wall clock, so
      // the pictures carry on instead of racing through the rest.
      std::this_thread::sleep_for(std::chrono::duration<double>(double(chunk.count) / sound_.sampleRate()));
      clock_->played(chunk, 0, steadySeconds());
      continue;
    }
    const pa_usec_t latency = pa_simple_get_latency(stream_, &code);
    const int64_t behind =
        latency == pa_usec_t(-1) ? 0 : int64_t(double(latency) * 1e-6 * sound_.sampleRate() + 0.5);
    clock_->played(chunk, behind, steadySeconds());
  }
  int code = 0;
  pa_simple_flush(stream_, &code);
}

}  // namespace tw
