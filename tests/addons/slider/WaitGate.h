// Stands in for the kernel kit's acquire_sem_etc and delete_sem in a test
// program (the program exports its own definitions, which the add-on's calls
// bind to): each wait of the loader becomes an event the test can await and
// release, so the tests step the loader attempt by attempt instead of
// sleeping through its real wait periods.
#pragma once

#include <platform/kernel.h>

#include <vector>

namespace gate {

enum class Mode {
  Real,     // every call goes to the kernel kit unchanged (arrivals still count)
  Step,     // a wait times out only when the test grants it, or ends when its semaphore is deleted
  FreeRun,  // every wait times out at once unless its semaphore is deleted
};

// Sets the mode and clears the counts, grants and recorded periods.
void reset(Mode mode);
// Waits begun so far.
int arrivals();
// Blocks until `n` waits have begun (false after a generous 30 s).
bool awaitArrivals(int n);
// Lets `n` more waits time out (Step mode).
void grant(int n = 1);
// The timeout of every wait begun, in order.
std::vector<bigtime_t> periods();
// Result of the last wait that ended.
status_t lastResult();

}  // namespace gate
