#include "live/Keys.h"

#include <platform/interface.h>

#include <SDL_keyboard.h>

namespace tw {

uint32_t modifiersFor(uint16_t m) {
  uint32_t keys = 0;
  if (m & KMOD_LSHIFT) keys |= B_SHIFT_KEY | B_LEFT_SHIFT_KEY;
  if (m & KMOD_RSHIFT) keys |= B_SHIFT_KEY | B_RIGHT_SHIFT_KEY;
  if (m & KMOD_LCTRL) keys |= B_CONTROL_KEY | B_LEFT_CONTROL_KEY;
  if (m & KMOD_RCTRL) keys |= B_CONTROL_KEY | B_RIGHT_CONTROL_KEY;
  if (m & KMOD_LALT) keys |= B_OPTION_KEY | B_LEFT_OPTION_KEY;
  if (m & KMOD_LGUI) keys |= B_COMMAND_KEY | B_LEFT_COMMAND_KEY;
  if (m & (KMOD_RGUI | KMOD_RALT | KMOD_MODE)) keys |= B_COMMAND_KEY | B_RIGHT_COMMAND_KEY;
  if (m & KMOD_CAPS) keys |= B_CAPS_LOCK;
  if (m & KMOD_NUM) keys |= B_NUM_LOCK;
  if (m & KMOD_SCROLL) keys |= B_SCROLL_LOCK;
  return keys;
}

KeyAction actionFor(int32_t key, uint16_t m) {
  switch (key) {
    case SDLK_ESCAPE:
    case SDLK_q:
      return KeyAction::Quit;
    case SDLK_SPACE:
      return KeyAction::Pause;
    case SDLK_LEFT:
      return KeyAction::SeekBack;
    case SDLK_RIGHT:
      return KeyAction::SeekForward;
    case SDLK_n:
      return KeyAction::NextFilter;
    case SDLK_p:
      return KeyAction::PreviousFilter;
    case SDLK_TAB:
      return (m & KMOD_SHIFT) ? KeyAction::PreviousFilter : KeyAction::NextFilter;
    case SDLK_f:
      return KeyAction::Fullscreen;
    case SDLK_h:
      return KeyAction::Help;
    case SDLK_i:
      return KeyAction::Info;
    default:
      return KeyAction::None;
  }
}

const char* keyHelp() {
  return "keys: Space pause, Left/Right seek 5 s, N/P or Tab/Shift+Tab next/previous filter, F fullscreen, "
         "H help, I frame rate and drawing times, Esc/Q quit; voxel filters: left Shift turns left, right "
         "Shift or Alt right, Ctrl speeds up, "
         "Super or AltGr slows down";
}

}  // namespace tw
