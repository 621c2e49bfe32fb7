// The file decoder (openSoundFile) over fixtures the ffmpeg program makes at
// test time from known signals, in a scratch folder removed at exit:
// formats and containers, standard input, exact seeks, damage, channel
// mixing and levels, bounded memory; and writeWav read back.
#include "engine/Analysis.h"
#include "engine/Sound.h"
#include "engine/SoundSource.h"
#include "output/Sinks.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define TW_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TW_ASAN 1
#endif
#endif
#ifdef TW_ASAN
// The sanitizer runtime's own count (GCC ships no header declaring it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace fs = std::filesystem;

namespace {

fs::path scratchDir;

class ScratchFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    char name[] = "/tmp/tw-sound-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    scratchDir = name;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(scratchDir, ec);
  }
};
[[maybe_unused]] const auto* const kScratch = ::testing::AddGlobalTestEnvironment(new ScratchFolder);

// Makes scratchDir/name with `ffmpeg <args> name` (once per process).
fs::path make(const std::string& name, const std::string& args) {
  const fs::path out = scratchDir / name;
  if (fs::exists(out)) return out;
  const std::string ffmpeg = tw::findFfmpeg();
  EXPECT_FALSE(ffmpeg.empty()) << "the tests make their fixtures with ffmpeg, which is not on PATH";
  const std::string cmd =
      ffmpeg + " -nostdin -hide_banner -loglevel error -y " + args + " '" + out.string() + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return out;
}

// A lavfi input of the expressions (one per channel, '|' between), `seconds`
// long.
std::string signal(const std::string& exprs, int rate, double seconds, const std::string& layout = "") {
  char text[1024];
  std::snprintf(text, sizeof text, "-f lavfi -i \"aevalsrc='%s':s=%d:d=%g%s\"", exprs.c_str(), rate, seconds,
                layout.empty() ? "" : (":c=" + layout).c_str());
  return text;
}

std::string tone(double hz, double amplitude = 0.5) {
  char text[96];
  std::snprintf(text, sizeof text, "%g*sin(2*PI*%.12g*t)", amplitude, hz);
  return text;
}

// A signal that never repeats, so that a sample out of place shows: a chirp
// on each channel, different on each.
std::string chirps(int rate, double seconds) {
  return signal("0.3*sin(2*PI*(300*t+500*t*t))|0.3*sin(2*PI*(700*t+300*t*t))", rate, seconds);
}

struct Decoded {
  int rate = 0;
  bool stereo = false;
  int64_t hint = 0;
  std::vector<float> left, right;
  std::string problem;
  int64_t frames() const { return int64_t(left.size()); }
};

// Reads `most` samples (all by default) in blocks of `block`.
void readInto(tw::SoundSource& source, Decoded* d, int64_t most = INT64_MAX, int block = 1000) {
  std::vector<float> l(static_cast<size_t>(block)), r(static_cast<size_t>(block));
  for (int64_t done = 0; done < most;) {
    const int got = source.read(l.data(), r.data(), int(std::min<int64_t>(block, most - done)));
    if (got <= 0) break;
    d->left.insert(d->left.end(), l.begin(), l.begin() + got);
    d->right.insert(d->right.end(), r.begin(), r.begin() + got);
    done += got;
  }
  d->problem = source.problem();
}

std::unique_ptr<tw::SoundSource> openOrFail(const fs::path& path) {
  std::string why;
  std::unique_ptr<tw::SoundSource> s = tw::openSoundFile(path.string(), &why);
  EXPECT_TRUE(s) << why;
  return s;
}

Decoded decodeFile(const fs::path& path) {
  Decoded d;
  std::unique_ptr<tw::SoundSource> s = openOrFail(path);
  if (!s) return d;
  d.rate = s->sampleRate(), d.stereo = s->stereo(), d.hint = s->lengthHint();
  readInto(*s, &d);
  return d;
}

