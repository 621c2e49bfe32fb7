// Threads and semaphores: the waits the loaders rely on end when they should,
// and only then.
#include <gtest/gtest.h>
#include <platform/kernel_host.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

TEST(Semaphore, RelativeWaitTimesOutAfterThePeriod) {
  const sem_id sem = create_sem(0, "wait");
  ASSERT_GE(sem, 0);
  const auto start = Clock::now();
  EXPECT_EQ(acquire_sem_etc(sem, 1, B_RELATIVE_TIMEOUT, 20000), B_TIMED_OUT);
  EXPECT_GE(msSince(start), 19.0);
  EXPECT_EQ(delete_sem(sem), B_OK);
}

TEST(Semaphore, AvailableCountIsTakenWithoutWaiting) {
  const sem_id sem = create_sem(2, "count");
  EXPECT_EQ(acquire_sem_etc(sem, 2, B_RELATIVE_TIMEOUT, 2000000), B_OK);
  EXPECT_EQ(acquire_sem_etc(sem, 1, B_RELATIVE_TIMEOUT, 0), B_WOULD_BLOCK);
  EXPECT_EQ(release_sem(sem), B_OK);
  EXPECT_EQ(acquire_sem(sem), B_OK);
  delete_sem(sem);
}

struct Waiter {
  sem_id sem;
  std::atomic<bool> waiting{false};
  std::atomic<status_t> result{B_OK};
};

status_t waitTwoSeconds(void* data) {
  auto* w = static_cast<Waiter*>(data);
  w->waiting.store(true);
  w->result.store(acquire_sem_etc(w->sem, 1, B_RELATIVE_TIMEOUT, 2000000));
  return 7;
}

// The loaders are stopped by deleting the semaphore they wait on: the wait
// must end at once, not when its period runs out.
TEST(Semaphore, DeletingItEndsAWaitAtOnce) {
  Waiter w;
  w.sem = create_sem(0, "slider_wait_lock");
  const thread_id t = spawn_thread(waitTwoSeconds, "waiter", B_NORMAL_PRIORITY, &w);
  ASSERT_GE(t, 0);
  ASSERT_EQ(resume_thread(t), B_OK);
  while (!w.waiting.load()) snooze(100);
  snooze(5000);  // let the thread reach the wait; a late arrival still sees a bad id
  const auto start = Clock::now();
  EXPECT_EQ(delete_sem(w.sem), B_OK);
  status_t exit = 0;
  EXPECT_EQ(wait_for_thread(t, &exit), B_OK);
  EXPECT_LT(msSince(start), 50.0);
  EXPECT_EQ(exit, 7);
  EXPECT_EQ(w.result.load(), B_BAD_SEM_ID);
}

TEST(Semaphore, StaleIdsAreRefused) {
  const sem_id sem = create_sem(0, "gone");
  ASSERT_EQ(delete_sem(sem), B_OK);
  EXPECT_EQ(delete_sem(sem), B_BAD_SEM_ID);
  EXPECT_EQ(acquire_sem_etc(sem, 1, B_RELATIVE_TIMEOUT, 1000), B_BAD_SEM_ID);
  EXPECT_EQ(release_sem(sem), B_BAD_SEM_ID);
  EXPECT_EQ(create_sem(-1, "negative"), B_BAD_VALUE);
}

struct Named {
  std::atomic<bool> ran{false};
  char name[16] = {};
};

status_t recordName(void* data) {
  auto* n = static_cast<Named*>(data);
  pthread_getname_np(pthread_self(), n->name, sizeof n->name);
  n->ran.store(true);
  return 42;
}

TEST(Thread, RunsOnlyAfterResumeUnderItsName) {
  Named n;
  const thread_id t = spawn_thread(recordName, "LoadImages", B_LOW_PRIORITY, &n);
  ASSERT_GE(t, 0);
  snooze(10000);
  EXPECT_FALSE(n.ran.load()) << "a spawned thread waits for resume_thread";
  ASSERT_EQ(resume_thread(t), B_OK);
  status_t exit = 0;
  ASSERT_EQ(wait_for_thread(t, &exit), B_OK);
  EXPECT_EQ(exit, 42);
  EXPECT_STREQ(n.name, "LoadImages");
  EXPECT_EQ(wait_for_thread(t, &exit), B_BAD_THREAD_ID) << "a thread is waited for once";
  EXPECT_EQ(resume_thread(t), B_BAD_THREAD_ID);
}

TEST(Thread, LongNamesAreCutForTheSystem) {
  Named n;
  const thread_id t = spawn_thread(recordName, "a-name-longer-than-fifteen", B_NORMAL_PRIORITY, &n);
  ASSERT_GE(t, 0);
  ASSERT_EQ(wait_for_thread(t, nullptr), B_OK) << "waiting starts a suspended thread";
  EXPECT_STREQ(n.name, "a-name-longer-t");
}

TEST(Thread, FailureHookMakesSpawnFailAndOnlyLiveThreadsCountAsRunning) {
  Named n;
  const int32 before = tw_threads_running();
  tw_fail_next_spawns(1);
  EXPECT_LT(spawn_thread(recordName, "x", B_NORMAL_PRIORITY, &n), 0);
  EXPECT_LT(spawn_thread(nullptr, "z", B_NORMAL_PRIORITY, &n), 0);
  EXPECT_EQ(tw_threads_running(), before);
  const thread_id t = spawn_thread(recordName, "y", B_NORMAL_PRIORITY, &n);
  EXPECT_GE(t, 0);
  EXPECT_EQ(tw_threads_running(), before + 1) << "a suspended thread counts";
  wait_for_thread(t, nullptr);
  EXPECT_EQ(tw_threads_running(), before);
  EXPECT_EQ(wait_for_thread(-5, nullptr), B_BAD_THREAD_ID);
  EXPECT_EQ(resume_thread(-5), B_BAD_THREAD_ID);
}

TEST(Snooze, SleepsAtLeastTheTime) {
  const auto start = Clock::now();
  EXPECT_EQ(snooze(2000), B_OK);
  EXPECT_GE(msSince(start), 1.9);
  EXPECT_EQ(snooze(-1), B_OK);
}

}  // namespace
