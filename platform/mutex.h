// The platform mutex behind the reader's lock: recursive, created unnamed and
// not owned, waited on with a time-out in milliseconds. Wait results follow
// the platform's convention so callers can tell a time-out from the rest.
#ifndef OGMDECAPS_PLATFORM_MUTEX_H
#define OGMDECAPS_PLATFORM_MUTEX_H

#include <cstdint>

struct PlatformMutex;

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
constexpr uint32_t kWaitTaken = 0;             // the caller now holds the mutex
constexpr uint32_t kWaitTimedOut = 258;        // held elsewhere for the whole wait
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;  // no mutex, or the wait failed

// A new mutex, or nullptr when the platform cannot make one.
PlatformMutex* MutexCreate();

// Waits up to timeoutMs (kWaitForever: no limit). A thread that holds the
// mutex takes it again at once. kWaitTaken, kWaitTimedOut or kWaitFailed.
uint32_t MutexWait(PlatformMutex* mutex, uint32_t timeoutMs);

// Releases one hold. A null mutex is ignored.
void MutexRelease(PlatformMutex* mutex);

// Destroys a mutex nobody holds or waits on. A null mutex is ignored.
void MutexDestroy(PlatformMutex* mutex);

#endif
