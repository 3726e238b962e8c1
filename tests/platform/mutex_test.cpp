// The reader lock: recursive, with timed waits that report a time-out as 258.
#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(MutexTest, RecursiveAndTimed) {
  PlatformMutex* m = MutexCreate();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(MutexWait(m, kWaitForever), kWaitTaken);
  EXPECT_EQ(MutexWait(m, 500), kWaitTaken);  // the holder takes it again at once
  uint32_t other = 0;
  std::thread t([&] { other = MutexWait(m, 50); });
  t.join();
  EXPECT_EQ(other, kWaitTimedOut);
  MutexRelease(m);
  std::thread still([&] { other = MutexWait(m, 50); });  // one hold is left
  still.join();
  EXPECT_EQ(other, kWaitTimedOut);
  MutexRelease(m);
  std::atomic<uint32_t> free{1};
  std::thread now([&] {
    free = MutexWait(m, 50);
    if (free == kWaitTaken) MutexRelease(m);
  });
  now.join();
  EXPECT_EQ(free, kWaitTaken);
  MutexDestroy(m);
}

// A waiter asleep when the last hold ends is woken and takes the lock long
// before its time-out; a release by a thread that does not hold it changes
// nothing.
TEST(MutexTest, WaiterWokenAtTheLastReleaseAndStrayReleaseIgnored) {
  PlatformMutex* m = MutexCreate();
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(MutexWait(m, kWaitForever), kWaitTaken);
  ASSERT_EQ(MutexWait(m, kWaitForever), kWaitTaken);
  std::thread([&] { MutexRelease(m); }).join();  // not the owner's
  std::atomic<bool> waiting{false}, taken{false};
  std::thread waiter([&] {
    waiting = true;
    taken = MutexWait(m, 20000) == kWaitTaken;
    if (taken) MutexRelease(m);
  });
  while (!waiting) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  MutexRelease(m);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(taken);  // one hold is left: the stray release did not count
  const auto freed = std::chrono::steady_clock::now();
  MutexRelease(m);
  waiter.join();
  EXPECT_TRUE(taken);
  EXPECT_LT(std::chrono::steady_clock::now() - freed, std::chrono::seconds(10));
  MutexDestroy(m);
}

TEST(MutexTest, NoMutexFailsTheWait) {
  EXPECT_EQ(MutexWait(nullptr, 500), kWaitFailed);
  EXPECT_EQ(MutexWait(nullptr, kWaitForever), kWaitFailed);
  MutexRelease(nullptr);
  MutexDestroy(nullptr);
}

}  // namespace
