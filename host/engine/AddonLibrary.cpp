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

}  // namespace tw
