#include "engine/AddonLibrary.h"

#include "engine/AddonManifest.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace tw {

AddonLibrary::AddonLibrary(std::string path, void* handle, filter_init_func init)
    : path_(std::move(path)), handle_(handle), init_(init) {}

AddonLibrary::~AddonLibrary() {
  if (handle_) dlclose(handle_);
}

std::unique_ptr<AddonLibrary> AddonLibrary::open(const std::string& path, std::string* error) {
  // The stamp is checked from the file, before dlopen runs any of the
  // add-on's code: one built against another CFilter would corrupt memory.
  AddonManifest manifest;
  std::string why;
  if (!readAddonManifest(path, &manifest, &why) || !manifest.abiMismatch.empty()) {
    if (error) *error = why.empty() ? manifest.abiMismatch : why;
    return nullptr;
  }
  // RTLD_LOCAL: add-ons reuse class names, so none may see another's symbols.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    if (error) *error = why ? why : "cannot be loaded";
    return nullptr;
  }
  dlerror();
  void* sym = dlsym(handle, "filterInit");
  if (sym == nullptr) {
    dlclose(handle);
    if (error) *error = "not an add-on: it exports no filterInit";
    return nullptr;
  }
  filter_init_func init;
  static_assert(sizeof(init) == sizeof(sym));
  std::memcpy(&init, &sym, sizeof init);
  return std::unique_ptr<AddonLibrary>(new AddonLibrary(path, handle, init));
}

std::string AddonLibrary::name() const { return std::filesystem::path(path_).filename().string(); }

CFilter* AddonLibrary::create(int32 index) const {
  try {
    return init_(index);
  } catch (...) {
    return nullptr;
  }
}

std::vector<std::unique_ptr<CFilter>> AddonLibrary::createAll() const {
  std::vector<std::unique_ptr<CFilter>> filters;
  // A bound keeps a broken factory that never returns null from running away.
  for (int32 i = 0; i < 1024; ++i) {
    CFilter* f = create(i);
    if (f == nullptr) break;
    filters.emplace_back(f);
  }
  return filters;
}

std::vector<std::unique_ptr<AddonLibrary>> openAddonDirectory(const std::string& dir,
                                                              std::vector<std::string>* failures) {
  namespace fs = std::filesystem;
  std::vector<std::unique_ptr<AddonLibrary>> libs;
  std::error_code ec;
  std::vector<fs::path> files;
  for (const fs::directory_entry& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file(ec)) files.push_back(e.path());
  if (ec && failures) failures->push_back(dir + ": " + ec.message());
  std::sort(files.begin(), files.end());
  for (const fs::path& p : files) {
    std::string why;
    auto lib = AddonLibrary::open(p.string(), &why);
    if (lib)
      libs.push_back(std::move(lib));
    else if (failures)
      failures->push_back(p.filename().string() + ": " + why);
  }
  return libs;
}

}  // namespace tw
