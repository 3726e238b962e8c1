#include <cstring>

#include "demux/stream_slot.h"

int32_t StreamSlotInit(StreamSlot& slot, int32_t serial) {
  slot.awaitingGranule = 1;
  slot.afterHeader = 0;
  slot.bound = 1;
  slot.reading = 0;
  slot.ended = 0;
  slot.dropped = 0;
  // ogg_stream_init does not free what an earlier init allocated.
  ogg_stream_clear(&slot.streamState);
  return ogg_stream_init(&slot.streamState, serial);
}

void StreamSlotReset(StreamSlot& slot) {
  slot.awaitingGranule = 1;
  slot.afterHeader = 0;
  slot.reading = 0;
  slot.ended = 0;
  slot.dropped = 0;
  ogg_stream_reset(&slot.streamState);
}

void StreamSlotDrop(StreamSlot& slot) {
  slot.awaitingGranule = 1;
  slot.afterHeader = 0;
  slot.dropped = 1;
  // The stream's next page starts a new sequence; libogg skips the part of
  // a packet continued from a dropped page, so packets stay whole.
  ogg_stream_reset(&slot.streamState);
}

void StreamSlotClear(StreamSlot& slot) {
  ogg_stream_clear(&slot.streamState);
  slot.bound = 0;
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
  return -1;
}

long StreamSlotBufferedBytes(const StreamSlot& slot) {
  return slot.streamState.body_fill - slot.streamState.body_returned;
}

bool StreamSlotHasPacket(StreamSlot& slot) {
  return ogg_stream_packetpeek(&slot.streamState, nullptr) != 0;
}

int32_t RoutePage(StreamSlot (&slots)[kSlotCount], ogg_page& page, int32_t reader) {
  const int32_t index = SlotOfSerial(slots, ogg_page_serialno(&page));
  if (index < 0) return -1;
  StreamSlot& slot = slots[index];
  const long limit = slot.reading != 0 ? kHardBacklogLimit : kIdleBacklogLimit;
  if (index != reader && StreamSlotHeldBytes(slot) > limit) StreamSlotDrop(slot);
  // A refused page (a version libogg does not know) is simply dropped.
  ogg_stream_pagein(&slot.streamState, &page);
  return index;
}

int32_t AppendChunk(ogg_sync_state& sync, InputSource& input) {
  char* area = ogg_sync_buffer(&sync, kReadChunk);
  if (area == nullptr) return 0;
  const int32_t got = InputRead(input, area, kReadChunk);
  if (got > 0) ogg_sync_wrote(&sync, got);
  return got;
}

PageIntakeResult PageIntake(ogg_sync_state& sync, ogg_page& page, StreamSlot (&slots)[kSlotCount],
                            InputSource& input, int32_t reader, int32_t* slot) {
  const int r = ogg_sync_pageout(&sync, &page);
  if (r > 0) {
    *slot = RoutePage(slots, page, reader);
    return kIntakePage;
  }
  if (r < 0) return kIntakeLostSync;
  const int32_t got = AppendChunk(sync, input);
  return got > 0 ? kIntakeRead : got == 0 ? kIntakeEnd : kIntakeReadFailed;
}
