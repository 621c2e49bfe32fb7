// Where rendered frames go: nothing, numbered PNG files, a video file through
// the ffmpeg program (with the music muxed in), or a YUV4MPEG2 stream. Every
// sink but the null one scales the frame to the output size first (Scaler).
// Files are written beside their target and moved into place in finish(), so
// a render that fails leaves nothing half-written.
#pragma once

#include "engine/Frame.h"
#include "engine/SampleQueue.h"
#include "output/Scaler.h"

#include <cstdio>
#include <memory>
#include <string>

namespace tw {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual bool begin(const FrameGeometry& g, double fps, std::string* error) = 0;
  // Every frame has the geometry given to begin().
  virtual bool write(const Frame& frame, const uint32* palette32, std::string* error) = 0;
  // Completes the output; false (and nothing left behind) on failure.
  virtual bool finish(std::string* error) = 0;
  // Drops whatever was written so far.
  virtual void abort() = 0;
  // A short description of where the frames went.
  virtual std::string describe() const = 0;
};

struct SinkOptions {
  int videoWidth = 0, videoHeight = 0;  // 0: the frame's size
  Fit fit = Fit::Contain;
  ScaleFilter scale = ScaleFilter::Nearest;
  // The music for a video file, streamed: the sink reads it on a thread of
  // its own until the queue is closed (finish() waits for that). Sinks that
  // write no sound cancel the queue in begin(), so that its writer stops.
  // The queue must outlive the sink. Null: no sound.
  SampleQueue* audio = nullptr;
};

// True when the target is a video file, which carries the music.
bool takesMusic(const std::string& target);

// Picks the sink for `-o`: "null", "-" (YUV4MPEG2 on stdout), a name with
// .mp4, .mkv or .webm, or a PNG pattern with one %d-style field ("%05d").
// Null with a reason for anything else.
//
// Video files: ffmpeg (TIDEWAVE_FFMPEG names another program) gets raw
// yuv420p on its standard input and, with audio, raw s16le stereo at the
// queue's rate on fd 3. Encoders need even sizes: an odd width or height
// gets one black column or row (right, bottom). Writes to ffmpeg are checked;
// the program ignores SIGPIPE (a process that does not dies with ffmpeg).
std::unique_ptr<FrameSink> makeSink(const std::string& target, const SinkOptions& options,
                                    std::string* error);

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
