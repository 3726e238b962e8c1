// Stream header packets in both forms, and packets that must be refused.
#include "demux/stream_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "input/result.h"
#include "ogm_writer.h"

using ogmtest::Bytes;

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

Bytes WithMagic(uint8_t type, size_t size) {
  Bytes p(size, 0);
  p[0] = type;
  std::memcpy(p.data() + 1, kLegacyMagic, kLegacyMagicLength);
  return p;
}

TEST(StreamHeaderTest, ClassifiesFirstPackets) {
  struct Case {
    const char* name;
    Bytes packet;
    int32_t result;
    bool outputNull;  // else untouched (when result != 0) or a record
    bool untouched;
  } cases[] = {
      {"even type byte", Bytes{0x00, 'v', 'i', 'd', 'e', 'o'}, DECAPS_ERR_NOT_HEADER, false, true},
      {"type 2", Bytes{0x02, 'a'}, DECAPS_ERR_NOT_HEADER, false, true},
      {"vorbis id", Bytes{0x01, 'v', 'o', 'r', 'b', 'i', 's', 0, 0}, DECAPS_ERR_UNSUPPORTED_STREAM,
       true, false},
      {"comment packet", Bytes{0x03, 'v', 'o', 'r', 'b', 'i', 's'}, DECAPS_ERR_UNSUPPORTED_STREAM,
       true, false},
      {"type 5 without magic", Bytes{0x05, 'x', 'y'}, 0, false, true},
      {"type 3 with legacy magic", WithMagic(0x03, 184), DECAPS_ERR_NOT_HEADER, false, true},
      {"type 7", Bytes{0x07, 'v', 'i', 'd', 'e', 'o'}, DECAPS_ERR_UNSUPPORTED_STREAM, true, false},
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

TEST(StreamHeaderTest, AcceptsDirectForms) {
  ogmtest::StreamHeaderFields video;
  video.timeUnit = 400000;
  video.width = 640;
  video.height = 480;
  Bytes packet = ogmtest::DirectHeader(video, 101);
  packet[0] = 0x09;  // only the low three bits decide
  for (size_t i = 57; i < 101; ++i) packet[i] = static_cast<uint8_t>(i);
  Parsed v = Parse(packet);
  ASSERT_EQ(v.result, 0);
  ASSERT_NE(v.header, nullptr);
  EXPECT_TRUE(IsVideoHeader(*v.header));
  EXPECT_EQ(std::memcmp(v.header->subtype, "XVID", 4), 0);
  EXPECT_EQ(v.header->timeUnit, 400000);
  EXPECT_EQ(v.header->samplesPerUnit, 1);
  EXPECT_EQ(v.header->width, 640);
  EXPECT_EQ(v.header->height, 480);
  // The 44 bytes after the record are kept.
  ASSERT_EQ(v.header->extraSize, 44);
  EXPECT_EQ(v.header->extra[0], 57);
  EXPECT_EQ(v.header->extra[43], 100);

  Parsed a = Parse(ogmtest::DirectAudioHeader("0055", 44100, 2, 16000, 1152));
  ASSERT_EQ(a.result, 0);
  EXPECT_FALSE(IsVideoHeader(*a.header));
  EXPECT_EQ(a.header->channels, 2);
  EXPECT_EQ(a.header->blockAlign, 1152);
  EXPECT_EQ(a.header->avgBytesPerSecond, 16000);
  EXPECT_EQ(a.header->samplesPerUnit, 44100);

  Parsed t = Parse(ogmtest::DirectTextHeader());
  EXPECT_EQ(t.result, 0);
  ASSERT_NE(t.header, nullptr);
  EXPECT_EQ(std::memcmp(t.header->streamType, "text", 5), 0);

  // A kind that merely begins with "video" passes the parser, but is not
  // video.
  ogmtest::StreamHeaderFields odd = video;
  odd.streamType = "videoXY";
  Parsed o = Parse(ogmtest::DirectHeader(odd));
  ASSERT_EQ(o.result, 0);
  EXPECT_FALSE(IsVideoHeader(*o.header));
}

TEST(StreamHeaderTest, RejectsDirectHeaderShorterThanItsFields) {
  ogmtest::StreamHeaderFields video;
  for (size_t size : {6, 20, 52}) {
    SCOPED_TRACE(size);
    Parsed p = Parse(ogmtest::DirectHeader(video, size));
    EXPECT_EQ(p.result, DECAPS_ERR_UNSUPPORTED_STREAM);
    EXPECT_EQ(p.header, nullptr);
  }
  // All fields present (the pad bytes after them may be missing).
  Parsed p = Parse(ogmtest::DirectHeader(video, 53));
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.header->height, 240);
  EXPECT_EQ(p.header->extraSize, 0);
}

TEST(StreamHeaderTest, BuildsLegacyRecords) {
  const Bytes extra = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  Parsed a = Parse(ogmtest::LegacyAudioHeader(0x0055, 2, 44100, 16000, 1, 0, extra));
  ASSERT_EQ(a.result, 0);
  EXPECT_EQ(a.header->size, 68);
  EXPECT_EQ(std::memcmp(a.header->subtype, "0055", 4), 0);
  EXPECT_EQ(a.header->timeUnit, 10000000);
  EXPECT_EQ(a.header->samplesPerUnit, 44100);
  EXPECT_EQ(a.header->defaultLength, 1);
  EXPECT_EQ(a.header->channels, 2);
  ASSERT_EQ(a.header->extraSize, 12);
  EXPECT_EQ(std::memcmp(a.header->extra, extra.data(), 12), 0);

  Parsed wide = Parse(ogmtest::LegacyAudioHeader(0xFFFE, 6, 48000, 1, 1, 16));
  ASSERT_EQ(wide.result, 0);
  EXPECT_EQ(std::memcmp(wide.header->subtype, "fffe", 4), 0);
  EXPECT_EQ(wide.header->size, 56);

  Parsed v = Parse(ogmtest::LegacyVideoHeader("DX50", 400000, 720, 576));
  ASSERT_EQ(v.result, 0);
  EXPECT_TRUE(IsVideoHeader(*v.header));
  EXPECT_EQ(std::memcmp(v.header->subtype, "DX50", 4), 0);
  EXPECT_EQ(v.header->timeUnit, 400000);
  EXPECT_EQ(v.header->samplesPerUnit, 1);
  EXPECT_EQ(v.header->defaultLength, 1);
  EXPECT_EQ(v.header->size, 56);
  EXPECT_EQ(v.header->width, 720);
  EXPECT_EQ(v.header->height, 576);
}

TEST(StreamHeaderTest, RejectsShortOrUnknownLegacy) {
  Bytes video = ogmtest::LegacyVideoHeader("XVID", 400000, 320, 240);
  Bytes unknown = video;
  unknown[96] ^= 0xFF;
  Bytes shortVideo(video.begin(), video.end() - 1);
  Bytes audio = ogmtest::LegacyAudioHeader(0x55, 2, 44100, 16000, 1, 0, Bytes(20, 7));
  Bytes shortExtra(audio.begin(), audio.end() - 5);  // extra size says 20, 15 present
  Bytes cutFixed(audio.begin(), audio.begin() + 130);
  for (const Bytes* packet : {&unknown, &shortVideo, &shortExtra, &cutFixed}) {
    Parsed p = Parse(*packet);
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
