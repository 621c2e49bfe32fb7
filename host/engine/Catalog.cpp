#include "engine/Catalog.h"

#include "engine/AddonManifest.h"
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
  std::error_code ec;
  const std::string exe = executableDir();
  // Where the install put them, relative to the program's own folder.
  const fs::path installedAddons = fs::path(exe) / TW_INSTALLED_ADDON_DIR;
  const fs::path installedData = fs::path(exe) / TW_INSTALLED_DATA_DIR;
  const std::string addons = !exe.empty() && fs::is_directory(installedAddons, ec)
                                 ? fs::weakly_canonical(installedAddons, ec).string()
                                 : std::string(TW_DEFAULT_ADDON_DIR);
  const std::string data = !exe.empty() && fs::is_directory(installedData, ec)
                               ? fs::weakly_canonical(installedData, ec).string()
                               : std::string(TW_DEFAULT_DATA_DIR);
  return hostDirsFor(addons, data);
}

HostDirs hostDirsFor(const std::string& addons, const std::string& dataRoot) {
  HostDirs d;
  std::error_code ec;
  const fs::path root = dataRoot;
  d.addons = addons;
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

std::string AddonFile::name() const { return fs::path(path_).filename().string(); }

const AddonLibrary* AddonFile::library(std::string* error) const {
  if (!library_ && failure_.empty()) {
    library_ = AddonLibrary::open(path_, &failure_);
    if (!library_ && failure_.empty()) failure_ = "cannot be loaded";
  }
  if (!library_ && error) *error = name() + ": " + failure_;
  return library_.get();
}

bool openCatalog(const HostDirs& dirs, Catalog* out, std::string* error) {
  std::error_code ec;
  if (!fs::is_directory(dirs.addons, ec)) {
    *error =
        "add-on directory '" + dirs.addons + "' does not exist (build the add-ons, or pass --add-ons DIR)";
    return false;
  }
  std::vector<fs::path> files;
  for (const fs::directory_entry& e : fs::directory_iterator(dirs.addons, ec))
    if (e.is_regular_file(ec)) files.push_back(e.path());
  if (ec) out->failures.push_back(dirs.addons + ": " + ec.message());
  std::sort(files.begin(), files.end());
  for (const fs::path& p : files) {
    auto file = std::make_unique<AddonFile>(p.string());
    AddonManifest manifest;
    std::string why;
    if (!readAddonManifest(p.string(), &manifest, &why)) {
      out->failures.push_back(p.filename().string() + ": " + why);
      continue;
    }
    if (manifest.filters.empty()) {
      // No list of names: open the file and load each filter to learn them.
      const AddonLibrary* lib = file->library(nullptr);
      if (lib == nullptr) {
        std::string reason;
        file->library(&reason);
        out->failures.push_back(reason);
        continue;
      }
      for (int32 i = 0; i < kMaxFilters; ++i) {
        CFilter* filter = lib->create(i);
        if (filter == nullptr) break;
        FilterDriver driver(filter);
        driver.setDirectories(dirs.base, dirs.data, dirs.image);
        FilterInfo info;
        info.addon = file.get();
        info.index = i;
        if (driver.load()) {
          remember(info, driver.filter());
          info.name = info.descriptor.name;
        }
        if (info.name.empty()) info.name = file->name() + "#" + std::to_string(i);
        out->filters.push_back(info);
      }
    } else if (!manifest.abiMismatch.empty()) {
      out->failures.push_back(file->name() + ": " + manifest.abiMismatch);
      continue;
    } else {
      for (size_t i = 0; i < manifest.filters.size(); ++i) {
        FilterInfo info;
        info.addon = file.get();
        info.index = int32(i);
        info.name = manifest.filters[i];
        out->filters.push_back(info);
      }
    }
    out->addons.push_back(std::move(file));
  }
  return true;
}

namespace {

std::vector<std::string> paramLines(const BMessage& params);

}  // namespace

void remember(const FilterInfo& info, const CFilter& f) {
  FilterDescriptor& d = info.descriptor;
  d.name = f.name ? f.name : "";
  d.author = f.author ? f.author : "";
  d.info = f.info ? f.info : "";
  d.modes = f.supportedModes;
  d.hostHint1 = f.hostHint1, d.hostHint2 = f.hostHint2;
  d.hostFlag1 = f.hostFlag1, d.hostFlag2 = f.hostFlag2;
  d.hostFactor = f.hostFactor;
  d.iconWidth = f.icon ? int(f.icon->Bounds().Width() + 1) : 0;
  d.iconHeight = f.icon ? int(f.icon->Bounds().Height() + 1) : 0;
  d.params = paramLines(f.params);
  info.modes = d.modes;
  info.described = true;
}

bool describe(const HostDirs& dirs, const FilterInfo& info, std::string* error) {
  if (info.described) return true;
  const AddonLibrary* lib = info.addon->library(error);
  if (lib == nullptr) return false;
  CFilter* filter = lib->create(info.index);
  if (filter == nullptr) {
    *error = "add-on " + info.addon->name() + " no longer makes filter " + std::to_string(info.index);
    return false;
  }
  FilterDriver driver(filter);
  driver.setDirectories(dirs.base, dirs.data, dirs.image);
  if (!driver.load()) {
    *error = "filter \"" + info.name + "\" failed to load";
    return false;
  }
  remember(info, driver.filter());
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

std::vector<std::string> paramLines(const BMessage& params) {
  std::vector<std::string> lines;
  const int32 n = params.CountNames(B_ANY_TYPE);
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
      char line[256];
      if (params.FindRect(name, k, &r) == B_OK)
        std::snprintf(line, sizeof line, "rect (%g, %g, %g, %g)", r.left, r.top, r.right, r.bottom);
      else if (params.FindBool(name, k, &b) == B_OK)
        std::snprintf(line, sizeof line, "bool %s", b ? "true" : "false");
      else if (params.FindFloat(name, k, &f) == B_OK)
        std::snprintf(line, sizeof line, "float %.9g", double(f));
      else if (params.FindInt32(name, k, &v) == B_OK)
        std::snprintf(line, sizeof line, "int32 %d", v);
      else if (params.FindString(name, k, &s) == B_OK)
        std::snprintf(line, sizeof line, "string \"%s\"", s);
      else
        std::snprintf(line, sizeof line, "type '%s'", tw_type_code_text(type).c_str());
      lines.push_back("\"" + std::string(name) + "\" " + line);
    }
  }
  return lines;
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
    for (const FilterInfo& info : catalog.filters) {
      if (info.addon != lib.get()) continue;
      std::string why;
      if (!describe(dirs, info, &why)) {
        std::fprintf(out, "  filter %d: %s\n", info.index, why.c_str());
        continue;
      }
      const FilterDescriptor& f = info.descriptor;
      std::fprintf(out, "  filter %d: \"%s\"\n", info.index, f.name.c_str());
      std::fprintf(out, "    author: %s\n", f.author.empty() ? "(none)" : f.author.c_str());
      std::fprintf(out, "    info: %s\n", f.info.empty() ? "(none)" : f.info.c_str());
      std::fprintf(out, "    pixel modes: %s (supportedModes %d)\n", modeNames(f.modes).c_str(), f.modes);
      const std::string icon = f.iconWidth > 0
                                   ? std::to_string(f.iconWidth) + " x " + std::to_string(f.iconHeight)
                                   : std::string("none");
      std::fprintf(out,
                   "    hostHint1 %d, hostHint2 %d, hostFlag1 %s, hostFlag2 %s, hostFactor %.9g, icon %s\n",
                   f.hostHint1, f.hostHint2, f.hostFlag1 ? "true" : "false", f.hostFlag2 ? "true" : "false",
                   double(f.hostFactor), icon.c_str());
      if (f.params.empty()) {
        std::fprintf(out, "    parameters: none\n");
      } else {
        std::fprintf(out, "    parameters:\n");
        for (const std::string& line : f.params) std::fprintf(out, "      %s\n", line.c_str());
      }
    }
  }
}

}  // namespace tw
