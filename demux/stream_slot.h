// Per-stream demultiplexing state: the libogg stream state of one stream
// found at open (slot 0 the video, slot 1 the audio, whatever their serial
// numbers) and what the reader knows about its timing and its backlog.
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
  uint8_t ended = 0;            // 1: the stream's last packet was taken
  // 1: the backlog reached its bound and the slot stopped taking pages; the
  // stream's pages from resumeOffset on are read again when its reader asks.
  uint8_t detached = 0;
  int64_t resumeOffset = 0;  // detached: source offset where the stream's reading resumes
  ogg_stream_state streamState = {};
};

constexpr int kSlotCount = 2;
constexpr int32_t kNoSlot = -1;           // a slot index that names no slot
constexpr int32_t kMaxPageBytes = 65307;  // header, 255 lacing values, 255 x 255 body
constexpr int32_t kReadChunk = 4096;

// What a slot holds (StreamSlotHeldBytes) of a stream that another path's
// reading runs ahead of, before it stops taking pages and leaves them to be
// read again from the source. The video bound covers a few seconds of
// ordinary video, so a player's usual distance between its audio and video
// calls never needs a second read; the audio bound (several seconds of
// compressed audio, enough for what a seek scans before its keyframe) is
// what a host that plays the video alone pays for the unread audio.
constexpr long kVideoBacklogBound = 1L << 20;
constexpr long kAudioBacklogBound = 128L << 10;
constexpr long kBacklogBound[kSlotCount] = {kVideoBacklogBound, kAudioBacklogBound};

// Starts the slot's stream state for serial number serial (the slot then
// takes that stream's pages); kDone, or DECAPS_ERR_OUT_OF_MEMORY. Releases
// anything the slot held before.
int32_t StreamSlotInit(StreamSlot& slot, int32_t serial);

// Drops every buffered page and packet and restarts packet numbering; the
// serial number stays. The slot awaits a granule reference again and takes
// pages again.
void StreamSlotReset(StreamSlot& slot);

// A header packet (number packetno) was taken from the slot: timing restarts,
// so the first data packet continues from granule 0 unless its page's
// granule says otherwise.
void StreamSlotHeaderTaken(StreamSlot& slot, int64_t packetno);

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

// Index of the slot that holds the stream of serial number serial, or kNoSlot.
int32_t SlotOfSerial(const StreamSlot (&slots)[kSlotCount], int32_t serial);

// Submits page to the slot of its stream, whatever the slot holds (the
// open's header reading). Pages of a stream without a slot are dropped.
// Returns the slot index, kNoSlot when none.
int32_t RoutePage(StreamSlot (&slots)[kSlotCount], ogg_page& page);

// Appends up to kReadChunk bytes read from the input to the sync layer.
// Returns the bytes read; 0 when the input has no more;
// DECAPS_ERR_READ_FAILED when a read failed before the input's length;
// DECAPS_ERR_OUT_OF_MEMORY when the sync layer could not make room.
int32_t AppendChunk(ogg_sync_state& sync, InputSource& input);

#endif
