#include "live/Play.h"

#include "engine/Analysis.h"
#include "engine/FrameEngine.h"
#include "engine/SoundFeed.h"
#include "engine/SoundStream.h"
#include "live/Capture.h"
#include "live/Keys.h"
#include "live/PlayClock.h"
#include "live/Playback.h"
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

std::string titleFor(const std::vector<const FilterInfo*>& filters, bool paused) {
  std::string t;
  for (const FilterInfo* f : filters) t += (t.empty() ? "" : " + ") + f->name;
  return t + " — tidewave" + (paused ? " (paused)" : "");
}

// The frame as 32-bit pixels for the window.
void toPicture(const Frame& frame, const uint32* palette32, std::vector<uint32>* out) {
  const FrameGeometry& g = frame.geometry();
  out->resize(size_t(g.width) * size_t(g.height));
  for (int32 y = 0; y < g.height; ++y) {
    const uint8* src = frame.pixels() + size_t(y) * size_t(g.rowBytes());
    uint32* dst = out->data() + size_t(y) * size_t(g.width);
    if (g.pixelMode == 2)
      std::memcpy(dst, src, size_t(g.width) * 4);
    else
      for (int32 x = 0; x < g.width; ++x) dst[x] = palette32[src[x]];
  }
}

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

  Window window;
  if (!window.open(o.geometry.width, o.geometry.height, titleFor(o.filters, false), error)) return false;
  FrameEngine engine;
  if (!engine.start(o.filters, o.dirs, o.geometry, o.persistence, error)) return false;

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
  if (live) std::fprintf(stderr, "tidewave: listening to \"%s\"\n", o.capture.c_str());

  SoundFrame analysed;
  std::vector<float> left(static_cast<size_t>(span)), right(static_cast<size_t>(span));
  Sound recent;  // live: the newest samples, as much as one analysis reads
  recent.sampleRate = rate;
  std::vector<uint32> picture;
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
      if (!engine.start({&f}, o.dirs, ng, o.persistence, &why)) {
        std::fprintf(stderr, "tidewave: %s; trying the next\n", why.c_str());
        continue;
      }
      std::fprintf(stderr, "tidewave: %s (%s)\n", f.name.c_str(),
                   modeNames(engine.geometry().pixelMode).c_str());
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
        case KeyAction::None:
          break;
      }
    }
    if (!running) break;
    // Published every frame, as the keyboard is: the voxel filters poll it.
    tw_set_modifiers(modifiersFor(uint16_t(SDL_GetModState())));

    if (clock.paused()) {
      window.present();  // keeps the still picture up through exposes and resizes
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
    }
    engine.draw(analysed, int32(frames));
    toPicture(engine.frame(), engine.palette32(), &picture);
    window.show(picture.data(), engine.geometry().width, engine.geometry().height,
                size_t(engine.geometry().width) * 4);
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
  tw_set_modifiers(0);
  result->frames = frames;
  result->soundSeconds = double(heard) / rate;
  result->audio = playback != nullptr;
  if (!lost.empty() || !shot) {
    *error = lost.empty() ? why : lost;
    return false;
  }
  return true;
}

}  // namespace tw