// Largest difference between a[at, at + n) and b[0, n) on both channels.
float largestDifference(const Decoded& a, int64_t at, const Decoded& b) {
  float worst = 0;
  for (size_t i = 0; i < b.left.size(); ++i) {
    worst = std::max(worst, std::abs(a.left[size_t(at) + i] - b.left[i]));
    worst = std::max(worst, std::abs(a.right[size_t(at) + i] - b.right[i]));
  }
  return worst;
}

// The bin with the largest spectrum value of one channel, bins 1 … 512.
int peakBin(const tw::SoundFrame& f, int channel) {
  const auto& s = f.spectrum[size_t(channel)];
  return int(std::max_element(s.begin() + 1, s.end()) - s.begin());
}

bool oneLine(const std::string& text) { return !text.empty() && text.find('\n') == std::string::npos; }

// Standard input replaced by the output of a shell command while it lives.
class StdinFrom {
 public:
  explicit StdinFrom(const std::string& cmd) : pipe_(popen(cmd.c_str(), "r")), saved_(dup(0)) {
    if (pipe_) dup2(fileno(pipe_), 0);
  }
  ~StdinFrom() {
    dup2(saved_, 0);
    close(saved_);
    if (pipe_) pclose(pipe_);
  }
  bool ok() const { return pipe_ != nullptr && saved_ >= 0; }

 private:
  FILE* pipe_;
  int saved_;
};

// Bytes of the heap in use, by the sanitizer's allocator when it owns the
// heap.
size_t heapInUse() {
#ifdef TW_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

TEST(SoundFile, EachFormatDecodesAtItsRateWithItsTonesOnTheirChannels) {
  const std::string video = "-f lavfi -i testsrc=s=64x48:r=10:d=2 ";
  const struct {
    std::string name, input, codec;  // input: what comes before the signal
    int rate, channels, decodedRate;
  } cases[] = {
      {"s16.wav", "", "-c:a pcm_s16le", 44100, 2, 44100},
      {"s.flac", "", "-c:a flac", 48000, 2, 48000},
      {"s.ogg", "", "-c:a libvorbis", 44100, 2, 44100},
      {"s.opus", "", "-c:a libopus -b:a 128k", 48000, 2, 48000},
      {"s.mp3", "", "-c:a libmp3lame -b:a 192k", 44100, 2, 44100},
      {"aac.m4a", "", "-c:a aac -b:a 192k", 44100, 2, 44100},
      {"alac.m4a", "", "-c:a alac", 44100, 2, 44100},
      {"video.mkv", video, "-map 0:v -map 1:a -c:v mpeg4 -c:a libvorbis", 44100, 2, 44100},
      {"video.mp4", video, "-map 0:v -map 1:a -c:v mpeg4 -c:a aac", 48000, 2, 48000},
      {"mono.wav", "", "-c:a pcm_s16le", 22050, 1, 22050},
      {"51.flac", "", "-c:a flac", 48000, 6, 48000},
      {"8k.mp3", "", "-c:a libmp3lame", 8000, 2, 8000},
      {"384k.flac", "", "-c:a flac", 384000, 2, 384000},
  };
  const double seconds = 2;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Tones on a bin's centre at the decoded rate: about 1 kHz on the left
    // (and in mono), 1.6 kHz on the right.
    const int n = tw::Analyzer::fftSizeFor(c.decodedRate);
    const int binL = int(std::lround(1000.0 * n / c.decodedRate));
    const int binR = c.channels == 1 ? binL : int(std::lround(1600.0 * n / c.decodedRate));
    const std::string l = tone(double(binL) * c.decodedRate / n), r = tone(double(binR) * c.decodedRate / n);
    std::string exprs = c.channels == 1 ? l : l + "|" + r;
    if (c.channels == 6) exprs += "|0|0|0|0";  // 5.1: the tones in front, the rest silent
    const std::string layout = c.channels == 6 ? "5.1" : "";
    const fs::path file = make(c.name, c.input + signal(exprs, c.rate, seconds, layout) + " " + c.codec);
    const Decoded d = decodeFile(file);
    EXPECT_EQ(d.rate, c.decodedRate);
    EXPECT_EQ(d.stereo, c.channels >= 2);
    EXPECT_EQ(d.problem, "");
    // Lossy coders add up to a few thousand samples of delay and padding.
    const double slack = 0.02 * d.rate + 4096;
    EXPECT_NEAR(double(d.frames()), seconds * d.rate, slack);
    EXPECT_NEAR(double(d.hint), seconds * d.rate, slack);
    if (d.frames() < d.rate) continue;

    tw::Sound sound;
    sound.sampleRate = d.rate;
    sound.left = d.left, sound.right = d.right;
    tw::Analyzer analyzer(d.rate);
    tw::SoundFrame frame;
    analyzer.analyse(sound, d.frames() / 2, &frame);
    EXPECT_EQ(peakBin(frame, 0), binL);
    EXPECT_EQ(peakBin(frame, 1), binR);
  }
}

