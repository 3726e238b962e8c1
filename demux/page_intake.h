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

// One page-intake attempt for the path that reads slot want (-1: none).
enum PageIntakeResult : int32_t {
  kIntakePage = 1,         // a page was taken; *slot is where it went (-1: elsewhere or left)
  kIntakeRead = 0,         // no page yet; a chunk was read (try again)
  kIntakeLostSync = -1,    // bytes were skipped to find a page start (try again)
  kIntakeEnd = -2,         // no page and the input has no more bytes
  kIntakeReadFailed = -3,  // no page and a read failed (or the input would not move back)
};

// On the main reading: takes a complete page from the sync layer and routes
// it, reading one chunk when none is complete. A page for a slot other than
// want that holds more than its bound (with a whole packet waiting) detaches
// that slot there instead, when the input can go back. When want's slot is
// detached, reads its pages again from where it stopped, up to its bound
// (at least one page of it), and reports *slot = want.
PageIntakeResult PullPage(DemuxState& d, int32_t want, int32_t* slot);

// Source offset of the first byte the sync layer has not consumed.
int64_t SyncOffset(const DemuxState& d);

// Forgets every slot's second reading and makes the input's position the
// main one (after a reposition of the input, or at open).
void ResetCursors(DemuxState& d);

#endif
