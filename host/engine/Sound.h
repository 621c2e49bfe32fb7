// A piece of music in memory: two channels of float samples in the signed
// 16-bit range (−32768 … 32767), at one sample rate. Mono sources carry the
// same samples in both channels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tw {

struct Sound {
  int sampleRate = 44100;
  std::vector<float> left;
  std::vector<float> right;
  bool stereo = false;  // false when both channels came from one

  int64_t frames() const { return int64_t(left.size()); }
  double seconds() const { return sampleRate > 0 ? double(left.size()) / sampleRate : 0.0; }
};

// Decodes a whole sound or video file ("-": standard input) into memory
// through openSoundFile (engine/SoundSource.h, which says how channels and
// levels come out). False with a one-line reason in *error when the file is
// missing, unreadable, not media, without an audio stream, or empty. When
// decoding skipped or stopped early, what decoded is kept and *problem (if
// given) says where and why; otherwise it is emptied.
bool loadSound(const std::string& path, Sound* out, std::string* error, std::string* problem = nullptr);

// Writes samples [first, first + count) as a 16-bit stereo WAV file (used to
// hand the music to the video encoder). False with a reason on failure.
bool writeWav(const std::string& path, const Sound& sound, int64_t first, int64_t count, std::string* error);

// The embedded demo track: 120 BPM, kick, snare, hats, a bass line, chords
// and a sweep, panned so that the channels differ. The same samples on every
// call; `seconds` only shortens or lengthens the arrangement (30 s by default).
Sound makeDemoTrack(double seconds = 30.0, int sampleRate = 44100);

}  // namespace tw
