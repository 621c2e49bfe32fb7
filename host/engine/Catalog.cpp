#include "engine/Catalog.h"

#include "engine/FilterDriver.h"

#include <platform/resources.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace tw {
namespace fs = std::filesystem;

namespace {

std::string executableDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

// 'MIMS': a resource that holds a NUL-terminated text.
constexpr type_code kMimeStringType = uint32('M') << 24 | uint32('I') << 16 | uint32('M') << 8 | uint32('S');

// A bound keeps a broken factory that never returns null from running away.
constexpr int32 kMaxFilters = 1024;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

}  // namespace

HostDirs defaultDirs() {
  HostDirs d;
  std::error_code ec;
  const std::string exe = executableDir();
  // Where the install put them, relative to the program's own folder.
  const fs::path installedAddons = fs::path(exe) / TW_INSTALLED_ADDON_DIR;
  const fs::path installedData = fs::path(exe) / TW_INSTALLED_DATA_DIR;
  d.addons = !exe.empty() && fs::is_directory(installedAddons, ec)
                 ? fs::weakly_canonical(installedAddons, ec).string()
                 : std::string(TW_DEFAULT_ADDON_DIR);
  d.data = !exe.empty() && fs::is_directory(installedData, ec)
               ? fs::weakly_canonical(installedData, ec).string()
               : std::string(TW_DEFAULT_DATA_DIR);
  const fs::path root = d.data;
  d.base = root.string();
  d.data = fs::is_directory(root / "filterdata", ec) ? (root / "filterdata").string() : root.string();
  d.image = fs::is_directory(root / "images", ec) ? (root / "images").string() : root.string();
  return d;
}

std::string modeNames(int32 modes) {
  std::string s;
  if (modes & 1) s += "8-bit";
  if (modes & 2) s += s.empty() ? "32-bit" : " and 32-bit";
  return s.empty() ? "none" : s;
}

bool openCatalog(const HostDirs& dirs, Catalog* out, std::string* error) {
  std::error_code ec;
  if (!fs::is_directory(dirs.addons, ec)) {
    *error =
        "add-on directory '" + dirs.addons + "' does not exist (build the add-ons, or pass --add-ons DIR)";
    return false;
  }
  out->addons = openAddonDirectory(dirs.addons, &out->failures);
  for (const auto& lib : out->addons) {
    for (int32 i = 0; i < kMaxFilters; ++i) {
      CFilter* filter = lib->create(i);
      if (filter == nullptr) break;
      FilterDriver driver(filter);
      driver.setDirectories(dirs.base, dirs.data, dirs.image);
      FilterInfo info;
      info.addon = lib.get();
      info.index = i;
      if (driver.load()) {
        info.name = driver.filter().name ? driver.filter().name : "";
        info.modes = driver.filter().supportedModes;
      }
      if (info.name.empty()) info.name = lib->name() + "#" + std::to_string(i);
      out->filters.push_back(info);
    }
  }
  return true;
}

const FilterInfo* findFilter(const Catalog& catalog, const std::string& name) {
  for (const FilterInfo& f : catalog.filters)
    if (lower(f.name) == lower(name)) return &f;
  return nullptr;
}

std::string filterNames(const Catalog& catalog) {
  std::string s;
  for (const FilterInfo& f : catalog.filters) s += (s.empty() ? "\"" : ", \"") + f.name + "\"";
  return s.empty() ? "(none)" : s;
}

namespace {

void printParams(const BMessage& params, FILE* out) {
  const int32 n = params.CountNames(B_ANY_TYPE);
  if (n == 0) {
    std::fprintf(out, "    parameters: none\n");
    return;
  }
  std::fprintf(out, "    parameters:\n");
  for (int32 i = 0; i < n; ++i) {
    const char* name = nullptr;
    type_code type = 0;
    int32 count = 0;
    if (params.GetInfo(B_ANY_TYPE, i, &name, &type, &count) != B_OK) continue;
    for (int32 k = 0; k < count; ++k) {
      BRect r;
      bool b;
      float f;
      int32 v;
      const char* s;
      std::fprintf(out, "      \"%s\" ", name);
      if (params.FindRect(name, k, &r) == B_OK)
        std::fprintf(out, "rect (%g, %g, %g, %g)\n", r.left, r.top, r.right, r.bottom);
      else if (params.FindBool(name, k, &b) == B_OK)
        std::fprintf(out, "bool %s\n", b ? "true" : "false");
      else if (params.FindFloat(name, k, &f) == B_OK)
        std::fprintf(out, "float %.9g\n", double(f));
      else if (params.FindInt32(name, k, &v) == B_OK)
        std::fprintf(out, "int32 %d\n", v);
      else if (params.FindString(name, k, &s) == B_OK)
        std::fprintf(out, "string \"%s\"\n", s);
      else
        std::fprintf(out, "type '%s'\n", tw_type_code_text(type).c_str());
    }
  }
}

}  // namespace

void printListing(const HostDirs& dirs, const Catalog& catalog, FILE* out) {
  std::fprintf(out, "add-ons in %s\n", dirs.addons.c_str());
  for (const std::string& f : catalog.failures) std::fprintf(out, "\n%s: not loaded\n", f.c_str());
  for (const auto& lib : catalog.addons) {
    std::fprintf(out, "\n%s (%s)\n", lib->name().c_str(), lib->path().c_str());
    std::vector<TwResource> res;
    if (tw_read_resources(lib->path().c_str(), &res) == B_OK) {
      std::fprintf(out, "  resources:%s\n", res.empty() ? " none" : "");
      for (const TwResource& r : res) {
        std::string text;
        if (r.type == kMimeStringType)
          text = " \"" + std::string(r.data.begin(), std::find(r.data.begin(), r.data.end(), 0)) + "\"";
        std::fprintf(out, "    '%s' %d \"%s\" %zu bytes%s\n", tw_type_code_text(r.type).c_str(), r.id,
                     r.name.c_str(), r.data.size(), text.c_str());
      }
    } else {
      std::fprintf(out, "  resources: unreadable\n");
    }
    for (int32 i = 0; i < kMaxFilters; ++i) {
      CFilter* filter = lib->create(i);
      if (filter == nullptr) break;
      FilterDriver driver(filter);
      driver.setDirectories(dirs.base, dirs.data, dirs.image);
      if (!driver.load()) {
        std::fprintf(out, "  filter %d: load failed\n", i);
        continue;
      }
      const CFilter& f = driver.filter();
      std::fprintf(out, "  filter %d: \"%s\"\n", i, f.name ? f.name : "");
      std::fprintf(out, "    author: %s\n", f.author ? f.author : "(none)");
      std::fprintf(out, "    info: %s\n", f.info ? f.info : "(none)");
      std::fprintf(out, "    pixel modes: %s (supportedModes %d)\n", modeNames(f.supportedModes).c_str(),
                   f.supportedModes);
      std::fprintf(out,
                   "    hostHint1 %d, hostHint2 %d, hostFlag1 %s, hostFlag2 %s, hostFactor %.9g, icon %s\n",
                   f.hostHint1, f.hostHint2, f.hostFlag1 ? "true" : "false", f.hostFlag2 ? "true" : "false",
                   double(f.hostFactor),
                   f.icon ? (std::to_string(int(f.icon->Bounds().Width() + 1)) + " x " +
                             std::to_string(int(f.icon->Bounds().Height() + 1)))
                                .c_str()
                          : "none");
      printParams(f.params, out);
    }
  }
}

}  // namespace tw
