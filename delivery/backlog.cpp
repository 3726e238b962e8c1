#include <chrono>
#include <thread>

#include "delivery/delivery.h"

namespace {

// How long a path waits for the other stream's reader to take packets
// before it treats that stream as no longer read. Generous: a reader thread
// may be held up by decoding or by a loaded machine.
constexpr auto kCatchUpWait = std::chrono::seconds(4);
constexpr auto kCatchUpPoll = std::chrono::milliseconds(1);

}  // namespace

bool LetReaderCatchUp(ReaderState& s, LockHold& hold, int32_t other) {
  StreamSlot& slot = s.demux.slots[other];
  const auto deadline = std::chrono::steady_clock::now() + kCatchUpWait;
  while (slot.reading != 0 && StreamSlotHeldBytes(slot) > kReadBacklogLimit) {
    if (std::chrono::steady_clock::now() >= deadline) {
      slot.reading = 0;
      break;
    }
    hold.Release();
    std::this_thread::sleep_for(kCatchUpPoll);
    if (!hold.Retake() || s.sourceOpen == 0) return false;
  }
  return true;
}
