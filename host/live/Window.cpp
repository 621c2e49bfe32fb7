#include "live/Window.h"

#include "output/Image.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace tw {
namespace {

// The picture scaled into the window's output, keeping its proportions, centred.
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

}  // namespace

Window::~Window() {
  if (texture_) SDL_DestroyTexture(texture_);
  if (renderer_) SDL_DestroyRenderer(renderer_);
  if (window_) SDL_DestroyWindow(window_);
  if (video_) SDL_Quit();
}

bool Window::open(int w, int h, const std::string& title, std::string* error) {
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
  window_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, w, h,
                             SDL_WINDOW_RESIZABLE);
  if (window_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED);
  if (window_ && !renderer_) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
  if (!renderer_) {
    *error = std::string("cannot open a window: ") + SDL_GetError();
    return false;
  }
  return true;
}

void Window::setTitle(const std::string& title) { SDL_SetWindowTitle(window_, title.c_str()); }

bool Window::fullscreen() const { return SDL_GetWindowFlags(window_) & SDL_WINDOW_FULLSCREEN_DESKTOP; }

void Window::setFullscreen(bool on) {
  SDL_SetWindowFullscreen(window_, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
}

void Window::toggleFullscreen() { setFullscreen(!fullscreen()); }

void Window::outputSize(int* w, int* h) const {
  SDL_GetRendererOutputSize(renderer_, w, h);
  *w = std::max(*w, 1), *h = std::max(*h, 1);
}

void Window::show(const uint32_t* pixels, int w, int h, size_t stride) {
  if (!texture_ || textureW_ != w || textureH_ != h) {
    if (texture_) SDL_DestroyTexture(texture_);
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, w, h);
    if (!texture_) return;
    SDL_SetTextureBlendMode(texture_, SDL_BLENDMODE_NONE);
    textureW_ = w, textureH_ = h;
  }
  SDL_UpdateTexture(texture_, nullptr, pixels, int(stride));
  present();
}

void Window::compose() {
  int outW = 0, outH = 0;
  outputSize(&outW, &outH);
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  SDL_RenderClear(renderer_);
  if (!texture_) return;
  const SDL_Rect r = fitInto(outW, outH, textureW_, textureH_);
  SDL_RenderCopy(renderer_, texture_, nullptr, &r);
}

void Window::present() {
  compose();
  SDL_RenderPresent(renderer_);
}

bool Window::screenshot(const std::string& path, std::string* error) {
  compose();
  int outW = 0, outH = 0;
  outputSize(&outW, &outH);
  RgbImage image(outW, outH);
  if (SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_RGB24, image.rgb.data(), outW * 3) != 0) {
    *error = std::string("cannot read the window back: ") + SDL_GetError();
    return false;
  }
  return writePng(path, image, error);
}

}  // namespace tw
