#include "live/Play.h"

#include "Render.h"
#include "engine/Analysis.h"
#include "engine/Fade.h"
#include "engine/FilterSet.h"
#include "engine/Recording.h"
#include "live/Capture.h"
#include "live/Keys.h"
#include "live/Osd.h"
#include "live/PlayClock.h"
#include "live/Playback.h"
#include "live/Sources.h"
#include "output/Image.h"

#include <platform/interface.h>

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
// Live sound has no end; the clock only paces the frames.
constexpr int64_t kLiveEnd = int64_t(1) << 52;

// The frame scaled into the window's output, keeping its proportions, centred.
SDL_Rect fitInto(int outW, int outH, int w, int h) {
  SDL_Rect r{0, 0, outW, outH};
  if (int64_t(outW) * h > int64_t(outH) * w) {
    r.w = int(int64_t(outH) * w / h);
    r.x = (outW - r.w) / 2;
  } else {
    r.h = int(int64_t(outW) * h / w);
    r.y = (outH - r.h) / 2;
  }
  return r;
}

// The window, its renderer and the texture the frames go through.
class Window {
 public:
  ~Window() {
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    if (video_) SDL_Quit();
  }

  bool open(int w, int h, std::string* error) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      *error = std::string("cannot open a window (") + SDL_GetError() +
               "); run it on a desktop, or set DISPLAY (xvfb-run for a virtual one)";
      return false;
    }
    video_ = true;
    // Without a display SDL falls back to drivers that draw nowhere; only a
    // user who asks for one by SDL_VIDEODRIVER (tests, scripts) gets it.
    const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    if ((asked == nullptr || *asked == 0) &&
        (driver == "offscreen" || driver == "dummy" || driver == "evdev")) {
      *error =
          "no display to open a window on; run it on a desktop, or set DISPLAY (xvfb-run for a virtual one)";
      return false;
    }
    window_ = SDL_CreateWindow("tidewave", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, w, h,
                               SDL_WINDOW_RESIZABLE);
    if (window_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED);
    if (window_ && !renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (renderer_)
      texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w, h);
    if (!texture_) {
      *error = std::string("cannot open a window: ") + SDL_GetError();
      return false;
    }
    SDL_SetTextureBlendMode(texture_, SDL_BLENDMODE_NONE);
    width_ = w, height_ = h;
    return true;
  }

  void setTitle(const std::string& title) { SDL_SetWindowTitle(window_, title.c_str()); }

  void toggleFullscreen() {
    const bool full = SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP;
    SDL_SetWindowFullscreen(window_, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
  }

  // Copies the frame into the texture: 8-bit through the palette, 32-bit
  // pixels (0x00RRGGBB) as they are; then the on-screen display over it.
  void upload(const Frame& frame, const uint32* palette32, const OsdState& osd, double now) {
    void* at = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture_, nullptr, &at, &pitch) != 0) return;
    const FrameGeometry& g = frame.geometry();
    for (int y = 0; y < height_; ++y) {
      const uint8* src = frame.pixels() + size_t(y) * size_t(g.rowBytes());
      uint32* dst = reinterpret_cast<uint32*>(static_cast<uint8*>(at) + size_t(y) * size_t(pitch));
      if (g.pixelMode == 2)
        std::memcpy(dst, src, size_t(width_) * 4);
      else
        for (int x = 0; x < width_; ++x) dst[x] = palette32[src[x]];
    }
    drawOsd(osd, now, static_cast<uint32_t*>(at), width_, height_, pitch / 4);
    SDL_UnlockTexture(texture_);
  }

  // Draws the texture, letterboxed; the caller presents or reads it back.
  void compose() {
    int outW = 0, outH = 0;
    SDL_GetRendererOutputSize(renderer_, &outW, &outH);
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    const SDL_Rect r = fitInto(std::max(outW, 1), std::max(outH, 1), width_, height_);
    SDL_RenderCopy(renderer_, texture_, nullptr, &r);
  }
  void present() {
    compose();
    SDL_RenderPresent(renderer_);
  }

  bool screenshot(const std::string& path, std::string* error) {
    compose();
    int outW = 0, outH = 0;
    SDL_GetRendererOutputSize(renderer_, &outW, &outH);
    RgbImage image(outW, outH);
    if (SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_RGB24, image.rgb.data(), outW * 3) != 0) {
      *error = std::string("cannot read the window back: ") + SDL_GetError();
      return false;
    }
    return writePng(path, image, error);
  }

 private:
  bool video_ = false;
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int width_ = 0, height_ = 0;
};

std::string titleFor(const std::vector<const FilterInfo*>& filters, bool paused) {
  std::string t;
  for (const FilterInfo* f : filters) t += (t.empty() ? "" : " + ") + f->name;
  // ASCII only: SDL sets an X window's titles through the C library's
  // locale, which drops (or garbles) other characters in the "C" locale.
  return t + " - tidewave" + (paused ? " (paused)" : "");
}

}  // namespace

