// The tidewave program as a user runs it: the lifecycle it drives (seen
// through the probe add-on), its outputs, and its errors.
#include "RunTidewave.h"
#include "output/Image.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string capture(const std::string& command);

using tw::test::kProbe;
using tw::test::Result;
using tw::test::tidewave;

fs::path scratch() {
  const fs::path dir = fs::temp_directory_path() / ("tw-host-cli-" + std::to_string(getpid()));
  fs::create_directories(dir);
  return dir;
}

std::vector<std::string> lines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> v;
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

TEST(Cli, LifecycleInOrder) {
  const fs::path log = scratch() / "probe.log";
  fs::remove(log);
  const Result r =
      tidewave(kProbe + " render --filter testprobe --fps 30 --seconds 0.1 --size 320x200 -o null",
               "TW_PROBE_LOG=" + log.string());
  ASSERT_EQ(r.rc, 0) << r.out;
  // The add-on names its filters, so the run is the filter's only load:
  // load, prepare with the geometry set, three frames, terminate, unload,
  // delete.
  const std::vector<std::string> expected = {"load 640 480 1",      "prepare 320 200 1", "frame 320 200 1",
                                             "frame 320 200 1",     "frame 320 200 1",   "terminate 320 200 1",
                                             "unload 320 200 1",    "delete 320 200 1"};
  EXPECT_EQ(lines(log), expected) << r.out;
  EXPECT_NE(r.out.find("TestProbe"), std::string::npos);  // the drawing-time report
}

TEST(Cli, PacesToRealTimeOnlyWhileAFilterWorksInTheBackground) {
  const std::string render = kProbe + " render --filter testprobe --fps 30 --seconds 0.2 -o null";
  const std::string note = "drawing at real-time pace";
  struct Case {
    std::string options, env;
    bool paced;
  } cases[] = {
      {"", "", false},
      {"", "TW_PROBE_BACKGROUND=1", true},
      {" --pace fast", "TW_PROBE_BACKGROUND=1", false},
  };
  for (const Case& c : cases) {
    const Result r = tidewave(render + c.options, c.env);
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(r.out.find(note) != std::string::npos, c.paced) << c.options << " " << c.env << "\n" << r.out;
  }
  EXPECT_NE(tidewave(render + " --pace slow").rc, 0);
}

TEST(Cli, StreamOnStdoutStaysCleanWhenAddOnsPrint) {
  // 3 frames of 320 x 200 at 30 fps; the probe prints on every load.
  const std::string cmd = "TW_PROBE_CHATTER=1 " + std::string(TW_TIDEWAVE) + " " + kProbe +
                          " render --filter testprobe --fps 30 --seconds 0.1 --size 320x200 -o - 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ASSERT_EQ(pclose(p), 0);
  const std::string header = "YUV4MPEG2 W320 H200 F30:1 Ip A1:1 C420jpeg\n";
  const size_t frameBytes = 6 + 320 * 200 + 2 * 160 * 100;
  ASSERT_EQ(out.size(), header.size() + 3 * frameBytes);
  EXPECT_EQ(out.compare(0, header.size(), header), 0);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(out.compare(header.size() + k * frameBytes, 6, "FRAME\n"), 0) << k;
}

TEST(Cli, ListShowsDescriptorAndParameters) {
  const Result r = tidewave(kProbe + " list");
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("\"TestProbe\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("records the host's calls"), std::string::npos);
  EXPECT_NE(r.out.find("\"Probe\" int32 7"), std::string::npos);
  EXPECT_NE(r.out.find("pixel modes: 8-bit (supportedModes 1)"), std::string::npos);
  EXPECT_NE(r.out.find("BEOS:TYPE"), std::string::npos);
}

TEST(Cli, ListingOnStdoutStaysCleanWhenAddOnsPrint) {
  const std::string cmd =
      "TW_PROBE_CHATTER=1 " + std::string(TW_TIDEWAVE) + " " + kProbe + " list 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ASSERT_EQ(pclose(p), 0);
  EXPECT_NE(out.find("\"TestProbe\""), std::string::npos) << out;
  EXPECT_EQ(out.find("probe: loaded"), std::string::npos) << out;
}

TEST(Cli, NotAnAddonIsReportedAndTheRestLoad) {
  const fs::path dir = scratch() / "mixed";
  fs::create_directories(dir);
  fs::copy_file(fs::path(TW_PROBE_DIR) / "TestProbe", dir / "TestProbe",
                fs::copy_options::overwrite_existing);
  std::ofstream(dir / "notes.txt") << "not an add-on";
  const Result r = tidewave("--add-ons " + dir.string() + " list");
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("notes.txt: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"TestProbe\""), std::string::npos);
}

