// Drives one filter through its lifecycle in the contract's order:
// directories, load, geometry and mode, palettes, prepare, frames, terminate,
// unload, delete. Owns the filter; the destructor finishes whatever stage the
// filter is in, so a filter is never deleted while running.
#pragma once

#include "CFilter.h"
#include "engine/Frame.h"

#include <memory>
#include <string>

namespace tw {

class FilterDriver {
 public:
  enum class State { Constructed, Loaded, Running, Unloaded };

  explicit FilterDriver(CFilter* filter);
  ~FilterDriver();
  FilterDriver(const FilterDriver&) = delete;
  FilterDriver& operator=(const FilterDriver&) = delete;

  CFilter& filter() { return *filter_; }
  State state() const { return state_; }

  // Before load: the filter's base, data and image directories.
  void setDirectories(const std::string& base, const std::string& data, const std::string& image);
  // Calls load; false (and the state stays Constructed) when it refuses.
  bool load();
  // Sets geometry, pixel mode and palettes, then calls prepare. False when
  // the mode is not one the filter announced, or prepare refuses.
  bool prepare(const FrameGeometry& geometry, const rgb_color* palette, const uint32* palette32);
  // Points the filter's frame at the record and calls the frame operation of
  // the run's mode. Only while running.
  void draw(SFrameInfo& record);
  void terminate();
  void unload();

 private:
  std::unique_ptr<CFilter> filter_;
  State state_ = State::Constructed;
};

}  // namespace tw
