#include "platform/mutex.h"

#include <chrono>
#include <mutex>
#include <new>

struct PlatformMutex {
  std::recursive_timed_mutex m;
};

PlatformMutex* MutexCreate() { return new (std::nothrow) PlatformMutex; }

uint32_t MutexWait(PlatformMutex* mutex, uint32_t timeoutMs) {
  if (mutex == nullptr) return kWaitFailed;
  if (timeoutMs == kWaitForever) {
    mutex->m.lock();
    return kWaitTaken;
  }
  return mutex->m.try_lock_for(std::chrono::milliseconds(timeoutMs)) ? kWaitTaken : kWaitTimedOut;
}

void MutexRelease(PlatformMutex* mutex) {
  if (mutex != nullptr) mutex->m.unlock();
}

void MutexDestroy(PlatformMutex* mutex) { delete mutex; }
