#include "engine/SoundSource.h"

#include <algorithm>
#include <cstring>

namespace tw {
namespace {

class MemorySource : public SoundSource {
 public:
  MemorySource(std::shared_ptr<const Sound> sound, std::string name)
      : sound_(std::move(sound)), name_(std::move(name)) {}

  int sampleRate() const override { return sound_->sampleRate; }
  int64_t lengthHint() const override { return sound_->frames(); }
  bool stereo() const override { return sound_->stereo; }
  std::string name() const override { return name_; }
  int read(float* left, float* right, int most) override {
    const int n = int(std::clamp<int64_t>(sound_->frames() - at_, 0, std::max(most, 0)));
    if (n > 0) {
      std::memcpy(left, sound_->left.data() + at_, size_t(n) * sizeof(float));
      std::memcpy(right, sound_->right.data() + at_, size_t(n) * sizeof(float));
    }
    at_ += n;
    return n;
  }
  bool seek(int64_t at, std::string* error) override {
    if (at < 0 || at > sound_->frames()) {
      *error = "cannot seek to sample " + std::to_string(at) + " of " + name_ + " (" +
               std::to_string(sound_->frames()) + " samples)";
      return false;
    }
    at_ = at;
    return true;
  }
  bool canSeek() const override { return true; }
  std::string problem() const override { return {}; }

 private:
  std::shared_ptr<const Sound> sound_;
  std::string name_;
  int64_t at_ = 0;
};

}  // namespace

std::unique_ptr<SoundSource> makeMemorySource(std::shared_ptr<const Sound> sound, std::string name) {
  return std::make_unique<MemorySource>(std::move(sound), std::move(name));
}

std::unique_ptr<SoundSource> openSound(const std::string& path, std::string* error) {
  if (!path.empty()) return openSoundFile(path, error);
  static const std::shared_ptr<const Sound> demo = std::make_shared<const Sound>(makeDemoTrack());
  return makeMemorySource(demo, "the embedded demo track");
}

}  // namespace tw
