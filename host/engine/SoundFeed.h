// The analysed sound of a run's frames, one SoundFrame per frame, in order:
// analysed from a stream on a thread of its own ("analysis") ahead of
// drawing, or read back from a recording.
#pragma once

#include "engine/Analysis.h"
#include "engine/Recording.h"
#include "engine/SampleQueue.h"
#include "engine/SoundStream.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tw {

// Frames a run of `seconds` at `fps` draws.
long frameCountFor(double seconds, double fps);

class SoundFeed {
 public:
  virtual ~SoundFeed() = default;
  // The next frame's sound (frameCount is the drawer's to set), valid until
  // the next call; null after the last frame, or on failure (problem()).
  virtual const SoundFrame* next() = 0;
  // Frames per second of the feed.
  virtual double fps() const = 0;
  // One line when the feed ended early or skipped damage; empty otherwise.
  virtual std::string problem() const = 0;
};

// Frame n is analysed at sample round(start × rate) + round(n × rate / fps),
// the window centred there. The run ends after `frames` frames or where the
// piece ends (frameCountFor(length − start)), whichever comes first.
class AnalysisFeed : public SoundFeed {
 public:
  struct Options {
    double start = 0;  // seconds into the piece
    double fps = 60;
    long frames = -1;  // at most; negative: to the end of the piece
    // The music of the frames drawn, streamed for a video: samples from the
    // first frame's on, as long as the frames last; closed at the end.
    SampleQueue* audio = nullptr;
    int depth = 32;  // frames analysed ahead
  };

  // The stream must have been started at or before firstSample(options) −
  // the analysis' reach; see firstNeeded().
  AnalysisFeed(SoundStream& stream, const Options& options);
  ~AnalysisFeed() override;

  // The first sample the feed reads: where to start the stream.
  static int64_t firstNeeded(int sampleRate, const Options& options);

  void start();
  void stop();
  const SoundFrame* next() override;
  double fps() const override { return o_.fps; }
  std::string problem() const override;

 private:
  void run();
  bool tee(int64_t upTo);

  SoundStream& stream_;
  const Options o_;
  const int rate_;
  const int64_t first_;
  Analyzer analyzer_;
  std::vector<SoundFrame> slots_;
  const long batch_;                 // frames the drawer waits for when it has none
  std::vector<float> left_, right_;  // one analysis' stretch

  mutable std::mutex mutex_;
  std::condition_variable ready_, freed_;
  long produced_ = 0;  // frames written into slots
  long taken_ = 0;     // frames handed to the drawer
  bool producerWaiting_ = false, consumerWaiting_ = false;
  bool finished_ = false;
  bool stopped_ = false;
  std::string problem_;

  int64_t teed_;  // next sample for the audio queue
  std::thread thread_;
};

// A recorded analysis stream (RecordWriter's format), from frame
// floor(start × fps) on, at most `frames` frames.
class ReplayFeed : public SoundFeed {
 public:
  bool open(const std::string& path, double start, long frames, std::string* error);
  const SoundFrame* next() override;
  double fps() const override { return reader_.fps(); }
  std::string problem() const override { return problem_; }
  int sampleRate() const { return reader_.sampleRate(); }
  // Frames the replay holds from the start on (at most `frames`).
  long frames() const { return frames_; }

 private:
  RecordReader reader_;
  SoundFrame frame_;
  long frames_ = 0, done_ = 0;
  std::string problem_;
};

}  // namespace tw
