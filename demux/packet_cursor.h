// A look ahead at the packets libogg holds in a stream state behind those it
// has handed out, without taking them: each complete packet's bytes, its
// granule (-1 unless it ends a page) and whether it is the stream's last.
// The cursor keeps its place relative to what libogg has handed out, so it
// can be resumed after more pages came in (libogg moves its tables down
// when a page comes in).
#ifndef OGMDECAPS_DEMUX_PACKET_CURSOR_H
#define OGMDECAPS_DEMUX_PACKET_CURSOR_H

#include <ogg/ogg.h>

#include <cstdint>

#include "input/result.h"

struct PacketCursor {
  long lacing = 0;  // lacing entries passed, after those handed out
  long body = 0;    // body bytes passed, after those handed out
};

struct HeldPacket {
  const uint8_t* bytes = nullptr;  // inside libogg's body buffer: valid until the next page
  long size = 0;
  int64_t granule = -1;
  bool endOfStream = false;
};

// Looks at the next held packet and moves the cursor past it.
//  kPacket    a complete packet; *packet filled
//  kNoPacket  no complete packet follows (the rest, if any, is not complete yet)
//  kGap       a gap in the page sequence comes first; the cursor stays before it
int32_t NextHeldPacket(const ogg_stream_state& os, PacketCursor& cursor, HeldPacket* packet);

#endif
