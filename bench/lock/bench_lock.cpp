// Cost of the reader's lock: nanoseconds per take-and-release pair of the
// platform mutex, free (every entry of the library takes it once), taken
// again by its holder (an entry inside another), and passed between two
// threads that each take it in turn. Figures only.
//
//   bench_lock [pairs]   (default 2000000)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/mutex.h"

namespace {

double NanosecondsPerPair(std::chrono::steady_clock::time_point since, long pairs) {
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - since;
  return spent.count() / static_cast<double>(pairs);
}

}  // namespace

int main(int argc, char** argv) {
  const long pairs = argc > 1 ? std::atol(argv[1]) : 2000000;
  PlatformMutex* m = MutexCreate();
  if (m == nullptr || pairs <= 0) return 1;

  auto since = std::chrono::steady_clock::now();
  for (long i = 0; i < pairs; ++i) {
    MutexWait(m, kWaitForever);
    MutexRelease(m);
  }
  std::printf("free lock, take + release:        %8.1f ns\n", NanosecondsPerPair(since, pairs));

  since = std::chrono::steady_clock::now();
  for (long i = 0; i < pairs; ++i) {
    MutexWait(m, 500);
    MutexRelease(m);
  }
  std::printf("free lock, timed take + release:  %8.1f ns\n", NanosecondsPerPair(since, pairs));

  MutexWait(m, kWaitForever);
  since = std::chrono::steady_clock::now();
  for (long i = 0; i < pairs; ++i) {
    MutexWait(m, kWaitForever);
    MutexRelease(m);
  }
  std::printf("held lock, taken again + release: %8.1f ns\n", NanosecondsPerPair(since, pairs));
  MutexRelease(m);

  // Two threads taking it in turn: each pair may wait for the other thread.
  const long shared = pairs / 20 > 0 ? pairs / 20 : 1;
  std::atomic<long> total{0};
  since = std::chrono::steady_clock::now();
  auto worker = [&] {
    for (long i = 0; i < shared; ++i) {
      MutexWait(m, kWaitForever);
      total.fetch_add(1, std::memory_order_relaxed);
      MutexRelease(m);
    }
  };
  std::thread other(worker);
  worker();
  other.join();
  std::printf("two threads, take + release:      %8.1f ns (%ld pairs)\n",
              NanosecondsPerPair(since, total.load()), total.load());
  MutexDestroy(m);
  return 0;
}
