#include "demux/discovery.h"

#include <cstring>

#include "demux/byte_reader.h"
#include "demux/chapter_comments.h"
#include "input/result.h"
#include "platform/charset.h"

namespace {

// Takes the next complete page into d.page, reading chunks as needed.
// Lost sync is skipped over when skipLostSync is true and fails otherwise.
// Returns false when the input ends (or sync is lost and not skipped).
bool NextPage(DemuxState& d, bool skipLostSync) {
  for (;;) {
    const int r = ogg_sync_pageout(&d.sync, &d.page);
    if (r > 0) return true;
    if (r < 0) {
      if (!skipLostSync) return false;
      continue;
    }
    if (AppendChunk(d.sync, d.input) <= 0) return false;
  }
}

int32_t HeaderIn(vorbis_info& info, vorbis_comment& comment, ogg_packet& packet) {
  const auto* bytes = packet.packet;
  const auto size = static_cast<size_t>(packet.bytes < 0 ? 0 : packet.bytes);
  if (size > 0 && bytes[0] == 3 && !IsWellFormedComment(bytes, size)) return -1;
  return vorbis_synthesis_headerin(&info, &comment, &packet);
}

bool IsVorbisIdentification(const ogg_packet& p) {
  return p.bytes >= 7 && p.packet[0] == 1 && std::memcmp(p.packet + 1, "vorbis", 6) == 0;
}

// Binds slot to the stream of d.page and takes the page's first packet
// (the stream's header packet) out of it into d.packet. kPacket taken;
// kNoPacket the page completes no packet; DECAPS_ERR_DAMAGED or
// DECAPS_ERR_OUT_OF_MEMORY.
int32_t BindFirstPage(DemuxState& d, StreamSlot& slot) {
  if (StreamSlotInit(slot, ogg_page_serialno(&d.page)) != kDone) return DECAPS_ERR_OUT_OF_MEMORY;
  if (ogg_stream_pagein(&slot.streamState, &d.page) < 0) return DECAPS_ERR_DAMAGED;
  const int r = ogg_stream_packetout(&slot.streamState, &d.packet);
  return r < 0 ? DECAPS_ERR_DAMAGED : r > 0 ? kPacket : kNoPacket;
}

constexpr int kMaxFirstPages = 64;  // streams looked at before giving up

// Phase 1: the first page of every stream comes before any stream's second
// page. The first video stream takes slot 0 and the first audio (or text,
// or Vorbis) stream slot 1, whatever serial numbers they carry and in
// whatever order they come; other streams get no slot and their pages are
// dropped. Ends when both are found or a stream's second page arrives.
// kDone, DECAPS_ERR_DAMAGED or DECAPS_ERR_OUT_OF_MEMORY.
int32_t FindStreams(DemuxState& d) {
  int32_t seen[kMaxFirstPages];
  int seenCount = 0;
  while (d.audioPresent == kStreamUnknown || d.videoPresent == kStreamUnknown) {
    if (!NextPage(d, false)) return DECAPS_ERR_DAMAGED;
    const int32_t serial = ogg_page_serialno(&d.page);
    bool known = false;
    for (int k = 0; k < seenCount; ++k) known = known || seen[k] == serial;
    if (known || seenCount == kMaxFirstPages) {
      RoutePage(d.slots, d.page);  // every stream has begun; this page is data
      break;
    }
    seen[seenCount++] = serial;

    // Look at the first packet on a stream state of its own; only a stream
    // that gets a slot is bound to it.
    ogg_stream_state probe;
    ogg_stream_init(&probe, serial);
    ogg_packet first = {};
    int r = ogg_stream_pagein(&probe, &d.page) < 0 ? -1 : ogg_stream_packetout(&probe, &first);
    StreamHeader* header = nullptr;
    int32_t parsed = 1;
    bool vorbis = false;
    if (r > 0) {
      parsed = ParseStreamHeader(first.packet, static_cast<size_t>(first.bytes), &header);
      vorbis = parsed != 0 && IsVorbisIdentification(first);
    }
    ogg_stream_clear(&probe);  // first points into it: looked at above only
    if (r < 0) return DECAPS_ERR_DAMAGED;
    if (r == 0) continue;  // a first page that completes no packet: nothing to play
    if (parsed == DECAPS_ERR_OUT_OF_MEMORY) return parsed;
    // A header form that describes nothing.
    if (parsed == 0 && header == nullptr) return DECAPS_ERR_DAMAGED;
    // Neither Ogg Media nor Vorbis: a stream of a kind this reader does not
    // play; it gets no slot.
    if (parsed != 0 && !vorbis) continue;

    const bool video = parsed == 0 && IsVideoHeader(*header);
    int32_t& present = video ? d.videoPresent : d.audioPresent;
    if (present != kStreamUnknown) {
      FreeStreamHeader(header);  // a further stream of a kind already found
      continue;
    }
    const int index = video ? 0 : 1;
    const int32_t bound = BindFirstPage(d, d.slots[index]);
    if (bound != kPacket) {
      FreeStreamHeader(header);
      return bound == DECAPS_ERR_OUT_OF_MEMORY ? bound : DECAPS_ERR_DAMAGED;
    }
    if (parsed != 0) {
      vorbis_info_init(&d.vorbisInfo);
      vorbis_comment_init(&d.vorbisComment);
      if (HeaderIn(d.vorbisInfo, d.vorbisComment, d.packet) < 0) return DECAPS_ERR_DAMAGED;
    } else {
      FreeStreamHeader(d.headers[index]);
      d.headers[index] = header;
    }
    present = kStreamPresent;
  }
  if (d.videoPresent == kStreamUnknown) d.videoPresent = kStreamAbsent;
  if (d.audioPresent == kStreamUnknown) d.audioPresent = kStreamAbsent;
  return kDone;
}

// Granule positions of the last pages of each stream seen by a scan.
struct TailGranules {
  static constexpr int kStreams = 16;
  int32_t serial[kStreams] = {};
  int64_t granule[kStreams] = {};
  int count = 0;

