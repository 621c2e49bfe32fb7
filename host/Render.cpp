#include "Render.h"

#include "engine/Recording.h"
#include "engine/SoundFeed.h"
#include "engine/SoundStream.h"
#include "output/Sinks.h"

#include <platform/kernel_host.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace tw {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSheetTiles = 6;

void showProgress(long done, long total, double seconds, bool last) {
  if (total > 0) {
    const int width = 40;
    const int filled = int(double(std::min(done, total)) / double(total) * width);
    std::fprintf(stderr, "\r[%.*s%*s] %3d%% %ld/%ld frames", filled,
                 "########################################", width - filled, "",
                 int(100.0 * double(std::min(done, total)) / double(total)), done, total);
  } else {
    std::fprintf(stderr, "\r%ld frames (%.1f s of sound)", done, seconds);
  }
  if (last) std::fputc('\n', stderr);
  std::fflush(stderr);
}

// Frames for the contact sheet, spread over the render. With the number of
// frames known beforehand: those at (k + ½) / tiles of it. Without (a stream
// of unknown length): every stride-th frame, the stride doubling whenever
// twice the tiles are held, so that memory stays bounded; the sheet then
// takes tiles evenly from those.
class SheetKeeper {
 public:
  SheetKeeper(int tiles, long total) : tiles_(tiles), total_(total) {}
  bool wants(long n) const {
    if (total_ > 0) {
      for (int k = 0; k < tiles_; ++k)
        if (long((k + 0.5) * double(total_) / tiles_) == n) return true;
      return false;
    }
    return n % stride_ == 0;
  }
  void keep(SheetTile tile) {
    kept_.push_back(std::move(tile));
    if (total_ <= 0 && int(kept_.size()) >= 2 * tiles_) {
      std::vector<SheetTile> thinned;
      for (size_t i = 0; i < kept_.size(); i += 2) thinned.push_back(std::move(kept_[i]));
      kept_ = std::move(thinned);
      stride_ *= 2;
    }
  }
  std::vector<SheetTile> tiles() {
    if (total_ > 0 || int(kept_.size()) <= tiles_) return std::move(kept_);
    std::vector<SheetTile> picked;
    for (int k = 0; k < tiles_; ++k)
      picked.push_back(std::move(kept_[size_t((k + 0.5) * double(kept_.size()) / tiles_)]));
    return picked;
  }

 private:
  int tiles_;
  long total_;
  long stride_ = 1;
  std::vector<SheetTile> kept_;
};

}  // namespace