TEST(Cli, Errors) {
  const fs::path dir = scratch();
  std::ofstream(dir / "noise.wav") << "this is not audio";
  const struct {
    std::string args, env, says;
  } cases[] = {
      {kProbe + " render --filter nosuch", "", "unknown filter \"nosuch\"; the filters are: \"TestProbe\""},
      {kProbe + " render --filter TestProbe --mode 32", "", "draws in 8-bit mode only"},
      {kProbe + " render --filter TestProbe /no/such.flac", "", "does not exist"},
      {kProbe + " render --filter TestProbe " + (dir / "noise.wav").string(), "", "cannot decode"},
      {kProbe + " render --filter TestProbe --size 12by4", "", "--size"},
      {kProbe + " render --filter TestProbe --video-size 1920", "",
       "--video-size '1920' is not WIDTHxHEIGHT"},
      {kProbe + " render --filter TestProbe --fit squash", "", "--fit"},
      {kProbe + " render --filter TestProbe --scale bicubic", "", "--scale"},
      {kProbe + " render --filter TestProbe --fps 0", "", "fps"},
      {kProbe + " render --filter TestProbe -o out.avi", "", "unknown output"},
      {kProbe + " render --filter TestProbe --seconds 0.1 -o /proc/nope/%05d.png", "", "cannot"},
      {kProbe + " render --filter TestProbe --start 99", "", "past the end"},
      {kProbe + " render --filter TestProbe -o x.mp4", "PATH=/nonexistent", "ffmpeg"},
      {kProbe + " render --filter TestProbe", "TW_PROBE_FAIL_LOAD=1", "failed to load"},
  };
  for (const auto& c : cases) {
    const Result r = tidewave(c.args, c.env);
    EXPECT_NE(r.rc, 0) << c.args;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
  }
}

TEST(Cli, PngFramesSheetAndReplay) {
  const fs::path dir = scratch() / "render";
  fs::remove_all(dir);
  const std::string rec = (dir / "sound.twrec").string();
  fs::create_directories(dir);
  Result r = tidewave("render --filter Ziduv --start 16 --seconds 0.25 --fps 20 -o " +
                      (dir / "a/%03d.png").string() + " --sheet " + (dir / "sheet.png").string() +
                      " --record " + rec);
  ASSERT_EQ(r.rc, 0) << r.out;
  tw::RgbImage img;
  std::string why;
  ASSERT_TRUE(tw::readPng((dir / "a/004.png").string(), &img, &why)) << why;
  EXPECT_EQ(img.width, 640);
  EXPECT_EQ(img.height, 480);
  EXPECT_FALSE(fs::exists(dir / "a/005.png"));
  // Ziduv's 8-bit trace (index 250, yellow) lies within rows 160 … 479.
  int yellow = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const uint8* p = img.at(x, y);
      if (p[0] == 0xDF && p[1] == 0xDF && p[2] == 0) yellow += y >= 160 ? 1 : 100000;
    }
  EXPECT_GT(yellow, 64);
  EXPECT_LT(yellow, 100000);
  ASSERT_TRUE(tw::readPng((dir / "sheet.png").string(), &img, &why)) << why;
  EXPECT_GT(img.width, 640);

  // Replaying the recording draws the same frames.
  r = tidewave("render --filter Ziduv --replay " + rec + " -o " + (dir / "b/%03d.png").string());
  ASSERT_EQ(r.rc, 0) << r.out;
  for (int i = 0; i < 5; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.png", i);
    std::ifstream a(dir / "a" / name, std::ios::binary), b(dir / "b" / name, std::ios::binary);
    std::stringstream sa, sb;
    sa << a.rdbuf(), sb << b.rdbuf();
    EXPECT_EQ(sa.str(), sb.str()) << name;
  }
  EXPECT_FALSE(fs::exists(dir / "b/005.png"));
}

// Longer than ffmpeg would read of one input before the other if left to
// probe them: the music comes only as far ahead of the pictures as the
// analysis runs, so a video of a few seconds once waited for ever.
TEST(Cli, VideoCarriesItsMusicWholeWhateverItsLength) {
  const fs::path dir = scratch() / "long-video";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path out = dir / "v.mp4";
  const Result r = tidewave("render --filter Ziduv --size 160x120 --seconds 8 --fps 30 -o " + out.string());
  ASSERT_EQ(r.rc, 0) << r.out;
  const std::string durations =
      capture("ffprobe -v error -show_entries stream=codec_type,duration -of csv=p=0 " + out.string());
  EXPECT_NE(durations.find("video,8.0"), std::string::npos) << durations;
  EXPECT_NE(durations.find("audio,8.0"), std::string::npos) << durations;
  fs::remove_all(dir);
}

