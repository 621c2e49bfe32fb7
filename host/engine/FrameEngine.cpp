#include "engine/FrameEngine.h"

#include <platform/interface.h>

#include <algorithm>

namespace tw {

bool FrameEngine::start(const std::vector<const FilterInfo*>& filters, const HostDirs& dirs,
                        const FrameGeometry& asked, std::optional<float> persistence, std::string* error) {
  stop();
  if (filters.empty()) {
    *error = "no filter to draw";
    return false;
  }
  if (!filters_.start(filters, dirs, asked, error)) return false;
  infos_ = filters;
  const FrameGeometry& g = filters_.geometry();
  if (!frame_ || frame_->geometry().width != g.width || frame_->geometry().height != g.height ||
      frame_->geometry().pixelMode != g.pixelMode || frame_->geometry().rowBytes() != g.rowBytes())
    frame_ = std::make_unique<Frame>(g);
  frame_->clear();
  fade_ = std::make_unique<Fade>(persistence ? *persistence : filters_.hostFactor(), tw_system_palette());
  total_.assign(filters.size(), 0);
  worst_.assign(filters.size(), 0);
  frames_ = 0;
  return true;
}

void FrameEngine::stop() { filters_.stop(); }

const uint32* FrameEngine::palette32() const { return tw_system_palette32(); }

void FrameEngine::draw(const SoundFrame& sound, int32 frameCount) {
  using Clock = std::chrono::steady_clock;
  fade_->apply(*frame_);
  frame_->setSound(sound, frameCount);
  for (size_t i = 0; i < filters_.size(); ++i) {
    const auto a = Clock::now();
    filters_.draw(i, frame_->info());
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - a).count();
    total_[i] += us;
    worst_[i] = std::max(worst_[i], us);
  }
  ++frames_;
}

void FrameEngine::skip() {
  if (fade_) fade_->apply(*frame_);
}

std::vector<FilterTiming> FrameEngine::timings() const {
  std::vector<FilterTiming> t;
  for (size_t i = 0; i < infos_.size() && i < total_.size(); ++i)
    t.push_back({infos_[i]->name, frames_, frames_ > 0 ? total_[i] / double(frames_) : 0.0, worst_[i]});
  return t;
}

}  // namespace tw
