// The plugin's elements in real GStreamer pipelines: what the registry lists,
// the cadence of the frames, frames equal to `tidewave render`'s, the fit to
// other video sizes, playbin, QoS, state changes, and the picture filters
// live.
#include "GstHarness.h"

#include "output/Sinks.h"

#include <gst/check/gstharness.h>
#include <gst/pbutils/gstaudiovisualizer.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tw::test::Capture;
using tw::test::FrameWatch;
using tw::test::gstScratch;
using tw::test::initGst;
using tw::test::parsePipeline;
using tw::test::playToEnd;

class GstElements : public ::testing::Test {
 protected:
  void SetUp() override { initGst(); }
};

int run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A 2-second WAV made by ffmpeg: a beating 220 Hz tone and a high partial
// (and a second voice on the right channel), 16-bit.
std::string makeWav(int channels, int rate) {
  const fs::path path =
      gstScratch() / ("sound-" + std::to_string(channels) + "-" + std::to_string(rate) + ".wav");
  if (fs::exists(path)) return path.string();
  const std::string left = "0.6*sin(2*PI*220*t)*(0.5+0.5*sin(2*PI*1.3*t))+0.2*sin(2*PI*3520*t)";
  const std::string right = "0.5*sin(2*PI*330*t+1)*lt(t\\,1.2)+0.3*sin(2*PI*880*t)*sin(2*PI*2*t)";
  const std::string exprs = channels == 1 ? left : left + "|" + right;
  const std::string ffmpeg = tw::findFfmpeg();
  EXPECT_FALSE(ffmpeg.empty()) << "the tests make their sound with ffmpeg, which is not on PATH";
  const std::string cmd = ffmpeg +
                          " -nostdin -hide_banner -loglevel error -y -f lavfi -i 'aevalsrc=exprs=" + exprs +
                          ":s=" + std::to_string(rate) + ":d=2' -c:a pcm_s16le '" + path.string() + "'";
  EXPECT_EQ(run(cmd), 0) << cmd;
  return path.string();
}

// `tidewave render`'s frames of the WAV, as PNG files in a folder.
fs::path renderFrames(const std::string& wav, const std::string& filter, int mode, int fps) {
  const fs::path dir =
      gstScratch() / ("render-" + fs::path(wav).stem().string() + "-" + std::to_string(mode) + "-" +
                      std::to_string(std::hash<std::string>()(filter)));
  fs::create_directories(dir);
  const std::string cmd = std::string(TW_TIDEWAVE) + " render '" + wav + "' --filter '" + filter +
                          "' --mode " + std::to_string(mode) + " --fps " + std::to_string(fps) +
                          " --size 640x480 -o '" + (dir / "%05d.png").string() + "' > '" +
                          (dir / "log").string() + "' 2>&1";
  EXPECT_EQ(run(cmd), 0) << cmd;
  return dir;
}

std::string pngPath(const fs::path& dir, int n) {
  char name[32];
  std::snprintf(name, sizeof name, "%05d.png", n);
  return (dir / name).string();
}

// Bytes of BGRx pixel (x, y) in a frame of the given width.
uint32_t pixel(const std::vector<uint8_t>& f, int width, int x, int y) {
  uint32_t v;
  std::memcpy(&v, &f[(size_t(y) * size_t(width) + size_t(x)) * 4], 4);
  return v & 0x00FFFFFF;
}

