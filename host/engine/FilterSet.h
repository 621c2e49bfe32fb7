// The filters drawn into one frame, running: created, loaded and prepared in
// the contract's order, and on stop (or destruction) terminated, unloaded and
// deleted, each stage over all of them before the next.
#pragma once

#include "engine/Catalog.h"
#include "engine/FilterDriver.h"
#include "engine/Frame.h"

#include <memory>
#include <string>
#include <vector>

namespace tw {

// Empty when the filter draws in the pixel mode (or its modes are not known
// yet), else the one-line reason.
std::string modeMismatch(const FilterInfo& filter, int32 pixelMode);

// A pixel mode to ask of FilterSet::start: the first filter's own, 8-bit
// when it draws it.
constexpr int32 kFirstFiltersMode = 0;

class FilterSet {
 public:
  FilterSet() = default;
  ~FilterSet() { stop(); }
  FilterSet(const FilterSet&) = delete;
  FilterSet& operator=(const FilterSet&) = delete;

  // Stops what runs, then starts `filters` for frames of geometry `g` (its
  // pixelMode may be kFirstFiltersMode). False with a reason, nothing left
  // running, when one refuses or does not draw in the mode.
  bool start(const std::vector<const FilterInfo*>& filters, const HostDirs& dirs, const FrameGeometry& g,
             std::string* error);
  void stop();
  bool empty() const { return drivers_.empty(); }
  // The first filter's hostFactor (how much of the previous frame it keeps).
  float hostFactor() { return drivers_.empty() ? 0.f : drivers_.front()->filter().hostFactor; }
  size_t size() const { return drivers_.size(); }
  // The geometry of the run, its mode settled.
  const FrameGeometry& geometry() const { return geometry_; }
  // Every filter in order, or filter i alone (to time each).
  void draw(SFrameInfo& record);
  void draw(size_t i, SFrameInfo& record) { drivers_[i]->draw(record); }

 private:
  std::vector<std::unique_ptr<FilterDriver>> drivers_;
  FrameGeometry geometry_;
};

}  // namespace tw
