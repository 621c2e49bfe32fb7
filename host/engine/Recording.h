// The analysis stream on disk: what --record writes and --replay reads.
//
// Layout, little-endian, no padding:
//   header (32 bytes): "TWSOUND1", uint32 version (1), uint32 samples per
//     frame (1025), uint32 spectrum bins per channel (513), uint32 sample rate
//     of the analysed sound, float64 frames per second;
//   then one record per frame, until the end of the file:
//     int32 frameCount, float64 level[2], float64 bands[2][8],
//     float32 spectrum[2][513] (channel 0 first), int32 samples[1025].
#pragma once

#include "engine/Analysis.h"

#include <cstdio>
#include <string>

namespace tw {

class RecordWriter {
 public:
  ~RecordWriter();
  // Writes beside the target; finish() moves it into place.
  bool open(const std::string& path, int sampleRate, double fps, std::string* error);
  bool write(const SoundFrame& frame, std::string* error);
  bool finish(std::string* error);
  void abort();

 private:
  std::string path_, tmp_;
  FILE* file_ = nullptr;
};

constexpr size_t kRecordHeaderBytes = 32;
constexpr size_t kRecordFrameBytes =
    4 + 2 * 8 + 16 * 8 + 2 * SoundFrame::kSpectrum * 4 + SoundFrame::kSamples * 4;

// The header's values.
struct RecordHeader {
  int sampleRate = 0;
  double fps = 0;
};

// Parses the 32-byte header at `bytes` (`size` bytes available). False with
// *error's reason (naming the file `name`) when it is not a record header of
// this layout.
bool parseRecordHeader(const uint8* bytes, size_t size, const std::string& name, RecordHeader* out,
                       std::string* error);

// Parses one frame from kRecordFrameBytes bytes at `bytes`. False with
// *error's reason when a value is one the analysis never writes and the
// filters are not promised: a sample outside the 16-bit range, a spectrum,
// level or band value that is negative or not finite.
bool parseRecordFrame(const uint8* bytes, const std::string& name, SoundFrame* frame, std::string* error);

class RecordReader {
 public:
  ~RecordReader();
  bool open(const std::string& path, std::string* error);
  // False at the end of the stream; *error is set when the file is damaged
  // (a frame cut short, or a value parseRecordFrame refuses).
  bool read(SoundFrame* frame, std::string* error);
  int sampleRate() const { return sampleRate_; }
  double fps() const { return fps_; }
  // Frames in the file, from its size.
  long frames() const { return frames_; }

 private:
  FILE* file_ = nullptr;
  std::string path_;
  int sampleRate_ = 0;
  double fps_ = 0;
  long frames_ = 0;
};

}  // namespace tw
