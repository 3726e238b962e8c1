// Stream header packets in both forms, and packets that must be refused.
#include "demux/stream_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "golden_headers.h"
#include "input/result.h"

using ogmtest::Bytes;
namespace golden = ogmtest::golden;

namespace {

StreamHeader* const kUntouched = reinterpret_cast<StreamHeader*>(0x1);

struct Parsed {
  int32_t result;
  StreamHeader* header;
  ~Parsed() {
    if (header != kUntouched) FreeStreamHeader(header);
  }
};

Parsed Parse(const Bytes& packet) {
  StreamHeader* out = kUntouched;
  const int32_t r = ParseStreamHeader(packet.data(), packet.size(), &out);
  return {r, out};
}

// The packet with another type byte.
Bytes WithType(Bytes packet, uint8_t type) {
  packet[0] = type;
  return packet;
}

// The first n bytes of the packet.
Bytes Cut(const Bytes& packet, size_t n) { return Bytes(packet.begin(), packet.begin() + n); }

// A zero-padded text field up to its first zero.
std::string Text(const char* field, size_t n) {
  return std::string(field, std::find(field, field + n, '\0'));
}

// The record holds the values the packet was written from.
void ExpectRecord(const StreamHeader& h, const ogmtest::StreamHeaderFields& f) {
  EXPECT_EQ(Text(h.streamType, 8), f.streamType);
  EXPECT_EQ(Text(h.subtype, 4), f.subtype);
  EXPECT_EQ(h.size, f.size);
  EXPECT_EQ(h.timeUnit, f.timeUnit);
  EXPECT_EQ(h.samplesPerUnit, f.samplesPerUnit);
  EXPECT_EQ(h.defaultLength, f.defaultLength);
  EXPECT_EQ(h.bufferSize, f.bufferSize);
  EXPECT_EQ(h.bitsPerSample, f.bitsPerSample);
  if (f.streamType == "audio") {
    EXPECT_EQ(h.channels, f.channels);
    EXPECT_EQ(h.blockAlign, f.blockAlign);
    EXPECT_EQ(h.avgBytesPerSecond, f.avgBytesPerSecond);
  } else {
    EXPECT_EQ(h.width, f.width);
    EXPECT_EQ(h.height, f.height);
  }
}

TEST(StreamHeaderTest, ClassifiesFirstPackets) {
  struct Case {
    const char* name;
    Bytes packet;
    int32_t result;
    bool outputNull;  // else untouched (when result != 0) or a record
    bool untouched;
  } cases[] = {
      {"even type byte", WithType(golden::kDirectVideo, 0x00), DECAPS_ERR_NOT_HEADER, false, true},
      {"type 2", Bytes{0x02, 'a'}, DECAPS_ERR_NOT_HEADER, false, true},
      {"vorbis id", Bytes{0x01, 'v', 'o', 'r', 'b', 'i', 's', 0, 0}, DECAPS_ERR_UNSUPPORTED_STREAM,
       true, false},
      {"comment packet", Bytes{0x03, 'v', 'o', 'r', 'b', 'i', 's'}, DECAPS_ERR_UNSUPPORTED_STREAM,
       true, false},
      {"type 5 without magic", Bytes{0x05, 'x', 'y'}, 0, false, true},
      {"type 3 with legacy magic", WithType(golden::kLegacyVideo, 0x03), DECAPS_ERR_NOT_HEADER,
       false, true},
      {"type 7", WithType(golden::kDirectVideo, 0x07), DECAPS_ERR_UNSUPPORTED_STREAM, true, false},
      {"empty packet", Bytes{}, DECAPS_ERR_UNSUPPORTED_STREAM, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Parsed p = Parse(c.packet);
    EXPECT_EQ(p.result, c.result);
    if (c.untouched) {
      EXPECT_EQ(p.header, kUntouched);
    }
    if (c.outputNull) {
      EXPECT_EQ(p.header, nullptr);
    }
  }
}

// Every form, as written out byte by byte in golden_headers.h.
TEST(StreamHeaderTest, ReadsEveryForm) {
  struct Case {
    const char* name;
    const Bytes& packet;
    ogmtest::StreamHeaderFields fields;
    bool video;
  } cases[] = {
      {"direct video", golden::kDirectVideo, golden::DirectVideoFields(), true},
      {"direct audio", golden::kDirectAudio, golden::DirectAudioFields(), false},
      {"direct text", golden::kDirectText, golden::DirectTextFields(), false},
      {"legacy video", golden::kLegacyVideo, golden::LegacyVideoFields(), true},
      {"legacy audio", golden::kLegacyAudio, golden::LegacyAudioFields(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Parsed p = Parse(c.packet);
    ASSERT_EQ(p.result, 0);
    ASSERT_NE(p.header, nullptr);
    ExpectRecord(*p.header, c.fields);
    EXPECT_EQ(IsVideoHeader(*p.header), c.video);
  }
  // The legacy audio format's extra bytes are kept; a direct header of 57
  // bytes has none.
  Parsed a = Parse(golden::kLegacyAudio);
  ASSERT_EQ(a.header->extraSize, 2);
  EXPECT_EQ(Bytes(a.header->extra, a.header->extra + 2), golden::kLegacyAudioExtra);
  Parsed v = Parse(golden::kDirectVideo);
  EXPECT_EQ(v.header->extraSize, 0);
}

TEST(StreamHeaderTest, AcceptsDirectVariants) {
  // Only the low three bits of the type byte decide.
  Parsed typed = Parse(WithType(golden::kDirectVideo, 0x09));
  ASSERT_EQ(typed.result, 0);
  ExpectRecord(*typed.header, golden::DirectVideoFields());

  // The 44 bytes after the record are kept, and no more.
  Bytes longer = golden::kDirectVideo;
  for (size_t i = 57; i < 110; ++i) longer.push_back(static_cast<uint8_t>(i));
  Parsed l = Parse(longer);
  ASSERT_EQ(l.result, 0);
  ASSERT_EQ(l.header->extraSize, 44);
  EXPECT_EQ(l.header->extra[0], 57);
  EXPECT_EQ(l.header->extra[43], 100);

  // A kind that merely begins with "video" passes the parser, but is not
  // video.
  Bytes odd = golden::kDirectVideo;
  odd[6] = 'X';
  Parsed o = Parse(odd);
  ASSERT_EQ(o.result, 0);
  EXPECT_FALSE(IsVideoHeader(*o.header));
}

TEST(StreamHeaderTest, RejectsDirectHeaderShorterThanItsFields) {
  for (size_t size : {6, 20, 52}) {
    SCOPED_TRACE(size);
    Parsed p = Parse(Cut(golden::kDirectVideo, size));
    EXPECT_EQ(p.result, DECAPS_ERR_UNSUPPORTED_STREAM);
    EXPECT_EQ(p.header, nullptr);
  }
  // All fields present (the pad bytes after them may be missing).
  Parsed p = Parse(Cut(golden::kDirectVideo, 53));
  ASSERT_EQ(p.result, 0);
  ExpectRecord(*p.header, golden::DirectVideoFields());
  EXPECT_EQ(p.header->extraSize, 0);
}

TEST(StreamHeaderTest, RejectsShortOrUnknownLegacy) {
  Bytes unknown = golden::kLegacyVideo;
  unknown[96] ^= 0xFF;  // the format word
  const Bytes packets[] = {
      unknown,
      Cut(golden::kLegacyVideo, 183),
      Cut(golden::kLegacyAudio, 143),  // extra size says 2, 1 present
      Cut(golden::kLegacyAudio, 130),
  };
  for (const Bytes& packet : packets) {
    Parsed p = Parse(packet);
    EXPECT_EQ(p.result, DECAPS_ERR_UNSUPPORTED_STREAM);
    EXPECT_EQ(p.header, nullptr);
  }
}

TEST(StreamHeaderTest, TimingIsUsableOnlyWhenPositive) {
  for (auto [unit, spu, usable] : {std::tuple{400000, 1, true}, std::tuple{0, 1, false},
                                   std::tuple{400000, 0, false}, std::tuple{-1, 1, false}}) {
    ogmtest::StreamHeaderFields f;
    f.timeUnit = unit;
    f.samplesPerUnit = spu;
    Parsed p = Parse(ogmtest::DirectHeader(f));
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(HasUsableTiming(*p.header), usable) << unit << " " << spu;
  }
}

}  // namespace
