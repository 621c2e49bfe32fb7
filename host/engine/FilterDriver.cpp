#include "engine/FilterDriver.h"

#include <cstring>

namespace tw {

FilterDriver::FilterDriver(CFilter* filter) : filter_(filter) {}

FilterDriver::~FilterDriver() {
  if (!filter_) return;
  if (state_ == State::Running) terminate();
  if (state_ == State::Loaded) unload();
}

void FilterDriver::setDirectories(const std::string& base, const std::string& data,
                                  const std::string& image) {
  filter_->baseDir.SetTo(base.c_str());
  filter_->dataDir.SetTo(data.c_str());
  filter_->imageDir.SetTo(image.c_str());
}

bool FilterDriver::load() {
  if (state_ != State::Constructed) return state_ == State::Loaded || state_ == State::Running;
  if (!filter_->load()) return false;
  state_ = State::Loaded;
  return true;
}

bool FilterDriver::prepare(const FrameGeometry& g, const rgb_color* palette, const uint32* palette32) {
  if (state_ != State::Loaded) return false;
  if ((filter_->supportedModes & g.pixelMode) == 0 || (g.pixelMode != 1 && g.pixelMode != 2)) return false;
  CFilter& f = *filter_;
  f.width = g.width;
  f.height = g.height;
  f.bytesPerRow = g.rowBytes();
  f.frameBytes = g.frameBytes();
  f.pixelMode = g.pixelMode;
  if (palette) std::memcpy(f.palette, palette, sizeof f.palette);
  if (palette32) std::memcpy(f.palette32, palette32, sizeof f.palette32);
  if (!f.prepare()) return false;
  state_ = State::Running;
  return true;
}

void FilterDriver::draw(SFrameInfo& record) {
  if (state_ != State::Running) return;
  filter_->frame = &record;
  if (filter_->pixelMode == 2)
    filter_->processFrame32(record);
  else
    filter_->processFrame8(record);
}

void FilterDriver::terminate() {
  if (state_ != State::Running) return;
  filter_->terminate();
  state_ = State::Loaded;
}

void FilterDriver::unload() {
  if (state_ == State::Running) terminate();
  if (state_ != State::Loaded) return;
  filter_->unload();
  state_ = State::Unloaded;
}

}  // namespace tw