bool render(const RenderOptions& o, RenderResult* result, std::string* error) {
  if (o.filters.empty()) {
    *error = "no filter to draw";
    return false;
  }
  for (const FilterInfo* f : o.filters)
    if (std::string why = modeMismatch(*f, o.geometry.pixelMode); !why.empty()) {
      *error = why;
      return false;
    }

  // The sound (decoding starts at once, while the filters load), or the
  // recording that replaces it.
  long frames = o.seconds >= 0 ? frameCountFor(o.seconds, o.fps) : -1;
  double fps = o.fps;
  std::unique_ptr<SoundStream> stream;
  ReplayFeed replay;
  long available = -1;  // frames from --start on, when known beforehand
  int sampleRate = 0;
  if (!o.replay.empty()) {
    if (!replay.open(o.replay, o.start, frames, error)) return false;
    fps = replay.fps();
    frames = available = replay.frames();
    sampleRate = replay.sampleRate();
  } else {
    if (!o.sound) {
      *error = "no sound to analyse";
      return false;
    }
    std::unique_ptr<SoundSource> source = o.sound(error);
    if (!source) return false;
    sampleRate = source->sampleRate();
    const int64_t length = source->lengthHint();
    if (length >= 0) {
      const double seconds = double(length) / sampleRate;
      if (o.start >= seconds) {
        *error = "--start " + std::to_string(o.start) + " s lies past the end of " + source->name() + " (" +
                 std::to_string(seconds) + " s)";
        return false;
      }
      available = frameCountFor(seconds - o.start, fps);
    }
    AnalysisFeed::Options probe;
    probe.start = o.start;
    const int64_t from = AnalysisFeed::firstNeeded(sampleRate, probe);
    stream = std::make_unique<SoundStream>(std::move(source), SoundStream::defaultCapacity(sampleRate));
    if (!stream->start(from, error)) return false;
  }
  if (frames == 0) {
    *error = "nothing to render: the stretch chosen holds no frames";
    return false;
  }

  // The lifecycle, in the contract's order: directories, load, geometry and
  // palettes, prepare. The engine finishes whatever stage remains on return.
  FrameEngine engine;
  const int32 threadsBefore = tw_threads_running();
  // A filter is working in the background while a thread it started runs.
  auto working = [threadsBefore] { return tw_threads_running() > threadsBefore; };
  if (!engine.start(o.filters, o.dirs, o.geometry, o.persistence, error)) return false;
  const bool background = working();
  if (o.pace == Pace::Auto && background)
    std::fprintf(stderr,
                 "tidewave: a filter works in the background; drawing at real-time pace while it does "
                 "(--pace fast draws at full speed)\n");
  const double warmUp = o.warmUp + (background ? o.backgroundWarmUp : 0);
  if (warmUp > 0) std::this_thread::sleep_for(std::chrono::duration<double>(warmUp));
  if (background && frames >= 0) frames = std::max(frames, frameCountFor(o.backgroundSeconds, fps));
  // The frames to expect (for progress): the piece's length from its header
  // is a hint, so the analysis ends the run where the sound really ends. The
  // sheet and the kept frames need the count exactly: a limit within the
  // piece, or a recording.
  const long expected =
      frames >= 0 && available >= 0 ? std::min(frames, available) : std::max(frames, available);
  const bool framesKnown = !o.replay.empty() || (frames >= 0 && available >= 0 && frames <= available);

  // The music of the frames drawn, streamed to the sink by the analysis
  // (silence past the end of the sound). Declared before the sink, which
  // reads it, and the feed, which writes it.
  std::unique_ptr<SampleQueue> music;
  if (stream && takesMusic(o.output)) music = std::make_unique<SampleQueue>(sampleRate, 2 * sampleRate);
  SinkOptions sinkOptions;
  sinkOptions.videoWidth = o.videoWidth;
  sinkOptions.videoHeight = o.videoHeight;
  sinkOptions.fit = o.fit;
  sinkOptions.scale = o.scale;
  sinkOptions.audio = music.get();
  std::unique_ptr<FrameSink> sink = makeSink(o.output, sinkOptions, error);
  if (!sink) return false;
  if (!o.sheet.empty()) {
    // Fail before drawing when the sheet cannot be written.
    const std::string probe = o.sheet + ".partial";
    FILE* f = std::fopen(probe.c_str(), "wb");
    if (f == nullptr) {
      *error = "cannot write '" + o.sheet + "': " + std::strerror(errno);
      return false;
    }
    std::fclose(f);
    std::remove(probe.c_str());
  }
  RecordWriter recorder;
  if (!o.record.empty() && !recorder.open(o.record, sampleRate, fps, error)) return false;
  const FrameGeometry& g = engine.geometry();
  if (!sink->begin(g, fps, error)) {
    sink->abort();
    return false;
  }

  std::unique_ptr<AnalysisFeed> analysis;
  SoundFeed* feed = &replay;
  if (stream) {
    AnalysisFeed::Options fo;
    fo.start = o.start;
    fo.fps = fps;
    fo.frames = frames;
    fo.audio = music.get();
    analysis = std::make_unique<AnalysisFeed>(*stream, fo);
    analysis->start();
    feed = analysis.get();
  }

  SheetKeeper sheet(kSheetTiles, framesKnown ? frames : -1);
  std::vector<SheetTile> kept;
  std::vector<long> keepFrames;
  if (framesKnown)
    for (double at : o.keepAt) keepFrames.push_back(std::clamp(long(at * double(frames)), 0L, frames - 1));

  const auto t0 = Clock::now();
  auto fail = [&](const std::string& why) {
    *error = why;
    if (analysis) analysis->stop();
    if (stream) stream->stop();
    sink->abort();
    recorder.abort();
    if (o.progress) std::fputc('\n', stderr);
    return false;
  };
  const long step = expected > 0 ? std::max(1L, expected / 200) : long(std::max(1.0, fps));
  bool paced = false, realTime = false;
  Clock::time_point paceOrigin;
  auto frameTime = [fps](long n) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(n) / fps));
  };
  long n = 0;
  for (const SoundFrame* sound; (sound = feed->next()) != nullptr; ++n) {
    // Paced, frame n is drawn n / fps after the pace began (or resumed).
    const bool pace = o.pace == Pace::RealTime || (o.pace == Pace::Auto && working());
    if (pace) {
      if (!paced) paceOrigin = Clock::now() - frameTime(n);
      std::this_thread::sleep_until(paceOrigin + frameTime(n));
    }
    paced = pace;
    realTime = realTime || pace;
    std::string why;
    if (!o.record.empty()) {
      SoundFrame recorded = *sound;
      recorded.frameCount = int32(n);
      if (!recorder.write(recorded, &why)) return fail(why);
    }
    engine.draw(*sound, int32(n));
    if (!sink->write(engine.frame(), engine.palette32(), &why)) return fail(why);
    const bool forSheet = !o.sheet.empty() && sheet.wants(n);
    const bool forCaller = std::find(keepFrames.begin(), keepFrames.end(), n) != keepFrames.end();
    if (forSheet || forCaller) {
      SheetTile tile;
      frameToRgb(engine.frame(), engine.palette32(), &tile.picture);
      char label[96];
      std::snprintf(label, sizeof label, "%.1f s", o.start + double(n) / fps);
      tile.label = label;
      if (forCaller) kept.push_back(tile);
      if (forSheet) sheet.keep(std::move(tile));
    }
    if (o.progress && (n % step == 0)) showProgress(n, expected, double(n) / fps, false);
  }
  const std::string problem = feed->problem();
  if (analysis) analysis->stop();
  if (stream) stream->stop();
  engine.stop();
  result->wallSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  if (o.progress) showProgress(n, n, double(n) / fps, true);
  if (n == 0) {
    sink->abort();
    recorder.abort();
    *error = !problem.empty() ? problem : "nothing to render: --start lies past the end of the sound";
    return false;
  }
  if (!o.replay.empty() && !problem.empty()) return fail(problem);

  std::string why;
  if (!o.sheet.empty()) {
    std::string title;
    for (const FilterInfo* f : o.filters) title += (title.empty() ? "" : " + ") + f->name;
    int32 tileW = 0, tileH = 0;
    sheetTileSize(o.videoWidth > 0 ? o.videoWidth : g.width, o.videoHeight > 0 ? o.videoHeight : g.height,
                  &tileW, &tileH);
    if (!writePng(o.sheet, makeSheet(sheet.tiles(), 3, tileW, tileH, o.fit, title), &why)) return fail(why);
  }
  if (!sink->finish(&why) || (!o.record.empty() && !recorder.finish(&why))) {
    if (!o.sheet.empty()) std::remove(o.sheet.c_str());
    return fail(why);
  }
  result->frames = n;
  result->realTime = realTime;
  result->background = background;
  result->problem = problem;
  result->kept = std::move(kept);
  result->wrote = sink->describe();
  result->timings = engine.timings();
  return true;
}

}  // namespace tw