// Sample 0 is the first sample a read from the start gives; a seek lands
// where a sequential read stands at that index, sample for sample, forward
// and backward, whatever the decoder's delay and priming.
TEST(SoundFile, SeeksLandOnTheSampleASequentialReadGives) {
  const struct {
    std::string name, codec;
    int rate;
    float tolerance;  // 0: bit-exact
  } cases[] = {
      {"seek.wav", "-c:a pcm_s16le", 44100, 0},
      {"seek.flac", "-c:a flac -sample_fmt s32", 48000, 0},
      {"seek.ogg", "-c:a libvorbis", 44100, 0},
      {"seek.mp3", "-c:a libmp3lame", 44100, 0},
      {"seek.m4a", "-c:a aac -aac_pns 0", 44100, 0},
      // Noise substitution draws from the decoder's noise generator, which
      // a seek starts afresh: the noise differs, nothing else.
      {"seek-pns.m4a", "-c:a aac -aac_pns 1", 44100, 4},
      {"seek-alac.m4a", "-c:a alac", 44100, 0},
      {"seek.opus", "-c:a libopus", 48000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = make(c.name, chirps(c.rate, 6) + " " + c.codec);
    const Decoded whole = decodeFile(file);
    const int64_t length = whole.frames();
    ASSERT_GT(length, 5 * c.rate);
    std::unique_ptr<tw::SoundSource> s = openOrFail(file);
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->canSeek());
    Decoded first;
    readInto(*s, &first, 3000);
    // Far ahead, back, back to the start, a short hop ahead, near the end.
    const int r = c.rate;
    for (int64_t at : {int64_t(4) * r + 17, int64_t(r) / 3 + 1, int64_t(0), int64_t(2) * r + 1023,
                       int64_t(2) * r + 1023 + 2500, int64_t(r) + 1, length - 700}) {
      SCOPED_TRACE(at);
      std::string why;
      ASSERT_TRUE(s->seek(at, &why)) << why;
      Decoded got;
      readInto(*s, &got, 2000, 333);
      ASSERT_EQ(got.frames(), std::min<int64_t>(2000, length - at));
      EXPECT_LE(largestDifference(whole, at, got), c.tolerance);
    }
    std::string why;
    EXPECT_TRUE(s->seek(length, &why)) << why;
    float l, rr;
    EXPECT_EQ(s->read(&l, &rr, 1), 0);
    EXPECT_FALSE(s->seek(-1, &why));
    EXPECT_TRUE(oneLine(why)) << why;
    EXPECT_EQ(s->problem(), "");
  }
}

