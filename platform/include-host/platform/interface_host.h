// The host's side of the interface kit: not installed with the SDK.
#pragma once

#include <platform/interface.h>

// Publishes the keyboard's modifier keys, which modifiers() then reports to
// every thread of the process.
void tw_set_modifiers(uint32 keys);
