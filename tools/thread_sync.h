// The lock and condition variable the play command's threads pace each
// other with, many times per frame. On POSIX they are the standard ones. On
// Windows, those of mingw's posix thread model are kernel objects each time
// a thread waits or wakes another (under wine, a round trip to its server
// every time); a slim reader/writer lock and a condition variable stay in
// user space until a thread really sleeps.
#ifndef OGMDECAPS_TOOLS_THREAD_SYNC_H
#define OGMDECAPS_TOOLS_THREAD_SYNC_H

#include <chrono>
#include <condition_variable>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

namespace cli {

#ifdef _WIN32

class Mutex {
 public:
  void lock() { AcquireSRWLockExclusive(&lock_); }
  bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }
  SRWLOCK* native() { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

// The parts of std::condition_variable the play command uses.
class CondVar {
 public:
  void notify_all() { WakeAllConditionVariable(&cv_); }
  void notify_one() { WakeConditionVariable(&cv_); }

  void wait(std::unique_lock<Mutex>& lock) {
    SleepConditionVariableSRW(&cv_, lock.mutex()->native(), INFINITE, 0);
  }
  template <class Predicate>
  void wait(std::unique_lock<Mutex>& lock, Predicate ready) {
    while (!ready()) wait(lock);
  }

  template <class Clock, class Duration>
  std::cv_status wait_until(std::unique_lock<Mutex>& lock,
                            const std::chrono::time_point<Clock, Duration>& due) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    if (left > 0) {
      // (A wait longer than INFINITE - 1 ms wakes early; the caller's loop
      // waits again.)
      const DWORD ms = left < INFINITE ? static_cast<DWORD>(left) : INFINITE - 1;
      SleepConditionVariableSRW(&cv_, lock.mutex()->native(), ms, 0);
    }
    return Clock::now() >= due ? std::cv_status::timeout : std::cv_status::no_timeout;
  }

  template <class Rep, class Period, class Predicate>
  bool wait_for(std::unique_lock<Mutex>& lock, const std::chrono::duration<Rep, Period>& span,
                Predicate ready) {
    const auto due = std::chrono::steady_clock::now() + span;
    while (!ready())
      if (wait_until(lock, due) == std::cv_status::timeout) return ready();
    return true;
  }

 private:
  CONDITION_VARIABLE cv_ = CONDITION_VARIABLE_INIT;
};

#else

using Mutex = std::mutex;
using CondVar = std::condition_variable;

#endif

}  // namespace cli

#endif