TEST_F(GstElements, EveryFilterIsAVisualizationElement) {
  // The descriptors the add-ons give (author, information text, hostFactor).
  struct Expected {
    const char* factory;
    const char* name;
    const char* author;
    const char* info;  // null: the author's mail address
    float persistence;
  };
  const std::vector<Expected> table = {
      {"tidewave-fft-scope", "FFT Scope", "Mornel", "Sample code", 0.79f},
      {"tidewave-fft-central", "FFT Central", "Mornel", "Sample code", 0.78f},
      {"tidewave-fft-2", "FFT 2", "Mornel", "Sample code", 0.79f},
      {"tidewave-dudozariri", "DudoZariri", "Mornel", "Sample code", 0.8f},
      {"tidewave-img-radezu", "Img Radezu", "Mornel", "Sample code", 0.7f},
      {"tidewave-ziduv", "Ziduv", "Mornel", "Sample code", 0.81f},
      {"tidewave-tidetorus", "TideTorus", "Orrel Dask", nullptr, 0.5f},
      {"tidewave-tessary", "Tessary", "Dravin Tobb AKA Kalu", "...", 0.5f},
      {"tidewave-vidivi-vadu", "Vidivi Vadu", "Brack & Mornel", "Da code", 0.0f},
      {"tidewave-devazo-davu", "Devazo Davu", "Tinker, Brack & Mornel", "Da code", 0.0f},
      {"tidewave-fft-moorvista", "FfT Moorvista", "Brack & Mornel", "Da code", 0.0f},
      {"tidewave-bi-moorvista", "Bi Moorvista", "Brack & Mornel", "Da code", 0.0f},
  };
  std::vector<std::string> want;
  for (const Expected& e : table) want.push_back(e.factory);
  std::sort(want.begin(), want.end());
  EXPECT_EQ(tw::test::tidewaveFactories(), want);
  for (const Expected& e : table) {
    SCOPED_TRACE(e.factory);
    GstElementFactory* f = gst_element_factory_find(e.factory);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_KLASS), "Visualization");
    EXPECT_EQ(std::string(gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_LONGNAME)),
              std::string("Tidewave ") + e.name);
    EXPECT_STREQ(gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_AUTHOR), e.author);
    if (e.info != nullptr) {
      EXPECT_STREQ(gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_DESCRIPTION), e.info);
    }
    GstElement* el = gst_element_factory_create(f, nullptr);
    ASSERT_NE(el, nullptr);
    EXPECT_TRUE(g_type_is_a(G_OBJECT_TYPE(el), GST_TYPE_AUDIO_VISUALIZER));
    int mode = 0;
    float persistence = -1;
    gchar* frameSize = nullptr;
    g_object_get(el, "mode", &mode, "persistence", &persistence, "frame-size", &frameSize, nullptr);
    EXPECT_EQ(mode, 8);  // every filter draws 8-bit frames
    EXPECT_FLOAT_EQ(persistence, e.persistence);
    EXPECT_STREQ(frameSize, "640x480");
    g_free(frameSize);
    gst_object_unref(el);
    gst_object_unref(f);
  }
}

TEST_F(GstElements, ExactlyOneFramePerFrameTimeWhateverTheBufferSize) {
  for (int spb : {256, 1024, 1764, 4096}) {
    SCOPED_TRACE("samplesperbuffer " + std::to_string(spb));
    GstElement* p =
        parsePipeline("audiotestsrc samplesperbuffer=" + std::to_string(spb) +
                      " ! audio/x-raw,rate=44100 ! tidewave-fft-scope ! video/x-raw,framerate=25/1 ! "
                      "fakesink name=sink sync=false");
    ASSERT_NE(p, nullptr);
    // Exactly two seconds of sound: a segment that stops there.
    ASSERT_NE(gst_element_set_state(p, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    ASSERT_EQ(gst_element_get_state(p, nullptr, nullptr, 60 * GST_SECOND), GST_STATE_CHANGE_SUCCESS);
    ASSERT_TRUE(gst_element_seek(p, 1.0, GST_FORMAT_TIME,
                                 GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                 GST_SEEK_TYPE_SET, 0, GST_SEEK_TYPE_SET, 2 * GST_SECOND));
    ASSERT_EQ(gst_element_get_state(p, nullptr, nullptr, 60 * GST_SECOND), GST_STATE_CHANGE_SUCCESS);
    Capture cap(p, "sink");
    EXPECT_EQ(playToEnd(p), "");
    const auto frames = cap.frames();
    // The frame prerolled after the seek is shown first when playing starts.
    ASSERT_EQ(frames.size(), 50u);
    for (size_t n = 0; n < frames.size(); ++n) EXPECT_EQ(frames[n].pts, n * GST_SECOND / 25) << "frame " << n;
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
  }
}

TEST_F(GstElements, FramesEqualRendersFramesInBothModes) {
  struct Case {
    const char* filter;
    const char* factory;
    int mode;
    const char* format;  // what reaches the element
    int channels, rate;
  };
  const std::vector<Case> cases = {
      {"FFT Central", "tidewave-fft-central", 8, "S16LE", 2, 44100},
      {"FFT Central", "tidewave-fft-central", 32, "F32LE", 2, 44100},
      {"Ziduv", "tidewave-ziduv", 8, "F32LE", 1, 48000},
      {"FFT 2", "tidewave-fft-2", 32, "S16LE", 1, 44100},
      {"TideTorus", "tidewave-tidetorus", 32, "S16LE", 2, 22050},
  };
  const std::vector<int> picks = {0, 12, 37, 49};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.factory) + " mode " + std::to_string(c.mode) + " " + c.format + " " +
                 std::to_string(c.channels) + " ch " + std::to_string(c.rate) + " Hz");
    const std::string wav = makeWav(c.channels, c.rate);
    const fs::path rendered = renderFrames(wav, c.filter, c.mode, 25);
    GstElement* p = parsePipeline("filesrc location=" + wav +
                                  " ! wavparse ! audioconvert ! audio/x-raw,format=" + c.format + " ! " +
                                  c.factory + " mode=" + std::to_string(c.mode) +
                                  " ! video/x-raw,framerate=25/1 ! fakesink name=sink sync=false");
    ASSERT_NE(p, nullptr);
    Capture cap(p, "sink", picks);
    EXPECT_EQ(playToEnd(p), "");
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    const auto frames = cap.frames();
    ASSERT_EQ(frames.size(), 50u);
    for (int n : picks) {
      int w = 0, h = 0;
      const std::vector<uint8_t> want = tw::test::pngAsBgrx(pngPath(rendered, n), &w, &h);
      ASSERT_EQ(w, 640);
      ASSERT_EQ(h, 480);
      const std::vector<uint8_t>& got = frames[size_t(n)].bytes;
      ASSERT_EQ(got.size(), want.size());
      size_t differ = 0, first = 0;
      for (size_t i = 0; i < got.size(); i += 4)
        if (pixel(got, 1, int(i / 4), 0) != pixel(want, 1, int(i / 4), 0) && differ++ == 0) first = i / 4;
      EXPECT_EQ(differ, 0u) << "frame " << n << ": " << differ << " pixels differ, the first at ("
                            << first % 640 << ", " << first / 640 << ")";
    }
  }
}

