#include "engine/AddonManifest.h"

namespace tw {

// Until add-ons carry their host resources: nothing to read.
bool readAddonManifest(const std::string&, AddonManifest* out, std::string*) {
  *out = AddonManifest{};
  return true;
}

}  // namespace tw
