// The video sink against the real ffmpeg program: the music streamed beside
// the pictures comes back out of the file, the picture has the asked size;
// and against stand-ins for ffmpeg that fail in every way we know of: an
// error, no file left behind, no thread left waiting.
#include "output/Sinks.h"
#include "engine/SampleQueue.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace tw {
namespace {

namespace fs = std::filesystem;

// As the tidewave program does: a reader that goes away makes writes fail
// instead of killing the process.
const bool kSigpipeIgnored = [] {
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}();

fs::path scratch(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() / ("tw-host-sinks-" + std::to_string(getpid())) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

// Pushes `count` samples of two tones (left 1 kHz, right 2.5 kHz, amplitude
// 8000) into the queue from a thread of its own, then closes it; stops when
// the reader cancels.
class ToneFeeder {
 public:
  ToneFeeder(SampleQueue* queue, int64_t count)
      : thread_([queue, count] {
          const double rate = queue->sampleRate();
          std::vector<float> l(1000), r(1000);
          for (int64_t at = 0; at < count; at += 1000) {
            const int n = int(std::min<int64_t>(1000, count - at));
            for (int k = 0; k < n; ++k) {
              const double t = double(at + k) / rate;
              l[size_t(k)] = float(8000 * std::sin(2 * std::numbers::pi * 1000 * t));
              r[size_t(k)] = float(8000 * std::sin(2 * std::numbers::pi * 2500 * t));
            }
            if (!queue->push(l.data(), r.data(), n)) return;
          }
          queue->close();
        }) {}
  ~ToneFeeder() { thread_.join(); }  // returns only if the feeder was let go

 private:
  std::thread thread_;
};

// Amplitude of the `hz` component of every second sample from `offset` on.
double amplitude(const std::vector<int16_t>& interleaved, int offset, size_t from, size_t count, double hz,
                 double rate) {
  double re = 0, im = 0;
  for (size_t i = 0; i < count; ++i) {
    const double v = interleaved[2 * (from + i) + size_t(offset)];
    const double w = 2 * std::numbers::pi * hz * double(from + i) / rate;
    re += v * std::cos(w), im += v * std::sin(w);
  }
  return 2 * std::hypot(re, im) / double(count);
}

TEST(VideoSink, StreamedMusicAndAnOddPictureSize) {
  if (findFfmpeg().empty()) GTEST_SKIP() << "ffmpeg is not installed";
  const fs::path dir = scratch("music");
  const std::string path = (dir / "v.mp4").string();
  constexpr int kRate = 48000, kFps = 25, kFrames = 50;  // two seconds
  SampleQueue queue(kRate, kRate / 4);
  ToneFeeder feeder(&queue, 2 * kRate);
  SinkOptions o;
  o.videoWidth = 161, o.videoHeight = 91;  // encoded as 162 x 92
  o.audio = &queue;
  std::string why;
  std::unique_ptr<FrameSink> sink = makeSink(path, o, &why);
  ASSERT_TRUE(sink) << why;
  // 64 x 48, red on the left, blue on the right.
  const FrameGeometry g{64, 48, 2, 0};
  Frame frame(g);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint32 c = x < 32 ? 0x00E00000 : 0x000000E0;
      std::memcpy(frame.pixels() + (y * 64 + x) * 4, &c, 4);
    }
  ASSERT_TRUE(sink->begin(g, kFps, &why)) << why;
  for (int i = 0; i < kFrames; ++i) ASSERT_TRUE(sink->write(frame, nullptr, &why)) << why;
  ASSERT_TRUE(sink->finish(&why)) << why;
  sink.reset();
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // no scratch files

  EXPECT_EQ(
      capture("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 " + path),
      "162,92\n");
  // The picture: 64x48 contained in 161x91 is 121x91 from column 20; the
  // padding column 161 and row 91 are black.
  const std::string rgb = capture("ffmpeg -v error -i " + path + " -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), size_t(162 * 92 * 3));
  auto px = [&](int x, int y) {
    const uint8* p = reinterpret_cast<const uint8*>(rgb.data()) + (y * 162 + x) * 3;
    return std::vector<int>{p[0], p[1], p[2]};
  };
  auto near = [](std::vector<int> a, std::vector<int> b) {
    for (int k = 0; k < 3; ++k)
      if (std::abs(a[size_t(k)] - b[size_t(k)]) > 24) return false;
    return true;
  };
  EXPECT_TRUE(near(px(10, 45), {0, 0, 0}));
  EXPECT_TRUE(near(px(40, 45), {0xE0, 0, 0}));
  EXPECT_TRUE(near(px(40, 2), {0xE0, 0, 0}));  // the picture fills the height
  EXPECT_TRUE(near(px(120, 88), {0, 0, 0xE0}));
  EXPECT_TRUE(near(px(150, 45), {0, 0, 0}));
  EXPECT_TRUE(near(px(161, 45), {0, 0, 0}));
  // The padding row's luma is black under the red; its chroma is shared
  // with the row above.
  const std::string grey = capture("ffmpeg -v error -i " + path + " -frames:v 1 -f rawvideo -pix_fmt gray -");
  ASSERT_EQ(grey.size(), size_t(162 * 92));
  EXPECT_GT(uint8(grey[90 * 162 + 40]), 40);
  EXPECT_LT(uint8(grey[91 * 162 + 40]), 20);

  // The music: two seconds, the 1 kHz tone on the left, 2.5 kHz on the right.
  const std::string pcm = capture("ffmpeg -v error -i " + path + " -map 0:a -f s16le -ac 2 -ar 48000 -");
  std::vector<int16_t> samples(pcm.size() / 2);
  std::memcpy(samples.data(), pcm.data(), samples.size() * 2);
  const size_t frames = samples.size() / 2;
  EXPECT_NEAR(double(frames), 2.0 * kRate, 2048) << "samples decoded";
  ASSERT_GT(frames, size_t(kRate));
  const size_t from = frames / 4, count = frames / 2;
  EXPECT_NEAR(amplitude(samples, 0, from, count, 1000, kRate), 8000, 800);
  EXPECT_LT(amplitude(samples, 0, from, count, 2500, kRate), 400);
  EXPECT_NEAR(amplitude(samples, 1, from, count, 2500, kRate), 8000, 800);
  EXPECT_LT(amplitude(samples, 1, from, count, 1000, kRate), 400);
}

TEST(VideoSink, AFailingFfmpegGivesAnErrorLeavesNothingAndLetsTheMusicGo) {
  const struct {
    const char* what;
    const char* script;
  } cases[] = {
      {"exits at once", "exit 1"},
      {"dies mid-stream", "head -c 300000 >/dev/null\nexit 1"},
      {"is killed mid-stream", "head -c 300000 >/dev/null\nkill -9 $$"},
      {"reads everything, then fails", "cat >/dev/null\nexit 1"},
      {"stops reading and claims success", "head -c 300000 >/dev/null\nexit 0"},
      {"reads everything, claims success, writes nothing", "cat >/dev/null\nexit 0"},
  };
  for (const auto& c : cases) {
    const fs::path dir = scratch("fail");
    const fs::path fake = dir / "ffmpeg";
    std::ofstream(fake) << "#!/bin/sh\n" << c.script << "\n";
    fs::permissions(fake, fs::perms::owner_all);
    setenv("TIDEWAVE_FFMPEG", fake.c_str(), 1);
    {
      // Ten seconds of music: more than the queue and the pipe hold, so the
      // feeder waits unless the sink lets it go.
      SampleQueue queue(48000, 4800);
      ToneFeeder feeder(&queue, 480000);
      SinkOptions o;
      o.audio = &queue;
      std::string why;
      std::unique_ptr<FrameSink> sink = makeSink((dir / "out" / "v.mkv").string(), o, &why);
      ASSERT_TRUE(sink) << why;
      const FrameGeometry g{320, 240, 1, 0};
      Frame frame(g);
      frame.clear(52);
      bool ok = sink->begin(g, 30, &why);
      for (int i = 0; ok && i < 60; ++i) ok = sink->write(frame, tw_system_palette32(), &why);
      if (ok) ok = sink->finish(&why);
      if (!ok) sink->abort();  // as a render does
      EXPECT_FALSE(ok) << c.what;
      EXPECT_TRUE(why.find("ffmpeg") != std::string::npos || why.find("cannot write") != std::string::npos)
          << c.what << ": " << why;
    }  // the feeder joins here: it must have been let go
    unsetenv("TIDEWAVE_FFMPEG");
    std::vector<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(dir))
      if (e.path() != fake && !e.is_directory()) left.push_back(e.path().string());
    EXPECT_TRUE(left.empty()) << c.what << ": left " << left.front();
  }
}

TEST(VideoSink, SinksWithoutSoundLetTheMusicGo) {
  for (const std::string& target : std::vector<std::string>{"null", (scratch("png") / "%03d.png").string()}) {
    SampleQueue queue(48000, 4800);
    ToneFeeder feeder(&queue, 480000);
    SinkOptions o;
    o.audio = &queue;
    std::string why;
    std::unique_ptr<FrameSink> sink = makeSink(target, o, &why);
    ASSERT_TRUE(sink) << why;
    ASSERT_TRUE(sink->begin(FrameGeometry{16, 8, 1, 0}, 30, &why)) << why;
    ASSERT_TRUE(sink->finish(&why)) << why;
  }
}

}  // namespace
}  // namespace tw
