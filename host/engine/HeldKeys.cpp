#include "engine/HeldKeys.h"

#include <platform/interface.h>

#include <sstream>

namespace tw {

namespace {

struct Named {
  const char* name;
  uint32 bits;
};

// Each key sets its side's bit and the key's own, as the keyboard does.
constexpr Named kKeys[] = {
    {"left-shift", B_SHIFT_KEY | B_LEFT_SHIFT_KEY},
    {"right-shift", B_SHIFT_KEY | B_RIGHT_SHIFT_KEY},
    {"left-control", B_CONTROL_KEY | B_LEFT_CONTROL_KEY},
    {"control", B_CONTROL_KEY | B_LEFT_CONTROL_KEY},
    {"right-control", B_CONTROL_KEY | B_RIGHT_CONTROL_KEY},
    {"option", B_OPTION_KEY | B_LEFT_OPTION_KEY},
    {"left-command", B_COMMAND_KEY | B_LEFT_COMMAND_KEY},
    {"command", B_COMMAND_KEY | B_LEFT_COMMAND_KEY},
    {"right-command", B_COMMAND_KEY | B_RIGHT_COMMAND_KEY},
    {"caps-lock", B_CAPS_LOCK},
    {"num-lock", B_NUM_LOCK},
    {"scroll-lock", B_SCROLL_LOCK},
};

}  // namespace

const char* heldKeyNames() {
  return "left-shift, right-shift, control (left-control), right-control, option, command (left-command), "
         "right-command, caps-lock, num-lock, scroll-lock";
}

bool parseHeldKeys(const std::string& list, uint32* bits, std::string* error) {
  uint32 keys = 0;
  std::istringstream in(list);
  for (std::string name; std::getline(in, name, ',');) {
    if (name.empty()) continue;
    bool known = false;
    for (const Named& k : kKeys)
      if (name == k.name) {
        keys |= k.bits;
        known = true;
      }
    if (!known) {
      *error = "--hold-keys: unknown key \"" + name + "\"; the keys are " + heldKeyNames();
      return false;
    }
  }
  *bits = keys;
  return true;
}

}  // namespace tw
