#include "platform/mutex.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <new>

// A recursive lock built from a plain mutex, an owner and a depth, with a
// condition variable on the monotonic clock for the timed wait. The system's
// recursive mutex times its waits on the realtime clock only, so a clock
// step forward would end a wait early and report a source as stalled that
// was not. (The inner mutex is an ordinary pthread mutex, so race checkers
// see every hand-over of the lock.)
struct PlatformMutex {
  pthread_mutex_t m;
  pthread_cond_t freed;
  pthread_t owner;
  uint32_t depth = 0;  // holds of the owner; 0: free
};

PlatformMutex* MutexCreate() {
  auto* mutex = new (std::nothrow) PlatformMutex;
  if (mutex == nullptr) return nullptr;
  pthread_condattr_t attr;
  bool ok = pthread_condattr_init(&attr) == 0;
  if (ok) {
    ok = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC) == 0 &&
         pthread_cond_init(&mutex->freed, &attr) == 0;
    pthread_condattr_destroy(&attr);
  }
  if (ok && pthread_mutex_init(&mutex->m, nullptr) != 0) {
    pthread_cond_destroy(&mutex->freed);
    ok = false;
  }
  if (!ok) {
    delete mutex;
    return nullptr;
  }
  return mutex;
}

uint32_t MutexWait(PlatformMutex* mutex, uint32_t timeoutMs) {
  if (mutex == nullptr) return kWaitFailed;
  timespec deadline = {};
  if (timeoutMs != kWaitForever) {
    if (clock_gettime(CLOCK_MONOTONIC, &deadline) != 0) return kWaitFailed;
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
  }
  const pthread_t self = pthread_self();
  if (pthread_mutex_lock(&mutex->m) != 0) return kWaitFailed;
  uint32_t result = kWaitTaken;
  while (mutex->depth > 0 && !pthread_equal(mutex->owner, self)) {
    const int r = timeoutMs == kWaitForever
                      ? pthread_cond_wait(&mutex->freed, &mutex->m)
                      : pthread_cond_timedwait(&mutex->freed, &mutex->m, &deadline);
    if (r == ETIMEDOUT && mutex->depth > 0) {
      result = kWaitTimedOut;
      break;
    }
    if (r != 0 && r != ETIMEDOUT) {
      result = kWaitFailed;
      break;
    }
  }
  if (result == kWaitTaken) {
    mutex->owner = self;
    ++mutex->depth;
  }
  pthread_mutex_unlock(&mutex->m);
  return result;
}

void MutexRelease(PlatformMutex* mutex) {
  if (mutex == nullptr) return;
  pthread_mutex_lock(&mutex->m);
  // Only the owner releases; a stray release of a lock held elsewhere (or
  // of a free one) changes nothing.
  if (mutex->depth > 0 && pthread_equal(mutex->owner, pthread_self()) && --mutex->depth == 0)
    pthread_cond_signal(&mutex->freed);
  pthread_mutex_unlock(&mutex->m);
}

void MutexDestroy(PlatformMutex* mutex) {
  if (mutex == nullptr) return;
  pthread_cond_destroy(&mutex->freed);
  pthread_mutex_destroy(&mutex->m);
  delete mutex;
}