  int64_t Of(int32_t s) const {
    for (int i = 0; i < count; ++i)
      if (serial[i] == s) return granule[i];
    return -1;
  }
  void Set(int32_t s, int64_t g) {
    for (int i = 0; i < count; ++i) {
      if (serial[i] == s) {
        granule[i] = g;
        return;
      }
    }
    if (count == kStreams) return;
    serial[count] = s;
    granule[count++] = g;
  }
};

// Reads the input from its position for at least span bytes, more to finish
// the page that crosses the end, and notes each stream's last page granule
// that can be a frame number. Pages with damage are skipped. A sync state
// of its own leaves discovery's buffered bytes alone.
void ScanGranules(InputSource& input, int64_t span, TailGranules& out) {
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  ogg_page page;
  int64_t read = 0;
  const int64_t limit = span + kMaxPageBytes;
  for (;;) {
    const int r = ogg_sync_pageout(&sync, &page);
    if (r < 0) continue;
    if (r > 0) {
      const int64_t g = ogg_page_granulepos(&page);
      if (g >= 0 && g < INT32_MAX) out.Set(ogg_page_serialno(&page), g);
      continue;
    }
    if (read >= limit) break;
    const int32_t got = AppendChunk(sync, input);
    if (got <= 0) break;
    read += got;
  }
  ogg_sync_clear(&sync);
}

constexpr int32_t kLongestDurationTail = 8 << 20;

// When the first tail held no granule of the video stream (little video at
// the end, or damage there), looks further back, doubling the tail up to
// kLongestDurationTail, each time over the part not scanned yet; then puts
// the input back where discovery left it. 0 when nothing was found.
int32_t ScanFurtherBack(DemuxState& d, int32_t videoSerial) {
  const int32_t length = d.sourceLength;
  const auto resume = static_cast<int32_t>(d.input.position);
  int64_t scanned = kDurationTail;
  int64_t g = -1;
  while (g < 0 && scanned < length && scanned < kLongestDurationTail) {
    const int64_t next = scanned * 2 < kLongestDurationTail ? scanned * 2 : kLongestDurationTail;
    const int64_t start = length > next ? length - next : 0;
    if (!InputSeek(d.input, static_cast<int32_t>(start))) break;
    TailGranules more;
    ScanGranules(d.input, length - scanned - start, more);
    g = more.Of(videoSerial);
    scanned = next;
  }
  InputSeek(d.input, resume);
  return g >= 0 ? static_cast<int32_t>(g + 1) : 0;
}

// Phase 2: the video comment packet, parsed as a Vorbis comment list.
// kDone or DECAPS_ERR_DAMAGED.
int32_t ReadVideoComments(DemuxState& d, StreamInfo& info) {
  for (;;) {
    if (!NextPage(d, true)) return DECAPS_ERR_DAMAGED;
    RoutePage(d.slots, d.page);
    const int r = ogg_stream_packetout(&d.slots[0].streamState, &d.packet);
    if (r < 0) return DECAPS_ERR_DAMAGED;
    if (r > 0) break;
  }
  // Taken here, not through TakeFrame: the slot notes it the same way.
  StreamSlotHeaderTaken(d.slots[0], d.packet.packetno);
  vorbis_info_init(&d.videoCommentInfo);
  vorbis_comment_init(&d.videoComment);
  // The comment reader wants an identification header first; a rate of 1
  // stands in for it.
  d.videoCommentInfo.rate = 1;
  if (HeaderIn(d.videoCommentInfo, d.videoComment, d.packet) < 0) return DECAPS_ERR_DAMAGED;
  info.chapterCount = CollectChapterNames(d.videoComment, info);
  return kDone;
}

// Phase 3: the Vorbis comment and codebook packets, or the one packet that
// follows an Ogg Media audio header. kDone or DECAPS_ERR_DAMAGED.
int32_t ReadAudioHeaders(DemuxState& d) {
  int taken = 0;
  while (taken < 2) {
    if (!NextPage(d, true)) return DECAPS_ERR_DAMAGED;
    RoutePage(d.slots, d.page);
    while (taken < 2) {
      const int r = ogg_stream_packetout(&d.slots[1].streamState, &d.packet);
      if (r == 0) break;
      if (r < 0) return DECAPS_ERR_DAMAGED;
      if (d.headers[1] != nullptr) {
        StreamSlotHeaderTaken(d.slots[1], d.packet.packetno);
        taken = 2;
      } else {
        if (HeaderIn(d.vorbisInfo, d.vorbisComment, d.packet) < 0) return DECAPS_ERR_DAMAGED;
        ++taken;
      }
    }
  }
  return kDone;
}

}  // namespace