TEST_F(GstElements, OtherVideoSizesFitTheFrame) {
  const std::string wav = makeWav(2, 44100);
  const fs::path rendered = renderFrames(wav, "FFT Scope", 32, 25);
  int w = 0, h = 0;
  const int n = 20;
  const std::vector<uint8_t> frame = tw::test::pngAsBgrx(pngPath(rendered, n), &w, &h);
  auto source = [&](int x, int y) { return pixel(frame, 640, x, y); };
  struct Case {
    const char* fit;
    int width, height;
    // The rendered pixel each video pixel shows; false: a black border.
    std::function<bool(int, int, int*, int*)> from;
  };
  const std::vector<Case> cases = {
      {"contain", 800, 480,
       [](int x, int y, int* sx, int* sy) { return *sx = x - 80, *sy = y, x >= 80 && x < 720; }},
      {"contain", 1280, 960, [](int x, int y, int* sx, int* sy) { return *sx = x / 2, *sy = y / 2, true; }},
      {"cover", 640, 240, [](int x, int y, int* sx, int* sy) { return *sx = x, *sy = y + 120, true; }},
      {"stretch", 1280, 480, [](int x, int y, int* sx, int* sy) { return *sx = x / 2, *sy = y, true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fit) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
    GstElement* p =
        parsePipeline("filesrc location=" + wav + " ! wavparse ! tidewave-fft-scope mode=32 fit=" + c.fit +
                      " ! video/x-raw,framerate=25/1,width=" + std::to_string(c.width) +
                      ",height=" + std::to_string(c.height) + " ! fakesink name=sink sync=false");
    ASSERT_NE(p, nullptr);
    Capture cap(p, "sink", {n});
    EXPECT_EQ(playToEnd(p), "");
    gst_element_set_state(p, GST_STATE_NULL);
    gst_object_unref(p);
    const auto frames = cap.frames();
    ASSERT_EQ(frames.size(), 50u);
    const std::vector<uint8_t>& got = frames[n].bytes;
    ASSERT_EQ(got.size(), size_t(c.width) * size_t(c.height) * 4);
    size_t differ = 0;
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        int sx, sy;
        const uint32_t want = c.from(x, y, &sx, &sy) ? source(sx, sy) : 0;
        differ += pixel(got, c.width, x, y) != want;
      }
    EXPECT_EQ(differ, 0u);
  }

  // With downstream open, video-size says the size.
  GstElement* p =
      parsePipeline("audiotestsrc num-buffers=10 ! tidewave-ziduv video-size=320x200 ! fakesink name=sink");
  ASSERT_NE(p, nullptr);
  Capture cap(p, "sink");
  EXPECT_EQ(playToEnd(p), "");
  GstCaps* caps = cap.caps();
  ASSERT_NE(caps, nullptr);
  GstVideoInfo info;
  ASSERT_TRUE(gst_video_info_from_caps(&info, caps));
  EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 320);
  EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), 200);
  EXPECT_EQ(GST_VIDEO_INFO_FPS_N(&info), 60);  // the default rate
  EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&info), GST_VIDEO_FORMAT_BGRx);
  gst_caps_unref(caps);
  gst_element_set_state(p, GST_STATE_NULL);
  gst_object_unref(p);
}

