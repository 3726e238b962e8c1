#include "demux/stream_header.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "demux/byte_reader.h"
#include "input/result.h"

namespace {

// Record fields are read from here on in the direct form; the pad bytes at
// 52..55 carry nothing, so a record cut after byte 52 is still complete.
constexpr size_t kDirectFieldsEnd = 52;
constexpr size_t kLegacyVideoEnd = 184;
constexpr size_t kLegacyAudioFixedEnd = 142;

StreamHeader* NewHeader(size_t extraSize) {
  auto* h = new (std::nothrow) StreamHeader;
  if (h == nullptr) return nullptr;
  if (extraSize > 0) {
    h->extra = new (std::nothrow) uint8_t[extraSize];
    if (h->extra == nullptr) {
      delete h;
      return nullptr;
    }
    h->extraSize = static_cast<int32_t>(extraSize);
  }
  return h;
}

// A packet that matches no form: type bits 101 mark a packet that carries no
// record (nothing is made, *out untouched); anything else is unsupported.
int32_t NoForm(uint8_t type, StreamHeader** out) {
  if ((type & 7) == 5) return 0;
  *out = nullptr;
  return DECAPS_ERR_UNSUPPORTED_STREAM;
}

int32_t ParseDirectHeader(const uint8_t* packet, size_t bytes, StreamHeader** out) {
  if ((packet[0] & 7) != 1) return NoForm(packet[0], out);
  // The record starts at packet byte 1; every field must lie in the packet.
  if (bytes < 1 + kDirectFieldsEnd) {
    *out = nullptr;
    return DECAPS_ERR_UNSUPPORTED_STREAM;
  }
  ByteReader r(packet + 1, bytes - 1);
  const size_t kept = bytes - 1 < kDirectHeaderCopy ? bytes - 1 : kDirectHeaderCopy;
  StreamHeader* h = NewHeader(kept > kStreamHeaderBytes ? kept - kStreamHeaderBytes : 0);
  if (h == nullptr) {
    *out = nullptr;
    return DECAPS_ERR_OUT_OF_MEMORY;
  }
  std::memcpy(h->streamType, r.BytesAt(0, 8), 8);
  std::memcpy(h->subtype, r.BytesAt(8, 4), 4);
  h->size = static_cast<int32_t>(r.Le32At(12));
  h->timeUnit = static_cast<int64_t>(r.Le64At(16));
  h->samplesPerUnit = static_cast<int64_t>(r.Le64At(24));
  h->defaultLength = static_cast<int32_t>(r.Le32At(32));
  h->bufferSize = static_cast<int32_t>(r.Le32At(36));
  h->bitsPerSample = static_cast<int16_t>(r.Le16At(40));
  h->width = static_cast<int32_t>(r.Le32At(44));
  h->height = static_cast<int32_t>(r.Le32At(48));
  h->channels = static_cast<int16_t>(r.Le16At(44));
  h->blockAlign = static_cast<int16_t>(r.Le16At(46));
  h->avgBytesPerSecond = static_cast<int32_t>(r.Le32At(48));
  if (h->extraSize > 0)
    std::memcpy(h->extra, r.BytesAt(kStreamHeaderBytes, h->extraSize), h->extraSize);
  *out = h;
  return 0;
}

}  // namespace

void ClearStreamHeader(StreamHeader& header) {
  uint8_t* extra = header.extra;
  const int32_t extraSize = header.extraSize;
  header = StreamHeader{};
  header.extra = extra;
  header.extraSize = extraSize;
}

void FreeStreamHeader(StreamHeader* header) {
  if (header == nullptr) return;
  delete[] header->extra;
  delete header;
}

int32_t MakeVideoHeader(const uint8_t fourcc[4], int64_t timePerFrame, int32_t width,
                        int32_t height, int16_t bitsPerSample, int32_t bufferSize,
                        StreamHeader** out) {
  StreamHeader* h = NewHeader(0);
  *out = h;
  if (h == nullptr) return DECAPS_ERR_OUT_OF_MEMORY;
  std::memcpy(h->streamType, "video", 6);
  for (int i = 0; i < 4; ++i) h->subtype[i] = static_cast<char>(fourcc[i]);
  h->timeUnit = timePerFrame;
  h->samplesPerUnit = 1;
  h->defaultLength = 1;
  h->bufferSize = bufferSize;
  h->bitsPerSample = bitsPerSample;
  h->width = width;
  h->height = height;
  return 0;
}

int32_t MakeAudioHeader(uint16_t formatTag, int16_t channels, int16_t blockAlign,
                        int32_t avgBytesPerSecond, int32_t samplesPerSecond, int16_t bitsPerSample,
                        const uint8_t* extra, uint16_t extraSize, int32_t bufferSize,
                        StreamHeader** out) {
  StreamHeader* h = NewHeader(extraSize);
  *out = h;
  if (h == nullptr) return DECAPS_ERR_OUT_OF_MEMORY;
  h->size = static_cast<int32_t>(kStreamHeaderBytes + extraSize);
  std::memcpy(h->streamType, "audio", 6);
  char hex[5];
  std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(formatTag));
  std::memcpy(h->subtype, hex, 4);
  h->timeUnit = 10000000;
  h->samplesPerUnit = samplesPerSecond;
  h->defaultLength = 1;
  h->bitsPerSample = bitsPerSample;
  h->channels = channels;
  h->blockAlign = blockAlign;
  h->avgBytesPerSecond = avgBytesPerSecond;
  h->bufferSize = bufferSize;
  if (extraSize > 0) std::memcpy(h->extra, extra, extraSize);
  return 0;
}

