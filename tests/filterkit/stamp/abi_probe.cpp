// An add-on that a host must refuse before running any of it: built with a
// C++ library ABI other than the host's, or without the ABI stamp. Loading
// it at all ends the process, so a host that calls its code fails loudly.
#include "CFilter.h"

#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((constructor)) void loaded() {
  std::fprintf(stderr, "abi_probe: a host loaded an add-on it should have refused\n");
  std::abort();
}

class CAbiProbe : public CFilter {
 public:
  bool load() override {
    name = "ABI Probe";
    return true;
  }
};

}  // namespace

extern "C" CFilter* filterInit(int32 index) noexcept {
  return index == 0 ? new_filter<CAbiProbe>() : nullptr;
}
