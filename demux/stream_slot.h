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
  uint8_t afterHeader = 0;      // 1: the last packet taken was a header packet
  uint8_t bound = 0;            // 1: holds a stream found at open (serial in streamState)
  uint8_t reading = 0;          // 1: the stream's host entry was called since open or seek
  uint8_t ended = 0;            // 1: the stream's last packet was taken
  uint8_t dropped = 0;          // 1: packets were dropped; delivery resumes at a clean point
  ogg_stream_state streamState = {};
};

constexpr int kSlotCount = 2;
constexpr int32_t kMaxPageBytes = 65307;  // header, 255 lacing values, 255 x 255 body
constexpr int32_t kReadChunk = 4096;

// Starts the slot's stream state for serial number serial (the slot then
// takes that stream's pages); 0, or -1 when libogg has no memory. Releases
// anything the slot held before.
int32_t StreamSlotInit(StreamSlot& slot, int32_t serial);

// Drops every buffered page and packet and restarts packet numbering; the
// serial number stays. The slot awaits a granule reference again, and
// counts as not read until its entry is called again.
void StreamSlotReset(StreamSlot& slot);

// Drops what the slot holds because it grew past its limit: as a reset, but
// marks the slot dropped so that delivery resumes at a clean point (video at
// its next keyframe) instead of handing out what followed the loss.
void StreamSlotDrop(StreamSlot& slot);

// Releases the slot's stream state (safe when never initialised).
void StreamSlotClear(StreamSlot& slot);

// Bytes of page data buffered in the slot and not yet taken as packets.
long StreamSlotBufferedBytes(const StreamSlot& slot);

// Bytes libogg holds for the slot's waiting packets: page bodies plus the
// lacing and granule tables (an entry per lacing value, which dominates
// pages of many tiny packets).
long StreamSlotHeldBytes(const StreamSlot& slot);

// True when a complete packet (or a gap mark) waits in the slot.
bool StreamSlotHasPacket(StreamSlot& slot);

// What a slot may hold (StreamSlotHeldBytes) for a stream nobody reads (a
// host that plays the video only, say): past it the waiting packets are
// dropped instead of growing memory without end.
constexpr long kIdleBacklogLimit = 1L << 20;
// For a stream that is being read: a path that would pull more pages while
// the other stream's slot holds this much first lets that stream's reader
// catch up. Far more than players buffer between their audio and video
// calls, so normal playback never meets it.
constexpr long kReadBacklogLimit = 8L << 20;
// Where even a stream being read is dropped: reached only when waiting for
// its reader is not possible (reads made on a seek's behalf).
constexpr long kHardBacklogLimit = 4 * kReadBacklogLimit;

// Index of the slot that holds the stream of serial number serial, or -1.
int32_t SlotOfSerial(const StreamSlot (&slots)[kSlotCount], int32_t serial);

// Submits page to the slot of its stream. Pages of a stream without a slot
// are dropped. When the page is for a slot other than reader (the slot of
// the path pulling pages; -1 for none) and that slot holds more than its
// limit (idle or hard, above), the slot is dropped first. Returns the slot
// index, -1 when none.
int32_t RoutePage(StreamSlot (&slots)[kSlotCount], ogg_page& page, int32_t reader = -1);

// Appends up to 4096 bytes read from the input to the sync layer.
// Returns the bytes read; 0 when the input has no more (or no memory);
// kInputReadFailed when a read failed before the input's length.
int32_t AppendChunk(ogg_sync_state& sync, InputSource& input);

// One page-intake attempt for the path that reads slot reader: take a
// complete page from the sync layer and route it; when none is complete,
// read one chunk.
enum PageIntakeResult : int32_t {
  kIntakePage = 1,         // a page was taken; *slot is where it went (-1: dropped)
  kIntakeRead = 0,         // no page yet; a chunk was read (try again)
  kIntakeLostSync = -1,    // bytes were skipped to find a page start (try again)
  kIntakeEnd = -2,         // no page and the input has no more bytes
  kIntakeReadFailed = -3,  // no page and a read failed before the input's length
};
PageIntakeResult PageIntake(ogg_sync_state& sync, ogg_page& page, StreamSlot (&slots)[kSlotCount],
                            InputSource& input, int32_t reader, int32_t* slot);

#endif
