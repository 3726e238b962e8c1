#include "state/vorbis_anchors.h"

#include <algorithm>
#include <cstring>

namespace {

// The first entry whose granule is at least granule.
int32_t LowerBound(const VorbisAnchors& a, int64_t granule) {
  const VorbisAnchors::Entry* end = a.entries + a.count;
  return static_cast<int32_t>(
      std::lower_bound(a.entries, end, granule,
                       [](const VorbisAnchors::Entry& e, int64_t g) { return e.granule < g; }) -
      a.entries);
}

// Keeps every other entry (the first always) and doubles the spacing.
void Thin(VorbisAnchors& a) {
  int32_t kept = 0;
  for (int32_t i = 0; i < a.count; i += 2) a.entries[kept++] = a.entries[i];
  a.count = kept;
  a.spacing *= 2;
}

void Keep(VorbisAnchors& a, int64_t granule, int64_t exact) {
  const int32_t at = LowerBound(a, granule);
  if (at < a.count && a.entries[at].granule == granule) return;
  // One position per spacing: a neighbour that close makes this one idle.
  if (at > 0 && exact - a.entries[at - 1].exact < a.spacing) return;
  if (at < a.count && a.entries[at].exact - exact < a.spacing) return;
  if (a.count == kVorbisAnchorCapacity) {
    Thin(a);
    Keep(a, granule, exact);
    return;
  }
  std::memmove(&a.entries[at + 1], &a.entries[at],
               static_cast<size_t>(a.count - at) * sizeof(a.entries[0]));
  a.entries[at] = {granule, exact};
  ++a.count;
}

}  // namespace

void AnchorsReset(VorbisAnchors& a, int64_t rate) {
  a.count = 0;
  a.spacing = rate > 0 ? rate : 1;
  a.endExact = -1;
  AnchorsBreak(a);
}

void AnchorsBreak(VorbisAnchors& a) {
  a.previousGranule = INT64_MAX;
  a.waitingGranule = -1;
  a.waitingExact = -1;
}

void AnchorsNote(VorbisAnchors& a, int64_t granule, int64_t exact) {
  if (granule < 0) return;
  if (a.waitingGranule >= 0 && granule > a.waitingGranule)
    Keep(a, a.waitingGranule, a.waitingExact);
  // This page waits for the next one, unless its granule repeats the last.
  const bool unique = a.previousGranule != INT64_MAX && granule > a.previousGranule;
  a.waitingGranule = unique ? granule : -1;
  a.waitingExact = exact;
  a.previousGranule = granule;
}

bool AnchorsFind(const VorbisAnchors& a, int64_t granule, int64_t* exact) {
  const int32_t at = LowerBound(a, granule);
  if (at >= a.count || a.entries[at].granule != granule) return false;
  *exact = a.entries[at].exact;
  return true;
}
