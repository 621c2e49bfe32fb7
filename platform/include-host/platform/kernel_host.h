// The host's and the tests' side of the kernel kit: not installed with the
// SDK, so an add-on cannot come to depend on it.
#pragma once

#include <platform/kernel.h>

// Threads from spawn_thread whose function has not yet returned (suspended
// ones included). The host watches it to learn whether a filter is working
// in the background, and so on the wall clock.
int32 tw_threads_running();

// Test hook: the next `count` calls of spawn_thread fail with
// B_NO_MORE_THREADS and start nothing.
void tw_fail_next_spawns(int32 count);
