#include "Render.h"

#include "engine/Analysis.h"
#include "engine/Fade.h"
#include "engine/FilterSet.h"
#include "engine/Recording.h"
#include "output/Image.h"
#include "output/Sinks.h"

#include <platform/interface.h>
#include <platform/kernel.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace tw {

long frameCountFor(double seconds, double fps) {
  return seconds <= 0 ? 0 : long(std::ceil(seconds * fps - 1e-9));
}

namespace {

using Clock = std::chrono::steady_clock;

void showProgress(long done, long total, bool last) {
  const int width = 40;
  const int filled = total > 0 ? int(double(done) / double(total) * width) : width;
  std::fprintf(stderr, "\r[%.*s%*s] %3d%% %ld/%ld frames", filled, "########################################",
               width - filled, "", total > 0 ? int(100.0 * double(done) / double(total)) : 100, done, total);
  if (last) std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace

bool render(const RenderOptions& o, RenderResult* result, std::string* error) {
  if (o.filters.empty()) {
    *error = "no filter to draw";
    return false;
  }
  const FrameGeometry& g = o.geometry;
  for (const FilterInfo* f : o.filters)
    if (std::string why = modeMismatch(*f, g.pixelMode); !why.empty()) {
      *error = why;
      return false;
    }

  // The sound, or the recording that replaces it.
  RecordReader reader;
  double fps = o.fps;
  long frames = 0, firstFrame = 0;
  long available = 0;  // frames the sound (or recording) holds from --start on
  int64_t firstSample = 0;
  if (!o.replay.empty()) {
    if (!reader.open(o.replay, error)) return false;
    fps = reader.fps();
    firstFrame = long(std::floor(o.start * fps));
    frames = available = std::max(0L, reader.frames() - firstFrame);
    if (o.seconds >= 0) frames = std::min(frames, frameCountFor(o.seconds, fps));
    SoundFrame skip;
    for (long i = 0; i < firstFrame; ++i)
      if (!reader.read(&skip, error)) {
        if (error->empty()) *error = "record file '" + o.replay + "' is shorter than --start";
        return false;
      }
  } else {
    if (o.sound == nullptr) {
      *error = "no sound to analyse";
      return false;
    }
    const double length = o.sound->seconds();
    if (o.start >= length) {
      *error = "--start " + std::to_string(o.start) + " s lies past the end of the sound (" +
               std::to_string(length) + " s)";
      return false;
    }
    const double seconds = o.seconds >= 0 ? std::min(o.seconds, length - o.start) : length - o.start;
    frames = frameCountFor(seconds, fps);
    available = frameCountFor(length - o.start, fps);
    firstSample = int64_t(std::llround(o.start * o.sound->sampleRate));
  }
  if (frames <= 0) {
    *error = "nothing to render: the stretch chosen holds no frames";
    return false;
  }

  // The lifecycle, in the contract's order: directories, load, geometry and
  // palettes, prepare. The set finishes whatever stage remains on return.
  const rgb_color* palette = tw_system_palette();
  const uint32* palette32 = tw_system_palette32();
  FilterSet filters;
  const int32 threadsBefore = tw_threads_running();
  // A filter is working in the background while a thread it started runs.
  auto working = [threadsBefore] { return tw_threads_running() > threadsBefore; };
  if (!filters.start(o.filters, o.dirs, g, error)) return false;
  const bool background = working();
  if (o.pace == Pace::Auto && background)
    std::fprintf(stderr,
                 "tidewave: a filter works in the background; drawing at real-time pace while it does "
                 "(--pace fast draws at full speed)\n");
  const double warmUp = o.warmUp + (background ? o.backgroundWarmUp : 0);
  if (warmUp > 0) std::this_thread::sleep_for(std::chrono::duration<double>(warmUp));
  if (background) frames = std::max(frames, std::min(available, frameCountFor(o.backgroundSeconds, fps)));
  const float factor = o.persistence ? *o.persistence : filters.hostFactor();
  const Fade fade(factor, palette);

  AudioSpan audio;
  if (o.sound && o.replay.empty()) {
    audio.sound = o.sound;
    audio.first = firstSample;
    audio.count = int64_t(std::llround(double(frames) / fps * o.sound->sampleRate));
  }
  std::unique_ptr<FrameSink> sink = makeSink(o.output, audio, error);
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
  if (!o.record.empty() &&
      !recorder.open(o.record, o.sound ? o.sound->sampleRate : reader.sampleRate(), fps, error))
    return false;
  if (!sink->begin(g, fps, error)) {
    sink->abort();
    return false;
  }

  std::unique_ptr<Analyzer> analyzer;
  if (o.replay.empty()) analyzer = std::make_unique<Analyzer>(o.sound->sampleRate);
  Frame frame(g);
  frame.clear();
  SoundFrame sound;
  std::vector<double> total(filters.size(), 0), worst(filters.size(), 0);
  std::vector<long> sheetAt;
  std::vector<SheetTile> tiles;
  if (!o.sheet.empty())
    for (int k = 0; k < o.sheetTiles; ++k) sheetAt.push_back(long((k + 0.5) * double(frames) / o.sheetTiles));
  std::vector<SheetTile> kept;
  std::vector<long> keepFrames;
  for (double at : o.keepAt) keepFrames.push_back(std::clamp(long(at * double(frames)), 0L, frames - 1));

  const auto t0 = Clock::now();
  auto fail = [&](const std::string& why) {
    *error = why;
    tw_set_modifiers(0);
    sink->abort();
    recorder.abort();
    if (o.progress) std::fputc('\n', stderr);
    return false;
  };
  const long step = std::max(1L, frames / 200);
  bool paced = false, realTime = false;
  Clock::time_point paceOrigin;
  auto frameTime = [fps](long n) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(n) / fps));
  };
  for (long n = 0; n < frames; ++n) {
    // Paced, frame n is drawn n / fps after the pace began (or resumed).
    const bool pace = o.pace == Pace::RealTime || (o.pace == Pace::Auto && working());
    if (pace) {
      if (!paced) paceOrigin = Clock::now() - frameTime(n);
      std::this_thread::sleep_until(paceOrigin + frameTime(n));
    }
    paced = pace;
    realTime = realTime || pace;
    if (analyzer) {
      const int64_t centre = firstSample + int64_t(std::llround(double(n) / fps * o.sound->sampleRate));
      analyzer->analyse(*o.sound, centre, &sound);
    } else {
      std::string why;
      if (!reader.read(&sound, &why)) return fail(why.empty() ? "record file ended early" : why);
    }
    sound.frameCount = int32(n);
    // The keys held, published before each frame as a live window does.
    tw_set_modifiers(o.heldKeys);
    std::string why;
    if (!o.record.empty() && !recorder.write(sound, &why)) return fail(why);
    fade.apply(frame);
    sound.copyTo(frame.info());
    for (size_t i = 0; i < filters.size(); ++i) {
      const auto a = Clock::now();
      filters.draw(i, frame.info());
      const double us = std::chrono::duration<double, std::micro>(Clock::now() - a).count();
      total[i] += us;
      worst[i] = std::max(worst[i], us);
    }
    if (!sink->write(frame, palette32, &why)) return fail(why);
    const bool forSheet = std::find(sheetAt.begin(), sheetAt.end(), n) != sheetAt.end();
    const bool forCaller = std::find(keepFrames.begin(), keepFrames.end(), n) != keepFrames.end();
    if (forSheet || forCaller) {
      SheetTile tile;
      frameToRgb(frame, palette32, &tile.picture);
      char label[96];
      std::snprintf(label, sizeof label, "%.1f s", o.start + double(n) / fps);
      tile.label = label;
      if (forCaller) kept.push_back(tile);
      if (forSheet) tiles.push_back(std::move(tile));
    }
    if (o.progress && (n % step == 0)) showProgress(n, frames, false);
  }
  filters.stop();
  tw_set_modifiers(0);
  result->wallSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  if (o.progress) showProgress(frames, frames, true);

  std::string why;
  if (!o.sheet.empty()) {
    std::string title;
    for (const FilterInfo* f : o.filters) title += (title.empty() ? "" : " + ") + f->name;
    if (!writePng(o.sheet, makeSheet(tiles, 3, 2, title), &why)) return fail(why);
  }
  if (!sink->finish(&why) || (!o.record.empty() && !recorder.finish(&why))) {
    if (!o.sheet.empty()) std::remove(o.sheet.c_str());
    return fail(why);
  }
  result->frames = frames;
  result->realTime = realTime;
  result->background = background;
  result->kept = std::move(kept);
  result->wrote = sink->describe();
  result->timings.clear();
  for (size_t i = 0; i < total.size(); ++i)
    result->timings.push_back({o.filters[i]->name, total[i] / double(frames), worst[i]});
  return true;
}

}  // namespace tw
