#include "engine/AddonManifest.h"

#include "AddonAbi.h"

#include <platform/resources.h>

#include <algorithm>
#include <cstring>

namespace tw {

namespace {

constexpr type_code kStampType = tw_type_code("TWAB");
constexpr type_code kFiltersType = tw_type_code("TWFL");
constexpr const char* kRebuild = "; rebuild the add-on with this host's SDK";

std::string libraryOf(const TwAbiStamp& s) {
  return std::string(s.cxxLibraryAbi, strnlen(s.cxxLibraryAbi, sizeof s.cxxLibraryAbi));
}

// "kit ABI 1 with CFilter of 1184 bytes", then whatever else differs from
// `other`; the host's side leaves out the words the add-on's side said.
std::string describe(const TwAbiStamp& s, const TwAbiStamp& other, bool host) {
  std::string d = (host ? "ABI " : "kit ABI ") + std::to_string(s.kitAbi) + " with " +
                  (host ? "" : "CFilter of ") + std::to_string(s.filterSize) + (host ? "" : " bytes");
  if (s.frameOffset != other.frameOffset) d += ", frame at " + std::to_string(s.frameOffset);
  if (libraryOf(s) != libraryOf(other)) d += ", C++ library " + libraryOf(s);
  return d;
}

std::string checkStamp(const std::vector<uint8>& data) {
  TwAbiStamp stamp;
  if (data.size() != sizeof stamp || std::memcmp(data.data(), kTwAbiStampMagic, sizeof kTwAbiStampMagic) != 0)
    return "its ABI stamp is damaged (" + std::to_string(data.size()) + " bytes)" + kRebuild;
  std::memcpy(&stamp, data.data(), sizeof stamp);
  constexpr TwAbiStamp here = tw_abi_stamp_here();
  if (stamp.kitAbi == here.kitAbi && stamp.filterSize == here.filterSize &&
      stamp.frameOffset == here.frameOffset && libraryOf(stamp) == libraryOf(here))
    return {};
  return "built against " + describe(stamp, here, false) + "; this host has " + describe(here, stamp, true) +
         kRebuild;
}

}  // namespace

bool readAddonManifest(const std::string& path, AddonManifest* out, std::string* error) {
  *out = AddonManifest{};
  std::vector<TwResource> resources;
  const status_t s = tw_read_resources(path.c_str(), &resources);
  if (s == B_ENTRY_NOT_FOUND || s == B_IO_ERROR || s == B_BAD_VALUE) {
    if (error) *error = "cannot read the file: " + std::string(tw_status_text(s));
    return false;
  }
  if (s != B_OK) {
    out->abiMismatch = std::string("its resources are damaged") + kRebuild;
    return true;
  }
  for (const TwResource& r : resources) {
    if (r.type == kStampType && !out->stamped) {
      out->stamped = true;
      out->abiMismatch = checkStamp(r.data);
    } else if (r.type == kFiltersType && out->filters.empty()) {
      // Names one after another, each NUL-terminated.
      for (auto at = r.data.begin(); at != r.data.end();) {
        const auto end = std::find(at, r.data.end(), uint8(0));
        out->filters.emplace_back(at, end);
        at = end == r.data.end() ? end : end + 1;
      }
    }
  }
  if (!out->stamped)
    out->abiMismatch = std::string("it carries no ABI stamp (not built with add_addon())") + kRebuild;
  return true;
}

}  // namespace tw
