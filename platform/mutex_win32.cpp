#include <windows.h>

#include <new>

#include "platform/mutex.h"

// A recursive lock built as on POSIX: a slim reader/writer lock taken
// exclusively, an owner and a depth, and a condition variable for the timed
// wait. Taking and releasing a free lock stays in user space; a kernel
// mutex object costs a system call per entry and per leave (under wine, a
// round trip to its server). Only a thread that has to wait sleeps, with a
// deadline on the tick count, which does not move with the wall clock.
struct PlatformMutex {
  SRWLOCK m = SRWLOCK_INIT;
  CONDITION_VARIABLE freed = CONDITION_VARIABLE_INIT;
  DWORD owner = 0;
  uint32_t depth = 0;    // holds of the owner; 0: free
  uint32_t waiters = 0;  // threads asleep on freed
};

static_assert(WAIT_TIMEOUT == kWaitTimedOut && INFINITE == kWaitForever, "Win32 wait values");

PlatformMutex* MutexCreate() { return new (std::nothrow) PlatformMutex; }

uint32_t MutexWait(PlatformMutex* mutex, uint32_t timeoutMs) {
  if (mutex == nullptr) return kWaitFailed;
  const ULONGLONG deadline = timeoutMs == kWaitForever ? 0 : GetTickCount64() + timeoutMs;
  const DWORD self = GetCurrentThreadId();
  AcquireSRWLockExclusive(&mutex->m);
  uint32_t result = kWaitTaken;
  while (mutex->depth > 0 && mutex->owner != self) {
    DWORD sleep = INFINITE;
    if (timeoutMs != kWaitForever) {
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) {
        result = kWaitTimedOut;
        break;
      }
      sleep = static_cast<DWORD>(deadline - now);
    }
    ++mutex->waiters;
    const BOOL woken = SleepConditionVariableSRW(&mutex->freed, &mutex->m, sleep, 0);
    --mutex->waiters;
    // A time-out is judged by the loop: the lock may have been freed just
    // as the sleep ended.
    if (!woken && GetLastError() != ERROR_TIMEOUT) {
      result = kWaitFailed;
      break;
    }
  }
  if (result == kWaitTaken) {
    mutex->owner = self;
    ++mutex->depth;
  }
  ReleaseSRWLockExclusive(&mutex->m);
  return result;
}

void MutexRelease(PlatformMutex* mutex) {
  if (mutex == nullptr) return;
  AcquireSRWLockExclusive(&mutex->m);
  // Only the owner releases; a stray release of a lock held elsewhere (or
  // of a free one) changes nothing.
  if (mutex->depth > 0 && mutex->owner == GetCurrentThreadId() && --mutex->depth == 0 &&
      mutex->waiters > 0)
    WakeConditionVariable(&mutex->freed);
  ReleaseSRWLockExclusive(&mutex->m);
}

void MutexDestroy(PlatformMutex* mutex) { delete mutex; }
