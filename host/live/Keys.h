// The keyboard in a live run: SDL's modifier state as the platform's
// modifier bits (the voxel filters steer with them), and the keys that
// control the run.
#pragma once

#include <cstdint>

namespace tw {

// SDL's SDL_Keymod bits to the platform's B_*_KEY bits. Shift, Control,
// Option (Alt) and Command set both the side's bit and the key's own; the
// Super (Windows) keys are Command, and so is right Alt (AltGr), because
// desktops often keep Super for themselves. Caps, Num and Scroll Lock map
// to their lock bits.
uint32_t modifiersFor(uint16_t sdlModifiers);

enum class KeyAction {
  None,
  Quit,
  Pause,
  SeekBack,
  SeekForward,
  NextFilter,
  PreviousFilter,
  Fullscreen,
  Help,  // the on-screen panel of keys
  Info   // the on-screen line of frame rate and drawing times
};

// What a key press (SDL_Keycode) does; Shift+Tab goes back.
KeyAction actionFor(int32_t sdlKey, uint16_t sdlModifiers);

// One line of help for stderr.
const char* keyHelp();

}  // namespace tw