// "-" reads standard input: a file's bytes, or ffmpeg writing WAV of unknown
// length into a pipe; the same samples as the file. It seeks forward only.
TEST(SoundFile, StandardInputDecodesTheSameSamplesAndSeeksForwardOnly) {
  const fs::path ogg = make("stdin.ogg", chirps(44100, 4) + " -c:a libvorbis");
  const fs::path flac = make("stdin.flac", chirps(44100, 4) + " -c:a flac -sample_fmt s16");
  const std::string ffmpeg = tw::findFfmpeg();
  const struct {
    fs::path file;
    std::string command;
  } cases[] = {
      {ogg, "cat '" + ogg.string() + "'"},
      // (It stops with a broken pipe when the test stops reading early.)
      {flac, ffmpeg + " -nostdin -loglevel quiet -i '" + flac.string() + "' -f wav -"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const Decoded file = decodeFile(c.file);
    for (bool seeking : {false, true}) {
      StdinFrom in(c.command);
      ASSERT_TRUE(in.ok());
      std::string why;
      std::unique_ptr<tw::SoundSource> s = tw::openSoundFile("-", &why);
      ASSERT_TRUE(s) << why;
      EXPECT_EQ(s->name(), "-");
      EXPECT_FALSE(s->canSeek());
      EXPECT_EQ(s->lengthHint(), -1);
      EXPECT_EQ(s->sampleRate(), file.rate);
      if (!seeking) {
        Decoded piped;
        readInto(*s, &piped);
        EXPECT_EQ(piped.left, file.left);
        EXPECT_EQ(piped.right, file.right);
        EXPECT_EQ(piped.problem, "");
        continue;
      }
      Decoded before;
      readInto(*s, &before, 5000);
      const int64_t at = 44100 * 2 + 11;
      ASSERT_TRUE(s->seek(at, &why)) << why;
      Decoded got;
      readInto(*s, &got, 3000);
      ASSERT_EQ(got.frames(), 3000);
      EXPECT_EQ(largestDifference(file, at, got), 0);
      EXPECT_FALSE(s->seek(100, &why));
      EXPECT_TRUE(oneLine(why) && why.find("standard input") != std::string::npos) << why;
      // A refused seek leaves the reader where it was.
      Decoded after;
      readInto(*s, &after, 1000);
      ASSERT_EQ(after.frames(), 1000);
      EXPECT_EQ(largestDifference(file, at + 3000, after), 0);
    }
  }
}

// A file that breaks off delivers what it holds, sample for sample, and says
// where it stopped; the length its header promised tells it ended early.
TEST(SoundFile, TruncatedFileDeliversWhatItHoldsAndSaysWhereItStopped) {
  const struct {
    std::string name, codec;
    float tolerance;
  } cases[] = {
      {"cut.wav", "-c:a pcm_s16le", 0},
      {"cut.flac", "-c:a flac", 0},
      {"cut.mp3", "-c:a libmp3lame", 0},
      {"cut.m4a", "-c:a aac -movflags +faststart", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path whole = make(c.name, chirps(44100, 6) + " " + c.codec);
    const fs::path cut = scratchDir / ("short-" + c.name);
    fs::copy_file(whole, cut, fs::copy_options::overwrite_existing);
    fs::resize_file(cut, fs::file_size(whole) / 2);
    const Decoded intact = decodeFile(whole), got = decodeFile(cut);
    EXPECT_GT(got.frames(), intact.frames() / 3);
    EXPECT_LT(got.frames(), intact.frames() * 2 / 3);
    // The last frame decoded may be the broken one; up to it, every sample.
    const int64_t sure = std::max<int64_t>(0, got.frames() - 4096);
    Decoded head = got;
    head.left.resize(size_t(sure)), head.right.resize(size_t(sure));
    EXPECT_LE(largestDifference(intact, 0, head), c.tolerance);
    EXPECT_TRUE(oneLine(got.problem)) << got.problem;
    EXPECT_EQ(got.problem.rfind("decoding stopped at ", 0), 0u) << got.problem;
    EXPECT_NE(got.problem.find("ends early"), std::string::npos) << got.problem;
  }
}

// Garbage over a stretch in the middle: the rest decodes in its place (the
// lost stretch comes back as silence, so the end stays where it was), and
// one line says where it skipped.
TEST(SoundFile, DamagedStretchIsSkippedWithTimeKept) {
  const struct {
    std::string name, codec;
  } cases[] = {
      {"hurt.flac", "-c:a flac"},
      {"hurt.ogg", "-c:a libvorbis"},
      {"hurt.m4a", "-c:a aac -aac_pns 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int rate = 44100;
    const fs::path whole = make(c.name, chirps(rate, 8) + " " + c.codec);
    const fs::path hurt = scratchDir / ("damaged-" + c.name);
    fs::copy_file(whole, hurt, fs::copy_options::overwrite_existing);
    const auto size = fs::file_size(hurt);
    {
      std::fstream f(hurt, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(std::streamoff(size * 2 / 5));
      unsigned x = 12345;
      for (int i = 0; i < 6000; ++i) f.put(char((x = x * 1103515245u + 12345u) >> 23));
    }
    const Decoded intact = decodeFile(whole), got = decodeFile(hurt);
    ASSERT_NEAR(double(got.frames()), double(intact.frames()), 4096);
    // The last two seconds, far from the damage, line up exactly.
    Decoded tail;
    const int64_t from = intact.frames() - 2 * rate;
    tail.left.assign(got.left.begin() + from, got.left.begin() + from + 2 * rate);
    tail.right.assign(got.right.begin() + from, got.right.begin() + from + 2 * rate);
    EXPECT_EQ(largestDifference(intact, from, tail), 0);
    EXPECT_TRUE(oneLine(got.problem)) << got.problem;
    EXPECT_NE(got.problem.find("skipped"), std::string::npos) << got.problem;
    // Said near where the bytes were hit (about two fifths in).
    const size_t at = got.problem.find("(sample ");
    ASSERT_NE(at, std::string::npos) << got.problem;
    const double where = std::stod(got.problem.substr(at + 8)) / double(intact.frames());
    EXPECT_GT(where, 0.2) << got.problem;
    EXPECT_LT(where, 0.6) << got.problem;
  }
}

TEST(SoundFile, WhatCannotBeOpenedIsNamedInOneLine) {
  std::ofstream(scratchDir / "notes.txt") << "plain text, not sound\n";
  make("silent.mkv", "-f lavfi -i testsrc=s=64x48:r=10:d=1 -c:v mpeg4");
  fs::create_directories(scratchDir / "folder.wav");
  const struct {
    std::string path, says;
  } cases[] = {
      {(scratchDir / "missing.flac").string(), "does not exist"},
      {(scratchDir / "notes.txt").string(), "is not a sound or video file"},
      {(scratchDir / "silent.mkv").string(), "has no audio stream"},
      {(scratchDir / "folder.wav").string(), "cannot"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(tw::openSoundFile(c.path, &why), nullptr) << c.path;
    EXPECT_TRUE(oneLine(why)) << why;
    EXPECT_NE(why.find("'" + c.path + "'"), std::string::npos) << why;
    EXPECT_NE(why.find(c.says), std::string::npos) << why;
  }
}

// 16-bit samples come out as themselves; mono on both channels at full
// level; 5.1 mixed down: front at full level, centre and surrounds at −3 dB
// to their side, LFE dropped, clamped. Constant levels the WAV holds exactly
// (x × 32768), the second half loud enough to clamp.
TEST(SoundFile, MonoAtFullLevelAndSurroundMixedDownToStereo) {
  const double side = std::sqrt(0.5);
  const auto at = [](double a, double b) {
    return "if(lt(t,0.5)," + std::to_string(a) + "," + std::to_string(b) + ")";
  };
  const fs::path mono = make("level-mono.wav", signal(at(0.25, -0.5), 8000, 1, "mono") + " -c:a pcm_s16le");
  const std::string loud = at(0.25, 0.9) + "|" + at(-0.125, -0.9) + "|" + at(0.0625, 0) + "|" + at(0.5, 0.9) +
                           "|" + at(0.03125, 0.9) + "|" + at(-0.25, -0.9);
  const struct {
    fs::path file;
    double left[2], right[2];  // first half, second half
  } cases[] = {
      {mono, {8192, -16384}, {8192, -16384}},
      {make("level-51.wav", signal(loud, 8000, 1, "5.1") + " -c:a pcm_s16le"),
       {8192 + side * (2048 + 1024), 32767},
       {-4096 + side * (2048 - 8192), -32768}},
      {make("level-51side.wav", signal(loud, 8000, 1, "5.1(side)") + " -c:a pcm_s16le"),
       {8192 + side * (2048 + 1024), 32767},
       {-4096 + side * (2048 - 8192), -32768}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.filename().string());
    const Decoded d = decodeFile(c.file);
    ASSERT_EQ(d.frames(), 8000);
    for (int half = 0; half < 2; ++half) {
      for (int64_t i = half * 4000; i < (half + 1) * 4000; i += 97) {
        ASSERT_NEAR(d.left[size_t(i)], c.left[half], 0.5) << i;
        ASSERT_NEAR(d.right[size_t(i)], c.right[half], 0.5) << i;
      }
    }
  }
}

// An hour of sound read through: the heap in use stays within 2 MiB of where
// it was after the first minute (FFmpeg's seek index, which it keeps under
// 1 MiB, is what grows at all; a decoder that kept what it decoded would
// grow by 230 MB, one that kept a minute by 4 MB). Measured by the
// allocator's own count, which ASan keeps too.
TEST(SoundFile, MemoryStaysFlatOverAnHour) {
  const fs::path minute = make("minute.ogg", "-f lavfi -i sine=f=440:r=8000:d=60 -c:a libvorbis -q:a 0");
  const fs::path hour = make("hour.ogg", "-stream_loop 59 -i '" + minute.string() + "' -c copy");
  std::unique_ptr<tw::SoundSource> s = openOrFail(hour);
  ASSERT_TRUE(s);
  EXPECT_NEAR(double(s->lengthHint()), 3600.0 * 8000, 8000);
  std::vector<float> l(4096), r(4096);
  int64_t total = 0;
  for (int got; total < 60 * 8000 && (got = s->read(l.data(), r.data(), 4096)) > 0;) total += got;
  const size_t settled = heapInUse();
  size_t highest = settled;
  for (int got; (got = s->read(l.data(), r.data(), 4096)) > 0;) {
    total += got;
    highest = std::max(highest, heapInUse());
  }
  EXPECT_NEAR(double(total), 3600.0 * 8000, 8000);
  EXPECT_LT(highest - settled, size_t(2) << 20) << "the heap grew while reading";
  EXPECT_EQ(s->problem(), "");
}

// writeWav makes a 16-bit stereo file FFmpeg reads back as written: values
// truncated toward zero and clamped, silence outside the sound.
TEST(SoundFile, WriteWavReadsBackAsWritten) {
  tw::Sound sound;
  sound.sampleRate = 22050;
  sound.stereo = true;
  sound.left = {1.7f, -1.7f, 40000.0f, -40000.0f, 32767.0f, -32768.0f, 5.0f};
  sound.right = {-3.0f, 3.0f, 0.4f, -0.4f, 123.0f, -123.0f, 6.0f};
  const fs::path out = scratchDir / "written.wav";
  std::string why;
  // Two samples before the sound, all of it, one after.
  ASSERT_TRUE(tw::writeWav(out.string(), sound, -2, 10, &why)) << why;
  EXPECT_EQ(fs::file_size(out), 44u + 10u * 4u);
  const Decoded d = decodeFile(out);
  EXPECT_EQ(d.rate, 22050);
  EXPECT_TRUE(d.stereo);
  EXPECT_EQ(d.left, (std::vector<float>{0, 0, 1, -1, 32767, -32768, 32767, -32768, 5, 0}));
  EXPECT_EQ(d.right, (std::vector<float>{0, 0, -3, 3, 0, 0, 123, -123, 6, 0}));
  EXPECT_FALSE(tw::writeWav((scratchDir / "no" / "such.wav").string(), sound, 0, 1, &why));
  EXPECT_TRUE(oneLine(why)) << why;
}

}  // namespace