bool play(const PlayOptions& o, PlayResult* result, std::string* error) {
  const bool live = !o.capture.empty();
  if (o.filters.empty() || (!live && (o.sound == nullptr || o.sound->frames() == 0))) {
    *error = o.filters.empty() ? "no filter to draw" : "no sound to play";
    return false;
  }
  FrameGeometry g = o.geometry;
  for (const FilterInfo* f : o.filters)
    if (std::string why = modeMismatch(*f, g.pixelMode); !why.empty()) {
      *error = why;
      return false;
    }
  const int rate = live ? kCaptureRate : o.sound->sampleRate;
  const int64_t length = live ? kLiveEnd : o.sound->frames();
  const int64_t first = live ? 0 : int64_t(std::llround(o.start * rate));
  if (first >= length) {
    *error = "--start " + std::to_string(o.start) + " s lies past the end of the sound (" +
             std::to_string(o.sound->seconds()) + " s)";
    return false;
  }

  RecordWriter recorder;
  if (!o.record.empty() && !recorder.open(o.record, rate, o.fps, error)) return false;
  Window window;
  if (!window.open(g.width, g.height, error)) return false;
  if (o.fullscreen) window.toggleFullscreen();
  std::vector<const FilterInfo*> current = o.filters;
  FilterSet filters;
  if (!filters.start(current, o.dirs, g, error)) return false;
  const rgb_color* palette = tw_system_palette();
  const uint32* palette32 = tw_system_palette32();
  auto fadeFor = [&] { return Fade(o.persistence ? *o.persistence : filters.hostFactor(), palette); };
  Fade fade = fadeFor();
  auto frame = std::make_unique<Frame>(g);
  frame->clear();

  std::unique_ptr<Capture> capture;
  std::unique_ptr<Playback> playback;
  if (live) {
    capture = Capture::open(o.capture, kCaptureRate, error);
    if (!capture) return false;
    capture->start();
  } else if (o.audio && !o.frameClock) {
    std::string why;
    playback = Playback::open(*o.sound, &why);
    if (!playback)
      std::fprintf(stderr, "tidewave: %s; pacing the pictures by the wall clock, without sound\n",
                   why.c_str());
  } else if (!o.frameClock) {
    std::fprintf(stderr, "tidewave: no audio; pacing the pictures by the wall clock\n");
  }
  PlayClock clock(rate, first, length, playback != nullptr);
  if (playback) playback->start(&clock);
  std::fprintf(stderr, "%s\n", keyHelp());
  if (live) std::fprintf(stderr, "tidewave: listening to \"%s\"\n", o.capture.c_str());
  window.setTitle(titleFor(current, false));
  OsdState osd;
  osd.targetFps = o.fps;
  for (const FilterInfo* f : current) osd.filterName += (osd.filterName.empty() ? "" : " + ") + f->name;
  if (o.fullscreen) osd.filterChangedAt = steadySeconds();  // started from the desktop: say what shows
  if (live) {
    osd.listening = o.capture;
    std::string ignored;  // without the list, the help names the source listened to only
    listCaptureSources(&osd.sources, &ignored);
  }
  double fpsSince = steadySeconds();
  long fpsFrames = 0;

  Analyzer analyzer(rate);
  SoundFrame analysed;
  Sound recent;  // live: the newest samples, as much as one analysis reads
  recent.sampleRate = rate;
  const int recentCount = std::max(analyzer.fftSize(), SoundFrame::kSamples);
  const double frameSamples = rate / o.fps;
  const int64_t limit = o.seconds >= 0 ? int64_t(std::llround(o.seconds * rate)) : -1;
  int64_t gridBase = first;  // frames fall on gridBase + k × frameSamples
  int64_t nextAt = first;
  int64_t last = first;
  int64_t heard = 0;  // samples played, for --seconds
  long frames = 0;
  long dropped = 0;
  int64_t lastSlot = -1;  // grid point of the last frame drawn, -1 after a seek or pause
  std::vector<PlayTiming> timings;
  auto timingFor = [&](const std::string& name) -> PlayTiming& {
    for (PlayTiming& t : timings)
      if (t.name == name) return t;
    timings.push_back({name});
    return timings.back();
  };

  // Replaces the running filters with the catalogue's next (or previous) one.
  auto switchFilter = [&](int step) {
    if (o.catalog == nullptr || o.catalog->filters.empty()) return;
    const auto& all = o.catalog->filters;
    size_t at = 0;
    for (size_t i = 0; i < all.size(); ++i)
      if (&all[i] == current.front()) at = i;
    for (size_t tries = 0; tries < all.size(); ++tries) {
      at = (at + all.size() + size_t(step > 0 ? 1 : all.size() - 1)) % all.size();
      const FilterInfo& f = all[at];
      if (o.modeGiven && !modeMismatch(f, g.pixelMode).empty()) continue;
      FrameGeometry ng = g;
      if ((f.modes & ng.pixelMode) == 0) ng.pixelMode = (f.modes & 1) ? 1 : 2;
      std::string why;
      if (!filters.start({&f}, o.dirs, ng, &why)) {
        std::fprintf(stderr, "tidewave: %s; trying the next\n", why.c_str());
        continue;
      }
      current = {&f};
      osd.filterName = f.name;
      osd.filterChangedAt = steadySeconds();
      if (ng.pixelMode != g.pixelMode) frame = std::make_unique<Frame>(ng);
      g = ng;
      frame->clear();
      fade = fadeFor();
      std::fprintf(stderr, "tidewave: %s (%s)\n", f.name.c_str(), modeNames(g.pixelMode).c_str());
      return;
    }
    // Every other one refused: back to what ran (it started before).
    std::string why;
    if (!filters.start(current, o.dirs, g, &why)) std::fprintf(stderr, "tidewave: %s\n", why.c_str());
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
          lastSlot = -1;
          window.setTitle(titleFor(current, clock.paused()));
          break;
        case KeyAction::SeekBack:
        case KeyAction::SeekForward: {
          if (live) break;
          const double by = action == KeyAction::SeekBack ? -kSeekSeconds : kSeekSeconds;
          const int64_t to = std::min(clock.position(now) + int64_t(std::llround(by * rate)), length - 1);
          clock.seek(to, now);
          last = gridBase = nextAt = clock.position(now);
          lastSlot = -1;
          break;
        }
        case KeyAction::NextFilter:
        case KeyAction::PreviousFilter:
          switchFilter(action == KeyAction::NextFilter ? 1 : -1);
          window.setTitle(titleFor(current, clock.paused()));
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
      window.upload(*frame, palette32, osd, steadySeconds());  // the display may change while paused
      window.present();  // keeps the still picture up through exposes and resizes
      SDL_WaitEventTimeout(nullptr, 30);
      continue;
    }
    const int64_t pos = o.frameClock ? first + int64_t(std::llround(double(frames) / o.fps * rate))
                                     : clock.position(steadySeconds());
    heard += std::max<int64_t>(0, pos - last);
    last = pos;
    if (o.frameClock && (pos >= length || (o.seconds >= 0 && frames >= frameCountFor(o.seconds, o.fps))))
      break;
    if (!o.frameClock && ((limit >= 0 && heard >= limit) || pos >= clock.end())) break;
    if (!o.frameClock && pos < nextAt) {
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
      capture->ring().latest(recentCount, &recent);
      analyzer.analyse(recent, recentCount - analyzer.fftSize() / 2, &analysed);
    } else {
      analyzer.analyse(*o.sound, pos, &analysed);
    }
    analysed.frameCount = int32(frames);
    if (!o.record.empty()) {
      std::string why;
      if (!recorder.write(analysed, &why)) {
        lost = why;
        break;
      }
    }
    fade.apply(*frame);
    analysed.copyTo(frame->info());
    for (size_t i = 0; i < filters.size(); ++i) {
      const double a = steadySeconds();
      filters.draw(i, frame->info());
      const double us = (steadySeconds() - a) * 1e6;
      PlayTiming& t = timingFor(current[i]->name);
      t.meanMicros += us;  // a sum until the end
      t.worstMicros = std::max(t.worstMicros, us);
      ++t.frames;
    }
    const double shownAt = steadySeconds();
    if (++fpsFrames, shownAt - fpsSince >= 0.5) {
      osd.fps = double(fpsFrames) / (shownAt - fpsSince);
      fpsSince = shownAt, fpsFrames = 0;
    }
    osd.drawing.clear();
    for (const FilterInfo* f : current) {
      const PlayTiming& t = timingFor(f->name);
      osd.drawing.push_back({f->name, t.meanMicros / double(std::max(t.frames, 1L))});
    }
    window.upload(*frame, palette32, osd, shownAt);
    window.present();
    ++frames;
    const int64_t slot = int64_t(std::floor(double(pos - gridBase) / frameSamples));
    if (!o.frameClock && lastSlot >= 0 && slot > lastSlot + 1) dropped += slot - lastSlot - 1;
    lastSlot = slot;
    nextAt = gridBase + int64_t(std::floor(double(pos - gridBase) / frameSamples + 1) * frameSamples);
  }

  if (playback) playback->stop();
  if (capture) capture->stop();
  std::string why;
  const bool shot = o.screenshot.empty() || window.screenshot(o.screenshot, &why);
  filters.stop();
  tw_set_modifiers(0);
  result->frames = frames;
  result->soundSeconds = double(heard) / rate;
  result->audio = playback != nullptr;
  result->dropped = dropped;
  for (PlayTiming& t : timings) t.meanMicros /= double(std::max(t.frames, 1L));
  result->timings = std::move(timings);
  std::string recordWhy;
  if (lost.empty() && !o.record.empty() && !recorder.finish(&recordWhy)) lost = recordWhy;
  if (!lost.empty() || !shot) {
    *error = lost.empty() ? why : lost;
    return false;
  }
  return true;
}

}  // namespace tw
