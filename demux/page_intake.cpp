#include "demux/page_intake.h"

#include "demux/stream_slot.h"

namespace {

// The slot's marks as for a stream not read yet: no timing reference, not
// ended, taking pages on the main reading.
void MarkUnread(StreamSlot& slot) {
  slot.awaitingGranule = 1;
  slot.afterHeader = 0;
  slot.ended = 0;
  slot.detached = 0;
  slot.resumeOffset = 0;
}

}  // namespace

int32_t StreamSlotInit(StreamSlot& slot, int32_t serial) {
  MarkUnread(slot);
  slot.bound = 1;
  // ogg_stream_init does not free what an earlier init allocated.
  ogg_stream_clear(&slot.streamState);
  return ogg_stream_init(&slot.streamState, serial) == 0 ? kDone : DECAPS_ERR_OUT_OF_MEMORY;
}

void StreamSlotReset(StreamSlot& slot) {
  MarkUnread(slot);
  ogg_stream_reset(&slot.streamState);
}

void StreamSlotHeaderTaken(StreamSlot& slot, int64_t packetno) {
  slot.awaitingGranule = 0;
  slot.afterHeader = 1;
  slot.lastPacketNo = packetno;
  slot.lastGranule = 0;
  slot.lastDuration = 0;
}

void StreamSlotClear(StreamSlot& slot) {
  ogg_stream_clear(&slot.streamState);
  slot.bound = 0;
  slot.detached = 0;
}

long StreamSlotHeldBytes(const StreamSlot& slot) {
  const ogg_stream_state& os = slot.streamState;
  constexpr long kLacingEntryBytes = sizeof(*os.lacing_vals) + sizeof(*os.granule_vals);
  return (os.body_fill - os.body_returned) +
         (os.lacing_fill - os.lacing_returned) * kLacingEntryBytes;
}

int32_t SlotOfSerial(const StreamSlot (&slots)[kSlotCount], int32_t serial) {
  for (int32_t i = 0; i < kSlotCount; ++i)
    if (slots[i].bound != 0 && slots[i].streamState.serialno == serial) return i;
  return kNoSlot;
}

long StreamSlotBufferedBytes(const StreamSlot& slot) {
  return slot.streamState.body_fill - slot.streamState.body_returned;
}

bool StreamSlotHasPacket(StreamSlot& slot) {
  return ogg_stream_packetpeek(&slot.streamState, nullptr) != 0;
}

int32_t RoutePage(StreamSlot (&slots)[kSlotCount], ogg_page& page) {
  const int32_t index = SlotOfSerial(slots, ogg_page_serialno(&page));
  if (index < 0) return kNoSlot;
  // A refused page (a version libogg does not know) is simply dropped.
  ogg_stream_pagein(&slots[index].streamState, &page);
  return index;
}

int32_t AppendChunk(ogg_sync_state& sync, InputSource& input) {
  char* area = ogg_sync_buffer(&sync, kReadChunk);
  if (area == nullptr) return DECAPS_ERR_OUT_OF_MEMORY;
  const int32_t got = InputRead(input, area, kReadChunk);
  if (got > 0) ogg_sync_wrote(&sync, got);
  return got;
}

int64_t SyncOffset(const DemuxState& d) {
  return d.input.position - (d.sync.fill - d.sync.returned);
}

void ResetCursors(DemuxState& d) {
  d.cursor = kMainCursor;
  d.mainOffset = 0;
  for (StreamSlot& slot : d.slots) slot.detached = 0;
}

