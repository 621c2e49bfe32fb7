#include "output/Sinks.h"

#include "output/Image.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tw {
namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool makeParent(const std::string& path, std::string* error) {
  const fs::path parent = fs::path(path).parent_path();
  if (parent.empty()) return true;
  std::error_code ec;
  fs::create_directories(parent, ec);
  if (ec) {
    *error = "cannot create directory '" + parent.string() + "': " + ec.message();
    return false;
  }
  return true;
}

// A scratch name beside the target with the same extension, so that tools
// that pick the format by extension still see it.
std::string besideName(const std::string& path, const std::string& tag) {
  const fs::path p(path);
  return (p.parent_path() / (p.stem().string() + "." + tag + p.extension().string())).string();
}

class NullSink : public FrameSink {
 public:
  bool begin(const FrameGeometry&, double, std::string*) override { return true; }
  bool write(const Frame&, const uint32*, std::string*) override { return true; }
  bool finish(std::string*) override { return true; }
  void abort() override {}
  std::string describe() const override { return "nowhere (null)"; }
};

class PngSequenceSink : public FrameSink {
 public:
  explicit PngSequenceSink(std::string pattern) : pattern_(std::move(pattern)) {}
  bool begin(const FrameGeometry&, double, std::string* error) override {
    std::string first;
    formatFrameName(pattern_, 0, &first);
    return makeParent(first, error);
  }
  bool write(const Frame& frame, const uint32* palette32, std::string* error) override {
    std::string name;
    formatFrameName(pattern_, long(written_.size()), &name);
    frameToRgb(frame, palette32, &rgb_);
    if (!writePng(name, rgb_, error)) return false;
    written_.push_back(name);
    return true;
  }
  bool finish(std::string*) override { return true; }
  void abort() override {
    for (const std::string& f : written_) std::remove(f.c_str());
    written_.clear();
  }
  std::string describe() const override {
    return std::to_string(written_.size()) + " PNG frames (" + pattern_ + ")";
  }

 private:
  std::string pattern_;
  std::vector<std::string> written_;
  RgbImage rgb_;
};

FILE* streamTarget = nullptr;
FILE* streamOut() { return streamTarget ? streamTarget : stdout; }

class Y4mSink : public FrameSink {
 public:
  bool begin(const FrameGeometry& g, double fps, std::string* error) override {
    g_ = g;
    // Frame rate as a fraction: whole numbers exactly, others to 1/1000.
    const long num = std::lround(fps * 1000);
    const long den = num % 1000 == 0 ? 1 : 1000;
    if (std::fprintf(streamOut(), "YUV4MPEG2 W%d H%d F%ld:%ld Ip A1:1 C420jpeg\n", g.width, g.height,
                     den == 1 ? num / 1000 : num, den) < 0) {
      *error = "cannot write to standard output";
      return false;
    }
    return true;
  }
  bool write(const Frame& frame, const uint32* palette32, std::string* error) override {
    frameToYuv420(frame, palette32, YuvRange::Full, &plane_);
    if (std::fputs("FRAME\n", streamOut()) < 0 ||
        std::fwrite(plane_.data(), 1, plane_.size(), streamOut()) != plane_.size()) {
      *error = "cannot write to standard output";
      return false;
    }
    ++frames_;
    return true;
  }
  bool finish(std::string* error) override {
    if (std::fflush(streamOut()) != 0) {
      *error = "cannot write to standard output";
      return false;
    }
    return true;
  }
  void abort() override { std::fflush(streamOut()); }
  std::string describe() const override { return std::to_string(frames_) + " frames as YUV4MPEG2 on stdout"; }

 private:
  FrameGeometry g_;
  std::vector<uint8> plane_;
  long frames_ = 0;
};

class VideoSink : public FrameSink {
 public:
  VideoSink(std::string path, std::string ffmpeg, AudioSpan audio)
      : path_(std::move(path)), ffmpeg_(std::move(ffmpeg)), audio_(audio) {}
  ~VideoSink() override { abort(); }

