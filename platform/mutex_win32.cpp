#include <windows.h>

#include <new>

#include "platform/mutex.h"

// A Win32 mutex object: recursive for its owner, and WaitForSingleObject
// already reports 0 when taken and 258 (WAIT_TIMEOUT) on a time-out.
struct PlatformMutex {
  HANDLE handle;
};

static_assert(WAIT_TIMEOUT == kWaitTimedOut && INFINITE == kWaitForever, "Win32 wait values");

PlatformMutex* MutexCreate() {
  HANDLE handle = CreateMutexW(nullptr, FALSE, nullptr);
  if (handle == nullptr) return nullptr;
  auto* mutex = new (std::nothrow) PlatformMutex{handle};
  if (mutex == nullptr) CloseHandle(handle);
  return mutex;
}

uint32_t MutexWait(PlatformMutex* mutex, uint32_t timeoutMs) {
  if (mutex == nullptr) return kWaitFailed;
  switch (WaitForSingleObject(mutex->handle, timeoutMs)) {
    case WAIT_OBJECT_0:
    // A thread ended while holding the lock: the waiter owns it now.
    case WAIT_ABANDONED:
      return kWaitTaken;
    case WAIT_TIMEOUT:
      return kWaitTimedOut;
    default:
      return kWaitFailed;
  }
}

void MutexRelease(PlatformMutex* mutex) {
  if (mutex != nullptr) ReleaseMutex(mutex->handle);
}

void MutexDestroy(PlatformMutex* mutex) {
  if (mutex == nullptr) return;
  CloseHandle(mutex->handle);
  delete mutex;
}
