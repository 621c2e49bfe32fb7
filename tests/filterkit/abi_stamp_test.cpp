// The ABI stamp: every host of ours (the in-process harness through
// AddonLibrary, the tidewave program) refuses an add-on built against
// another CFilter, or not stamped at all, with one line that says what
// differs, and runs none of its code: the probe add-ons abort the process
// when they are loaded.
#include "AddonAbi.h"
#include "Harness.h"
#include "engine/AddonLibrary.h"
#include "engine/AddonManifest.h"

#include <platform/resources.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
constexpr size_t kFrameOffset = offsetof(CFilter, frame);
#pragma GCC diagnostic pop
const std::string kHostSize = std::to_string(sizeof(CFilter));
const std::string kHostFrame = std::to_string(kFrameOffset);

const std::string kRebuild = "; rebuild the add-on with this host's SDK";

std::string probe(const char* name) { return std::string(TW_ABI_PROBE_DIR) + "/" + name; }

// A copy of a built add-on whose stamp resource is replaced by `stamp`.
std::string restamped(const std::string& name, const std::vector<uint8>& stamp) {
  const std::string path = (fs::temp_directory_path() / ("tw_abi_" + name)).string();
  fs::copy_file(tw::test::addonPath("Ziduv"), path, fs::copy_options::overwrite_existing);
  std::vector<TwResource> list;
  EXPECT_EQ(tw_read_resources(path.c_str(), &list), B_OK);
  for (TwResource& r : list)
    if (r.name == "TIDEWAVE:ABI") r.data = stamp;
  EXPECT_EQ(tw_write_resources(path.c_str(), list), B_OK);
  return path;
}

std::vector<uint8> bytesOf(const TwAbiStamp& s) {
  const uint8* p = reinterpret_cast<const uint8*>(&s);
  return std::vector<uint8>(p, p + sizeof s);
}

TEST(AbiStamp, AMismatchingOrUnstampedAddonIsRefusedBeforeLoadingWithWhatDiffers) {
  TwAbiStamp otherKit = tw_abi_stamp_here();
  otherKit.kitAbi = TW_KIT_ABI + 1;
  std::vector<uint8> cut = bytesOf(tw_abi_stamp_here());
  cut.pop_back();
  // The reference-counted strings of libstdc++'s old ABI are 8 bytes where
  // the C++11 ones are 32; CFilter holds four (the three paths and
  // entry_ref's name), all before `frame`.
  const std::string cowSize = std::to_string(sizeof(CFilter) - 4 * 24);
  const std::string cowFrame = std::to_string(kFrameOffset - 4 * 24);

  struct Case {
    const char* what;
    std::string path;
    bool stamped;
    std::string reason;
  } cases[] = {
      {"built with the old C++ string ABI", probe("CowAbiProbe"), true,
       "built against kit ABI " + std::to_string(TW_KIT_ABI) + " with CFilter of " + cowSize +
           " bytes, frame at " + cowFrame + ", C++ library libstdc++ cow; this host has ABI " +
           std::to_string(TW_KIT_ABI) + " with " + kHostSize + ", frame at " + kHostFrame +
           ", C++ library libstdc++ cxx11" + kRebuild},
      {"not stamped", probe("UnstampedProbe"), false,
       "it carries no ABI stamp (not built with add_addon())" + kRebuild},
      {"stamped by another kit", restamped("kit", bytesOf(otherKit)), true,
       "built against kit ABI " + std::to_string(TW_KIT_ABI + 1) + " with CFilter of " + kHostSize +
           " bytes; this host has ABI " + std::to_string(TW_KIT_ABI) + " with " + kHostSize + kRebuild},
      {"a stamp cut short", restamped("cut", cut), true, "its ABI stamp is damaged (55 bytes)" + kRebuild},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tw::AddonManifest manifest;
    std::string why;
    ASSERT_TRUE(tw::readAddonManifest(c.path, &manifest, &why)) << why;
    EXPECT_EQ(manifest.stamped, c.stamped);
    EXPECT_EQ(manifest.abiMismatch, c.reason);
    std::string error;
    EXPECT_EQ(tw::AddonLibrary::open(c.path, &error), nullptr);
    EXPECT_EQ(error, c.reason);
  }
  // The add-ons the list names load; an unreadable file is no add-on.
  tw::AddonManifest manifest;
  std::string why;
  ASSERT_TRUE(tw::readAddonManifest(tw::test::addonPath("Ziduv"), &manifest, &why)) << why;
  EXPECT_EQ(manifest.abiMismatch, "");
  EXPECT_EQ(manifest.filters, std::vector<std::string>{"Ziduv"});
  EXPECT_FALSE(tw::readAddonManifest("/nonexistent/Addon", &manifest, &why));
  EXPECT_EQ(why, "cannot read the file: No such file or directory");
  for (const char* name : {"kit", "cut"})
    fs::remove(fs::temp_directory_path() / (std::string("tw_abi_") + name));
}

// What `tidewave ARGS` prints, standard error included.
std::string tidewave(const std::string& args) {
  FILE* p = popen((std::string(TW_TIDEWAVE) + " " + args + " 2>&1").c_str(), "r");
  if (!p) return "";
  std::string out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(AbiStamp, TheTidewaveProgramNamesTheRefusedAddons) {
  const std::string out = tidewave(std::string("list --add-ons ") + TW_ABI_PROBE_DIR);
  EXPECT_NE(
      out.find("CowAbiProbe: built against kit ABI " + std::to_string(TW_KIT_ABI) + " with CFilter of "),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("UnstampedProbe: it carries no ABI stamp"), std::string::npos) << out;
  EXPECT_EQ(out.find("abi_probe:"), std::string::npos) << "no code of a refused add-on runs";
}

}  // namespace
