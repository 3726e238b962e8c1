#include <algorithm>
#include <array>
#include <cstring>

#include "delivery/delivery.h"
#include "delivery/pcm.h"
#include "demux/mul_div_round.h"
#include "demux/packet_cursor.h"
#include "demux/page_intake.h"
#include "demux/result.h"
#include "demux/take_frame.h"
#include "state/reset.h"

namespace {

constexpr int32_t kPcmCallTarget = 2000;  // a Vorbis call returns once it has this many bytes
// Seconds of Vorbis packets whose granules bound the one that places the
// sample count after a seek, and the pages read ahead for them at most.
// ogmmerge's granules run ahead by up to a second, by an amount that changes
// from page to page: the longer the window, the nearer its bounds come to
// the truth. The window ends early once the bounds are within
// kSettledBracketMs of each other.
constexpr int64_t kGranuleWindowSeconds = 15;
constexpr int kAnchorPages = 384;
// Where between its bounds the count goes: sound that comes early is
// noticed sooner than sound that comes late, so the count is placed at most
// kEarlyMs below its upper bound (audio at most that much after the
// keyframe), and a bracket this narrow settles the count for lip sync.
constexpr int64_t kEarlyMs = 35;
constexpr int64_t kSettledBracketMs = 90;
constexpr int kAgreeingPages = 3;

enum PassResult { kPassGoOn, kPassInputEnded, kPassReadFailed, kPassDone };

// Pulls pages until one of the audio stream was routed or a read was made.
// Lock held. kPassInputEnded when the input has no more bytes,
// kPassReadFailed when a read failed before its end.
PassResult PullAudioPages(ReaderState& s) {
  DemuxState& d = s.demux;
  while (s.audioNeedsPage == 1) {
    int32_t slot = 0;
    s.audioNeedsPage = 0;
    for (;;) {
      const PageIntakeResult r = PullPage(d, 1, &slot);
      if (r == kIntakeEnd || r == kIntakeReadFailed) {
        // The input is over, but the video path may have left packets of
        // this stream in its slot: take those before reporting the end.
        if (StreamSlotHasPacket(d.slots[1])) return kPassGoOn;
        return r == kIntakeEnd ? kPassInputEnded : kPassReadFailed;
      }
      if (r != kIntakePage) {
        // A read was made (or sync lost): give other threads a turn before
        // the next page, as the video path does between its pages.
        s.audioNeedsPage = 1;
        return kPassGoOn;
      }
      if (slot == 1) return kPassGoOn;
    }
  }
  return kPassGoOn;
}

// Copies into the carry, growing it past its fixed part when one packet
// leaves more than it holds.
bool Carry(ReaderState& s, const uint8_t* bytes, int32_t n) {
  uint8_t* carry = s.audioCarry.Reserve(n, 0);
  if (carry == nullptr) return false;
  std::memcpy(carry, bytes, static_cast<size_t>(n));
  s.audioCarryBytes = n;
  return true;
}

// One pass of the raw path; lock held. Returns kPassDone with *result set
// when the request is filled.
PassResult RawPass(ReaderState& s, uint8_t*& out, int32_t& remaining, int32_t byteCount,
                   int64_t keepFrom, uint8_t& endOfStream, int32_t* result) {
  const StreamHeader& header = *s.demux.headers[1];
  for (;;) {
    if (s.audioCarryBytes > remaining) {
      uint8_t* carry = s.audioCarry.data();
      std::memcpy(out, carry, static_cast<size_t>(remaining));
      s.audioCarryBytes -= remaining;
      std::memmove(carry, carry + remaining, static_cast<size_t>(s.audioCarryBytes));
      if (s.audioCarryBytes <= kAudioCarryBytes) s.audioCarry.Release(s.audioCarryBytes);
      *result = byteCount;
      return kPassDone;
    }
    if (s.audioCarryBytes != 0) {
      std::memcpy(out, s.audioCarry.data(), static_cast<size_t>(s.audioCarryBytes));
      out += s.audioCarryBytes;
      remaining -= s.audioCarryBytes;
      s.audioCarryBytes = 0;
      s.audioCarry.Release(0);
      // The carry filled the request: done. Taking the next packet first
      // would lose these bytes when the stream ends right here.
      if (remaining == 0) {
        *result = byteCount;
        return kPassDone;
      }
    }
    Frame frame;
    const int32_t r = TakeFrame(s.demux.slots[1], header, &frame);
    if (r == DECAPS_ERR_BAD_PACKET) continue;
    if (r != kPacket && r != DECAPS_ERR_NO_GRANULE) {
      s.audioNeedsPage = 1;
      return kPassGoOn;
    }
    s.audioTime = frame.time;
    endOfStream = frame.endOfStream;
    if (endOfStream != 0) s.demux.slots[1].ended = 1;
    if (keepFrom >= 0 && frame.time >= keepFrom) {
      if (!Carry(s, frame.payload, frame.size)) return kPassInputEnded;
      *result = byteCount;
      return kPassDone;
    }
    if (frame.size >= remaining) {
      // The part that does not fit waits in the carry for the next call.
      if (!Carry(s, frame.payload + remaining, frame.size - remaining)) return kPassInputEnded;
      std::memcpy(out, frame.payload, static_cast<size_t>(remaining));
      *result = byteCount;
      return kPassDone;
    }
    std::memcpy(out, frame.payload, static_cast<size_t>(frame.size));
    out += frame.size;
    remaining -= frame.size;
  }
}

// Samples the decoder holds that were not handed out yet.
int32_t DecoderHolds(DemuxState& d) {
  ogg_int32_t** unused = nullptr;
  const int n = vorbis_synthesis_pcmout(&d.vorbisDsp, &unused);
  return n > 0 ? n : 0;
}

// The position of the next sample to hand out, from the packets' durations.
void UpdateAudioPosition(ReaderState& s) {
  if (s.vorbisDecoded < 0) return;
  const int64_t at = s.vorbisDecoded - DecoderHolds(s.demux);
  s.audioTime = MulDivRound(10000000, at, s.demux.vorbisInfo.rate);
  s.audioGranule = at == 0 ? 1 : at;
}

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

// Times the packet just decoded, whose output brought `added` samples.
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
  ExtendBound(d, s.vorbisAnchors, bound);
  if (s.vorbisDecoded < 0) {
    // Placing the count: read on (pages go to their slots as usual) until
    // the packets buffered cover the window.
    for (int pages = 0; !bound.Covered() && pages < kAnchorPages;) {
      int32_t serial = 0;
      const PageIntakeResult r = PullPage(d, 1, &serial);
      if (r == kIntakeEnd || r == kIntakeReadFailed) break;
      if (r != kIntakePage) continue;
      ++pages;
      if (serial == 1) ExtendBound(d, s.vorbisAnchors, bound);
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

// Decodes one packet into the decoder without its granule: the decoder
// would cut the stream's end by its own count from the first granule it
// saw, which may run ahead; the end is cut by the counted position instead.
void DecodePacket(DemuxState& d, const ogg_packet& packet) {
  ogg_packet op = packet;
  op.granulepos = -1;
  if (vorbis_synthesis(&d.vorbisBlock, &op) == 0)
    vorbis_synthesis_blockin(&d.vorbisDsp, &d.vorbisBlock);
}

// One pass of the Vorbis path (one packet); lock held, also while decoding,
// so the decoder records are never used by two threads.
PassResult VorbisPass(ReaderState& s, uint8_t*& out, int32_t& written, int32_t capacity,
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
      return kPassGoOn;
    }
    if (r < 0) {
      // A gap: the next packet follows, but the count breaks off.
      VorbisCountBreaks(s);
      return kPassGoOn;
    }
    const long block = vorbis_packet_blocksize(&d.vorbisInfo, &d.packet);
    if (block <= 0 && d.packet.bytes > 0 && (d.packet.packet[0] & 1) != 0) {
      // A header packet (a seek to the start): the samples count from 0.
      VorbisCountFromStart(s);
      return kPassGoOn;
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
        return kPassDone;
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
      return kPassDone;
    }
    s.pcmSamples = vorbis_synthesis_pcmout(&d.vorbisDsp, &s.pcm);
  }
  return kPassGoOn;
}

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
  if (d.vorbisReady == 0 || d.vorbisInfo.rate <= 0 || time < 0) return 0;
  // The first sample at or after time.
  const int64_t target = (time * d.vorbisInfo.rate + 9999999) / 10000000;
  const int32_t held = DecoderHolds(d);
  if (s.vorbisDecoded >= 0) {
    const int64_t first = s.vorbisDecoded - held;
    // Already there: the next sample handed out is at or after the target.
    if (target <= first) return 1;
    // Within what the decoder holds: the samples before the target go.
    if (target < s.vorbisDecoded) {
      vorbis_synthesis_read(&d.vorbisDsp, static_cast<int>(target - first));
      UpdateAudioPosition(s);
      return 1;
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
      const PassResult pass = PullAudioPages(s);
      if (pass == kPassReadFailed) return -1;
      if (pass != kPassGoOn) return 0;
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
    if (s.vorbisDecoded >= s.vorbisStop && target >= s.vorbisStop) return 0;
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
      return 1;
    }
    // This packet is the one before the next: the one that holds the
    // target needs it.
    std::swap(current, previous);
    skipped = true;
  }
}

