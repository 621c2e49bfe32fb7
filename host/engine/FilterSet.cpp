#include "engine/FilterSet.h"

#include <platform/interface.h>

namespace tw {

std::string modeMismatch(const FilterInfo& f, int32 pixelMode) {
  if (f.modes == 0 || (f.modes & pixelMode)) return {};
  return "filter \"" + f.name + "\" does not draw in " + modeNames(pixelMode) + " mode; it draws in " +
         modeNames(f.modes) + " mode only (use --mode " + ((f.modes & 1) ? "8" : "32") + ")";
}

bool FilterSet::start(const std::vector<const FilterInfo*>& filters, const HostDirs& dirs,
                      const FrameGeometry& asked, std::string* error) {
  stop();
  for (const FilterInfo* f : filters) {
    const AddonLibrary* lib = f->addon->library(error);
    if (lib == nullptr) {
      stop();
      return false;
    }
    CFilter* filter = lib->create(f->index);
    if (filter == nullptr) {
      *error = "add-on " + f->addon->name() + " no longer makes filter " + std::to_string(f->index);
      stop();
      return false;
    }
    auto d = std::make_unique<FilterDriver>(filter);
    d->setDirectories(dirs.base, dirs.data, dirs.image);
    if (!d->load()) {
      *error = "filter \"" + f->name + "\" failed to load";
      d.reset();  // the refused one goes first, then those that loaded
      stop();
      return false;
    }
    remember(*f, d->filter());
    drivers_.push_back(std::move(d));
  }
  // The mode: the one asked for, or the first filter's own (8-bit when it
  // draws it); every filter must draw in it.
  FrameGeometry g = asked;
  if (g.pixelMode == kFirstFiltersMode) g.pixelMode = (filters.front()->modes & 1) ? 1 : 2;
  for (const FilterInfo* f : filters)
    if (std::string why = modeMismatch(*f, g.pixelMode); !why.empty()) {
      *error = why;
      stop();
      return false;
    }
  geometry_ = g;
  for (size_t i = 0; i < drivers_.size(); ++i)
    if (!drivers_[i]->prepare(g, tw_system_palette(), tw_system_palette32())) {
      *error = "filter \"" + filters[i]->name + "\" failed to prepare for a " + std::to_string(g.width) +
               " x " + std::to_string(g.height) + " " + modeNames(g.pixelMode) + " frame";
      stop();
      return false;
    }
  return true;
}

void FilterSet::stop() {
  for (auto& d : drivers_) d->terminate();
  for (auto& d : drivers_) d->unload();
  drivers_.clear();
}

void FilterSet::draw(SFrameInfo& record) {
  for (auto& d : drivers_) d->draw(record);
}

}  // namespace tw
