#include "output/Sinks.h"

#include "output/Image.h"
#include "output/Yuv.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

extern char** environ;

namespace tw {
namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
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

// Writes all of `data`; false (errno set) when the reader has gone.
bool writeAll(int fd, const void* data, size_t size) {
  const uint8* p = static_cast<const uint8*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n, size -= size_t(n);
  }
  return true;
}

// The frame at the output size, as XRGB, in a buffer `padWidth` × `padHeight`
// (at least the output size; the margin stays black).
class Picture {
 public:
  void begin(const FrameGeometry& g, const SinkOptions& o, int32 padWidth = 0, int32 padHeight = 0) {
    scaler_ = Scaler(g, o.videoWidth, o.videoHeight, o.fit, o.scale);
    width_ = std::max(padWidth, scaler_.outWidth());
    height_ = std::max(padHeight, scaler_.outHeight());
    pixels_.assign(size_t(width_) * size_t(height_), 0);
  }
  const uint8* scale(const Frame& frame, const uint32* palette32) {
    scaler_.scale(frame, palette32, bytes(), rowBytes());
    return bytes();
  }
  const Scaler& scaler() const { return scaler_; }
  int32 width() const { return width_; }
  int32 height() const { return height_; }
  size_t rowBytes() const { return size_t(width_) * 4; }

 private:
  uint8* bytes() { return reinterpret_cast<uint8*>(pixels_.data()); }
  Scaler scaler_;
  int32 width_ = 0, height_ = 0;
  std::vector<uint32> pixels_;
};

void dropAudio(const SinkOptions& o) {
  if (o.audio) o.audio->cancel();
}

class NullSink : public FrameSink {
 public:
  explicit NullSink(const SinkOptions& o) : options_(o) {}
  bool begin(const FrameGeometry&, double, std::string*) override {
    dropAudio(options_);
    return true;
  }
  bool write(const Frame&, const uint32*, std::string*) override { return true; }
  bool finish(std::string*) override { return true; }
  void abort() override {}
  std::string describe() const override { return "nowhere (null)"; }

 private:
  SinkOptions options_;
};

class PngSequenceSink : public FrameSink {
 public:
  PngSequenceSink(std::string pattern, const SinkOptions& o) : pattern_(std::move(pattern)), options_(o) {}
  bool begin(const FrameGeometry& g, double, std::string* error) override {
    dropAudio(options_);
    picture_.begin(g, options_);
    std::string first;
    formatFrameName(pattern_, 0, &first);
    return makeParent(first, error);
  }
  bool write(const Frame& frame, const uint32* palette32, std::string* error) override {
    std::string name;
    formatFrameName(pattern_, long(written_.size()), &name);
    xrgbToRgb(picture_.scale(frame, palette32), picture_.width(), picture_.height(), picture_.rowBytes(),
              &rgb_);
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
  SinkOptions options_;
  std::vector<std::string> written_;
  Picture picture_;
  RgbImage rgb_;
};

// The YUV 4:2:0 planes of a frame at the output size.
class YuvPlanes {
 public:
  // padWidth, padHeight: as Picture.
  void begin(const FrameGeometry& g, const SinkOptions& o, YuvRange range, int32 padWidth = 0,
             int32 padHeight = 0) {
    range_ = range;
    picture_.begin(g, o, padWidth, padHeight);
    planes_.resize(yuv420Bytes(picture_.width(), picture_.height()));
  }
  const std::vector<uint8>& convert(const Frame& frame, const uint32* palette32) {
    xrgbToYuv420(picture_.scale(frame, palette32), picture_.width(), picture_.height(), picture_.rowBytes(),
                 range_, planes_.data());
    return planes_;
  }
  int32 width() const { return picture_.width(); }
  int32 height() const { return picture_.height(); }

