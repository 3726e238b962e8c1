#include "platform/mutex.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <new>

// A recursive POSIX mutex waited on with pthread_mutex_timedlock. (The C++
// library's recursive_timed_mutex waits with pthread_mutex_clocklock, which
// ThreadSanitizer of this toolchain does not see: every timed take then
// looked like an unlock of a free mutex and hid the lock from race checks.)
// The deadline is on the realtime clock, as timedlock wants it.
struct PlatformMutex {
  pthread_mutex_t m;
};

PlatformMutex* MutexCreate() {
  auto* mutex = new (std::nothrow) PlatformMutex;
  if (mutex == nullptr) return nullptr;
  pthread_mutexattr_t attr;
  bool ok = pthread_mutexattr_init(&attr) == 0;
  if (ok) {
    ok = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
         pthread_mutex_init(&mutex->m, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
  }
  if (!ok) {
    delete mutex;
    return nullptr;
  }
  return mutex;
}

uint32_t MutexWait(PlatformMutex* mutex, uint32_t timeoutMs) {
  if (mutex == nullptr) return kWaitFailed;
  if (timeoutMs == kWaitForever)
    return pthread_mutex_lock(&mutex->m) == 0 ? kWaitTaken : kWaitFailed;
  timespec deadline;
  if (clock_gettime(CLOCK_REALTIME, &deadline) != 0) return kWaitFailed;
  deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
  deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  const int r = pthread_mutex_timedlock(&mutex->m, &deadline);
  if (r == 0) return kWaitTaken;
  return r == ETIMEDOUT ? kWaitTimedOut : kWaitFailed;
}

void MutexRelease(PlatformMutex* mutex) {
  if (mutex != nullptr) pthread_mutex_unlock(&mutex->m);
}

void MutexDestroy(PlatformMutex* mutex) {
  if (mutex == nullptr) return;
  pthread_mutex_destroy(&mutex->m);
  delete mutex;
}
