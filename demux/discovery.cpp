#include "demux/discovery.h"

#include <cstring>

#include "demux/byte_reader.h"
#include "demux/result.h"
#include "platform/charset.h"

namespace {

bool IsChapterComment(const vorbis_comment& c, int index) {
  return c.comment_lengths[index] >= static_cast<int>(kChapterKeyLength) &&
         CompareNoCase(c.user_comments[index], "CHAPTER", kChapterKeyLength) == 0;
}

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
// (the stream's header packet) out of it into d.packet. 1 taken; 0 the page
// completes no packet; -1 failure.
int32_t BindFirstPage(DemuxState& d, StreamSlot& slot) {
  if (StreamSlotInit(slot, ogg_page_serialno(&d.page)) != 0) return -1;
  if (ogg_stream_pagein(&slot.streamState, &d.page) < 0) return -1;
  const int r = ogg_stream_packetout(&slot.streamState, &d.packet);
  return r < 0 ? -1 : r;
}

constexpr int kMaxFirstPages = 64;  // streams looked at before giving up

// Phase 1: the first page of every stream comes before any stream's second
// page. The first video stream takes slot 0 and the first audio (or text,
// or Vorbis) stream slot 1, whatever serial numbers they carry and in
// whatever order they come; other streams get no slot and their pages are
// dropped. Ends when both are found or a stream's second page arrives.
int32_t FindStreams(DemuxState& d) {
  int32_t seen[kMaxFirstPages];
  int seenCount = 0;
  while (d.audioPresent == kStreamUnknown || d.videoPresent == kStreamUnknown) {
    if (!NextPage(d, false)) return -1;
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
    if (r < 0) return -1;
    if (r == 0) continue;  // a first page that completes no packet: nothing to play
    if (parsed == 0 && header == nullptr) return -1;  // a header form that describes nothing
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
    if (BindFirstPage(d, d.slots[index]) <= 0) {
      FreeStreamHeader(header);
      return -1;
    }
    if (parsed != 0) {
      vorbis_info_init(&d.vorbisInfo);
      vorbis_comment_init(&d.vorbisComment);
      if (HeaderIn(d.vorbisInfo, d.vorbisComment, d.packet) < 0) return -1;
    } else {
      FreeStreamHeader(d.headers[index]);
      d.headers[index] = header;
    }
    present = kStreamPresent;
  }
  if (d.videoPresent == kStreamUnknown) d.videoPresent = kStreamAbsent;
  if (d.audioPresent == kStreamUnknown) d.audioPresent = kStreamAbsent;
  return 1;
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
int32_t ReadVideoComments(DemuxState& d, StreamInfo& info) {
  for (;;) {
    if (!NextPage(d, true)) return -1;
    RoutePage(d.slots, d.page);
    const int r = ogg_stream_packetout(&d.slots[0].streamState, &d.packet);
    if (r < 0) return -1;
    if (r > 0) break;
  }
  // Taken here, not through TakeFrame: the slot notes it the same way.
  StreamSlotHeaderTaken(d.slots[0], d.packet.packetno);
  vorbis_info_init(&d.videoCommentInfo);
  vorbis_comment_init(&d.videoComment);
  // The comment reader wants an identification header first; a rate of 1
  // stands in for it.
  d.videoCommentInfo.rate = 1;
  if (HeaderIn(d.videoCommentInfo, d.videoComment, d.packet) < 0) return -1;
  info.chapterCount = CollectChapterNames(d.videoComment, info);
  return 1;
}

// Phase 3: the Vorbis comment and codebook packets, or the one packet that
// follows an Ogg Media audio header.
int32_t ReadAudioHeaders(DemuxState& d) {
  int taken = 0;
  while (taken < 2) {
    if (!NextPage(d, true)) return -1;
    RoutePage(d.slots, d.page);
    while (taken < 2) {
      const int r = ogg_stream_packetout(&d.slots[1].streamState, &d.packet);
      if (r == 0) break;
      if (r < 0) return -1;
      if (d.headers[1] != nullptr) {
        StreamSlotHeaderTaken(d.slots[1], d.packet.packetno);
        taken = 2;
      } else {
        if (HeaderIn(d.vorbisInfo, d.vorbisComment, d.packet) < 0) return -1;
        ++taken;
      }
    }
  }
  return 1;
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

int FirstChapterComment(const vorbis_comment& comments) {
  int j = 0;
  while (j < comments.comments && !IsChapterComment(comments, j)) ++j;
  return j;
}

int32_t CollectChapterNames(const vorbis_comment& comments, StreamInfo& info) {
  const int n = comments.comments;
  int32_t count = 0;
  // Comments come in pairs from the first chapter comment: the time, then the
  // name, whose text follows the 14-character key "CHAPTERxxNAME=".
  for (int k = FirstChapterComment(comments) + 1;
       k < n && count < kMaxChapters && IsChapterComment(comments, k); k += 2) {
    const int length = comments.comment_lengths[k];
    char16_t* slot = info.chapterNames[count].text;
    const size_t units = sizeof info.chapterNames[count].text / sizeof(char16_t);
    if (length > static_cast<int>(kChapterNameOffset)) {
      AnsiToUtf16(comments.user_comments[k] + kChapterNameOffset, length - kChapterNameOffset, slot,
                  units);
    } else {
      slot[0] = 0;
    }
    ++count;
  }
  return count;
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
    d.sourceLength = InputOpen(d.input, name, 4000000, openArg);
    if (d.sourceLength <= 0) return -1;
    scanned = true;
  } else if (tailStart > 0 && InputSeek(d.input, tailStart)) {
    // A network source that serves the tail on its own serves any range.
    d.canReread = 1;
    ScanGranules(d.input, kDurationTail, tail);
    if (!InputSeek(d.input, 0)) {
      d.input.close();
      d.sourceLength = InputOpen(d.input, name, -1, openArg > 0 ? openArg : 1000000);
      if (d.sourceLength <= 0) return -1;
    }
    scanned = true;
  }

  d.audioPresent = kStreamUnknown;
  d.videoPresent = kStreamUnknown;
  if (AppendChunk(d.sync, d.input) <= 0) return -1;
  if (FindStreams(d) < 0) return -1;
  if (d.videoPresent == kStreamPresent && ReadVideoComments(d, info) < 0) return -1;
  if (d.audioPresent == kStreamPresent && ReadAudioHeaders(d) < 0) return -1;
  if (AudioIsVorbis(d)) {
    if (vorbis_synthesis_init(&d.vorbisDsp, &d.vorbisInfo) != 0) return -1;
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
  return 1;
}
