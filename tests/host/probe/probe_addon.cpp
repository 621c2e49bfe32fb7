// A filter that records every call the host makes, in order, into a file
// named by the TW_PROBE_LOG environment variable, so that a test can check
// the lifecycle the tidewave program drives.
//
// Built with TW_PROBE_FILTERS=n, the add-on offers n filters, "TestProbe",
// "TestProbe 2", … "TestProbe n" (its FILTERS must name them). TW_PROBE_DETAIL set: each line also names its
// filter, and a frame's line adds what the filter saw and when:
//   frame W H MODE NAME frameCount=F keys=0xK level=L t=NS
// with the platform's modifier bits, level[1] of the record and the steady
// clock (CLOCK_MONOTONIC) in nanoseconds.
#include "CFilter.h"

#include <platform/interface.h>
#include <platform/kernel.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool detailed() { return std::getenv("TW_PROBE_DETAIL") != nullptr; }

void note(const char* what, const CFilter* f, const std::string& label, const std::string& more = "") {
  const char* path = std::getenv("TW_PROBE_LOG");
  if (path == nullptr) return;
  FILE* log = std::fopen(path, "a");
  if (log == nullptr) return;
  if (detailed())
    std::fprintf(log, "%s %d %d %d %s%s\n", what, f->width, f->height, f->pixelMode, label.c_str(),
                 more.c_str());
  else
    std::fprintf(log, "%s %d %d %d\n", what, f->width, f->height, f->pixelMode);
  std::fclose(log);
}

class CProbeFilter : public CFilter {
 public:
  explicit CProbeFilter(int index) {
    label = index == 0 ? std::string("TestProbe") : "TestProbe " + std::to_string(index + 1);
  }
  ~CProbeFilter() override { note("delete", this, label); }
  bool load() override {
    name = label.c_str();
    author = "tests";
    info = "records the host's calls";
    supportedModes = 1;
    hostFactor = 0.0f;
    params.AddInt32("Probe", 7);
    // TW_PROBE_FAIL_LOAD=n refuses the n-th load of the process.
    static int loads = 0;
    const char* failAt = std::getenv("TW_PROBE_FAIL_LOAD");
    const bool refuse = failAt != nullptr && ++loads == std::atoi(failAt);
    note(refuse ? "load-refused" : "load", this, label);
    // TW_PROBE_CHATTER set: prints to standard output, as some add-ons do.
    if (std::getenv("TW_PROBE_CHATTER") != nullptr) std::printf("probe: loaded\n");
    return !refuse;
  }
  bool prepare() override {
    note("prepare", this, label);
    // TW_PROBE_BACKGROUND set: a thread of its own waits from prepare to
    // terminate, as a picture loader does.
    if (std::getenv("TW_PROBE_BACKGROUND") != nullptr) {
      wait = create_sem(0, "probe_wait");
      worker = spawn_thread([](void* sem) -> status_t { return acquire_sem(*static_cast<sem_id*>(sem)); },
                            "probe_worker", B_NORMAL_PRIORITY, &wait);
      resume_thread(worker);
    }
    return true;
  }
  void processFrame8(SFrameInfo& f) override {
    // TW_PROBE_FILL set: the whole frame in colour 250, so that a test sees
    // where the picture lands in a scaled output.
    if (std::getenv("TW_PROBE_FILL") != nullptr)
      for (int32 y = 0; y < height; ++y)
        for (int32 x = 0; x < width; ++x) static_cast<uint8*>(f.bits)[y * bytesPerRow + x] = 250;
    // One pixel per frame, at the frame counter's column.
    static_cast<uint8*>(f.bits)[f.frameCount % width] = 250;
    std::string more;
    if (detailed()) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      char text[160];
      std::snprintf(text, sizeof text, " frameCount=%d keys=0x%x level=%.4f t=%lld", int(f.frameCount),
                    unsigned(modifiers()), f.level[1], (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
      more = text;
    }
    note(frame == &f ? "frame" : "frame-without-record", this, label, more);
  }
  void terminate() override {
    note("terminate", this, label);
    if (worker >= 0) {
      delete_sem(wait);  // wakes the worker at once
      wait_for_thread(worker, nullptr);
      worker = -1;
    }
  }
  void unload() override { note("unload", this, label); }

 private:
  std::string label;
  sem_id wait = -1;
  thread_id worker = -1;
};

}  // namespace

extern "C" CFilter* filterInit(int32 index) noexcept {
#ifndef TW_PROBE_FILTERS
#define TW_PROBE_FILTERS 1
#endif
  return index >= 0 && index < TW_PROBE_FILTERS ? new_filter<CProbeFilter>(index) : nullptr;
}
