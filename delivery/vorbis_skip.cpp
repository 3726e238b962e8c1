// The seeks' Vorbis skip: packets before the target are counted by their
// block sizes, not decoded.
#include <algorithm>
#include <cstring>

#include "delivery/audio_paths.h"
#include "delivery/delivery.h"
#include "state/reset.h"

namespace {

// A copy of one Vorbis packet: in the fixed part up to its size, on the
// heap beyond (packets that large come only with many channels at high
// quality). size is 0 when nothing is kept.
struct KeptPacket {
  HeldBuffer<kAudioScratchBytes> bytes;
  int32_t size = 0;

  KeptPacket() = default;
  KeptPacket(const KeptPacket&) = delete;
  KeptPacket& operator=(const KeptPacket&) = delete;
  ~KeptPacket() { bytes.Release(0); }

  bool Keep(const ogg_packet& p) {
    size = 0;
    if (p.bytes <= 0 || p.bytes > INT32_MAX) return false;
    uint8_t* to = bytes.Reserve(static_cast<int32_t>(p.bytes), 0);
    if (to == nullptr) return false;
    std::memcpy(to, p.packet, static_cast<size_t>(p.bytes));
    size = static_cast<int32_t>(p.bytes);
    return true;
  }
};

}  // namespace

int32_t SkipVorbisTo(ReaderState& s, int64_t time) {
  DemuxState& d = s.demux;
  if (d.vorbisReady == 0 || d.vorbisInfo.rate <= 0 || time < 0) return DECAPS_ERR_STREAM_ENDED;
  // The first sample at or after time.
  const int64_t target = (time * d.vorbisInfo.rate + 9999999) / 10000000;
  const int32_t held = DecoderHolds(d);
  if (s.vorbisDecoded >= 0) {
    const int64_t first = s.vorbisDecoded - held;
    // Already there: the next sample handed out is at or after the target.
    if (target <= first) return kDone;
    // Within what the decoder holds: the samples before the target go.
    if (target < s.vorbisDecoded) {
      vorbis_synthesis_read(&d.vorbisDsp, static_cast<int>(target - first));
      UpdateAudioPosition(s);
      return kDone;
    }
  }
  if (held > 0) vorbis_synthesis_read(&d.vorbisDsp, held);
  // The packet being looked at and the one before it. Placing the count
  // may read pages on, and libogg may then move the bytes a packet points
  // at, so both are copies.
  KeptPacket kept[2];
  KeptPacket* current = &kept[0];
  KeptPacket* previous = &kept[1];
  // Until a packet is passed over, the decoder still holds the overlap of
  // the one before, and decoding goes on as usual.
  bool skipped = false;
  for (;;) {
    const int r = ogg_stream_packetout(&d.slots[1].streamState, &d.packet);
    if (r == 0) {
      s.audioNeedsPage = 1;
      const int32_t pass = PullAudioPages(s);
      if (pass == DECAPS_ERR_READ_FAILED) return pass;
      if (pass != kGoOn) return DECAPS_ERR_STREAM_ENDED;
      continue;
    }
    if (r < 0) {
      // A gap: the count breaks off, and the packet before it is no
      // overlap for the next one.
      VorbisCountBreaks(s);
      s.vorbisLastBlock = 0;
      previous->size = 0;
      skipped = true;
      continue;
    }
    const long block = vorbis_packet_blocksize(&d.vorbisInfo, &d.packet);
    if (block <= 0) {
      if (d.packet.bytes > 0 && (d.packet.packet[0] & 1) != 0) {
        VorbisCountFromStart(s);  // a header packet: the samples count from 0
        previous->size = 0;
        skipped = true;
      }
      continue;
    }
    // Counted, not decoded: a packet completes a quarter of its block and a
    // quarter of the one before.
    const int32_t duration =
        s.vorbisLastBlock > 0 ? static_cast<int32_t>((s.vorbisLastBlock + block) / 4) : 0;
    ogg_packet packet = d.packet;
    // Without memory for a copy, the packet is used only while no page can
    // have been read after it.
    const bool mayReadOn = s.vorbisDecoded < 0 && d.packet.granulepos != -1 && d.packet.e_o_s == 0;
    const bool copied = current->Keep(packet);
    if (copied) packet.packet = current->bytes.data();
    const bool usable = copied || !mayReadOn;
    TimeVorbisPacket(s, block, duration);
    if (s.vorbisDecoded >= s.vorbisStop && target >= s.vorbisStop) return DECAPS_ERR_STREAM_ENDED;
    if (s.vorbisDecoded > target) {
      // This packet's output holds the target (or starts after it, where
      // the count was placed only here). Decode it after the packet before
      // it, which rebuilds the overlap exactly as a continuous decode has
      // it, and drop the samples before the target.
      if (skipped) {
        vorbis_synthesis_restart(&d.vorbisDsp);
        if (previous->size > 0) {
          ogg_packet prev = {};
          prev.packet = previous->bytes.data();
          prev.bytes = previous->size;
          DecodePacket(d, prev);
        }
      }
      if (usable) DecodePacket(d, packet);
      const int32_t available = DecoderHolds(d);
      const int64_t first = s.vorbisDecoded - available;
      if (target > first)
        vorbis_synthesis_read(&d.vorbisDsp,
                              static_cast<int>(std::min<int64_t>(target - first, available)));
      UpdateAudioPosition(s);
      return kDone;
    }
    // This packet is the one before the next: the one that holds the
    // target needs it.
    std::swap(current, previous);
    skipped = true;
  }
}