TEST(Cli, FailedVideoLeavesNothing) {
  const fs::path dir = scratch() / "video";
  fs::remove_all(dir);
  fs::create_directories(dir);
  // A fake encoder that fails: the render reports it and leaves no file.
  const fs::path fake = dir / "ffmpeg";
  std::ofstream(fake) << "#!/bin/sh\ncat >/dev/null\nexit 1\n";
  fs::permissions(fake, fs::perms::owner_all);
  const Result r = tidewave("render --filter Ziduv --seconds 0.2 -o " + (dir / "v.mp4").string(),
                            "TIDEWAVE_FFMPEG=" + fake.string());
  EXPECT_NE(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("ffmpeg failed"), std::string::npos) << r.out;
  int left = 0;
  for (const auto& e : fs::directory_iterator(dir)) left += e.path().filename() != "ffmpeg";
  EXPECT_EQ(left, 0);
}

}  // namespace

namespace {

std::string capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(Cli, HdVideoOfA640x480FrameFillsTheHeight) {
  const fs::path video = scratch() / "hd.mp4";
  fs::remove(video);
  // The probe fills its frame with yellow: a 640x480 picture contained in
  // 1920x1080 is 1440x1080 from column 240.
  const Result r =
      tidewave(kProbe + " render --filter TestProbe --seconds 0.1 --fps 30 --video-size 1920x1080 -o " +
                   video.string(),
               "TW_PROBE_FILL=1");
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(capture("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 " +
                    video.string()),
            "1920,1080\n");
  const std::string y =
      capture("ffmpeg -v error -i " + video.string() + " -frames:v 1 -f rawvideo -pix_fmt gray -");
  ASSERT_EQ(y.size(), size_t(1920 * 1080));
  auto lit = [&](int x, int row) { return uint8(y[size_t(row) * 1920 + size_t(x)]) > 100; };
  for (int row = 0; row < 1080; ++row) {
    ASSERT_TRUE(lit(960, row)) << "row " << row;
    ASSERT_TRUE(lit(243, row) && lit(1676, row)) << "row " << row;
    ASSERT_FALSE(lit(236, row) || lit(1683, row)) << "row " << row;
  }
}

TEST(Cli, VideoSizeForStreamsPicturesAndSheets) {
  const fs::path dir = scratch() / "sizes";
  fs::remove_all(dir);
  fs::create_directories(dir);
  // YUV4MPEG2 at an odd size, stretched.
  const std::string y4m = capture(std::string(TW_TIDEWAVE) + " " + kProbe +
                                  " render --filter testprobe --fps 30 --seconds 0.1 --video-size 321x201 "
                                  "--fit stretch -o - 2>/dev/null");
  const std::string header = "YUV4MPEG2 W321 H201 F30:1 Ip A1:1 C420jpeg\n";
  EXPECT_EQ(y4m.compare(0, header.size(), header), 0) << y4m.substr(0, 60);
  EXPECT_EQ(y4m.size(), header.size() + 3 * (6 + 321 * 201 + 2 * 161 * 101));
  // PNG frames covered: the yellow fills every pixel; the sheet's tiles
  // take the video's shape, 320 x 180 for HD.
  Result r = tidewave(kProbe +
                          " render --filter TestProbe --fps 30 --seconds 0.1 --video-size 100x50 --fit cover "
                          "--scale smooth -o " +
                          (dir / "%03d.png").string(),
                      "TW_PROBE_FILL=1");
  ASSERT_EQ(r.rc, 0) << r.out;
  tw::RgbImage img;
  std::string why;
  ASSERT_TRUE(tw::readPng((dir / "002.png").string(), &img, &why)) << why;
  ASSERT_EQ(img.width, 100);
  ASSERT_EQ(img.height, 50);
  for (const auto& [x, yy] : {std::pair{0, 0}, std::pair{99, 49}, std::pair{50, 25}})
    EXPECT_EQ(img.at(x, yy)[0] << 16 | img.at(x, yy)[1] << 8 | img.at(x, yy)[2], 0xDFDF00) << x << "," << yy;
  r = tidewave(kProbe +
               " render --filter TestProbe --fps 30 --seconds 0.2 --video-size 1920x1080 -o null --sheet " +
               (dir / "sheet.png").string());
  ASSERT_EQ(r.rc, 0) << r.out;
  ASSERT_TRUE(tw::readPng((dir / "sheet.png").string(), &img, &why)) << why;
  EXPECT_EQ(img.width, 8 + 3 * (320 + 8));
}

}  // namespace