TEST_F(GstElements, PlaybinPlaysToTheEndWithAFilterAsItsVisualisation) {
  const std::string wav = makeWav(2, 44100);
  GstElement* playbin = gst_element_factory_make("playbin", nullptr);
  ASSERT_NE(playbin, nullptr);
  GstElement* vis = gst_element_factory_make("tidewave-ziduv", nullptr);
  GstElement* video = gst_element_factory_make("fakesink", "video");
  GstElement* audio = gst_element_factory_make("fakesink", "audio");
  ASSERT_TRUE(vis && video && audio);
  gchar* uri = gst_filename_to_uri(wav.c_str(), nullptr);
  // The sound and its visualisation, as a player asks for them ("audio+vis";
  // GStreamer 1.22's playbin with "vis" alone can stall at the end with any
  // visualiser, its own goom included).
  gst_util_set_object_arg(G_OBJECT(playbin), "flags", "audio+vis");
  g_object_set(playbin, "uri", uri, "vis-plugin", vis, "video-sink", video, "audio-sink", audio, nullptr);
  g_free(uri);
  Capture cap(video);
  EXPECT_EQ(playToEnd(playbin), "");
  // 2 s at the default 60 frames per second.
  EXPECT_EQ(cap.frames().size(), 120u);
  gst_element_set_state(playbin, GST_STATE_NULL);
  gst_object_unref(playbin);
}

TEST_F(GstElements, LateFramesAreDroppedOnQosAndLaterOnesKeepTheirTimes) {
  GstHarness* h = gst_harness_new("tidewave-fft-scope");
  GstBus* bus = gst_bus_new();
  gst_element_set_bus(h->element, bus);
  gst_harness_set_src_caps_str(h,
                               "audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=2,"
                               "channel-mask=(bitmask)0x3");
  gst_harness_set_sink_caps_str(h,
                                "video/x-raw,format=BGRx,width=64,height=48,framerate=25/1,"
                                "pixel-aspect-ratio=1/1");
  auto push = [&](int first, int count) {  // blocks of one frame time (1764 samples)
    for (int b = first; b < first + count; ++b) {
      GstBuffer* buf = gst_buffer_new_allocate(nullptr, 1764 * 4, nullptr);
      gst_buffer_memset(buf, 0, 0, 1764 * 4);
      GST_BUFFER_PTS(buf) = gst_util_uint64_scale(guint64(b) * 1764, GST_SECOND, 44100);
      GST_BUFFER_DURATION(buf) = GST_SECOND / 25;
      ASSERT_EQ(gst_harness_push(h, buf), GST_FLOW_OK);
    }
  };
  auto pulled = [&] {
    std::vector<GstClockTime> pts;
    while (GstBuffer* b = gst_harness_try_pull(h)) {
      pts.push_back(GST_BUFFER_PTS(b));
      gst_buffer_unref(b);
    }
    return pts;
  };
  push(0, 10);  // 0.4 s: frames 0 … 9 are in
  ASSERT_EQ(pulled().size(), 10u);
  // Frame 9 (0.36 s) was shown 0.2 s late: GStreamer's rule skips what ends
  // before 0.36 + 2 × 0.2 + one frame = 0.8 s, that is frames 10 … 19.
  ASSERT_TRUE(gst_harness_push_upstream_event(
      h, gst_event_new_qos(GST_QOS_TYPE_UNDERFLOW, 1.0, GST_SECOND / 5, 9 * GST_SECOND / 25)));
  push(10, 20);  // to 1.2 s: frames 10 … 29
  const std::vector<GstClockTime> pts = pulled();
  ASSERT_EQ(pts.size(), 10u);
  for (size_t i = 0; i < pts.size(); ++i) EXPECT_EQ(pts[i], (20 + i) * GST_SECOND / 25);
  int qos = 0;
  while (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_QOS)) {
    ++qos;
    gst_message_unref(m);
  }
  EXPECT_EQ(qos, 10);
  gst_element_set_bus(h->element, nullptr);
  gst_object_unref(bus);
  gst_harness_teardown(h);
}

