// Vorbis decoded to 16-bit PCM: one packet a pass, timed by the samples
// counted (exact from the stream's start or from a known page, else placed
// from the granules that follow).
#include <cstring>

#include "delivery/audio_paths.h"
#include "delivery/pcm.h"
#include "delivery/vorbis_count.h"
#include "demux/mul_div_round.h"
#include "demux/packet_cursor.h"
#include "demux/page_intake.h"
#include "state/reset.h"

namespace {

constexpr int32_t kPcmCallTarget = 2000;  // a Vorbis call returns once it has this many bytes
// Pages read ahead at most for the packets that place the count.
constexpr int kAnchorPages = 384;

// Looks at the packets held in the audio slot after those the cursor has
// passed, while the placement asks for more. The cursor keeps its place
// relative to what libogg has handed out, so the look resumes after the
// pages read meanwhile: placing the count costs one pass over the packets.
void LookAtHeldPackets(DemuxState& d, const VorbisAnchors& anchors, GranuleBound& b,
                       PacketCursor& cursor) {
  const ogg_stream_state& os = d.slots[1].streamState;
  HeldPacket held;
  while (!b.Covered()) {
    const int32_t r = NextHeldPacket(os, cursor, &held);
    if (r == kNoPacket) return;
    CountRow row = {-1, 0, kCountRowGap};
    if (r == kPacket) {
      ogg_packet op = {};
      op.packet = const_cast<unsigned char*>(held.bytes);  // only read
      op.bytes = held.size;
      row.granule = held.granule;
      row.block = vorbis_packet_blocksize(&d.vorbisInfo, &op);
      row.flags = row.block <= 0 ? kCountRowNotAudio : 0;
      if (held.endOfStream) row.flags |= kCountRowEndOfStream;
    }
    ExtendBound(b, row, anchors);
  }
}

}  // namespace

int32_t DecoderHolds(DemuxState& d) {
  ogg_int32_t** unused = nullptr;
  const int n = vorbis_synthesis_pcmout(&d.vorbisDsp, &unused);
  return n > 0 ? n : 0;
}

void UpdateAudioPosition(ReaderState& s) {
  if (s.vorbisDecoded < 0) return;
  const int64_t at = s.vorbisDecoded - DecoderHolds(s.demux);
  s.audioTime = MulDivRound(10000000, at, s.demux.vorbisInfo.rate);
  s.audioGranule = at == 0 ? 1 : at;
}

void TimeVorbisPacket(ReaderState& s, long block, int32_t added) {
  DemuxState& d = s.demux;
  if (s.vorbisDecoded >= 0) s.vorbisDecoded += added;
  if (block > 0) s.vorbisLastBlock = static_cast<int32_t>(block);
  const int64_t g = d.packet.granulepos;
  if (g == -1) return;
  if (d.packet.e_o_s != 0) {
    // The stream ends at the last granule, which may fall inside the block.
    if (s.vorbisCounted != 0) s.vorbisAnchors.endExact = s.vorbisDecoded;
    if (s.vorbisDecoded < 0) {
      const int64_t end = s.vorbisAnchors.endExact;
      s.vorbisDecoded = end >= 0 ? end : g;
      s.vorbisCounted = end >= 0 ? 1 : 0;
    }
    s.vorbisStop = g;
    return;
  }
  int64_t known = 0;
  if (s.vorbisCounted == 0 && AnchorsFind(s.vorbisAnchors, g, &known)) {
    s.vorbisDecoded = known;
    s.vorbisCounted = 1;
  }
  // A count that is exact (kept from the stream's start or from a known
  // page) needs no granule: they could only make it worse. It notes where
  // the page ends, for seeks back here.
  if (s.vorbisCounted != 0) {
    AnchorsNote(s.vorbisAnchors, g, s.vorbisDecoded);
    return;
  }
  // The first granule places the count; later ones only correct a count
  // that runs ahead of them (never trust a granule ahead of the count).
  GranuleBound bound(g, s.vorbisLastBlock, d.vorbisInfo.rate);
  PacketCursor cursor;
  LookAtHeldPackets(d, s.vorbisAnchors, bound, cursor);
  if (s.vorbisDecoded < 0) {
    // Placing the count: read on (pages go to their slots as usual) until
    // the packets buffered cover the window.
    for (int pages = 0; !bound.Covered() && pages < kAnchorPages;) {
      int32_t slot = 0;
      const int32_t r = PullPage(d, 1, &slot);
      if (IntakeOver(r)) break;
      if (r != kPageTaken) continue;
      ++pages;
      if (slot == 1) LookAtHeldPackets(d, s.vorbisAnchors, bound, cursor);
    }
    s.vorbisDecoded = bound.Placed();
    s.vorbisCounted = bound.exact ? 1 : 0;
    return;
  }
  if (bound.exact) {
    s.vorbisDecoded = bound.best;
    s.vorbisCounted = 1;
  } else if (bound.best < s.vorbisDecoded) {
    s.vorbisDecoded = bound.best;
  }
}

