#include "simple_ogm.h"

#include <cstdlib>
#include <stdexcept>

namespace ogmtest {

namespace {

uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// Byte bounds of raw audio packet k.
uint64_t RawAudioPacketStart(const SimpleOgmOptions& o, int64_t k) {
  return static_cast<uint64_t>(k) * o.audioSamplesPerPacket * o.audioAvgBytesPerSecond /
         o.audioRate;
}

uint8_t RawAudioByte(uint64_t p) { return static_cast<uint8_t>((p * 0x9E3779B97F4A7C15ULL) >> 56); }

// Block align and length bytes of the raw audio packets, as ogmmerge writes
// MP3.
constexpr int16_t kRawBlockAlign = 1152;
constexpr int kRawLengthBytes = 2;

}  // namespace

size_t FrameSize(const SimpleOgmOptions& o, int index) {
  if (o.emptyFrames.count(index)) return 0;
  if (o.largeFrames.count(index)) return o.largeFrameBytes + index % 7;
  const size_t span = o.maxFrameBytes > o.minFrameBytes ? o.maxFrameBytes - o.minFrameBytes + 1 : 1;
  return o.minFrameBytes + Mix(static_cast<uint32_t>(index)) % span;
}

bool IsKeyframe(const SimpleOgmOptions& o, int index) {
  return index == 0 || (o.gop > 0 && index % o.gop == 0);
}

int WrittenFrameIndex(const SimpleOgmOptions& o, const uint8_t* p, int64_t n) {
  if (n < 5) return -1;
  const uint32_t index = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
  if (index >= static_cast<uint32_t>(o.frames)) return -1;
  return FramePayload(o, static_cast<int>(index)) == Bytes(p, p + n) ? static_cast<int>(index) : -1;
}

Bytes FramePayload(const SimpleOgmOptions& o, int index) {
  Bytes b(FrameSize(o, index));
  const bool key = IsKeyframe(o, index);
  for (size_t j = 0; j < b.size(); ++j) {
    if (j < 4)
      b[j] = static_cast<uint8_t>(static_cast<uint32_t>(index) >> (8 * j));
    else if (j == 4)
      b[j] = key ? 'K' : 'P';
    else
      b[j] = static_cast<uint8_t>(index * 131 + j * 29 + (j >> 8));
  }
  return b;
}

Bytes RawAudio(uint64_t offset, size_t count) {
  Bytes b(count);
  for (size_t i = 0; i < count; ++i) b[i] = RawAudioByte(offset + i);
  return b;
}

SimpleOgm MakeSimpleOgm(const SimpleOgmOptions& o) {
  SimpleOgm r;
  VorbisPages vorbis;
  if (o.audio == AudioKind::kVorbis) {
    if (!LoadVorbisOgg(ReadBytes(o.vorbisFile), &vorbis))
      throw std::runtime_error("not an Ogg Vorbis file: " + o.vorbisFile);
    r.vorbisRate = vorbis.rate;
    r.vorbisChannels = vorbis.channels;
  }

  OgmWriter w;
  const int v = w.AddStream(0);
  const int a = o.audio == AudioKind::kNone ? -1 : w.AddStream(1);

  // Headers: BOS pages first, then the comment pages.
  const Bytes videoHeader = o.header == HeaderForm::kDirect
                                ? DirectVideoHeader(o.fourcc, o.timeUnit, o.width, o.height)
                                : LegacyVideoHeader(o.fourcc, o.timeUnit, o.width, o.height);
  std::vector<std::string> comments = o.extraComments;
  for (const auto& c : ChapterComments(o.chapters)) comments.push_back(c);
  const Bytes videoComment = CommentPacket(o.vendor, comments);
  Bytes audioHeader, audioComment;
  if (o.audio == AudioKind::kRaw) {
    audioHeader =
        o.header == HeaderForm::kDirect
            ? DirectAudioHeader(o.audioTag, o.audioRate, o.audioChannels, o.audioAvgBytesPerSecond,
                                kRawBlockAlign)
            : LegacyAudioHeader(
                  static_cast<uint16_t>(std::strtoul(o.audioTag.c_str(), nullptr, 16)),
                  o.audioChannels, o.audioRate, o.audioAvgBytesPerSecond, kRawBlockAlign, 0);
    audioComment = CommentPacket(o.vendor, {});
  } else if (o.audio == AudioKind::kVorbis) {
    audioHeader = vorbis.headers[0];
    audioComment = vorbis.headers[1];
  }
  if (a >= 0 && o.audioFirst) {
    w.Packet(a, audioHeader, 0, kFlushPage);
    w.Packet(v, videoHeader, 0, kFlushPage);
  } else {
    w.Packet(v, videoHeader, 0, kFlushPage);
    if (a >= 0) w.Packet(a, audioHeader, 0, kFlushPage);
  }
  w.Packet(v, videoComment, 0, kFlushPage);
  if (o.audio == AudioKind::kRaw) w.Packet(a, audioComment, 0, kFlushPage);
  if (o.audio == AudioKind::kVorbis) {
    w.Packet(a, audioComment, 0, kAutoPage);
    w.Packet(a, vorbis.headers[2], 0, kFlushPage);
  }

  // Audio timeline.
  int64_t audioCount = 0;  // raw packets or Vorbis pages
  int64_t vorbisPackets = 0;
  if (o.audio == AudioKind::kRaw) {
    const double seconds = o.audioSeconds >= 0 ? o.audioSeconds : o.frames * (o.timeUnit / 1e7);
    const int64_t samples = static_cast<int64_t>(seconds * o.audioRate + 0.5);
    audioCount = (samples + o.audioSamplesPerPacket - 1) / o.audioSamplesPerPacket;
  } else if (o.audio == AudioKind::kVorbis) {
    audioCount = static_cast<int64_t>(vorbis.pages.size());
  }
  // Start time (100 ns) of audio item k.
  auto audioTime = [&](int64_t k) -> int64_t {
    if (o.audio == AudioKind::kRaw) return k * o.audioSamplesPerPacket * 10000000LL / o.audioRate;
    const int64_t start = k == 0 ? 0 : vorbis.pages[k - 1].granule;
    return start * 10000000LL / vorbis.rate;
  };

  const unsigned lastFlags = o.eos ? kEndOfStream : kAutoPage;
  int i = 0;
  int64_t k = 0;
  while (i < o.frames || k < audioCount) {
    const bool takeAudio = k < audioCount && (i >= o.frames || audioTime(k) < i * o.timeUnit);
    if (!takeAudio) {
      FrameRecord f;
      f.keyframe = IsKeyframe(o, i);
      f.size = FrameSize(o, i);
      f.granule = o.granuleIsEnd ? i + 1 : i;
      unsigned flags = kAutoPage;
      if (o.framesPerPage > 0 && (i + 1) % o.framesPerPage == 0) flags = kFlushPage;
      if (i + 1 == o.frames) flags |= lastFlags;
      w.Packet(v, FramePacket(f.keyframe, FramePayload(o, i)), f.granule, flags);
      r.frames.push_back(f);
      ++i;
    } else if (o.audio == AudioKind::kRaw) {
      AudioPacketRecord p;
      p.byteOffset = RawAudioPacketStart(o, k);
      p.size = static_cast<size_t>(RawAudioPacketStart(o, k + 1) - p.byteOffset);
      p.startSample = k * o.audioSamplesPerPacket;
      const Bytes packet = DataPacket(DataHeaderByte(true, kRawLengthBytes), kRawLengthBytes,
                                      static_cast<uint64_t>(o.audioSamplesPerPacket),
                                      RawAudio(p.byteOffset, p.size));
      const int64_t granule =
          o.granuleIsEnd ? p.startSample + o.audioSamplesPerPacket : p.startSample;
      w.Packet(a, packet, granule, k + 1 == audioCount ? lastFlags : kAutoPage);
      r.audioPackets.push_back(p);
      r.rawAudioBytes = p.byteOffset + p.size;
      r.audioSamples = p.startSample + o.audioSamplesPerPacket;
      ++k;
    } else {
      const auto& page = vorbis.pages[k];
      for (size_t j = 0; j < page.packets.size(); ++j) {
        const bool last = j + 1 == page.packets.size();
        const int per = o.vorbisPacketsPerPage;
        unsigned flags = per > 0 ? (++vorbisPackets % per == 0 ? kFlushPage : kAutoPage)
                         : last  ? kFlushPage
                                 : kAutoPage;
        if (last && k + 1 == audioCount) flags |= lastFlags | kFlushPage;
        w.Packet(a, page.packets[j], last || per > 0 ? page.granule : -1, flags);
      }
      r.audioSamples = page.granule;
      ++k;
    }
  }
  r.bytes = w.Finish();
  return r;
}

Bytes MakeEmptyAudioPagesOgm(const SimpleOgmOptions& o, int audioPages) {
  OgmWriter w;
  const int v = w.AddStream(0);
  // The audio pages are built by hand: BuildPage is far quicker than
  // 255 packets a page through libogg.
  PageFields audio;
  audio.serial = 1;
  auto audioPage = [&](std::vector<Bytes> packets, int64_t granule) {
    audio.bos = audio.sequence == 0;
    audio.granule = granule;
    audio.packets = std::move(packets);
    w.RawBytes(BuildPage(audio));
    ++audio.sequence;
  };
  w.Packet(v, DirectVideoHeader(o.fourcc, o.timeUnit, o.width, o.height), 0, kFlushPage);
  audioPage({DirectAudioHeader("0055", 44100, 2, 16000)}, 0);
  w.Packet(v, CommentPacket(o.vendor, {}), 0, kFlushPage);
  audioPage({CommentPacket(o.vendor, {})}, 0);
  for (int i = 0; i < o.frames; ++i) {
    w.Packet(v, FramePacket(IsKeyframe(o, i), FramePayload(o, i)), i,
             i + 1 == o.frames ? kEndOfStream : kFlushPage);
    for (int page = 0; i == 1 && page < audioPages; ++page)
      audioPage(std::vector<Bytes>(255), page);
  }
  return w.Finish();
}

}  // namespace ogmtest
