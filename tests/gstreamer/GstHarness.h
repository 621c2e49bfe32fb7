// GStreamer in the test process, pointed at the plugin in the build tree, with
// a registry of its own in a temporary folder (removed at the end), scanned
// in this process so that a sanitiser build of the plugin can be loaded; and
// small helpers to run a pipeline to its end and keep what a sink received.
#pragma once

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tw::test {

// A temporary folder for the process, removed at exit.
const std::filesystem::path& gstScratch();

// Sets the environment (registry, plugin path, in-process scanning; add-on
// variables as given: "NAME=value" sets, "NAME=" unsets) and initialises
// GStreamer, once per process. Call before any GStreamer use.
void initGst(const std::vector<std::string>& env = {});

struct Frame {
  GstClockTime pts = GST_CLOCK_TIME_NONE;
  std::vector<uint8_t> bytes;  // kept for the frames asked for
};

// What a fakesink named `name` was handed (its handoff signal).
class Capture {
 public:
  // Keeps the bytes of the frames whose index is in `keep` (all when
  // keepAll).
  Capture(GstElement* pipeline, const char* name, std::vector<int> keep = {}, bool keepAll = false);
  // A fakesink not yet in a pipeline (playbin adds its sinks when it plays).
  explicit Capture(GstElement* sink);
  ~Capture();
  std::vector<Frame> frames() const;
  GstCaps* caps() const;  // of the last buffer; caller unrefs

 private:
  static void onHandoff(GstElement*, GstBuffer* buffer, GstPad* pad, gpointer self);
  GstElement* sink_;
  gulong handler_ = 0;
  std::vector<int> keep_;
  bool keepAll_;
  mutable std::mutex mutex_;
  std::vector<Frame> frames_;
  GstCaps* caps_ = nullptr;
};

// Waits until a frame that `accept` takes has reached the fakesink named
// "sink" (its handoff signal); counts the frames seen.
class FrameWatch {
 public:
  FrameWatch(GstElement* pipeline, std::function<bool(const uint8_t*, size_t)> accept);
  ~FrameWatch();
  // False when none came within `seconds`.
  bool wait(double seconds);
  int frames();

 private:
  static void onHandoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer self);
  GstElement* sink_;
  gulong handler_ = 0;
  std::function<bool(const uint8_t*, size_t)> accept_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int frames_ = 0;
  bool accepted_ = false;
};

// Sets the pipeline playing and waits (at most `seconds`) for its end.
// Returns "" at EOS, else the error message (or "timed out"). The pipeline is
// left in PLAYING; the caller sets it to NULL.
std::string playToEnd(GstElement* pipeline, double seconds = 120);

// Parses a pipeline description; fails the test on a parse error.
GstElement* parsePipeline(const std::string& description);

// The element names of the plugin's features in the registry.
std::vector<std::string> tidewaveFactories();

// One frame decoded from a PNG file, as BGRx bytes (blue, green, red, 0).
std::vector<uint8_t> pngAsBgrx(const std::string& path, int* width, int* height);

}  // namespace tw::test
