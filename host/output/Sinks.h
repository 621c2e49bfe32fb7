// Where rendered frames go: nothing, numbered PNG files, a video file through
// the ffmpeg program (with the music muxed in), or a YUV4MPEG2 stream. Every
// sink writes beside its target and moves the result into place in finish(),
// so a render that fails leaves nothing half-written.
#pragma once

#include "engine/Frame.h"
#include "engine/Sound.h"

#include <cstdio>
#include <memory>
#include <string>

namespace tw {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual bool begin(const FrameGeometry& g, double fps, std::string* error) = 0;
  virtual bool write(const Frame& frame, const uint32* palette32, std::string* error) = 0;
  // Completes the output; false (and nothing left behind) on failure.
  virtual bool finish(std::string* error) = 0;
  // Drops whatever was written so far.
  virtual void abort() = 0;
  // A short description of where the frames went.
  virtual std::string describe() const = 0;
};

// The music for a video: samples [first, first + count) of `sound`.
struct AudioSpan {
  const Sound* sound = nullptr;
  int64_t first = 0;
  int64_t count = 0;
};

// Picks the sink for `-o`: "null", "-" (YUV4MPEG2 on stdout), a name with
// .mp4, .mkv or .webm, or a PNG pattern with one %d-style field ("%05d").
// Null with a reason for anything else.
std::unique_ptr<FrameSink> makeSink(const std::string& target, const AudioSpan& audio, std::string* error);

// The file name of frame `index` of a PNG pattern; false when the pattern has
// no single %d field (an optional zero flag and width allowed).
bool formatFrameName(const std::string& pattern, long index, std::string* out);

// Where the "-" sink writes its stream: standard output unless set. The
// program moves its standard output aside for the stream and points stdout
// at stderr, so that what add-ons print cannot corrupt it.
void setStreamOutput(FILE* out);

// The path of the ffmpeg program, or empty when there is none on PATH.
std::string findFfmpeg();

}  // namespace tw
