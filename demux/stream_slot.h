// Per-stream demultiplexing state and the page intake that feeds it. Slot i
// holds the stream whose Ogg serial number is i (0 video, 1 audio).
#ifndef OGMDECAPS_DEMUX_STREAM_SLOT_H
#define OGMDECAPS_DEMUX_STREAM_SLOT_H

#include <ogg/ogg.h>

#include <cstdint>

#include "input/input_source.h"

struct StreamSlot {
  uint8_t awaitingGranule = 0;  // 1: no timing reference yet (after init/reset)
  int64_t lastPacketNo = 0;     // libogg packetno of the last packet taken
  int64_t lastGranule = 0;      // its granule: own, rebuilt, 0 after a header, or -1
  int32_t lastDuration = 0;     // its duration in granule units; 0 after a header
  ogg_stream_state streamState = {};
};

constexpr int kSlotCount = 2;
constexpr int32_t kMaxPageBytes = 65307;  // header, 255 lacing values, 255 x 255 body
constexpr int32_t kReadChunk = 4096;

// Starts the slot's stream state for serial number serial; 0, or -1 when
// libogg has no memory. Releases anything the slot held before.
int32_t StreamSlotInit(StreamSlot& slot, int32_t serial);

// Drops every buffered page and packet and restarts packet numbering; the
// serial number stays. The slot awaits a granule reference again.
void StreamSlotReset(StreamSlot& slot);

// Releases the slot's stream state (safe when never initialised).
void StreamSlotClear(StreamSlot& slot);

// Bytes of page data buffered in the slot and not yet taken as packets.
long StreamSlotBufferedBytes(const StreamSlot& slot);

// True when a complete packet (or a gap mark) waits in the slot.
bool StreamSlotHasPacket(StreamSlot& slot);

// Most page data a slot keeps for a stream that nobody is reading (a host
// that plays the video only, say). Far more than players buffer between
// their audio and video calls, so normal playback never meets it; past it,
// the waiting packets of that stream are dropped instead of growing memory
// without end.
constexpr long kSlotBacklogLimit = 8L << 20;

// Submits page to the slot its serial number names. Pages of any other
// serial number have no slot and are dropped. When the page is for a stream
// other than reader's (the serial number of the path pulling pages; -1 for
// none) and that slot already holds kSlotBacklogLimit bytes, the slot is
// emptied first. Returns the serial number.
int32_t RoutePage(StreamSlot (&slots)[kSlotCount], ogg_page& page, int32_t reader = -1);

// Appends up to 4096 bytes read from the input to the sync layer.
// Returns the bytes read; 0 when the input has no more (or no memory);
// kInputReadFailed when a read failed before the input's length.
int32_t AppendChunk(ogg_sync_state& sync, InputSource& input);

// One page-intake attempt for the path that reads stream reader: take a
// complete page from the sync layer and route it; when none is complete,
// read one chunk.
enum PageIntakeResult : int32_t {
  kIntakePage = 1,         // a page was routed; *serial is its serial number
  kIntakeRead = 0,         // no page yet; a chunk was read (try again)
  kIntakeLostSync = -1,    // bytes were skipped to find a page start (try again)
  kIntakeEnd = -2,         // no page and the input has no more bytes
  kIntakeReadFailed = -3,  // no page and a read failed before the input's length
};
PageIntakeResult PageIntake(ogg_sync_state& sync, ogg_page& page, StreamSlot (&slots)[kSlotCount],
                            InputSource& input, int32_t reader, int32_t* serial);

#endif
