// Placing the Vorbis sample count after a seek from the granules of the
// packets that follow: rows of (granule, block size, flags) in, the count
// and whether it is exact out.
#include "delivery/vorbis_count.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

constexpr long kRate = 1000;  // samples a second: 35 early, a 90-sample bracket settles
constexpr long kBlock = 256;  // every packet: 128 samples after the one before

CountRow Packet(int64_t granule, uint8_t flags = 0) { return {granule, kBlock, flags}; }
const CountRow kNoGranule = Packet(-1);

// The count for a packet of granule 1000 (after a packet of kBlock), fed the
// rows while the placement asks for more.
GranuleBound Place(const std::vector<CountRow>& rows, const VorbisAnchors& anchors) {
  GranuleBound b(1000, kBlock, kRate);
  for (const CountRow& row : rows) {
    if (b.Covered()) break;
    ExtendBound(b, row, anchors);
  }
  return b;
}

TEST(VorbisCountTest, PlacesTheCountFromLaterGranules) {
  struct Row {
    const char* name;
    int64_t endExact;  // the stream's exact end where counted to there; -1 not
    bool anchored;     // the page of granule 1480 is known to end at 1400
    std::vector<CountRow> rows;
    int64_t count;
    bool exact;
  } table[] = {
      // Three pages (the packet's own first) give 1000: the fourth is not
      // looked at.
      {"agreeing", -1, false, {Packet(1128), Packet(1256), Packet(1300)}, 1000, false},
      // Bounds 916..968 (a later page's granule minus the packets up to it,
      // and a rising granule's start): 35 below the upper one.
      {"bracketed", -1, false, {kNoGranule, Packet(1300), kNoGranule, Packet(1480)}, 933, false},
      // Bounds 916..938: the lower one is nearer than 35 below.
      {"bracket below early",
       -1,
       false,
       {kNoGranule, Packet(1300), kNoGranule, Packet(1450)},
       916,
       false},
      // The last granule may cut the last packet: it bounds from there on.
      {"stream end", -1, false, {kNoGranule, Packet(1100, kCountRowEndOfStream)}, 972, false},
      {"stream end counted",
       1150,
       false,
       {kNoGranule, Packet(1100, kCountRowEndOfStream)},
       894,
       true},
      // A page whose exact position is known.
      {"anchor met", -1, true, {kNoGranule, Packet(1300), kNoGranule, Packet(1480)}, 888, true},
      // Nothing after a gap or a packet that is no audio counts.
      {"gap", -1, false, {kNoGranule, {-1, 0, kCountRowGap}, Packet(1100)}, 1000, false},
      {"not audio", -1, false, {{-1, 0, kCountRowNotAudio}, Packet(900)}, 1000, false},
  };
  auto anchors = std::make_unique<VorbisAnchors>();
  for (const Row& row : table) {
    AnchorsReset(*anchors, kRate);
    if (row.anchored) {
      // Counted through: 1480 is kept once its successor shows that it
      // names one page.
      AnchorsNote(*anchors, 1300, 1200);
      AnchorsNote(*anchors, 1480, 1400);
      AnchorsNote(*anchors, 3000, 2900);
    }
    anchors->endExact = row.endExact;
    const GranuleBound b = Place(row.rows, *anchors);
    EXPECT_EQ(b.Placed(), row.count) << row.name;
    EXPECT_EQ(b.exact, row.exact) << row.name;
  }
}

}  // namespace
