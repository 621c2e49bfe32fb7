#include "GstHarness.h"

#include "output/Image.h"

#include <gst/video/video.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace tw::test {
namespace fs = std::filesystem;

namespace {

// Removes the scratch folder when the process ends.
struct Scratch {
  fs::path dir;
  Scratch() {
    dir = fs::temp_directory_path() / ("tw-gst-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

}  // namespace

const fs::path& gstScratch() {
  static Scratch scratch;
  return scratch.dir;
}

void initGst(const std::vector<std::string>& env) {
  static bool done = false;
  if (done) return;
  done = true;
  setenv("GST_REGISTRY", (gstScratch() / "registry.bin").c_str(), 1);
  setenv("GST_PLUGIN_PATH", TW_GST_PLUGIN_DIR, 1);
  // An ASan build of the plugin cannot be loaded into GStreamer's own
  // (uninstrumented) scanner program: scan here instead.
  setenv("GST_REGISTRY_FORK", "no", 1);
  setenv("GST_REGISTRY_UPDATE", "yes", 1);
  unsetenv("TIDEWAVE_ADDON_PATH");
  unsetenv("TIDEWAVE_PROBE_TIMEOUT");
  for (const std::string& e : env) {
    const size_t eq = e.find('=');
    const std::string name = e.substr(0, eq), value = e.substr(eq + 1);
    if (value.empty())
      unsetenv(name.c_str());
    else
      setenv(name.c_str(), value.c_str(), 1);
  }
  gst_init(nullptr, nullptr);
}

Capture::Capture(GstElement* pipeline, const char* name, std::vector<int> keep, bool keepAll)
    : sink_(gst_bin_get_by_name(GST_BIN(pipeline), name)), keep_(std::move(keep)), keepAll_(keepAll) {
  EXPECT_NE(sink_, nullptr) << "no element named " << name;
  if (sink_ == nullptr) return;
  g_object_set(sink_, "signal-handoffs", TRUE, nullptr);
  handler_ = g_signal_connect(sink_, "handoff", G_CALLBACK(onHandoff), this);
}

Capture::Capture(GstElement* sink) : sink_(GST_ELEMENT(gst_object_ref(sink))), keepAll_(false) {
  g_object_set(sink_, "signal-handoffs", TRUE, nullptr);
  handler_ = g_signal_connect(sink_, "handoff", G_CALLBACK(onHandoff), this);
}

Capture::~Capture() {
  if (sink_) {
    g_signal_handler_disconnect(sink_, handler_);
    gst_object_unref(sink_);
  }
  if (caps_) gst_caps_unref(caps_);
}

void Capture::onHandoff(GstElement*, GstBuffer* buffer, GstPad* pad, gpointer self) {
  auto* c = static_cast<Capture*>(self);
  std::lock_guard lock(c->mutex_);
  Frame f;
  f.pts = GST_BUFFER_PTS(buffer);
  const int index = int(c->frames_.size());
  if (c->keepAll_ || std::find(c->keep_.begin(), c->keep_.end(), index) != c->keep_.end()) {
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      f.bytes.assign(map.data, map.data + map.size);
      gst_buffer_unmap(buffer, &map);
    }
  }
  c->frames_.push_back(std::move(f));
  if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
    if (c->caps_) gst_caps_unref(c->caps_);
    c->caps_ = caps;
  }
}

std::vector<Frame> Capture::frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

GstCaps* Capture::caps() const {
  std::lock_guard lock(mutex_);
  return caps_ ? gst_caps_ref(caps_) : nullptr;
}

FrameWatch::FrameWatch(GstElement* pipeline, std::function<bool(const uint8_t*, size_t)> accept)
    : sink_(gst_bin_get_by_name(GST_BIN(pipeline), "sink")), accept_(std::move(accept)) {
  EXPECT_NE(sink_, nullptr) << "no element named sink";
  if (sink_ == nullptr) return;
  g_object_set(sink_, "signal-handoffs", TRUE, nullptr);
  handler_ = g_signal_connect(sink_, "handoff", G_CALLBACK(onHandoff), this);
}

FrameWatch::~FrameWatch() {
  if (sink_ == nullptr) return;
  g_signal_handler_disconnect(sink_, handler_);
  gst_object_unref(sink_);
}

bool FrameWatch::wait(double seconds) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return accepted_; });
}

int FrameWatch::frames() {
  std::lock_guard lock(mutex_);
  return frames_;
}

void FrameWatch::onHandoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer self) {
  auto* w = static_cast<FrameWatch*>(self);
  GstMapInfo map;
  bool ok = false;
  if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    ok = w->accept_(map.data, map.size);
    gst_buffer_unmap(buffer, &map);
  }
  std::lock_guard lock(w->mutex_);
  ++w->frames_;
  w->accepted_ = w->accepted_ || ok;
  w->changed_.notify_all();
}

std::string playToEnd(GstElement* pipeline, double seconds) {
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    // The reason is on the bus.
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    std::string why = "cannot start the pipeline";
    if (m) {
      GError* err = nullptr;
      gst_message_parse_error(m, &err, nullptr);
      why += std::string(": ") + err->message;
      g_error_free(err);
      gst_message_unref(m);
    }
    gst_object_unref(bus);
    return why;
  }
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m = gst_bus_timed_pop_filtered(bus, GstClockTime(seconds * GST_SECOND),
                                             GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  std::string result = "timed out";
  if (m != nullptr) {
    result.clear();
    if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
      GError* err = nullptr;
      gchar* debug = nullptr;
      gst_message_parse_error(m, &err, &debug);
      result = std::string(err->message) + (debug ? std::string(" (") + debug + ")" : "");
      g_error_free(err);
      g_free(debug);
    }
    gst_message_unref(m);
  }
  gst_object_unref(bus);
  return result;
}

GstElement* parsePipeline(const std::string& description) {
  GError* err = nullptr;
  GstElement* p = gst_parse_launch(description.c_str(), &err);
  if (err != nullptr) {
    ADD_FAILURE() << "cannot parse '" << description << "': " << err->message;
    g_error_free(err);
    if (p) gst_object_unref(p);
    return nullptr;
  }
  return p;
}

std::vector<std::string> tidewaveFactories() {
  std::vector<std::string> names;
  GList* features = gst_registry_get_feature_list_by_plugin(gst_registry_get(), "tidewave");
  for (GList* l = features; l != nullptr; l = l->next) names.push_back(GST_OBJECT_NAME(l->data));
  gst_plugin_feature_list_free(features);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<uint8_t> pngAsBgrx(const std::string& path, int* width, int* height) {
  RgbImage img;
  std::string why;
  EXPECT_TRUE(readPng(path, &img, &why)) << why;
  *width = img.width;
  *height = img.height;
  std::vector<uint8_t> out(size_t(img.width) * size_t(img.height) * 4);
  for (size_t i = 0; i < size_t(img.width) * size_t(img.height); ++i) {
    out[i * 4 + 0] = img.rgb[i * 3 + 2];
    out[i * 4 + 1] = img.rgb[i * 3 + 1];
    out[i * 4 + 2] = img.rgb[i * 3 + 0];
    out[i * 4 + 3] = 0;
  }
  return out;
}

}  // namespace tw::test
