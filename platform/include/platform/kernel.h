// Kernel kit: threads, semaphores and sleeping, on the C++ standard library.
#pragma once

#include <platform/support.h>

typedef int32 thread_id;
typedef int32 sem_id;
typedef status_t (*thread_func)(void* data);

enum : int32 {
  B_LOW_PRIORITY = 5,
  B_NORMAL_PRIORITY = 10,
  B_DISPLAY_PRIORITY = 15,
  B_URGENT_DISPLAY_PRIORITY = 20,
  B_REAL_TIME_DISPLAY_PRIORITY = 100,
};

// Flags of acquire_sem_etc.
enum : uint32 {
  B_RELATIVE_TIMEOUT = 0x8,  // `timeout` is a duration in microseconds from now
  B_ABSOLUTE_TIMEOUT = 0x10,
};

// Creates a thread that waits, suspended, for resume_thread. The name is
// given to the system thread as well (shown by debuggers, cut to 15 bytes).
// A negative id on failure.
thread_id spawn_thread(thread_func func, const char* name, int32 priority, void* data);
status_t resume_thread(thread_id thread);
// Waits until the thread has ended and stores its result; B_BAD_THREAD_ID for
// an id that names no thread (or one already waited for). A thread that was
// never resumed is started so that it can end.
status_t wait_for_thread(thread_id thread, status_t* exitValue);
status_t snooze(bigtime_t microseconds);

// Semaphores. acquire_sem_etc with B_RELATIVE_TIMEOUT returns B_TIMED_OUT
// when the period ends; a wait ends at once with B_BAD_SEM_ID when another
// thread deletes the semaphore.
sem_id create_sem(int32 count, const char* name);
status_t delete_sem(sem_id sem);
status_t acquire_sem(sem_id sem);
status_t acquire_sem_etc(sem_id sem, int32 count, uint32 flags, bigtime_t timeout);
status_t release_sem(sem_id sem);
