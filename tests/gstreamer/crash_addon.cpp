// An add-on that fails while the host examines it, the way a broken add-on
// would: TW_CRASH_MODE "load" (the default) crashes in load, "init" crashes in
// filterInit, "hang" never returns from load, "none" behaves. Kept out of the
// default add-on directory; tests point TIDEWAVE_ADDON_PATH at it.
#include "CFilter.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

const char* mode() {
  const char* m = std::getenv("TW_CRASH_MODE");
  return m != nullptr ? m : "load";
}

class CCrashFilter : public CFilter {
 public:
  bool load() override {
    name = "TestCrash";
    author = "tests";
    info = "fails while examined";
    supportedModes = 1;
    if (std::strcmp(mode(), "load") == 0) raise(SIGSEGV);
    if (std::strcmp(mode(), "hang") == 0)
      for (;;) pause();
    return true;
  }
  bool prepare() override { return true; }
};

}  // namespace

extern "C" CFilter* filterInit(int32 index) noexcept {
  if (std::strcmp(mode(), "init") == 0) raise(SIGSEGV);
  return index == 0 ? new_filter<CCrashFilter>() : nullptr;
}
