// Turns the next packet of an Ogg Media stream into a frame: strips the
// packet-header byte and length bytes, works out duration, keyframe flag and
// granule position (rebuilt from the previous packet where the packet has
// none) and the presentation time in 100-ns units.
#ifndef OGMDECAPS_DEMUX_TAKE_FRAME_H
#define OGMDECAPS_DEMUX_TAKE_FRAME_H

#include <ogg/ogg.h>

#include <cstdint>

#include "demux/stream_header.h"
#include "demux/stream_slot.h"

// Number of length bytes (0..7) announced by a data packet's header byte.
inline int32_t LengthBytesOf(uint8_t headerByte) {
  return (headerByte >> 6) | ((headerByte & 2) << 1);
}

// Duration in granule units of a data packet with n length bytes: the
// header's defaultLength when n is 0, else the low 32 bits of the length
// field. The packet must hold 1 + n bytes.
int32_t PacketDuration(const StreamHeader& header, const uint8_t* packet, int32_t n);

struct Frame {
  const uint8_t* payload = nullptr;  // inside the slot's stream buffer
  int32_t size = 0;
  uint8_t endOfStream = 0;
  uint8_t keyframe = 0;
  int64_t time = 0;  // negative: no time established
};

// Takes the next packet from the slot.
//  1 (kPacket)               frame taken, granule known; frame filled
//  DECAPS_ERR_NO_GRANULE     frame taken, time unknown (negative); frame filled
//  0 (kNoPacket)             no complete packet; nothing written
//  -1 (kGap)                 gap in the page sequence; nothing written
//  DECAPS_ERR_HEADER_PACKET  a header packet; timing restarts at 0
//  DECAPS_ERR_BAD_PACKET     a data packet too short for its own length field
//                            (empty included); skipped, timing carried on
// The payload stays valid until the next page is submitted to the slot.
int32_t TakeFrame(StreamSlot& slot, const StreamHeader& header, Frame* frame);

#endif