namespace {

int64_t PageBytes(const ogg_page& page) { return page.header_len + page.body_len; }

// True when the slot has taken more than its bound and a whole packet waits
// for its reader, so that stopping here cannot starve it.
bool OverBound(DemuxState& d, int32_t index) {
  StreamSlot& slot = d.slots[index];
  return StreamSlotHeldBytes(slot) > kBacklogBound[index] && StreamSlotHasPacket(slot);
}

// Notes where the current reading stands, so it can resume there.
void LeaveCursor(DemuxState& d) {
  const int64_t at = SyncOffset(d);
  if (d.cursor == kMainCursor) {
    d.mainOffset = at;
  } else if (d.slots[d.cursor].detached != 0) {
    d.slots[d.cursor].resumeOffset = at;
  }
}

// Moves the input to offset with an empty sync layer for reading `to`.
bool EnterCursor(DemuxState& d, int32_t to, int64_t offset) {
  if (d.cursor == to) return true;
  LeaveCursor(d);
  if (offset > INT32_MAX || !InputSeek(d.input, static_cast<int32_t>(offset))) return false;
  ogg_sync_reset(&d.sync);
  d.cursor = to;
  return true;
}

int32_t ReadChunk(DemuxState& d) {
  const int32_t got = AppendChunk(d.sync, d.input);
  return got > 0 ? kChunkRead : got == 0 ? DECAPS_ERR_INPUT_ENDED : got;
}

// Routes a page taken on the main reading.
int32_t RouteMain(DemuxState& d, ogg_page& page, int32_t want) {
  const int32_t index = SlotOfSerial(d.slots, ogg_page_serialno(&page));
  if (index < 0) return kNoSlot;
  StreamSlot& slot = d.slots[index];
  if (slot.detached != 0) return kNoSlot;  // read again from its own offset later
  if (index != want && d.canReread != 0 && OverBound(d, index)) {
    slot.detached = 1;
    slot.resumeOffset = SyncOffset(d) - PageBytes(page);
    return kNoSlot;
  }
  ogg_stream_pagein(&slot.streamState, &page);
  return index;
}

int32_t PullMain(DemuxState& d, int32_t want, int32_t* slot) {
  if (!EnterCursor(d, kMainCursor, d.mainOffset)) return DECAPS_ERR_READ_FAILED;
  const int r = ogg_sync_pageout(&d.sync, &d.page);
  if (r > 0) {
    *slot = RouteMain(d, d.page, want);
    return kPageTaken;
  }
  if (r < 0) return DECAPS_ERR_LOST_SYNC;
  return ReadChunk(d);
}

// The second reading of a detached slot: its pages from resumeOffset on,
// until it holds its bound again (having taken at least one page) or the
// reading reaches the main one, where the two merge.
int32_t PullAgain(DemuxState& d, int32_t want, int32_t* slot) {
  StreamSlot& own = d.slots[want];
  if (!EnterCursor(d, want, own.resumeOffset)) return DECAPS_ERR_READ_FAILED;
  bool took = false;
  for (;;) {
    if (took && OverBound(d, want)) {
      *slot = want;
      return kPageTaken;
    }
    const int r = ogg_sync_pageout(&d.sync, &d.page);
    if (r < 0) continue;
    if (r == 0) {
      const int32_t read = ReadChunk(d);
      if (read == kChunkRead) continue;
      if (read == DECAPS_ERR_INPUT_ENDED) {
        // The main reading can be no further than the end: merged there.
        own.detached = 0;
        d.cursor = kMainCursor;
      }
      if (took) break;
      return read;
    }
    if (SyncOffset(d) - PageBytes(d.page) >= d.mainOffset) {
      // The main reading has not taken this page: from here on both are one.
      own.detached = 0;
      d.cursor = kMainCursor;
      const int32_t index = RouteMain(d, d.page, want);
      if (took) break;
      *slot = index;
      return kPageTaken;
    }
    if (SlotOfSerial(d.slots, ogg_page_serialno(&d.page)) != want) continue;
    ogg_stream_pagein(&own.streamState, &d.page);
    took = true;
  }
  *slot = want;
  return kPageTaken;
}

}  // namespace

int32_t PullPage(DemuxState& d, int32_t want, int32_t* slot) {
  *slot = kNoSlot;
  if (want >= 0 && want < kSlotCount && d.slots[want].detached != 0)
    return PullAgain(d, want, slot);
  return PullMain(d, want, slot);
}
