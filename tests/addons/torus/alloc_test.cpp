// TideTorus's load when memory runs out: every allocation of the built
// add-on's load is made to fail in turn; load must then return false and
// leave nothing allocated, and the filter must refuse to run.
//
// The program replaces the global operator new (exported with -rdynamic, so
// the dlopen'ed add-on binds to it) and counts the allocations that the
// filter makes with new (std::nothrow), which is how it allocates.
#include "Harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

int failAt = 0;        // the nothrow allocation to fail, counted from 1; 0: none
int nothrowCount = 0;  // nothrow allocations since arming
void* live[64];        // blocks from nothrow allocations still held
int liveCount = 0;

void* allocate(std::size_t n) { return std::malloc(n ? n : 1); }

void* allocateNothrow(std::size_t n) {
  if (failAt == 0) return allocate(n);
  if (++nothrowCount == failAt) return nullptr;
  void* p = allocate(n);
  if (p && liveCount < 64) live[liveCount++] = p;
  return p;
}

void release(void* p) {
  for (int k = 0; k < liveCount; ++k)
    if (live[k] == p) {
      live[k] = live[--liveCount];
      break;
    }
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) {
  if (void* p = allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocateNothrow(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocateNothrow(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace {

TEST(TideTorusLoad, EveryFailedAllocationIsReportedAndUndone) {
  auto lib = tw::test::openAddon("Vodid");
  ASSERT_TRUE(lib);
  // Count load's allocations with none failing.
  int total = 0;
  {
    tw::test::FilterRun run(*lib, 0);
    failAt = -1;  // armed, never matching
    nothrowCount = liveCount = 0;
    ASSERT_TRUE(run.load());
    total = nothrowCount;
    failAt = 0;
  }
  ASSERT_GE(total, 7) << "the mesh, four tables, the sine table and the levels";
  for (int k = 1; k <= total; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(total) + " fails");
    tw::test::FilterRun run(*lib, 0);
    failAt = k;
    nothrowCount = liveCount = 0;
    const bool loaded = run.load();
    failAt = 0;
    EXPECT_FALSE(loaded);
    EXPECT_EQ(liveCount, 0) << "blocks left behind";
    // The descriptor is filled all the same; a direct prepare refuses and a
    // frame draws nothing.
    EXPECT_STREQ(run.filter().name, "TideTorus");
    EXPECT_FALSE(run.filter().prepare());
    tw::Frame frame;
    run.filter().frame = &frame.info();
    run.filter().processFrame8(frame.info());
    for (size_t b = 0; b < frame.size(); ++b) ASSERT_EQ(frame.pixels()[b], 0);
  }
  // And a later load that succeeds still works.
  tw::test::FilterRun run(*lib, 0);
  ASSERT_TRUE(run.load());
  ASSERT_TRUE(run.prepare());
  run.draw();
}

}  // namespace
