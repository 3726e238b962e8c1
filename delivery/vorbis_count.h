// Where the Vorbis sample count goes after a seek, from the granules of the
// packets that follow: a pure placement over rows of (granule, block size,
// flags), fed one packet at a time as pages come in.
//
// A page granule can run ahead of the packets it ends (ogmmerge gives each
// page the granule of the source page that holds its last packet, up to a
// second on), but never behind them, so each later granule, less the
// durations of the packets up to it, bounds the end of the packet being
// placed from above. They bound it from below too: a packet from a page
// whose granule exceeds the one before it belongs to a later source page,
// so it starts at or after that earlier granule. The count goes between the
// bounds found over a few seconds of packets (on the upper one where several
// pages agree on it, as on files whose granules are right), or exactly where
// a page met has a known position. Durations come from the block sizes: a
// packet completes a quarter of its own block and a quarter of the one
// before.
#ifndef OGMDECAPS_DELIVERY_VORBIS_COUNT_H
#define OGMDECAPS_DELIVERY_VORBIS_COUNT_H

#include <cstdint>

#include "state/vorbis_anchors.h"

// One packet after the one being placed, as the placement sees it.
enum : uint8_t {
  kCountRowEndOfStream = 1,  // the stream's last packet
  kCountRowGap = 2,          // a gap in the page sequence comes here
  kCountRowNotAudio = 4,     // no audio packet (no block size)
};
struct CountRow {
  int64_t granule;  // the packet's granule; -1 when it does not end a page
  long block;       // its block size
  uint8_t flags;
};

// The placement of the count for a packet whose own granule is `granule`.
struct GranuleBound {
  int64_t best;        // the smallest upper bound so far (this packet's own granule first)
  int64_t lower = -1;  // the largest lower bound so far; -1 none
  int agreeing = 1;    // pages giving best
  int pages = 1;       // pages looked at (their last packets' granules)
  int64_t sum = 0;     // samples from this packet's end to the last packet looked at
  int64_t granule;     // the last granule looked at
  long prev;           // block size of the last packet looked at
  bool ended = false;  // a gap, the stream's end or a packet that is no audio
  bool exact = false;  // best is this packet's exact end (from a known page)
  int64_t window;      // samples of packets to look at
  int64_t settled;     // a bracket this narrow places the count
  int64_t early;       // the count goes at most this far below best

  // granule: the packet's own; lastBlock: its block size; rate: samples a
  // second.
  GranuleBound(int64_t granule, long lastBlock, long rate);
  // True when the packets looked at reach over the whole window, enough
  // pages agree on the upper bound, the bounds are close (after as many
  // pages as could have agreed), or nothing later can count.
  bool Covered() const;
  // The count: the upper bound where it is trusted, else at most `early`
  // below it and never below the lower bound.
  int64_t Placed() const;
};

// Takes the next packet into the placement. Call only while !b.Covered().
// anchors: the pages whose exact positions are known, and the stream's
// exact end where counted to there.
void ExtendBound(GranuleBound& b, const CountRow& row, const VorbisAnchors& anchors);

#endif
