#include "demux/packet_cursor.h"

#include "demux/byte_reader.h"

int32_t NextHeldPacket(const ogg_stream_state& os, PacketCursor& cursor, HeldPacket* packet) {
  long ptr = os.lacing_returned + cursor.lacing;
  const long start = os.body_returned + cursor.body;
  // lacing_packet is where libogg's complete packets end: every lacing value
  // after it belongs to a packet whose last segment has not come in yet.
  if (ptr >= os.lacing_packet) return kNoPacket;
  if ((os.lacing_vals[ptr] & 0x400) != 0) return kGap;
  long size = 0;
  int val = 0;
  do {
    val = os.lacing_vals[ptr++];
    size += val & 0xff;
  } while ((val & 0xff) == 255 && ptr < os.lacing_packet);
  if ((val & 0xff) == 255 || OutOfBounds(static_cast<size_t>(start), static_cast<size_t>(size),
                                         static_cast<size_t>(os.body_fill)))
    return kNoPacket;
  packet->bytes = os.body_data + start;
  packet->size = size;
  packet->granule = os.granule_vals[ptr - 1];
  packet->endOfStream = (val & 0x200) != 0;
  cursor.lacing = ptr - os.lacing_returned;
  cursor.body = start + size - os.body_returned;
  return kPacket;
}
