#include "demux/discovery.h"

#include <cstring>

#include "demux/byte_reader.h"
#include "demux/result.h"
#include "platform/charset.h"

namespace {

// Header packets taken here never pass through TakeFrame; leave the slot's
// timing as TakeFrame leaves it after a header packet, so the first data
// packet continues from granule 0 instead of waiting for a page granule.
void MarkHeaderTaken(StreamSlot& slot, const ogg_packet& packet) {
  slot.awaitingGranule = 0;
  slot.lastPacketNo = packet.packetno;
  slot.lastGranule = 0;
  slot.lastDuration = 0;
}

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

// Phase 1: the first packet of the first page of each stream, in page order:
// the video stream must come first (serial 0), the audio stream second.
int32_t FindStreams(DemuxState& d) {
  int i = 0;
  while (d.audioPresent == kStreamUnknown || d.videoPresent == kStreamUnknown) {
    // Two slots only: a third first packet (two audio streams and no video,
    // say) cannot be placed.
    if (i >= kSlotCount) return -1;
    if (!NextPage(d, false)) return -1;
    const int32_t serial = ogg_page_serialno(&d.page);
    if (serial < 0 || serial >= kSlotCount) continue;  // no slot for it: dropped
    if (StreamSlotInit(d.slots[i], serial) != 0) return -1;
    if (ogg_stream_pagein(&d.slots[serial].streamState, &d.page) < 0) return -1;
    const int r = ogg_stream_packetout(&d.slots[i].streamState, &d.packet);
    if (r < 0) return -1;
    if (r == 0) {
      (i == 0 ? d.videoPresent : d.audioPresent) = kStreamAbsent;
      continue;
    }
    StreamHeader* header = nullptr;
    const int32_t parsed =
        ParseStreamHeader(d.packet.packet, static_cast<size_t>(d.packet.bytes), &header);
    if (parsed != 0) {
      vorbis_comment_clear(&d.vorbisComment);  // a second Vorbis-like first packet
      vorbis_info_clear(&d.vorbisInfo);
      vorbis_info_init(&d.vorbisInfo);
      vorbis_comment_init(&d.vorbisComment);
      if (HeaderIn(d.vorbisInfo, d.vorbisComment, d.packet) < 0) return -1;
      d.audioPresent = kStreamPresent;
    } else if (header == nullptr) {
      return -1;  // a header form that describes nothing we can play
    } else {
      FreeStreamHeader(d.headers[i]);
      d.headers[i] = header;
      (IsVideoHeader(*header) ? d.videoPresent : d.audioPresent) = kStreamPresent;
    }
    ++i;
  }
  return 1;
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
  MarkHeaderTaken(d.slots[0], d.packet);
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
        MarkHeaderTaken(d.slots[1], d.packet);
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

int32_t ScanDuration(DemuxState& d) {
  const int32_t start = d.sourceLength > kDurationTail ? d.sourceLength - kDurationTail : 0;
  InputSeek(d.input, start);
  int32_t frameCount = 0;
  if (AppendChunk(d.sync, d.input) <= 0) return 0;
  if (StreamSlotInit(d.slots[0], 0) != 0) return 0;
  ogg_stream_state& video = d.slots[0].streamState;
  for (;;) {
    const int r = ogg_sync_pageout(&d.sync, &d.page);
    if (r <= 0) {
      if (AppendChunk(d.sync, d.input) <= 0) break;
      continue;
    }
    if (ogg_page_serialno(&d.page) != 0) continue;
    ogg_stream_pagein(&video, &d.page);
    // A gap (normal on the first page after the seek) is passed over. Bytes
    // are read only when no complete page is left: pages already buffered
    // must be seen, or the count would stop short of the last frame.
    int p;
    while ((p = ogg_stream_packetout(&video, &d.packet)) != 0) {
      if (p < 0) continue;
      const int64_t g = d.packet.granulepos;
      // Only a granule that gives a positive 32-bit count is a frame number.
      if (g >= 0 && g < INT32_MAX) frameCount = static_cast<int32_t>(g + 1);
    }
  }
  ogg_stream_clear(&video);
  return frameCount;
}

int32_t DiscoverStreams(DemuxState& d, StreamInfo& info, const char16_t* name, int32_t openArg) {
  ClearDemuxState(d);
  ogg_sync_init(&d.sync);
  d.videoPresent = kStreamUnknown;
  info.frameCount = 0;
  info.chapterCount = 0;

  if (Utf16Contains(name, u"://")) {
    info.frameCount = kDefaultFrameCount;
  } else {
    info.frameCount = ScanDuration(d);
    d.input.close();
    d.sourceLength = InputOpen(d.input, name, 4000000, openArg);
    if (d.sourceLength <= 0) return -1;
    if (info.frameCount == 0) info.frameCount = kDefaultFrameCount;
  }

  ogg_sync_clear(&d.sync);
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
  // Room for the largest page Ogg allows beside a read, once: playback then
  // never grows the sync buffer (nor allocates) when a larger page comes.
  ogg_sync_buffer(&d.sync, kMaxPageBytes + kReadChunk);
  return 1;
}