 private:
  YuvRange range_ = YuvRange::Full;
  Picture picture_;
  std::vector<uint8> planes_;
};

FILE* streamTarget = nullptr;
FILE* streamOut() { return streamTarget ? streamTarget : stdout; }

class Y4mSink : public FrameSink {
 public:
  explicit Y4mSink(const SinkOptions& o) : options_(o) {}
  bool begin(const FrameGeometry& g, double fps, std::string* error) override {
    dropAudio(options_);
    planes_.begin(g, options_, YuvRange::Full);
    // Frame rate as a fraction: whole numbers exactly, others to 1/1000.
    const long num = std::lround(fps * 1000);
    const long den = num % 1000 == 0 ? 1 : 1000;
    if (std::fprintf(streamOut(), "YUV4MPEG2 W%d H%d F%ld:%ld Ip A1:1 C420jpeg\n", planes_.width(),
                     planes_.height(), den == 1 ? num / 1000 : num, den) < 0) {
      *error = "cannot write to standard output";
      return false;
    }
    return true;
  }
  bool write(const Frame& frame, const uint32* palette32, std::string* error) override {
    const std::vector<uint8>& planes = planes_.convert(frame, palette32);
    if (std::fputs("FRAME\n", streamOut()) < 0 ||
        std::fwrite(planes.data(), 1, planes.size(), streamOut()) != planes.size()) {
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
  SinkOptions options_;
  YuvPlanes planes_;
  long frames_ = 0;
};

// Moves a descriptor to 10 or above (close-on-exec), out of the way of the
// numbers the child's descriptors are given.
bool moveHigh(int* fd) {
  const int moved = fcntl(*fd, F_DUPFD_CLOEXEC, 10);
  if (moved < 0) return false;
  close(*fd);
  *fd = moved;
  return true;
}

void closeFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// ffmpeg as a child: raw video on its standard input, raw sound on fd 3, the
// file written beside the target and renamed into place once ffmpeg
// succeeds. The sound is written by a thread of the sink's own, popping from
// the queue until it is closed; ffmpeg reads its inputs on threads of its
// own and takes from each as the timestamps ask, so neither pipe waits on
// the other. Whatever fails, the child is reaped and the queue cancelled, so
// that no thread waits for ever.
class VideoSink : public FrameSink {
 public:
  VideoSink(std::string path, std::string ffmpeg, const SinkOptions& o)
      : path_(std::move(path)), ffmpeg_(std::move(ffmpeg)), options_(o) {}
  ~VideoSink() override { abort(); }

  bool begin(const FrameGeometry& g, double fps, std::string* error) override {
    if (!makeParent(path_, error)) {
      dropAudio(options_);
      return false;
    }
    const int32 w = options_.videoWidth > 0 ? options_.videoWidth : g.width;
    const int32 h = options_.videoHeight > 0 ? options_.videoHeight : g.height;
    // The encoders want even sizes: an odd picture gets a black last column
    // or row.
    planes_.begin(g, options_, YuvRange::Video, w + (w & 1), h + (h & 1));
    tmp_ = besideName(path_, "partial");
    const bool withAudio = options_.audio != nullptr;
    const std::string ext = lower(fs::path(path_).extension().string());
    char size[64], rate[64], sampleRate[32];
    std::snprintf(size, sizeof size, "%dx%d", planes_.width(), planes_.height());
    std::snprintf(rate, sizeof rate, "%.6g", fps);
    // Both inputs are raw with their format given, so ffmpeg must not probe
    // them: probing reads seconds of one pipe before the other, while the
    // music comes only as far ahead of the pictures as the analysis runs.
    std::vector<std::string> args = {ffmpeg_,
                                     "-nostdin",
                                     "-hide_banner",
                                     "-loglevel",
                                     "error",
                                     "-y",
                                     "-probesize",
                                     "32",
                                     "-analyzeduration",
                                     "0",
                                     "-thread_queue_size",
                                     "64",
                                     "-f",
                                     "rawvideo",
                                     "-pix_fmt",
                                     "yuv420p",
                                     "-s",
                                     size,
                                     "-framerate",
                                     rate,
                                     "-i",
                                     "pipe:0"};
    if (withAudio) {
      std::snprintf(sampleRate, sizeof sampleRate, "%d", options_.audio->sampleRate());
      args.insert(args.end(), {"-probesize", "32", "-analyzeduration", "0", "-thread_queue_size", "64", "-f",
                               "s16le", "-ar", sampleRate, "-ac", "2", "-i", "pipe:3"});
    }
    if (ext == ".webm") {
      args.insert(args.end(), {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-row-mt",
                               "1", "-b:v", "2M", "-c:a", "libopus", "-b:a", "128k"});
    } else {
      args.insert(args.end(), {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "20", "-c:a", "aac",
                               "-aac_coder", "fast", "-b:a", "160k"});
    }
    args.insert(args.end(), {"-pix_fmt", "yuv420p", "-colorspace", "smpte170m", "-color_range", "tv"});
    if (withAudio) args.push_back("-shortest");
    args.push_back(tmp_);
    if (!spawn(args, withAudio, error)) {
      dropAudio(options_);
      cleanup();
      return false;
    }
    if (withAudio) audioThread_ = std::thread([this] { pumpAudio(); });
    return true;
  }

  bool write(const Frame& frame, const uint32* palette32, std::string* error) override {
    if (video_ < 0) {
      // ffmpeg ended early: a failure, or the sound was shorter (-shortest).
      if (pid_ == 0 && succeeded()) return true;
      return failed(error);
    }
    const std::vector<uint8>& planes = planes_.convert(frame, palette32);
    if (!writeAll(video_, planes.data(), planes.size())) {
      closeFd(&video_);
      return reap(error);
    }
    ++frames_;
    return true;
  }

  bool finish(std::string* error) override {
    closeFd(&video_);
    const bool ok = pid_ >= 0 && reap(error);
    stopAudio();
    if (!ok) {
      failed(error);
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
    return true;
  }

  void abort() override {
    if (pid_ > 0) ::kill(pid_, SIGKILL);  // what it wrote is dropped anyway
    closeFd(&video_);
    std::string ignored;
    reap(&ignored);
    stopAudio();
    cleanup();
  }

  std::string describe() const override { return std::to_string(frames_) + " frames into " + path_; }

 private:
  bool spawn(const std::vector<std::string>& args, bool withAudio, std::string* error) {
    int videoPipe[2] = {-1, -1}, audioPipe[2] = {-1, -1};
    auto fail = [&](const std::string& why) {
      for (int* fd : {&videoPipe[0], &videoPipe[1], &audioPipe[0], &audioPipe[1]}) closeFd(fd);
      *error = "cannot start ffmpeg: " + why;
      return false;
    };
    if (pipe2(videoPipe, O_CLOEXEC) != 0 || (withAudio && pipe2(audioPipe, O_CLOEXEC) != 0))
      return fail(std::strerror(errno));
    for (int* fd : {&videoPipe[0], &videoPipe[1], &audioPipe[0], &audioPipe[1]})
      if (*fd >= 0 && !moveHigh(fd)) return fail(std::strerror(errno));
    // Room for a frame or so in flight (best effort: the system caps it).
    fcntl(videoPipe[1], F_SETPIPE_SZ, 1 << 20);
    if (withAudio) fcntl(audioPipe[1], F_SETPIPE_SZ, 1 << 18);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, videoPipe[0], 0);
    if (withAudio) posix_spawn_file_actions_adddup2(&actions, audioPipe[0], 3);
    posix_spawn_file_actions_addclosefrom_np(&actions, withAudio ? 4 : 3);
    // This program ignores SIGPIPE; the child gets the usual disposition.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, ffmpeg_.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return fail(ffmpeg_ + ": " + std::strerror(rc));
    pid_ = pid;
    closeFd(&videoPipe[0]);
    closeFd(&audioPipe[0]);
    video_ = videoPipe[1];
    audio_ = audioPipe[1];
    return true;
  }

  // Waits for ffmpeg to end; false with the reason unless it succeeded.
  bool reap(std::string* error) {
    if (pid_ > 0) {
      while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
      }
      pid_ = 0;
    }
    return pid_ == 0 && succeeded() ? true : failed(error);
  }
  bool succeeded() const { return WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }
  bool failed(std::string* error) const {
    *error = "ffmpeg failed to write '" + path_ + "' (see its message above)";
    return false;
  }

  void pumpAudio() {
    std::vector<int16_t> block(2 * 4096);
    for (;;) {
      const int n = options_.audio->pop(block.data(), 4096);
      if (n == 0) break;
      if (!writeAll(audio_, block.data(), size_t(n) * 4)) {
        // ffmpeg has stopped reading: the pusher must not wait for us.
        options_.audio->cancel();
        break;
      }
    }
    closeFd(&audio_);
  }
  void stopAudio() {
    if (!audioThread_.joinable()) return;
    // ffmpeg is gone: whatever is still to come is not needed.
    options_.audio->cancel();
    audioThread_.join();
  }

  void cleanup() {
    if (!tmp_.empty()) std::remove(tmp_.c_str());
    tmp_.clear();
  }

  std::string path_, ffmpeg_, tmp_;
  SinkOptions options_;
  YuvPlanes planes_;
  pid_t pid_ = -1;  // -1: not started; 0: ended, status_ says how
  int status_ = 0;
  int video_ = -1;
  int audio_ = -1;  // written and closed by the audio thread
  std::thread audioThread_;
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

bool takesMusic(const std::string& target) {
  const std::string ext = lower(fs::path(target).extension().string());
  return ext == ".mp4" || ext == ".mkv" || ext == ".webm";
}

std::unique_ptr<FrameSink> makeSink(const std::string& target, const SinkOptions& options,
                                    std::string* error) {
  if (target == "null") return std::make_unique<NullSink>(options);
  if (target == "-") return std::make_unique<Y4mSink>(options);
  const std::string ext = lower(fs::path(target).extension().string());
  if (takesMusic(target)) {
    std::string ffmpeg = findFfmpeg();
    if (ffmpeg.empty()) {
      *error = "writing " + ext.substr(1) +
               " needs the ffmpeg program, which is not on PATH (apt-get install ffmpeg), "
               "or write PNG frames with -o DIR/%05d.png";
      return nullptr;
    }
    return std::make_unique<VideoSink>(target, ffmpeg, options);
  }
  if (ext == ".png") {
    std::string probe;
    if (!formatFrameName(target, 0, &probe)) {
      *error = "PNG output '" + target + "' needs one frame-number field such as %05d (e.g. out/%05d.png)";
      return nullptr;
    }
    return std::make_unique<PngSequenceSink>(target, options);
  }
  *error = "unknown output '" + target +
           "': use a .mp4, .mkv or .webm file, a PNG pattern like out/%05d.png, "
           "'-' for YUV4MPEG2 on stdout, or 'null'";
  return nullptr;
}

}  // namespace tw
