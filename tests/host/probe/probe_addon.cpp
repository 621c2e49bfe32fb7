// A filter that records every call the host makes, in order, into a file
// named by the TW_PROBE_LOG environment variable, so that a test can check
// the lifecycle the tidewave program drives.
#include "CFilter.h"

#include <platform/kernel.h>

#include <cstdio>
#include <cstdlib>

namespace {

void note(const char* what, const CFilter* f) {
  const char* path = std::getenv("TW_PROBE_LOG");
  if (path == nullptr) return;
  FILE* log = std::fopen(path, "a");
  if (log == nullptr) return;
  std::fprintf(log, "%s %d %d %d\n", what, f->width, f->height, f->pixelMode);
  std::fclose(log);
}

class CProbeFilter : public CFilter {
 public:
  ~CProbeFilter() override { note("delete", this); }
  bool load() override {
    name = "TestProbe";
    author = "tests";
    info = "records the host's calls";
    supportedModes = 1;
    hostFactor = 0.0f;
    params.AddInt32("Probe", 7);
    // TW_PROBE_FAIL_LOAD=n refuses the n-th load of the process.
    static int loads = 0;
    const char* failAt = std::getenv("TW_PROBE_FAIL_LOAD");
    const bool refuse = failAt != nullptr && ++loads == std::atoi(failAt);
    note(refuse ? "load-refused" : "load", this);
    // TW_PROBE_CHATTER set: prints to standard output, as some add-ons do.
    if (std::getenv("TW_PROBE_CHATTER") != nullptr) std::printf("probe: loaded\n");
    return !refuse;
  }
  bool prepare() override {
    note("prepare", this);
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
    note(frame == &f ? "frame" : "frame-without-record", this);
  }
  void terminate() override {
    note("terminate", this);
    if (worker >= 0) {
      delete_sem(wait);  // wakes the worker at once
      wait_for_thread(worker, nullptr);
      worker = -1;
    }
  }
  void unload() override { note("unload", this); }

 private:
  sem_id wait = -1;
  thread_id worker = -1;
};

}  // namespace

extern "C" CFilter* filterInit(int32 index) noexcept {
  return index == 0 ? new_filter<CProbeFilter>() : nullptr;
}
