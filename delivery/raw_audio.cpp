// The raw byte path: packets of an Ogg Media audio stream handed out as
// bytes, what does not fit a request waiting in the carry.
#include <cstring>

#include "delivery/audio_paths.h"
#include "demux/take_frame.h"
#include "input/result.h"

bool Carry(ReaderState& s, const uint8_t* bytes, int32_t n) {
  uint8_t* carry = s.audioCarry.Reserve(n, 0);
  if (carry == nullptr) return false;
  std::memcpy(carry, bytes, static_cast<size_t>(n));
  s.audioCarryBytes = n;
  return true;
}

int32_t RawPass(ReaderState& s, uint8_t*& out, int32_t& remaining, int32_t byteCount,
                int64_t keepFrom, uint8_t& endOfStream, int32_t* result) {
  const StreamHeader& header = *s.demux.headers[1];
  for (;;) {
    if (s.audioCarryBytes > remaining) {
      uint8_t* carry = s.audioCarry.data();
      std::memcpy(out, carry, static_cast<size_t>(remaining));
      s.audioCarryBytes -= remaining;
      std::memmove(carry, carry + remaining, static_cast<size_t>(s.audioCarryBytes));
      if (s.audioCarryBytes <= kAudioCarryBytes) s.audioCarry.Release(s.audioCarryBytes);
      *result = byteCount;
      return kFilled;
    }
    if (s.audioCarryBytes != 0) {
      std::memcpy(out, s.audioCarry.data(), static_cast<size_t>(s.audioCarryBytes));
      out += s.audioCarryBytes;
      remaining -= s.audioCarryBytes;
      s.audioCarryBytes = 0;
      s.audioCarry.Release(0);
      // The carry filled the request: done. Taking the next packet first
      // would lose these bytes when the stream ends right here.
      if (remaining == 0) {
        *result = byteCount;
        return kFilled;
      }
    }
    Frame frame;
    const int32_t r = TakeFrame(s.demux.slots[1], header, &frame);
    if (r == DECAPS_ERR_BAD_PACKET) continue;
    if (r != kPacket && r != DECAPS_ERR_NO_GRANULE) {
      s.audioNeedsPage = 1;
      return kGoOn;
    }
    s.audioTime = frame.time;
    endOfStream = frame.endOfStream;
    if (endOfStream != 0) s.demux.slots[1].ended = 1;
    if (keepFrom >= 0 && frame.time >= keepFrom) {
      if (!Carry(s, frame.payload, frame.size)) return DECAPS_ERR_OUT_OF_MEMORY;
      *result = byteCount;
      return kFilled;
    }
    if (frame.size >= remaining) {
      // The part that does not fit waits in the carry for the next call.
      if (!Carry(s, frame.payload + remaining, frame.size - remaining))
        return DECAPS_ERR_OUT_OF_MEMORY;
      std::memcpy(out, frame.payload, static_cast<size_t>(remaining));
      *result = byteCount;
      return kFilled;
    }
    std::memcpy(out, frame.payload, static_cast<size_t>(frame.size));
    out += frame.size;
    remaining -= frame.size;
  }
}
