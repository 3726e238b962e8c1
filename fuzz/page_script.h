// The take_frame fuzzer's input: timing fields of a stream header, then
// page records that are built into real Ogg pages (correct CRC) for the
// video slot. Shared with the seed maker, which writes records from the
// pages of real files.
//
//   header  timeUnit (8 bytes LE), samplesPerUnit (8), defaultLength (4)
//   record  flags (1), granule (8 LE), segment count n (1), n lacing values,
//           body (the lacing values' sum; zeros where the input ends)
//   flags   bit 0 continued, bit 1 bos, bit 2 eos, bit 3 skip a sequence
//           number, bit 4 serial 1 (refused by the slot), bit 5 reset the
//           slot first (as a seek does), bit 6 take no frames after it
#ifndef OGMDECAPS_FUZZ_PAGE_SCRIPT_H
#define OGMDECAPS_FUZZ_PAGE_SCRIPT_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

constexpr size_t kScriptHeaderBytes = 20;

enum PageFlag : uint8_t {
  kContinued = 1,
  kBos = 2,
  kEos = 4,
  kSkipSequence = 8,
  kOtherSerial = 16,
  kResetFirst = 32,
  kHoldFrames = 64,
};

inline void PutLe(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint64_t GetLe(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace fuzz

#endif
