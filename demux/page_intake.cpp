#include <cstring>

#include "demux/stream_slot.h"

int32_t StreamSlotInit(StreamSlot& slot, int32_t serial) {
  slot.awaitingGranule = 1;
  // ogg_stream_init does not free what an earlier init allocated.
  ogg_stream_clear(&slot.streamState);
  return ogg_stream_init(&slot.streamState, serial);
}

void StreamSlotReset(StreamSlot& slot) {
  slot.awaitingGranule = 1;
  ogg_stream_reset(&slot.streamState);
}

void StreamSlotClear(StreamSlot& slot) { ogg_stream_clear(&slot.streamState); }

long StreamSlotBufferedBytes(const StreamSlot& slot) {
  return slot.streamState.body_fill - slot.streamState.body_returned;
}

bool StreamSlotHasPacket(StreamSlot& slot) {
  return ogg_stream_packetpeek(&slot.streamState, nullptr) != 0;
}

int32_t RoutePage(StreamSlot (&slots)[kSlotCount], ogg_page& page, int32_t reader) {
  const int32_t serial = ogg_page_serialno(&page);
  if (serial < 0 || serial >= kSlotCount) return serial;
  StreamSlot& slot = slots[serial];
  if (serial != reader && StreamSlotBufferedBytes(slot) > kSlotBacklogLimit) StreamSlotReset(slot);
  // A refused page (wrong serial or version for the slot) is simply dropped.
  ogg_stream_pagein(&slot.streamState, &page);
  return serial;
}

int32_t AppendChunk(ogg_sync_state& sync, InputSource& input) {
  char* area = ogg_sync_buffer(&sync, kReadChunk);
  if (area == nullptr) return 0;
  const int32_t got = InputRead(input, area, kReadChunk);
  if (got > 0) ogg_sync_wrote(&sync, got);
  return got;
}

PageIntakeResult PageIntake(ogg_sync_state& sync, ogg_page& page, StreamSlot (&slots)[kSlotCount],
                            InputSource& input, int32_t reader, int32_t* serial) {
  const int r = ogg_sync_pageout(&sync, &page);
  if (r > 0) {
    *serial = RoutePage(slots, page, reader);
    return kIntakePage;
  }
  if (r < 0) return kIntakeLostSync;
  const int32_t got = AppendChunk(sync, input);
  return got > 0 ? kIntakeRead : got == 0 ? kIntakeEnd : kIntakeReadFailed;
}