void DecodePacket(DemuxState& d, const ogg_packet& packet) {
  ogg_packet op = packet;
  op.granulepos = -1;
  if (vorbis_synthesis(&d.vorbisBlock, &op) == 0)
    vorbis_synthesis_blockin(&d.vorbisDsp, &d.vorbisBlock);
}

int32_t VorbisPass(ReaderState& s, uint8_t*& out, int32_t& written, int32_t capacity,
                   int32_t* result) {
  DemuxState& d = s.demux;
  const int channels = d.vorbisInfo.channels;
  // Samples already decoded but not handed out (a capacity-limited call left
  // them) come first; otherwise take and decode one packet.
  s.pcmSamples = vorbis_synthesis_pcmout(&d.vorbisDsp, &s.pcm);
  if (s.pcmSamples <= 0) {
    const int r = ogg_stream_packetout(&d.slots[1].streamState, &d.packet);
    if (r == 0) {
      s.audioNeedsPage = 1;
      return kGoOn;
    }
    if (r < 0) {
      // A gap: the next packet follows, but the count breaks off.
      VorbisCountBreaks(s);
      return kGoOn;
    }
    const long block = vorbis_packet_blocksize(&d.vorbisInfo, &d.packet);
    if (block <= 0 && d.packet.bytes > 0 && (d.packet.packet[0] & 1) != 0) {
      // A header packet (a seek to the start): the samples count from 0.
      VorbisCountFromStart(s);
      return kGoOn;
    }
    if (d.packet.e_o_s != 0) d.slots[1].ended = 1;
    DecodePacket(d, d.packet);
    s.pcmSamples = vorbis_synthesis_pcmout(&d.vorbisDsp, &s.pcm);
    TimeVorbisPacket(s, block, s.pcmSamples > 0 ? s.pcmSamples : 0);
  }
  while (s.pcmSamples > 0) {
    int32_t samples = s.pcmSamples;
    if (s.vorbisDecoded >= 0 && s.vorbisStop != INT64_MAX) {
      // Nothing past the stream's end.
      const int64_t allowed = s.vorbisStop - (s.vorbisDecoded - s.pcmSamples);
      if (allowed <= 0) {
        vorbis_synthesis_read(&d.vorbisDsp, s.pcmSamples);
        s.vorbisDecoded -= s.pcmSamples;
        s.pcmSamples = 0;
        break;
      }
      if (samples > allowed) samples = static_cast<int32_t>(allowed);
    }
    if (capacity >= 0) {
      const int32_t room = (capacity - written) / (2 * channels);
      if (room <= 0) {
        *result = written;
        return kFilled;
      }
      if (samples > room) samples = room;
    }
    // The host's buffer may sit at any address: store each sample bytewise.
    const size_t stride = 2 * static_cast<size_t>(channels);
    for (int c = 0; c < channels; ++c) {
      const ogg_int32_t* src = s.pcm[c];
      uint8_t* dst = out + 2 * c;
      for (int32_t j = 0; j < samples; ++j, dst += stride) {
        const int16_t v = ClipSample(src[j]);
        std::memcpy(dst, &v, 2);
      }
    }
    vorbis_synthesis_read(&d.vorbisDsp, samples);
    s.pcmSamples = samples;
    const int32_t bytes = samples * channels * 2;
    written += bytes;
    out += bytes;
    if (written >= kPcmCallTarget) {
      UpdateAudioPosition(s);
      *result = written;
      return kFilled;
    }
    s.pcmSamples = vorbis_synthesis_pcmout(&d.vorbisDsp, &s.pcm);
  }
  return kGoOn;
}
