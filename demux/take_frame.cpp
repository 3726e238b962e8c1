#include "demux/take_frame.h"

#include "demux/mul_div_round.h"
#include "demux/result.h"

namespace {

// lastGranule + lastDuration, wrapping instead of overflowing on hostile
// granule values (the result is a position no real file reaches anyway).
int64_t Continue(const StreamSlot& slot) {
  return static_cast<int64_t>(static_cast<uint64_t>(slot.lastGranule) +
                              static_cast<uint64_t>(static_cast<int64_t>(slot.lastDuration)));
}

}  // namespace

int32_t PacketDuration(const StreamHeader& header, const uint8_t* packet, int32_t n) {
  if (n == 0) return header.defaultLength;
  uint32_t value = 0;
  for (int32_t i = n; i >= 1; --i) value = (value << 8) | packet[i];
  return static_cast<int32_t>(value);
}

int32_t TakeFrame(StreamSlot& slot, const StreamHeader& header, Frame* frame) {
  ogg_packet packet;
  const int r = ogg_stream_packetout(&slot.streamState, &packet);
  if (r <= 0) return r;

  const uint8_t b = packet.bytes > 0 ? packet.packet[0] : 0;
  if (packet.bytes > 0 && (b & 1) != 0) {
    slot.awaitingGranule = 0;
    slot.lastPacketNo = packet.packetno;
    slot.lastDuration = 0;
    slot.lastGranule = 0;
    return DECAPS_ERR_HEADER_PACKET;
  }

  const int32_t n = LengthBytesOf(b);
  // A packet without its own granule continues from the previous one, which
  // only works when nothing was lost in between and that one had a position
  // (continuing from "none" would invent a time near zero).
  const bool consecutive = packet.packetno == slot.lastPacketNo + 1 && slot.awaitingGranule == 0 &&
                           slot.lastGranule != -1;
  int64_t g = packet.granulepos;
  if (packet.bytes < 1 + n) {
    // No room for the length field: nothing to hand out. Keep the timing
    // going as for a packet of no duration so later packets stay timed.
    if (g == -1 && consecutive) g = Continue(slot);
    if (g != -1) slot.awaitingGranule = 0;
    slot.lastDuration = 0;
    slot.lastPacketNo = packet.packetno;
    slot.lastGranule = g;
    return DECAPS_ERR_BAD_PACKET;
  }

  frame->endOfStream = packet.e_o_s != 0 ? 1 : 0;
  frame->payload = packet.packet + 1 + n;
  frame->size = static_cast<int32_t>(packet.bytes - 1 - n);
  const int32_t d = PacketDuration(header, packet.packet, n);

  if (g == -1 && consecutive) g = Continue(slot);
  if (g != -1) slot.awaitingGranule = 0;
  slot.lastDuration = d;
  slot.lastPacketNo = packet.packetno;
  slot.lastGranule = g;

  frame->keyframe = (g != -1 && (b & 8) != 0) ? 1 : 0;
  frame->time = MulDivRound(header.timeUnit, header.samplesPerUnit, g);
  return g == -1 ? DECAPS_ERR_NO_GRANULE : kPacket;
}
