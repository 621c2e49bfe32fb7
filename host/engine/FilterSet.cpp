#include "engine/FilterSet.h"

#include <platform/interface.h>

namespace tw {

std::string modeMismatch(const FilterInfo& f, int32 pixelMode) {
  if (f.modes & pixelMode) return {};
  return "filter \"" + f.name + "\" does not draw in " + modeNames(pixelMode) + " mode; it draws in " +
         modeNames(f.modes) + " mode only (use --mode " + ((f.modes & 1) ? "8" : "32") + ")";
}

bool FilterSet::start(const std::vector<const FilterInfo*>& filters, const HostDirs& dirs,
                      const FrameGeometry& g, std::string* error) {
  stop();
  for (const FilterInfo* f : filters) {
    CFilter* filter = f->addon->create(f->index);
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
    drivers_.push_back(std::move(d));
  }
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
