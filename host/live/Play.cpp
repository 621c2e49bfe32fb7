#include "live/Play.h"

#include "engine/Analysis.h"
#include "engine/FrameEngine.h"
#include "engine/Recording.h"
#include "engine/SoundFeed.h"
#include "engine/SoundStream.h"
#include "live/Capture.h"
#include "live/Keys.h"
#include "live/Osd.h"
#include "live/PlayClock.h"
#include "live/Playback.h"
#include "live/Sources.h"
#include "live/Window.h"

#include <platform/interface_host.h>

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

namespace tw {

namespace {

constexpr double kSeekSeconds = 5;
constexpr int kCaptureRate = 44100;
// Sound of unknown length (live, or a stream not yet at its end): the clock
// only paces the frames.
constexpr int64_t kNoEnd = int64_t(1) << 52;

std::string namesOf(const std::vector<const FilterInfo*>& filters) {
  std::string t;
  for (const FilterInfo* f : filters) t += (t.empty() ? "" : " + ") + f->name;
  return t;
}

std::string titleFor(const std::vector<const FilterInfo*>& filters, bool paused) {
  // ASCII only: SDL sets an X window's titles through the C library's
  // locale, which drops (or garbles) other characters in the "C" locale.
  return namesOf(filters) + " - tidewave" + (paused ? " (paused)" : "");
}

// What the window shows: the frame scaled to the window's size by the
// outputs' scaler (a new one when either size changes), kept clean so that
// the on-screen display can be drawn over it again while paused.
class Picture {
 public:
  void draw(const Frame& frame, const uint32* palette32, int width, int height, ScaleFilter filter) {
    const FrameGeometry& g = frame.geometry();
    if (!scaler_ || g.width != from_.width || g.height != from_.height || g.pixelMode != from_.pixelMode ||
        width != clean_.width || height != clean_.height) {
      scaler_ = std::make_unique<Scaler>(g, width, height, Fit::Contain, filter);
      from_ = g;
      clean_ = XrgbImage(width, height);
    }
    scaler_->scale(frame, palette32, &clean_);
  }
  // Shows the picture with the display over it.
  void show(Window& window, const OsdState& osd, double now) {
    if (clean_.width == 0) return;
    shown_ = clean_;
    drawOsd(osd, now, shown_.pixels.data(), shown_.width, shown_.height, shown_.width);
    window.show(shown_.pixels.data(), shown_.width, shown_.height, shown_.rowBytes());
  }

 private:
  std::unique_ptr<Scaler> scaler_;
  FrameGeometry from_;
  XrgbImage clean_, shown_;
};

// Drawing times summed per filter over the whole run, across switches.
class Timings {
 public:
  void add(const std::vector<FilterTiming>& since) {
    for (const FilterTiming& t : since) {
      if (t.frames == 0) continue;
      PlayTiming& p = of(t.name);
      p.meanMicros += t.meanMicros * double(t.frames);  // a sum until result()
      p.worstMicros = std::max(p.worstMicros, t.worstMicros);
      p.frames += t.frames;
    }
  }
  std::vector<PlayTiming> result() const {
    std::vector<PlayTiming> r = all_;
    for (PlayTiming& t : r) t.meanMicros /= double(std::max(t.frames, 1L));
    return r;
  }

