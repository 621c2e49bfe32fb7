#include "WaitGate.h"

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

namespace {

using AcquireFn = status_t (*)(sem_id, int32, uint32, bigtime_t);
using DeleteFn = status_t (*)(sem_id);

// The kernel kit's own definitions, found past this program's.
template <typename Fn>
Fn next(const char* mangled) {
  void* f = dlsym(RTLD_NEXT, mangled);
  if (f == nullptr) {
    std::fprintf(stderr, "WaitGate: %s not found in the platform library\n", mangled);
    std::abort();
  }
  return reinterpret_cast<Fn>(f);
}

AcquireFn realAcquire() {
  static const AcquireFn f = next<AcquireFn>("_Z15acquire_sem_etciijl");
  return f;
}
DeleteFn realDelete() {
  static const DeleteFn f = next<DeleteFn>("_Z10delete_semi");
  return f;
}

struct State {
  std::mutex lock;
  std::condition_variable changed;
  gate::Mode mode = gate::Mode::Real;
  int arrivals = 0;
  int grants = 0;
  std::vector<bigtime_t> periods;
  std::set<sem_id> deleted;
  status_t lastResult = B_OK;
};

State& state() {
  static State s;
  return s;
}

}  // namespace

namespace gate {

void reset(Mode mode) {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  s.mode = mode;
  s.arrivals = s.grants = 0;
  s.periods.clear();
  s.lastResult = B_OK;
}

int arrivals() {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return s.arrivals;
}

bool awaitArrivals(int n) {
  State& s = state();
  std::unique_lock<std::mutex> g(s.lock);
  return s.changed.wait_for(g, std::chrono::seconds(30), [&] { return s.arrivals >= n; });
}

void grant(int n) {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  s.grants += n;
  s.changed.notify_all();
}

std::vector<bigtime_t> periods() {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return s.periods;
}

status_t lastResult() {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return s.lastResult;
}

}  // namespace gate

status_t acquire_sem_etc(sem_id sem, int32 count, uint32 flags, bigtime_t timeout) {
  State& s = state();
  gate::Mode mode;
  {
    std::lock_guard<std::mutex> g(s.lock);
    mode = s.mode;
    ++s.arrivals;
    s.periods.push_back(timeout);
    s.changed.notify_all();
  }
  status_t result;
  if (mode == gate::Mode::Real) {
    result = realAcquire()(sem, count, flags, timeout);
  } else if (mode == gate::Mode::FreeRun) {
    // A zero timeout asks the kit whether the semaphore still exists.
    result = realAcquire()(sem, count, flags, 0);
    if (result == B_WOULD_BLOCK) result = B_TIMED_OUT;
  } else {
    result = realAcquire()(sem, count, flags, 0);
    if (result == B_WOULD_BLOCK) {
      std::unique_lock<std::mutex> g(s.lock);
      s.changed.wait(g, [&] { return s.grants > 0 || s.deleted.count(sem) != 0; });
      if (s.deleted.count(sem) != 0) {
        result = B_BAD_SEM_ID;
      } else {
        --s.grants;
        result = B_TIMED_OUT;
      }
    }
  }
  std::lock_guard<std::mutex> g(s.lock);
  s.lastResult = result;
  s.changed.notify_all();
  return result;
}

status_t delete_sem(sem_id sem) {
  const status_t result = realDelete()(sem);
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  if (result == B_OK) s.deleted.insert(sem);
  s.changed.notify_all();
  return result;
}
