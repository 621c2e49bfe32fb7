// Modifier keys named on the command line (`render --hold-keys`), as the
// platform's modifier bits: the bits a live window publishes while those keys
// are down, so that a render can be steered as a viewer steers the voxel
// filters.
#pragma once

#include <platform/support.h>

#include <string>

namespace tw {

// "left-shift,control" → the keys' bits. Names: left-shift, right-shift,
// left-control (or control), right-control, option (left Alt),
// left-command (or command; the left Super key), right-command (right Super
// or AltGr), caps-lock, num-lock, scroll-lock. False with a one-line reason
// for an unknown name; an empty list holds no key.
bool parseHeldKeys(const std::string& list, uint32* bits, std::string* error);

// The names parseHeldKeys knows, for help texts.
const char* heldKeyNames();

}  // namespace tw
