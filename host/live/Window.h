// The live window: an SDL2 window that shows pictures of 32-bit pixels
// (0x00RRGGBB), proportions kept, centred on black; it can go fullscreen and
// read back what it shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

namespace tw {

class Window {
 public:
  Window() = default;
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Opens a resizable window of w × h pixels. False with a one-line reason
  // when there is no display (SDL's drivers that draw nowhere are refused
  // unless SDL_VIDEODRIVER asks for them: tests, scripts).
  bool open(int w, int h, const std::string& title, std::string* error);
  void setTitle(const std::string& title);
  void toggleFullscreen();
  void setFullscreen(bool on);
  bool fullscreen() const;
  // The drawing area's size in pixels (what a picture shown 1:1 must have).
  void outputSize(int* w, int* h) const;

  // Shows a picture of w × h pixels, rows `stride` bytes apart: 1:1 when it
  // has the output's size, else scaled to fit.
  void show(const uint32_t* pixels, int w, int h, size_t stride);
  // Shows the last picture again (after an expose or a resize).
  void present();
  // Saves what the window shows as a PNG file.
  bool screenshot(const std::string& path, std::string* error);

 private:
  void compose();

  bool video_ = false;
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int textureW_ = 0, textureH_ = 0;
};

}  // namespace tw