  bool begin(const FrameGeometry& g, double fps, std::string* error) override {
    if (!makeParent(path_, error)) return false;
    tmp_ = besideName(path_, "partial");
    const bool withAudio = audio_.sound != nullptr && audio_.count > 0;
    if (withAudio) {
      wav_ = besideName(path_, "audio") + ".wav";
      if (!writeWav(wav_, *audio_.sound, audio_.first, audio_.count, error)) return false;
    }
    const std::string ext = lower(fs::path(path_).extension().string());
    std::string codecs;
    if (ext == ".webm")
      codecs = "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -row-mt 1 -b:v 2M -c:a libopus -b:a 128k";
    else
      codecs = "-c:v libx264 -preset ultrafast -crf 20 -c:a aac -aac_coder fast -b:a 160k";
    // The encoders want even sizes: an odd frame gets a black last row or column.
    const std::string even = (g.width % 2 || g.height % 2) ? " -vf 'pad=ceil(iw/2)*2:ceil(ih/2)*2'" : "";
    char size[64], rate[64];
    std::snprintf(size, sizeof size, "%dx%d", g.width, g.height);
    std::snprintf(rate, sizeof rate, "%.6g", fps);
    const std::string cmd =
        shellQuote(ffmpeg_) + " -nostdin -hide_banner -loglevel error -y -f rawvideo -pix_fmt yuv420p -s " +
        size + " -framerate " + rate + " -i -" + (withAudio ? " -i " + shellQuote(wav_) : std::string()) +
        " " + codecs + even + " -pix_fmt yuv420p -colorspace smpte170m -color_range tv" +
        (withAudio ? " -shortest" : "") + " " + shellQuote(tmp_);
    pipe_ = popen(cmd.c_str(), "w");
    if (pipe_ == nullptr) {
      *error = "cannot start ffmpeg: " + std::string(std::strerror(errno));
      cleanup();
      return false;
    }
    return true;
  }
  bool write(const Frame& frame, const uint32* palette32, std::string* error) override {
    frameToYuv420(frame, palette32, YuvRange::Video, &buffer_);
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), pipe_) != buffer_.size()) {
      *error = "ffmpeg stopped reading frames (see its message above)";
      return false;
    }
    ++frames_;
    return true;
  }
  bool finish(std::string* error) override {
    const int status = pipe_ ? pclose(pipe_) : -1;
    pipe_ = nullptr;
    if (status != 0) {
      *error = "ffmpeg failed to write '" + path_ + "' (see its message above)";
      cleanup();
      return false;
    }
    std::error_code ec;
    fs::rename(tmp_, path_, ec);
    if (ec) {
      *error = "cannot write '" + path_ + "': " + ec.message();
      cleanup();
      return false;
    }
    tmp_.clear();
    cleanup();
    return true;
  }
  void abort() override {
    if (pipe_) pclose(pipe_);
    pipe_ = nullptr;
    cleanup();
  }
  std::string describe() const override { return std::to_string(frames_) + " frames into " + path_; }

 private:
  void cleanup() {
    if (!tmp_.empty()) std::remove(tmp_.c_str());
    if (!wav_.empty()) std::remove(wav_.c_str());
    tmp_.clear(), wav_.clear();
  }
  std::string path_, ffmpeg_, tmp_, wav_;
  AudioSpan audio_;
  FILE* pipe_ = nullptr;
  std::vector<uint8> buffer_;
  long frames_ = 0;
};

}  // namespace

bool formatFrameName(const std::string& pattern, long index, std::string* out) {
  size_t at = std::string::npos, end = 0;
  int fields = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) ++j;
    if (j >= pattern.size() || pattern[j] != 'd' || j - i > 3) return false;
    at = i, end = j + 1, ++fields;
    i = j;
  }
  if (fields != 1) return false;
  const std::string digits = pattern.substr(at + 1, end - at - 2);
  const int width = digits.empty() ? 0 : std::atoi(digits.c_str());
  const bool zero = !digits.empty() && digits[0] == '0';
  std::string num = std::to_string(index);
  if (int(num.size()) < width) num.insert(0, size_t(width) - num.size(), zero ? '0' : ' ');
  std::string result;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (i == at) {
      result += num;
      i = end - 1;
    } else if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
      result += '%';
      ++i;
    } else {
      result += pattern[i];
    }
  }
  *out = result;
  return true;
}

std::string findFfmpeg() {
  if (const char* forced = std::getenv("TIDEWAVE_FFMPEG")) return access(forced, X_OK) == 0 ? forced : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t colon = dirs.find(':', start);
    const std::string dir =
        dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    const std::string candidate = (dir.empty() ? "." : dir) + "/ffmpeg";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return "";
}

void setStreamOutput(FILE* out) { streamTarget = out; }

std::unique_ptr<FrameSink> makeSink(const std::string& target, const AudioSpan& audio, std::string* error) {
  if (target == "null") return std::make_unique<NullSink>();
  if (target == "-") return std::make_unique<Y4mSink>();
  const std::string ext = lower(fs::path(target).extension().string());
  if (ext == ".mp4" || ext == ".mkv" || ext == ".webm") {
    std::string ffmpeg = findFfmpeg();
    if (ffmpeg.empty()) {
      *error = "writing " + ext.substr(1) +
               " needs the ffmpeg program, which is not on PATH (apt-get install ffmpeg), "
               "or write PNG frames with -o DIR/%05d.png";
      return nullptr;
    }
    return std::make_unique<VideoSink>(target, ffmpeg, audio);
  }
  if (ext == ".png") {
    std::string probe;
    if (!formatFrameName(target, 0, &probe)) {
      *error = "PNG output '" + target + "' needs one frame-number field such as %05d (e.g. out/%05d.png)";
      return nullptr;
    }
    return std::make_unique<PngSequenceSink>(target);
  }
  *error = "unknown output '" + target +
           "': use a .mp4, .mkv or .webm file, a PNG pattern like out/%05d.png, "
           "'-' for YUV4MPEG2 on stdout, or 'null'";
  return nullptr;
}

}  // namespace tw