bool IsWellFormedComment(const uint8_t* packet, size_t bytes) {
  ByteReader r(packet, bytes);
  const uint8_t* magic = r.Bytes(7);
  if (magic == nullptr || magic[0] != 3 || std::memcmp(magic + 1, "vorbis", 6) != 0) return false;
  const uint32_t vendorLength = r.Le32();
  r.Bytes(vendorLength);
  const uint32_t count = r.Le32();
  // Each comment needs at least its 4-byte length.
  if (!r.ok() || count > bytes / 4) return false;
  for (uint32_t i = 0; i < count && r.ok(); ++i) r.Bytes(r.Le32());
  return r.ok();
}

int32_t DiscoverStreams(DemuxState& d, StreamInfo& info, const char16_t* name, int32_t openArg) {
  ClearDemuxState(d);
  ogg_sync_init(&d.sync);
  d.videoPresent = kStreamUnknown;
  info.frameCount = 0;
  info.chapterCount = 0;

  // The frame count comes from the video stream's last granule near the end
  // of the source. A network source is scanned only when its server can
  // serve the tail on its own (a range request); it is then read from the
  // start again without a new connection where the server allows.
  TailGranules tail;
  bool scanned = false;
  const int32_t tailStart = d.sourceLength > kDurationTail ? d.sourceLength - kDurationTail : 0;
  if (!Utf16Contains(name, u"://")) {
    // A file goes back whenever asked; the seek's result says so all the same.
    d.canReread = InputSeek(d.input, tailStart) ? 1 : 0;
    ScanGranules(d.input, kDurationTail, tail);
    d.input.close();
    d.sourceLength = InputOpen(d.input, name, kFileReadAheadBytes, openArg);
    if (d.sourceLength <= 0) return DECAPS_ERR_READ_FAILED;
    scanned = true;
  } else if (tailStart > 0 && InputSeek(d.input, tailStart)) {
    // A network source that serves the tail on its own serves any range.
    d.canReread = 1;
    ScanGranules(d.input, kDurationTail, tail);
    if (!InputSeek(d.input, 0)) {
      d.input.close();
      d.sourceLength = InputOpen(d.input, name, kDefaultReadAhead,
                                 openArg > 0 ? openArg : kLongestOpenTimeoutMs);
      if (d.sourceLength <= 0) return DECAPS_ERR_READ_FAILED;
    }
    scanned = true;
  }

  d.audioPresent = kStreamUnknown;
  d.videoPresent = kStreamUnknown;
  const int32_t got = AppendChunk(d.sync, d.input);
  if (got <= 0) return got == 0 ? DECAPS_ERR_DAMAGED : got;
  int32_t r = FindStreams(d);
  if (r == kDone && d.videoPresent == kStreamPresent) r = ReadVideoComments(d, info);
  if (r == kDone && d.audioPresent == kStreamPresent) r = ReadAudioHeaders(d);
  if (r != kDone) return r;
  if (AudioIsVorbis(d)) {
    if (vorbis_synthesis_init(&d.vorbisDsp, &d.vorbisInfo) != 0) return DECAPS_ERR_DAMAGED;
    vorbis_block_init(&d.vorbisDsp, &d.vorbisBlock);
    d.vorbisReady = 1;
  }

  if (scanned && d.videoPresent == kStreamPresent) {
    const int32_t serial = d.slots[0].streamState.serialno;
    const int64_t g = tail.Of(serial);
    info.frameCount = g >= 0 ? static_cast<int32_t>(g + 1) : ScanFurtherBack(d, serial);
  }
  if (info.frameCount == 0) info.frameCount = kDefaultFrameCount;
  // Room for the largest page Ogg allows beside a read, once: playback then
  // never grows the sync buffer (nor allocates) when a larger page comes.
  ogg_sync_buffer(&d.sync, kMaxPageBytes + kReadChunk);
  return kDone;
}
