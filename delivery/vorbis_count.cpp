#include "delivery/vorbis_count.h"

#include <algorithm>

void ExtendBound(DemuxState& d, const VorbisAnchors& anchors, GranuleBound& b) {
  const ogg_stream_state& os = d.slots[1].streamState;
  HeldPacket held;
  while (!b.Covered()) {
    const int r = NextHeldPacket(os, b.cursor, &held);
    if (r == 0) break;
    if (r < 0) {  // a gap: the count breaks off
      b.ended = true;
      break;
    }
    const int64_t granule = held.granule;
    ogg_packet op = {};
    op.packet = const_cast<unsigned char*>(held.bytes);  // only read
    op.bytes = held.size;
    const long block = vorbis_packet_blocksize(&d.vorbisInfo, &op);
    if (block <= 0) {
      b.ended = true;
      break;
    }
    const int64_t duration = b.prev > 0 ? (b.prev + block) / 4 : 0;
    b.sum += duration;
    b.prev = block;
    if (granule == -1) continue;
    if (held.endOfStream) {
      // The stream's last packet: its exact end where the stream was counted
      // to there. Else the last granule is the stream's true end, which may
      // cut the final packet short by up to that packet's duration: a bound
      // that a cut cannot make wrong, and the end of the window.
      if (anchors.endExact >= 0) {
        b.Exactly(anchors.endExact - b.sum);
      } else {
        b.best = std::min(b.best, granule - b.sum + duration);
        b.ended = true;
      }
      break;
    }
    int64_t known = 0;
    if (AnchorsFind(anchors, granule, &known)) {
      b.Exactly(known - b.sum);
      break;
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
}
