#include "demux/take_frame.h"

#include "demux/mul_div_round.h"
#include "demux/packet_cursor.h"
#include "input/result.h"

namespace {

// lastGranule + lastDuration, wrapping instead of overflowing on hostile
// granule values (the result is a position no real file reaches anyway).
int64_t Continue(const StreamSlot& slot) {
  return static_cast<int64_t>(static_cast<uint64_t>(slot.lastGranule) +
                              static_cast<uint64_t>(static_cast<int64_t>(slot.lastDuration)));
}

// Packets completed on one page: at most one per lacing value.
constexpr int kMaxPacketsScanned = 255;

// The granule of a packet that has none, worked out backwards from a later
// packet of the stream that has one: only the last packet completed on a
// page carries the page's granule, so right after a jump the packets before
// it would otherwise stay untimed (and a keyframe among them unseen). Looks
// at the packets still queued in the stream state behind the one just taken
// (duration ownDuration); stops at a gap (nothing later continues this
// packet), a header packet, a packet too short for its length field, or the
// end of the complete packets.
bool GranuleFromLaterPacket(const ogg_stream_state& os, const StreamHeader& header,
                            int32_t ownDuration, int64_t* granule) {
  uint64_t before = static_cast<uint32_t>(ownDuration);  // steps from this packet to the found one
  PacketCursor cursor;
  HeldPacket packet;
  for (int scanned = 0;
       scanned < kMaxPacketsScanned && NextHeldPacket(os, cursor, &packet) == kPacket; ++scanned) {
    if (packet.size < 1 || (packet.bytes[0] & 1) != 0) return false;  // empty, or a header packet
    const int32_t n = LengthBytesOf(packet.bytes[0]);
    if (packet.size < 1 + n) return false;
    const int64_t g = packet.granule;
    if (g != -1) {
      const auto start = static_cast<int64_t>(static_cast<uint64_t>(g) - before);
      if (start < 0 || start > g) return false;  // durations that do not fit the granule
      *granule = start;
      return true;
    }
    before += static_cast<uint32_t>(PacketDuration(header, packet.bytes, n));
  }
  return false;
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
    StreamSlotHeaderTaken(slot, packet.packetno);
    return DECAPS_ERR_HEADER_PACKET;
  }

  const int32_t n = LengthBytesOf(b);
  // A packet without its own granule continues from the previous one, which
  // only works when nothing was lost in between and that one had a position
  // (continuing from "none" would invent a time near zero).
  const bool consecutive = packet.packetno == slot.lastPacketNo + 1 && slot.awaitingGranule == 0 &&
                           slot.lastGranule != -1;
  const bool afterHeader = slot.afterHeader != 0;
  slot.afterHeader = 0;
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

  // The first data packets take their time from their page's granule,
  // counted back, before continuing from the headers' 0: a stream need not
  // start at position 0.
  if (g == -1 && afterHeader) GranuleFromLaterPacket(slot.streamState, header, d, &g);
  if (g == -1 && consecutive) g = Continue(slot);
  if (g == -1) GranuleFromLaterPacket(slot.streamState, header, d, &g);
  if (g != -1) slot.awaitingGranule = 0;
  slot.lastDuration = d;
  slot.lastPacketNo = packet.packetno;
  slot.lastGranule = g;

  frame->keyframe = (g != -1 && (b & 8) != 0) ? 1 : 0;
  frame->time = MulDivRound(header.timeUnit, g, header.samplesPerUnit);
  return g == -1 ? DECAPS_ERR_NO_GRANULE : kPacket;
}