// GStreamer's generic state test: every element alone, up and down through
// the states, repeatedly; the ASan build checks that nothing leaks.
TEST_F(GstElements, StateChangesUpAndDownRepeatedly) {
  const GstState order[] = {GST_STATE_NULL, GST_STATE_READY, GST_STATE_PAUSED, GST_STATE_PLAYING};
  for (const std::string& name : tw::test::tidewaveFactories()) {
    SCOPED_TRACE(name);
    GstElement* e = gst_element_factory_make(name.c_str(), nullptr);
    ASSERT_NE(e, nullptr);
    for (int round = 0; round < 2; ++round) {
      for (int s = 1; s < 4; ++s) EXPECT_NE(gst_element_set_state(e, order[s]), GST_STATE_CHANGE_FAILURE);
      for (int s = 2; s >= 0; --s) EXPECT_NE(gst_element_set_state(e, order[s]), GST_STATE_CHANGE_FAILURE);
    }
    EXPECT_NE(gst_element_set_state(e, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    for (int round = 0; round < 3; ++round) {
      EXPECT_NE(gst_element_set_state(e, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
      EXPECT_NE(gst_element_set_state(e, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    }
    EXPECT_EQ(gst_element_set_state(e, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    gst_object_unref(e);
  }
}

TEST_F(GstElements, StoppingWhileFramesFlowIsClean) {
  for (const char* name :
       {"tidewave-fft-scope", "tidewave-img-radezu", "tidewave-tessary", "tidewave-vidivi-vadu"}) {
    SCOPED_TRACE(name);
    for (int round = 0; round < 2; ++round) {
      GstElement* p =
          parsePipeline(std::string("audiotestsrc ! ") + name + " ! fakesink name=sink sync=false");
      ASSERT_NE(p, nullptr);
      int seen = 0;
      {
        FrameWatch watch(p, [](const uint8_t*, size_t) { return true; });
        ASSERT_NE(gst_element_set_state(p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        EXPECT_TRUE(watch.wait(60));
        seen = watch.frames();
        EXPECT_EQ(gst_element_set_state(p, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
      }
      EXPECT_GT(seen, 0);
      gst_object_unref(p);
    }
  }
}

TEST_F(GstElements, PictureFiltersShowPicturesInALivePipeline) {
  // Pictures load on the filters' own threads, by the wall clock: a live
  // source gives them time. A frame at least a quarter of whose pixels are
  // not black is a picture.
  for (const char* name : {"tidewave-img-radezu", "tidewave-tessary"}) {
    SCOPED_TRACE(name);
    GstElement* p = parsePipeline(std::string("audiotestsrc is-live=true wave=pink-noise ! ") + name +
                                  " ! video/x-raw,framerate=10/1 ! fakesink name=sink");
    ASSERT_NE(p, nullptr);
    {
      FrameWatch watch(p, [](const uint8_t* data, size_t size) {
        size_t lit = 0;
        for (size_t i = 0; i + 4 <= size; i += 4) lit += (data[i] | data[i + 1] | data[i + 2]) != 0;
        return lit * 4 >= size / 4;
      });
      ASSERT_NE(gst_element_set_state(p, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
      EXPECT_TRUE(watch.wait(60)) << watch.frames() << " frames, none a picture";
      gst_element_set_state(p, GST_STATE_NULL);
    }
    gst_object_unref(p);
  }
}

TEST_F(GstElements, ModeAFilterDoesNotDrawFailsTheStateChangeWithAReason) {
  GstElement* p = parsePipeline("audiotestsrc num-buffers=5 ! tidewave-tessary mode=32 ! fakesink");
  ASSERT_NE(p, nullptr);
  const std::string why = playToEnd(p);
  EXPECT_NE(why.find("mode=8"), std::string::npos) << why;
  gst_element_set_state(p, GST_STATE_NULL);
  gst_object_unref(p);
}

}  // namespace