int32_t DeliverAudio(ReaderState& s, uint8_t* buffer, int32_t byteCount, int32_t capacity,
                     int64_t keepFrom) {
  if (buffer == nullptr) return 0;
  bool raw;
  {
    // The headers belong to the open source: a close on another thread
    // releases them, so they are looked at only under the lock.
    LockHold hold(s);
    if (!hold.taken() || s.sourceOpen == 0) return 0;
    raw = s.demux.headers[1] != nullptr;
  }
  if (raw && byteCount <= 0) return 0;  // nothing asked: the loop would never end
  if (raw && capacity >= 0 && byteCount > capacity) byteCount = capacity;
  uint8_t* out = buffer;
  int32_t remaining = byteCount;
  int32_t written = 0;
  uint8_t endOfStream = 0;
  bool started = false;
  uint32_t repositions = 0;
  for (;;) {
    {
      LockHold hold(s);
      // Between passes the source may have been closed (and another opened).
      if (!hold.taken() || s.sourceOpen == 0 || s.demux.audioPresent != kStreamPresent) return 0;
      if ((s.demux.headers[1] != nullptr) != raw) return 0;
      if (!raw && s.demux.vorbisReady == 0) return 0;
      // A seek on another thread between two passes: what this call wrote
      // belongs to the old position, so it starts over at the new one.
      if (started && repositions != s.repositions) {
        out = buffer;
        remaining = byteCount;
        written = 0;
        endOfStream = 0;
      }
      started = true;
      repositions = s.repositions;
      StreamSlot& slot = s.demux.slots[1];
      PassResult pass = kPassGoOn;
      if (s.audioNeedsPage == 1) {
        // Once the stream's last packet is out, nothing more is read for it:
        // the rest of the input belongs to the video.
        if (slot.ended != 0) {
          pass = kPassInputEnded;
        } else {
          pass = PullAudioPages(s);
        }
      }
      if (pass == kPassInputEnded || pass == kPassReadFailed) {
        const int32_t got = raw ? byteCount - remaining : written;
        const bool failed = pass == kPassReadFailed && EndResult(s, true) == OGMDECAPS_READ_ERROR;
        // A failed read with raw bytes already gathered: they wait in the
        // carry for the call that tries again, so nothing is lost.
        if (failed && raw && got > 0 && Carry(s, buffer, got)) return OGMDECAPS_READ_ERROR;
        // The stream's last bytes rarely fill a request (nor make 2000 bytes
        // of PCM): hand them out as a short result; the next call gives 0.
        if (got > 0) {
          if (!raw) UpdateAudioPosition(s);
          return got;
        }
        return failed ? OGMDECAPS_READ_ERROR : 0;
      }
      if (s.audioNeedsPage == 0) {
        int32_t result = 0;
        pass = raw ? RawPass(s, out, remaining, byteCount, keepFrom, endOfStream, &result)
                   : VorbisPass(s, out, written, capacity, &result);
        if (pass == kPassDone) return result;
        if (pass == kPassInputEnded) return 0;
      }
    }
    if (endOfStream != 0) return byteCount - remaining;
  }
}

int32_t ReadAudio(ReaderState& s, void* buffer, int32_t byteCount) {
  // Raw audio: the request is the buffer. Vorbis: a positive byteCount is
  // the buffer's size; no call writes more than kVorbisCallLimit.
  int32_t capacity = -1;
  {
    // The headers and the decoder's set-up belong to the open source: a
    // close on another thread releases them, so they are read under the lock.
    LockHold hold(s);
    if (!hold.taken() || s.sourceOpen == 0) return 0;
    if (s.demux.headers[1] == nullptr) {
      capacity = byteCount > 0 && byteCount < kVorbisCallLimit ? byteCount : kVorbisCallLimit;
      const int32_t frameBytes = 2 * s.demux.vorbisInfo.channels;
      if (byteCount > 0 && byteCount < frameBytes) return OGMDECAPS_FRAME_TOO_LARGE;
    }
  }
  return DeliverAudio(s, static_cast<uint8_t*>(buffer), byteCount, capacity);
}
