// A byte buffer with a fixed part and, only while it must hold more than the
// fixed part, a heap part. Trivially destructible so it can live in the
// constant-initialised reader state; Release() returns the heap part.
#ifndef OGMDECAPS_STATE_HELD_BUFFER_H
#define OGMDECAPS_STATE_HELD_BUFFER_H

#include <array>
#include <cstdint>
#include <cstdlib>

template <int32_t kFixed>
struct HeldBuffer {
  std::array<uint8_t, kFixed> fixed = {};
  uint8_t* heap = nullptr;
  int32_t heapCapacity = 0;

  uint8_t* data() { return heap != nullptr ? heap : fixed.data(); }
  int32_t capacity() const { return heap != nullptr ? heapCapacity : kFixed; }

  // Makes room for n bytes, keeping the first keep bytes held now.
  // Returns the data pointer, or nullptr when memory runs out (the buffer
  // is then unchanged).
  uint8_t* Reserve(int32_t n, int32_t keep) {
    if (n <= capacity()) return data();
    auto* grown = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(n)));
    if (grown == nullptr) return nullptr;
    if (keep > 0) __builtin_memcpy(grown, data(), static_cast<size_t>(keep));
    std::free(heap);
    heap = grown;
    heapCapacity = n;
    return heap;
  }

  // Gives the heap part back; the caller holds at most kFixed bytes (keep of
  // them are copied back into the fixed part).
  void Release(int32_t keep) {
    if (heap == nullptr) return;
    if (keep > 0) __builtin_memcpy(fixed.data(), heap, static_cast<size_t>(keep));
    std::free(heap);
    heap = nullptr;
    heapCapacity = 0;
  }
};

#endif
