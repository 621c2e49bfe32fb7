// A piece of music as a stream: two channels of float samples in the signed
// 16-bit range (−32768 … 32767), read in order, block by block, so that what
// a run costs follows the stretch it reads, not the length of the piece.
// Mono pieces give the same samples on both channels.
#pragma once

#include "engine/Sound.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tw {

class SoundSource {
 public:
  virtual ~SoundSource() = default;

  virtual int sampleRate() const = 0;
  // Samples per channel, when the piece says so beforehand (a file's header
  // or index); -1 when it does not (a stream on standard input). A hint: the
  // end is where read() returns 0.
  virtual int64_t lengthHint() const = 0;
  // False when the piece has one channel (both channels then the same).
  virtual bool stereo() const = 0;
  // The piece as the user named it, for messages.
  virtual std::string name() const = 0;

  // The next samples into left[] and right[], at most `most` of each. Returns
  // how many; 0 at the end of the piece, or where decoding stopped for good
  // (problem() then says why).
  virtual int read(float* left, float* right, int most) = 0;
  // Moves so that the next read returns sample `at` exactly. A source that
  // cannot seek (a stream) only moves forward, by decoding and dropping.
  // False with a one-line reason when `at` cannot be reached.
  virtual bool seek(int64_t at, std::string* error) = 0;
  // True when seek() may also go backwards.
  virtual bool canSeek() const = 0;
  // Empty while all went well; otherwise one line for the user: where
  // decoding stopped or skipped, and why.
  virtual std::string problem() const = 0;
};

// A source over samples in memory: the embedded demo track, tests.
std::unique_ptr<SoundSource> makeMemorySource(std::shared_ptr<const Sound> sound, std::string name);

// The music of a command: the file given, or the embedded demo track (made
// once per process) when `path` is empty.
std::unique_ptr<SoundSource> openSound(const std::string& path, std::string* error);

// A sound or video file decoded in blocks through FFmpeg's libraries, at the
// file's own sample rate: the best audio stream of whatever they read (WAV,
// FLAC, Ogg Vorbis, Opus, MP3, AAC, ALAC, the sound of a video, ...). `path`
// "-" reads standard input, once and in order. Null with a one-line reason
// naming the file when it is missing, unreadable, not a media file, or has no
// audio stream.
//
// - Levels: 16-bit PCM sample s comes out as exactly float(s); other formats
//   are their decoder's float × 32768, clamped to the 16-bit range.
// - Channels: mono gives the same samples on both channels at full level;
//   stereo is kept as is; more channels are mixed down to stereo: front
//   left/right at full level, centre and surrounds (side, back, wide, top)
//   at −3 dB (× 0.7071) to their side (centres to both), LFE dropped, no
//   normalisation, clamped.
// - Sample 0 is the first sample a read from the start gives; seek(at) then
//   reads exactly what a sequential read gives at `at` wherever the
//   container's timestamps count samples and the decoder's state settles
//   within a fifth of a second (see the tests for the formats where it is
//   bit-exact); to within the timestamps' resolution elsewhere (Matroska's
//   millisecond).
// - Damage: what decodes is delivered and time is kept (a stretch the
//   timestamps show missing comes back as silence); problem() says where
//   decoding skipped or stopped and why. FFmpeg's own logging is silenced.
// - Memory holds one decoded frame, whatever the length of the piece.
// One source is used by one thread at a time; sources on different threads
// are independent.
std::unique_ptr<SoundSource> openSoundFile(const std::string& path, std::string* error);

}  // namespace tw