 private:
  PlayTiming& of(const std::string& name) {
    for (PlayTiming& t : all_)
      if (t.name == name) return t;
    all_.push_back({name});
    return all_.back();
  }
  std::vector<PlayTiming> all_;
};

}  // namespace

bool play(const PlayOptions& o, PlayResult* result, std::string* error) {
  const bool live = !o.capture.empty();
  if (o.filters.empty()) {
    *error = "no filter to draw";
    return false;
  }
  for (const FilterInfo* f : o.filters)
    if (o.geometry.pixelMode != kFirstFiltersMode)
      if (std::string why = modeMismatch(*f, o.geometry.pixelMode); !why.empty()) {
        *error = why;
        return false;
      }

  // The sound: decoding starts at once, ahead of the window and the filters.
  std::unique_ptr<SoundStream> stream;
  int rate = kCaptureRate;
  int64_t length = kNoEnd;
  bool canSeek = false;
  if (!live) {
    if (!o.sound) {
      *error = "no sound to play";
      return false;
    }
    std::unique_ptr<SoundSource> source = o.sound(error);
    if (!source) return false;
    rate = source->sampleRate();
    canSeek = source->canSeek();
    if (source->lengthHint() >= 0 && o.start >= double(source->lengthHint()) / rate) {
      *error = "--start " + std::to_string(o.start) + " s lies past the end of " + source->name() + " (" +
               std::to_string(double(source->lengthHint()) / rate) + " s)";
      return false;
    }
    stream = std::make_unique<SoundStream>(std::move(source), SoundStream::defaultCapacity(rate));
  }
  const int64_t first = live ? 0 : int64_t(std::llround(o.start * rate));
  Analyzer analyzer(rate);
  const int before = analyzer.before(), span = before + analyzer.after();
  if (stream && !stream->start(first - before, error)) return false;

  RecordWriter recorder;
  if (!o.record.empty() && !recorder.open(o.record, rate, o.fps, error)) return false;
  Window window;
  if (!window.open(o.windowWidth > 0 ? o.windowWidth : o.geometry.width,
                   o.windowHeight > 0 ? o.windowHeight : o.geometry.height, "tidewave", error))
    return false;
  if (o.fullscreen) window.setFullscreen(true);
  FrameEngine engine;
  if (!engine.start(o.filters, o.dirs, o.geometry, o.persistence, error)) return false;
  // Named once the filters are ready: what the title says is what runs.
  window.setTitle(titleFor(engine.filters(), false));

  std::unique_ptr<Capture> capture;
  std::unique_ptr<Playback> playback;
  if (live) {
    capture = Capture::open(o.capture, kCaptureRate, error);
    if (!capture) return false;
    capture->start();
  } else if (o.audio && !o.frameClock) {
    std::string why;
    playback = Playback::open(*stream, &why);
    if (!playback)
      std::fprintf(stderr, "tidewave: %s; pacing the pictures by the wall clock, without sound\n",
                   why.c_str());
  } else if (!o.frameClock) {
    std::fprintf(stderr, "tidewave: no audio; pacing the pictures by the wall clock\n");
  }
  PlayClock clock(rate, first, length, playback != nullptr);
  if (playback) playback->start(&clock);
  // With the frame clock, the frames come as render's do.
  std::unique_ptr<AnalysisFeed> feed;
  if (o.frameClock && stream) {
    AnalysisFeed::Options fo;
    fo.start = o.start;
    fo.fps = o.fps;
    fo.frames = o.seconds >= 0 ? frameCountFor(o.seconds, o.fps) : -1;
    feed = std::make_unique<AnalysisFeed>(*stream, fo);
    feed->start();
  }
  std::fprintf(stderr, "%s\n", keyHelp());
  OsdState osd;
  osd.targetFps = o.fps;
  osd.filterName = namesOf(engine.filters());
  if (o.fullscreen) osd.filterChangedAt = steadySeconds();  // started from the desktop: say what shows
  if (live) {
    std::fprintf(stderr, "tidewave: listening to \"%s\"\n", o.capture.c_str());
    osd.listening = o.capture;
    std::string ignored;  // the help panel shows none then
    listCaptureSources(&osd.sources, &ignored);
  }
  Picture picture;
  Timings timings;
  double fpsSince = steadySeconds();
  long fpsFrames = 0;
  long dropped = 0;
  int64_t lastSlot = -1;  // grid point of the last frame drawn, -1 after a seek or pause

  SoundFrame analysed;
  std::vector<float> left(static_cast<size_t>(span)), right(static_cast<size_t>(span));
  Sound recent;  // live: the newest samples, as much as one analysis reads
  recent.sampleRate = rate;
  const double frameSamples = rate / o.fps;
  const int64_t limit = o.seconds >= 0 ? int64_t(std::llround(o.seconds * rate)) : -1;
  int64_t gridBase = first;  // frames fall on gridBase + k × frameSamples
  int64_t nextAt = first;
  int64_t last = first;
  int64_t heard = 0;  // samples played, for --seconds
  long frames = 0;

  // Replaces the running filters with the catalogue's next (or previous) one.
  auto switchFilter = [&](int step) {
    if (o.catalog == nullptr || o.catalog->filters.empty()) return;
    const auto& all = o.catalog->filters;
    const std::vector<const FilterInfo*> current = engine.filters();
    FrameGeometry g = engine.geometry();
    size_t at = 0;
    for (size_t i = 0; i < all.size(); ++i)
      if (&all[i] == current.front()) at = i;
    for (size_t tries = 0; tries < all.size(); ++tries) {
      at = (at + all.size() + size_t(step > 0 ? 1 : all.size() - 1)) % all.size();
      const FilterInfo& f = all[at];
      if (o.modeGiven && !modeMismatch(f, g.pixelMode).empty()) continue;
      FrameGeometry ng = g;
      if (!o.modeGiven) ng.pixelMode = kFirstFiltersMode;
      std::string why;
      timings.add(engine.timings());
      if (!engine.start({&f}, o.dirs, ng, o.persistence, &why)) {
        std::fprintf(stderr, "tidewave: %s; trying the next\n", why.c_str());
        continue;
      }
      std::fprintf(stderr, "tidewave: %s (%s)\n", f.name.c_str(),
                   modeNames(engine.geometry().pixelMode).c_str());
      osd.filterName = f.name;
      osd.filterChangedAt = steadySeconds();
      return;
    }
    // Every other one refused: back to what ran (it started before).
    std::string why;
    if (!engine.start(current, o.dirs, g, o.persistence, &why))
      std::fprintf(stderr, "tidewave: %s\n", why.c_str());
    std::fprintf(stderr, "tidewave: no other filter would start\n");
  };

  std::string lost;  // why live sound ended the run
  bool running = true;
  while (running) {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
      if (e.type == SDL_QUIT) running = false;
      if (e.type != SDL_KEYDOWN) continue;
      const double now = steadySeconds();
      const KeyAction action = actionFor(e.key.keysym.sym, e.key.keysym.mod);
      // Seeking repeats while held; the toggles act once per press.
      if (e.key.repeat && action != KeyAction::SeekBack && action != KeyAction::SeekForward) continue;
      switch (action) {
        case KeyAction::Quit:
          running = false;
          break;
        case KeyAction::Pause:
          clock.setPaused(!clock.paused(), now);
          window.setTitle(titleFor(engine.filters(), clock.paused()));
          lastSlot = -1;
          break;
        case KeyAction::SeekBack:
        case KeyAction::SeekForward: {
          if (live || feed) break;
          const double by = action == KeyAction::SeekBack ? -kSeekSeconds : kSeekSeconds;
          if (by < 0 && !canSeek) {
            std::fprintf(stderr, "tidewave: %s cannot seek backwards\n", stream->name().c_str());
            break;
          }
          const int64_t end = clock.end();
          const int64_t to = std::clamp<int64_t>(clock.position(now) + int64_t(std::llround(by * rate)),
                                                 first, std::max(first, end - 1));
          std::string why;
          if (!stream->seek(to - before, &why)) std::fprintf(stderr, "tidewave: %s\n", why.c_str());
          clock.seek(to, now);
          last = gridBase = nextAt = clock.position(now);
          lastSlot = -1;
          break;
        }
        case KeyAction::NextFilter:
        case KeyAction::PreviousFilter:
          switchFilter(action == KeyAction::NextFilter ? 1 : -1);
          window.setTitle(titleFor(engine.filters(), clock.paused()));
          break;
        case KeyAction::Fullscreen:
          window.toggleFullscreen();
          break;
        case KeyAction::Help:
          osd.help = !osd.help;
          break;
        case KeyAction::Info:
          osd.info = !osd.info;
          break;
        case KeyAction::None:
          break;
      }
    }
    if (!running) break;
    // Published every frame, as the keyboard is: the voxel filters poll it.
    tw_set_modifiers(modifiersFor(uint16_t(SDL_GetModState())));

    if (clock.paused()) {
      picture.show(window, osd, steadySeconds());  // the display may change while paused
      SDL_WaitEventTimeout(nullptr, 30);
      continue;
    }
    if (feed) {
      const SoundFrame* sound = feed->next();
      if (sound == nullptr) break;
      analysed = *sound;
      heard = int64_t(std::llround(double(frames + 1) / o.fps * rate));
    } else {
      if (stream && stream->end() >= 0 && stream->end() < clock.end()) clock.setEnd(stream->end());
      const int64_t pos = clock.position(steadySeconds());
      heard += std::max<int64_t>(0, pos - last);
      last = pos;
      if ((limit >= 0 && heard >= limit) || pos >= clock.end()) break;
      if (pos < nextAt) {
        // Wait for the sound to reach the next frame's time, in small steps so
        // that keys stay quick.
        const double wait = std::min(double(nextAt - pos) / rate, 0.005);
        std::this_thread::sleep_for(std::chrono::duration<double>(wait));
        continue;
      }
      // Draw what is heard now; a late frame skips the grid points it missed.
      if (live) {
        if (capture->failed()) {
          lost = "the sound server stopped giving sound from \"" + o.capture + "\"";
          break;
        }
        capture->ring().latest(span, &recent);
        analyzer.analyse(SampleWindow::of(recent), span - analyzer.after(), &analysed);
      } else {
        if (!stream->read(pos - before, span, left.data(), right.data())) continue;  // a seek came between
        stream->release(pos - before);
        analyzer.analyse(SampleWindow{left.data(), right.data(), pos - before, span, -1}, pos, &analysed);
      }
      nextAt = gridBase + int64_t(std::floor(double(pos - gridBase) / frameSamples + 1) * frameSamples);
      const int64_t slot = int64_t(std::floor(double(pos - gridBase) / frameSamples));
      if (lastSlot >= 0 && slot > lastSlot + 1) dropped += slot - lastSlot - 1;
      lastSlot = slot;
    }
    if (!o.record.empty()) {
      SoundFrame recorded = analysed;
      recorded.frameCount = int32(frames);
      std::string why;
      if (!recorder.write(recorded, &why)) {
        lost = why;
        break;
      }
    }
    engine.draw(analysed, int32(frames));
    int outW = 0, outH = 0;
    window.outputSize(&outW, &outH);
    picture.draw(engine.frame(), engine.palette32(), outW, outH, o.scale);
    const double shownAt = steadySeconds();
    if (++fpsFrames, shownAt - fpsSince >= 0.5) {
      osd.fps = double(fpsFrames) / (shownAt - fpsSince);
      fpsSince = shownAt, fpsFrames = 0;
    }
    osd.drawing.clear();
    for (const FilterTiming& t : engine.timings()) osd.drawing.push_back({t.name, t.meanMicros});
    picture.show(window, osd, shownAt);
    ++frames;
  }

  if (playback) playback->stop();
  if (capture) capture->stop();
  if (feed) feed->stop();
  if (stream) {
    result->problem = stream->problem();
    stream->stop();
  }
  std::string why;
  const bool shot = o.screenshot.empty() || window.screenshot(o.screenshot, &why);
  engine.stop();
  timings.add(engine.timings());
  tw_set_modifiers(0);
  result->frames = frames;
  result->soundSeconds = double(heard) / rate;
  result->audio = playback != nullptr;
  result->dropped = dropped;
  result->timings = timings.result();
  std::string recordWhy;
  if (lost.empty() && !o.record.empty() && !recorder.finish(&recordWhy)) lost = recordWhy;
  if (!lost.empty() || !shot) {
    *error = lost.empty() ? why : lost;
    return false;
  }
  return true;
}

}  // namespace tw
