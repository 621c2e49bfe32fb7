// Threads and semaphores on the C++ standard library. Ids index process-wide
// tables; an id is never reused, so a stale id is reported, never confused
// with a newer object.
#include <platform/kernel_host.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// ---- semaphores ----

struct Semaphore {
  std::mutex lock;
  std::condition_variable changed;
  int64 count = 0;
  bool deleted = false;
  std::string name;
};

struct SemTable {
  std::mutex lock;
  std::map<sem_id, std::shared_ptr<Semaphore>> sems;
  sem_id next = 1;
};

SemTable& semTable() {
  static SemTable* t = new SemTable;  // never destroyed: threads may outlive static teardown
  return *t;
}

std::shared_ptr<Semaphore> findSem(sem_id id) {
  SemTable& t = semTable();
  std::lock_guard<std::mutex> g(t.lock);
  auto it = t.sems.find(id);
  return it == t.sems.end() ? nullptr : it->second;
}

// ---- threads ----

struct Thread {
  std::mutex lock;
  std::condition_variable changed;
  bool resumed = false;
  bool finished = false;
  status_t exitValue = B_OK;
  thread_func func = nullptr;
  void* data = nullptr;
  std::string name;
  std::thread::id systemId;
};

struct ThreadTable {
  std::mutex lock;
  std::map<thread_id, std::shared_ptr<Thread>> threads;
  thread_id next = 1;
};

ThreadTable& threadTable() {
  static ThreadTable* t = new ThreadTable;
  return *t;
}

std::atomic<int32> spawnFailures{0};
std::atomic<int32> threadsRunning{0};

void threadMain(std::shared_ptr<Thread> t) {
  // The system name is cut to 15 bytes plus the terminator, as the kernel allows.
  char shortName[16] = {};
  std::strncpy(shortName, t->name.c_str(), sizeof shortName - 1);
  pthread_setname_np(pthread_self(), shortName);
  {
    std::unique_lock<std::mutex> g(t->lock);
    t->changed.wait(g, [&] { return t->resumed; });
  }
  const status_t result = t->func(t->data);
  threadsRunning.fetch_sub(1);
  std::lock_guard<std::mutex> g(t->lock);
  t->exitValue = result;
  t->finished = true;
  t->changed.notify_all();
}

}  // namespace

void tw_fail_next_spawns(int32 count) { spawnFailures.store(count < 0 ? 0 : count); }

int32 tw_threads_running() { return threadsRunning.load(); }

thread_id spawn_thread(thread_func func, const char* name, int32 priority, void* data) {
  (void)priority;  // every thread runs at the system's normal priority
  if (func == nullptr) return B_BAD_VALUE;
  for (int32 left = spawnFailures.load(); left > 0;)
    if (spawnFailures.compare_exchange_weak(left, left - 1)) return B_NO_MORE_THREADS;

  auto t = std::make_shared<Thread>();
  t->func = func;
  t->data = data;
  t->name = name ? name : "";
  ThreadTable& table = threadTable();
  thread_id id;
  {
    std::lock_guard<std::mutex> g(table.lock);
    id = table.next++;
    table.threads[id] = t;
  }
  threadsRunning.fetch_add(1);
  try {
    std::thread th(threadMain, t);
    t->systemId = th.get_id();
    th.detach();  // the record, not the std::thread, carries the end of the thread
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> g(table.lock);
    table.threads.erase(id);
    threadsRunning.fetch_sub(1);
    return B_NO_MORE_THREADS;
  }
  return id;
}

static std::shared_ptr<Thread> findThread(thread_id id) {
  ThreadTable& table = threadTable();
  std::lock_guard<std::mutex> g(table.lock);
  auto it = table.threads.find(id);
  return it == table.threads.end() ? nullptr : it->second;
}

status_t resume_thread(thread_id id) {
  std::shared_ptr<Thread> t = findThread(id);
  if (!t) return B_BAD_THREAD_ID;
  std::lock_guard<std::mutex> g(t->lock);
  if (t->resumed) return B_BAD_THREAD_STATE;
  t->resumed = true;
  t->changed.notify_all();
  return B_OK;
}

status_t wait_for_thread(thread_id id, status_t* exitValue) {
  ThreadTable& table = threadTable();
  std::shared_ptr<Thread> t;
  {
    // Taking the record out makes a second wait for the same id fail, as a
    // thread can be waited for once.
    std::lock_guard<std::mutex> g(table.lock);
    auto it = table.threads.find(id);
    if (it == table.threads.end()) return B_BAD_THREAD_ID;
    t = it->second;
    if (t->systemId == std::this_thread::get_id()) return B_DONT_DO_THAT;
    table.threads.erase(it);
  }
  std::unique_lock<std::mutex> g(t->lock);
  t->resumed = true;  // a suspended thread is started so that it can end
  t->changed.notify_all();
  t->changed.wait(g, [&] { return t->finished; });
  if (exitValue) *exitValue = t->exitValue;
  return B_OK;
}

status_t snooze(bigtime_t microseconds) {
  if (microseconds > 0) std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
  return B_OK;
}

sem_id create_sem(int32 count, const char* name) {
  if (count < 0) return B_BAD_VALUE;
  auto s = std::make_shared<Semaphore>();
  s->count = count;
  s->name = name ? name : "";
  SemTable& t = semTable();
  std::lock_guard<std::mutex> g(t.lock);
  const sem_id id = t.next++;
  t.sems[id] = std::move(s);
  return id;
}

status_t delete_sem(sem_id id) {
  std::shared_ptr<Semaphore> s;
  {
    SemTable& t = semTable();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.sems.find(id);
    if (it == t.sems.end()) return B_BAD_SEM_ID;
    s = std::move(it->second);
    t.sems.erase(it);
  }
  // Every waiter wakes now and sees the semaphore gone.
  std::lock_guard<std::mutex> g(s->lock);
  s->deleted = true;
  s->changed.notify_all();
  return B_OK;
}

status_t acquire_sem(sem_id id) { return acquire_sem_etc(id, 1, 0, 0); }

status_t acquire_sem_etc(sem_id id, int32 count, uint32 flags, bigtime_t timeout) {
  if (count < 1) return B_BAD_VALUE;
  std::shared_ptr<Semaphore> s = findSem(id);
  if (!s) return B_BAD_SEM_ID;
  std::unique_lock<std::mutex> g(s->lock);
  auto ready = [&] { return s->deleted || s->count >= count; };
  if (flags & (B_RELATIVE_TIMEOUT | B_ABSOLUTE_TIMEOUT)) {
    Clock::time_point deadline;
    if (flags & B_RELATIVE_TIMEOUT) {
      if (timeout <= 0 && !ready()) return B_WOULD_BLOCK;
      deadline = Clock::now() + std::chrono::microseconds(timeout > 0 ? timeout : 0);
    } else {
      // Absolute times count from the same clock as system_time would.
      deadline = Clock::time_point(std::chrono::microseconds(timeout));
    }
    if (!s->changed.wait_until(g, deadline, ready)) return B_TIMED_OUT;
  } else {
    s->changed.wait(g, ready);
  }
  if (s->deleted) return B_BAD_SEM_ID;
  s->count -= count;
  return B_OK;
}

status_t release_sem(sem_id id) {
  std::shared_ptr<Semaphore> s = findSem(id);
  if (!s) return B_BAD_SEM_ID;
  std::lock_guard<std::mutex> g(s->lock);
  if (s->deleted) return B_BAD_SEM_ID;
  ++s->count;
  s->changed.notify_all();
  return B_OK;
}
