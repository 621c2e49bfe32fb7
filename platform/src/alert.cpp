#include <platform/interface.h>

#include <SDL.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

BAlert::BAlert(const char* t, const char* x, const char* b0, const char* b1, const char* b2, button_width,
               alert_type ty)
    : title(t ? t : ""), text(x ? x : ""), type(ty) {
  for (const char* b : {b0, b1, b2})
    if (b) buttons[buttonCount++] = b;
}

namespace {

bool haveDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

// Shows the alert in a window; false when no window could be opened.
bool showWindow(const std::string& title, const std::string& text, const std::string* buttons, int count,
                alert_type type, int* pressed) {
  SDL_MessageBoxButtonData data[3];
  for (int i = 0; i < count; ++i) {
    // The last button is the default one, for Enter and Escape alike.
    data[i].flags = i == count - 1
                        ? SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT
                        : 0;
    data[i].buttonid = i;
    data[i].text = buttons[i].c_str();
  }
  SDL_MessageBoxData box{};
  box.flags = type == B_STOP_ALERT      ? SDL_MESSAGEBOX_ERROR
              : type == B_WARNING_ALERT ? SDL_MESSAGEBOX_WARNING
                                        : SDL_MESSAGEBOX_INFORMATION;
  box.title = title.c_str();
  box.message = text.c_str();
  box.numbuttons = count;
  box.buttons = data;
  int id = -1;
  if (SDL_ShowMessageBox(&box, &id) != 0) return false;
  *pressed = id < 0 ? count - 1 : id;
  return true;
}

}  // namespace

int32 BAlert::Go() {
  int pressed = buttonCount > 0 ? buttonCount - 1 : 0;
  bool shown =
      haveDisplay() && buttonCount > 0 && showWindow(title, text, buttons, buttonCount, type, &pressed);
  if (!shown) {
    std::cout << title << "\n\n" << text << "\n\n";
    for (int i = 0; i < buttonCount; ++i)
      std::cout << "[ " << buttons[i] << " ]" << (i + 1 < buttonCount ? "  " : "\n");
    std::cout.flush();
    if (isatty(STDIN_FILENO)) {
      std::string line;
      std::getline(std::cin, line);
    }
  }
  delete this;
  return pressed;
}
