// Where the Vorbis sample count goes after a seek, from the granules of the
// packets buffered behind the one just decoded.
#ifndef OGMDECAPS_DELIVERY_VORBIS_COUNT_H
#define OGMDECAPS_DELIVERY_VORBIS_COUNT_H

#include <cstdint>

#include "demux/demux_state.h"
#include "demux/packet_cursor.h"
#include "state/vorbis_anchors.h"

// Seconds of Vorbis packets whose granules bound the one that places the
// sample count after a seek. ogmmerge's granules run ahead by up to a
// second, by an amount that changes from page to page: the longer the
// window, the nearer its bounds come to the truth. The window ends early
// once the bounds are within kSettledBracketMs of each other.
constexpr int64_t kGranuleWindowSeconds = 15;
// Where between its bounds the count goes: sound that comes early is
// noticed sooner than sound that comes late, so the count is placed at most
// kEarlyMs below its upper bound (audio at most that much after the
// keyframe), and a bracket this narrow settles the count for lip sync.
constexpr int64_t kEarlyMs = 35;
constexpr int64_t kSettledBracketMs = 90;
constexpr int kAgreeingPages = 3;

// Where the packet just decoded (granule g) truly ends, as far as the
// granules tell. A page granule can run ahead of the packets it ends
// (ogmmerge gives each page the granule of the source page that holds its
// last packet, up to a second on), but never behind them, so each later
// granule buffered in the slot, less the durations of the packets up to it,
// bounds this one from above. They bound it from below too: a packet from a
// page whose granule exceeds the one before it belongs to a later source
// page, so it starts at or after that earlier granule. The count goes
// between the bounds found over a few seconds of packets (on the upper one
// where several pages agree on it, as on files whose granules are right),
// or exactly where a page met has a known position. Durations come from the
// block sizes: a packet completes a quarter of its own block and a quarter
// of the one before. The work is resumed as pages come in, so placing the
// count costs one pass over the packets: positions are kept relative to
// what the stream state has handed out, as libogg moves its tables down
// when a page comes in.
struct GranuleBound {
  int64_t best;         // the smallest upper bound so far (this packet's own granule first)
  int64_t lower = -1;   // the largest lower bound so far; -1 none
  int agreeing = 1;     // pages giving best
  int pages = 1;        // pages looked at (their last packets' granules)
  int64_t sum = 0;      // samples from this packet's end to the last packet looked at
  int64_t granule;      // the last granule looked at
  long prev;            // block size of the last packet looked at
  PacketCursor cursor;  // the packets looked at, after those handed out
  bool ended = false;   // a gap, the stream's end or a packet that is no audio
  bool exact = false;   // best is this packet's exact end (from a known page)
  int64_t window;       // samples of packets to look at
  int64_t settled;      // a bracket this narrow places the count
  int64_t early;        // the count goes at most this far below best

  GranuleBound(int64_t g, long lastBlock, long rate)
      : best(g),
        granule(g),
        prev(lastBlock),
        window(kGranuleWindowSeconds * static_cast<int64_t>(rate)),
        settled(kSettledBracketMs * rate / 1000),
        early(kEarlyMs * rate / 1000) {}
  bool Agreed() const { return exact || agreeing >= kAgreeingPages; }
  // True when the packets looked at reach over the whole window, enough
  // pages agree on the upper bound, the bounds are close (after as many
  // pages as could have agreed), or nothing later can count.
  bool Covered() const {
    return ended || sum >= window || Agreed() ||
           (pages >= kAgreeingPages && lower >= 0 && best - lower <= settled);
  }
  // The count: the upper bound where it is trusted, else at most `early`
  // below it and never below the lower bound.
  int64_t Placed() const {
    if (Agreed() || lower < 0 || lower >= best) return best;
    return std::max(lower, best - early);
  }
  void Exactly(int64_t position) {
    best = position;
    exact = true;
    ended = true;
  }
};

// Looks at the packets buffered after those already looked at.
void ExtendBound(DemuxState& d, const VorbisAnchors& anchors, GranuleBound& b);

#endif
