// Page intake for the delivery paths: pages go from the sync layer to the
// slots of their streams, each slot holding a bounded backlog. A slot that
// another stream's reading runs ahead of stops taking pages at its bound
// and remembers where it stopped; when its own reader asks for more, its
// pages are read again from there (only that stream's pages are taken), and
// the input goes back to the main reading afterwards. The two readings merge
// when the second one reaches the main one. No page a host can still ask for
// is dropped.
#ifndef OGMDECAPS_DEMUX_PAGE_INTAKE_H
#define OGMDECAPS_DEMUX_PAGE_INTAKE_H

#include <cstdint>

#include "demux/demux_state.h"
#include "input/result.h"

// On the main reading: takes a complete page from the sync layer and routes
// it, reading one chunk when none is complete. A page for a slot other than
// want that holds more than its bound (with a whole packet waiting) detaches
// that slot there instead, when the input can go back. When want's slot is
// detached, reads its pages again from where it stopped, up to its bound
// (at least one page of it), and reports *slot = want. One attempt for the
// path that reads slot want (kNoSlot: none):
//   kPageTaken              *slot is where the page went (kNoSlot: elsewhere or set aside)
//   kChunkRead              no page was complete; a chunk was read: try again
//   DECAPS_ERR_LOST_SYNC    bytes were skipped to find a page start: try again
//   DECAPS_ERR_INPUT_ENDED  no page, and the input has no more bytes
//   DECAPS_ERR_READ_FAILED  no page, and a read failed (or the input would not move)
//   DECAPS_ERR_OUT_OF_MEMORY no page, and the sync layer has no room for a read
int32_t PullPage(DemuxState& d, int32_t want, int32_t* slot);

// True when a PullPage result means no page will come: the input ended or
// failed.
inline bool IntakeOver(int32_t result) {
  return result == DECAPS_ERR_INPUT_ENDED || IsFailure(result);
}

// Source offset of the first byte the sync layer has not consumed.
int64_t SyncOffset(const DemuxState& d);

// Forgets every slot's second reading and makes the input's position the
// main one (after a reposition of the input, or at open).
void ResetCursors(DemuxState& d);

#endif
