#include "delivery/vorbis_count.h"

#include <algorithm>

namespace {

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

bool Agreed(const GranuleBound& b) { return b.exact || b.agreeing >= kAgreeingPages; }

void Exactly(GranuleBound& b, int64_t position) {
  b.best = position;
  b.exact = true;
  b.ended = true;
}

}  // namespace

GranuleBound::GranuleBound(int64_t granule, long lastBlock, long rate)
    : best(granule),
      granule(granule),
      prev(lastBlock),
      window(kGranuleWindowSeconds * static_cast<int64_t>(rate)),
      settled(kSettledBracketMs * rate / 1000),
      early(kEarlyMs * rate / 1000) {}

bool GranuleBound::Covered() const {
  return ended || sum >= window || Agreed(*this) ||
         (pages >= kAgreeingPages && lower >= 0 && best - lower <= settled);
}

int64_t GranuleBound::Placed() const {
  if (Agreed(*this) || lower < 0 || lower >= best) return best;
  return std::max(lower, best - early);
}

void ExtendBound(GranuleBound& b, const CountRow& row, const VorbisAnchors& anchors) {
  if ((row.flags & (kCountRowGap | kCountRowNotAudio)) != 0) {
    b.ended = true;  // the count breaks off here
    return;
  }
  const int64_t duration = b.prev > 0 ? (b.prev + row.block) / 4 : 0;
  b.sum += duration;
  b.prev = row.block;
  const int64_t granule = row.granule;
  if (granule == -1) return;
  if ((row.flags & kCountRowEndOfStream) != 0) {
    // The stream's last packet: its exact end where the stream was counted
    // to there. Else the last granule is the stream's true end, which may
    // cut the final packet short by up to that packet's duration: a bound
    // that a cut cannot make wrong, and the end of the window.
    if (anchors.endExact >= 0) {
      Exactly(b, anchors.endExact - b.sum);
    } else {
      b.best = std::min(b.best, granule - b.sum + duration);
      b.ended = true;
    }
    return;
  }
  int64_t known = 0;
  if (AnchorsFind(anchors, granule, &known)) {
    Exactly(b, known - b.sum);
    return;
  }
  if (granule > b.granule) b.lower = std::max(b.lower, b.granule - (b.sum - duration));
  b.granule = granule;
  ++b.pages;
  if (granule - b.sum < b.best) {
    b.best = granule - b.sum;
    b.agreeing = 1;
  } else if (granule - b.sum == b.best) {
    ++b.agreeing;
  }
}