namespace {

// Legacy blocks: the fields sit at fixed offsets of the serialised media
// type. Each returns DECAPS_ERR_UNSUPPORTED_STREAM when the packet is too
// short for them.
int32_t ParseLegacyVideo(ByteReader& r, StreamHeader** out) {
  const uint8_t* fourcc = r.BytesAt(68, 4);
  const int64_t timePerFrame = static_cast<int64_t>(r.Le64At(164));
  const int32_t width = static_cast<int32_t>(r.Le32At(176));
  const int32_t height = static_cast<int32_t>(r.Le32At(180));
  const int32_t bufferSize = static_cast<int32_t>(r.Le32At(40));
  static_assert(kLegacyVideoEnd == 184, "legacy video block ends after the height");
  if (!r.ok()) return DECAPS_ERR_UNSUPPORTED_STREAM;
  return MakeVideoHeader(fourcc, timePerFrame, width, height, 0, bufferSize, out);
}

int32_t ParseLegacyAudio(ByteReader& r, StreamHeader** out) {
  const uint16_t tag = r.Le16At(124);
  const auto channels = static_cast<int16_t>(r.Le16At(126));
  const auto samplesPerSecond = static_cast<int32_t>(r.Le32At(128));
  const auto avgBytes = static_cast<int32_t>(r.Le32At(132));
  const auto blockAlign = static_cast<int16_t>(r.Le16At(136));
  const auto bits = static_cast<int16_t>(r.Le16At(138));
  const uint16_t extraSize = r.Le16At(140);
  const uint8_t* extra = r.BytesAt(kLegacyAudioFixedEnd, extraSize);
  const auto bufferSize = static_cast<int32_t>(r.Le32At(40));
  if (!r.ok()) return DECAPS_ERR_UNSUPPORTED_STREAM;
  return MakeAudioHeader(tag, channels, blockAlign, avgBytes, samplesPerSecond, bits, extra,
                         extraSize, bufferSize, out);
}

// An unknown block, or a packet too short for the fields of its block.
int32_t UnsupportedLegacy(StreamHeader** out) {
  *out = nullptr;
  return DECAPS_ERR_UNSUPPORTED_STREAM;
}

// One row per legacy kind: the format word at byte 96 and its parser.
struct LegacyKind {
  uint32_t format;
  int32_t (*parse)(ByteReader& r, StreamHeader** out);
};
constexpr LegacyKind kLegacyKinds[] = {
    {kLegacyVideoInfo, ParseLegacyVideo},
    {kLegacyWaveFormat, ParseLegacyAudio},
};

// One row per packet form: the magic that follows the type byte and the
// parser of that form. The legacy magic is tried first.
struct HeaderForm {
  const char* magic;
  size_t magicLength;
  int32_t (*parse)(const uint8_t* packet, size_t bytes, StreamHeader** out);
};
constexpr HeaderForm kForms[] = {
    {kLegacyMagic, kLegacyMagicLength, ParseLegacyHeader},
    {"video", 5, ParseDirectHeader},
    {"audio", 5, ParseDirectHeader},
    {"text", 4, ParseDirectHeader},
};

}  // namespace

int32_t ParseLegacyHeader(const uint8_t* packet, size_t bytes, StreamHeader** out) {
  ByteReader r(packet, bytes);
  if ((r.U8At(0) & 7) != 1) return DECAPS_ERR_NOT_HEADER;
  const uint32_t format = r.Le32At(96);
  if (r.ok()) {
    for (const LegacyKind& kind : kLegacyKinds)
      if (kind.format == format) {
        const int32_t made = kind.parse(r, out);
        return made == 0 || made == DECAPS_ERR_OUT_OF_MEMORY ? made : UnsupportedLegacy(out);
      }
  }
  return UnsupportedLegacy(out);
}

int32_t ParseStreamHeader(const uint8_t* packet, size_t bytes, StreamHeader** out) {
  if (packet == nullptr || bytes == 0) {
    *out = nullptr;
    return DECAPS_ERR_UNSUPPORTED_STREAM;
  }
  const uint8_t* rest = packet + 1;
  const size_t restBytes = bytes - 1;
  if ((packet[0] & 1) == 0) return DECAPS_ERR_NOT_HEADER;
  for (const HeaderForm& form : kForms) {
    if (restBytes >= form.magicLength && std::memcmp(rest, form.magic, form.magicLength) == 0)
      return form.parse(packet, bytes, out);
  }
  return NoForm(packet[0], out);
}

bool IsVideoHeader(const StreamHeader& header) {
  return std::memcmp(header.streamType, "video", 6) == 0;
}

bool HasUsableTiming(const StreamHeader& header) {
  return header.timeUnit > 0 && header.samplesPerUnit > 0;
}
