#include "live/Capture.h"

#include "live/PulseFormat.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>

namespace tw {

SampleRing::SampleRing(int capacity) : left_(size_t(std::max(capacity, 1))), right_(left_.size()) {}

void SampleRing::push(const int16_t* s, int frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  const size_t n = left_.size();
  for (int i = 0; i < frames; ++i) {
    const size_t at = size_t(written_ % int64_t(n));
    left_[at] = float(s[2 * i]);
    right_[at] = float(s[2 * i + 1]);
    ++written_;
  }
}

void SampleRing::latest(int count, Sound* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t n = int64_t(left_.size());
  count = int(std::clamp<int64_t>(count, 0, n));
  out->left.assign(size_t(count), 0.f);
  out->right.assign(size_t(count), 0.f);
  out->stereo = true;
  for (int i = 0; i < count; ++i) {
    const int64_t k = written_ - count + i;
    if (k < 0) continue;
    out->left[size_t(i)] = left_[size_t(k % n)];
    out->right[size_t(i)] = right_[size_t(k % n)];
  }
}

int64_t SampleRing::written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

std::unique_ptr<Capture> Capture::open(const std::string& source, int sampleRate, std::string* error) {
  const PulseFormat format = stereo16(sampleRate);
  // Small fragments, so that each frame sees sound a few milliseconds old.
  pa_buffer_attr buffer{};
  buffer.maxlength = uint32_t(-1);
  buffer.fragsize = uint32_t(pa_usec_to_bytes(10000, &format));
  int code = 0;
  pa_simple* s = pa_simple_new(nullptr, "tidewave", PA_STREAM_RECORD, source.c_str(), "visualiser input",
                               &format, nullptr, &buffer, &code);
  if (s == nullptr) {
    *error = "cannot record from \"" + source + "\" (" + pa_strerror(code) + ")";
    return nullptr;
  }
  return std::unique_ptr<Capture>(new Capture(s));
}

Capture::~Capture() {
  stop();
  if (stream_) pa_simple_free(stream_);
}

void Capture::start() {
  thread_ = std::thread([this] {
    int16_t buf[256 * 2];
    while (!stop_) {
      int code = 0;
      if (pa_simple_read(stream_, buf, sizeof buf, &code) < 0) {
        failed_ = true;
        return;
      }
      ring_.push(buf, 256);
    }
  });
}

void Capture::stop() {
  stop_ = true;
  // A read returns within a fragment (10 ms), or at once when the server is gone.
  if (thread_.joinable()) thread_.join();
}

}  // namespace tw
