// Exact sample positions of Vorbis pages the reader has counted through.
//
// A page's granule position, as written, may run ahead of its packets
// (ogmmerge writes such files), so after a seek the sample count can only be
// placed from bounds. Where the reader has played the stream from an exact
// count, it keeps, for about one page a second, the written granule and the
// exact position it stands for; a later seek back that meets such a page
// places the count exactly. Only granules that differ from both neighbours
// are kept, so a written granule names one page. Fixed storage: when it is
// full, every other entry goes and the spacing doubles.
#ifndef OGMDECAPS_STATE_VORBIS_ANCHORS_H
#define OGMDECAPS_STATE_VORBIS_ANCHORS_H

#include <cstdint>

constexpr int32_t kVorbisAnchorCapacity = 4096;

struct VorbisAnchors {
  struct Entry {
    int64_t granule;  // as written on the page
    int64_t exact;    // the true position at the end of the page's last packet
  };
  Entry entries[kVorbisAnchorCapacity] = {};  // by granule, rising
  int32_t count = 0;
  int64_t spacing = 0;  // least distance between kept positions, in samples
  // The page before the one in waiting, and the one waiting for its
  // successor to show that its granule is unique.
  int64_t previousGranule = INT64_MAX;
  int64_t waitingGranule = -1;
  int64_t waitingExact = -1;
  // The exact end of the stream's last packet before the last granule cuts
  // it (-1 until counted to there): the pages near the end often repeat
  // one granule, so this stands for them.
  int64_t endExact = -1;
};

// Empties the table for a new stream of `rate` samples a second.
void AnchorsReset(VorbisAnchors& a, int64_t rate);

// The counting broke off (a reposition or a gap): the next page has no
// known predecessor and cannot be kept.
void AnchorsBreak(VorbisAnchors& a);

// A page ended at written granule `granule` while the count was exact, at
// position `exact`.
void AnchorsNote(VorbisAnchors& a, int64_t granule, int64_t exact);

// The exact position of the page written with `granule`; false when not kept.
bool AnchorsFind(const VorbisAnchors& a, int64_t granule, int64_t* exact);

#endif
