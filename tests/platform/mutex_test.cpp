// The reader lock: recursive, with timed waits that report a time-out as 258.
#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <atomic>
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

TEST(MutexTest, NoMutexFailsTheWait) {
  EXPECT_EQ(MutexWait(nullptr, 500), kWaitFailed);
  EXPECT_EQ(MutexWait(nullptr, kWaitForever), kWaitFailed);
  MutexRelease(nullptr);
  MutexDestroy(nullptr);
}

}  // namespace
