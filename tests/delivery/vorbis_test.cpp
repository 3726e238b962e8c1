// Vorbis audio decoded to 16-bit PCM, against the reference decoder.
#include <cmath>
#include <cstring>
#include <vector>

#include "delivery/delivery.h"
#include "delivery/pcm.h"
#include "peer_files.h"
#include "reader_fixture.h"

using ogmtest::Bytes;

namespace {

double SnrDb(const Bytes& ref, const Bytes& got, size_t samples) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < samples; ++i) {
    int16_t a, b;
    std::memcpy(&a, &ref[2 * i], 2);
    std::memcpy(&b, &got[2 * i], 2);
    signal += double(a) * a;
    noise += double(a - b) * (a - b);
  }
  return noise == 0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

class VorbisTest : public ReaderTest {
 protected:
  // A file with Vorbis audio of the given shape; ref_ gets the reference
  // decode of the same stream.
  void Make(int rate, int channels, double seconds, int packetsPerPage = 6) {
    ogmtest::SimpleOgmOptions o;
    o.frames = static_cast<int>(seconds * 25);
    o.audio = ogmtest::AudioKind::kVorbis;
    o.vorbisFile = ogmtest::EncodeVorbis(dir_.path(), "a.ogg", rate, channels, seconds, 0.4,
                                         "chirp", packetsPerPage);
    ASSERT_FALSE(o.vorbisFile.empty());
    file_ = ogmtest::MakeSimpleOgm(o).bytes;
    ASSERT_TRUE(ogmtest::WriteBytes(dir_.File("f.ogm"), file_));
    ref_ = ogmtest::DecodeVorbis(dir_.File("f.ogm"), 1);
    ASSERT_TRUE(ref_.ok);
  }

  ogmtest::TempDir dir_;
  Bytes file_;
  ogmtest::DecodedPcm ref_;
};

TEST_F(VorbisTest, PcmMatchesTheReferenceDecode) {
  // Pages of a few packets, as muxers write them, and one page of all.
  for (auto [rate, channels, perPage] : {std::tuple{44100, 2, 6}, std::tuple{22050, 1, 1000}}) {
    SCOPED_TRACE(channels);
    Make(rate, channels, 3.0, perPage);
    ASSERT_EQ(OpenBytes(file_), 1);
    Bytes pcm;
    std::vector<uint8_t> buf(1 << 17);
    int32_t n;
    int calls = 0;
    while ((n = ReadAudioEntry(buf.data(), 4096)) > 0) {
      if (n < 2000) {
        EXPECT_EQ(ReadAudioEntry(buf.data(), 4096), 0);  // only the stream's last call
      }
      ASSERT_EQ(n % (2 * channels), 0);
      pcm.insert(pcm.end(), buf.begin(), buf.begin() + n);
      ++calls;
    }
    const int64_t samples = static_cast<int64_t>(pcm.size()) / (2 * channels);
    EXPECT_LE(std::llabs(samples - ref_.samples), 2048) << samples << " vs " << ref_.samples;
    const size_t common = std::min(pcm.size(), ref_.pcm.size()) / 2;
    EXPECT_GE(SnrDb(ref_.pcm, pcm, common), 40.0);
    // The position follows the last packet decoded: the end of the stream.
    EXPECT_EQ(gReader.audioGranule, ref_.samples);
    EXPECT_NEAR(static_cast<double>(gReader.audioTime), gReader.audioGranule * 1e7 / rate, 1.0);
    CloseEntry();
  }
}

TEST_F(VorbisTest, ScratchReadsNeverPassTheirCapacity) {
  // Eight channels: one long-block batch (1024 samples x 8 x 2 bytes) is
  // larger than the seeks' 8192-byte scratch buffer.
  Make(44100, 8, 2.0);
  ASSERT_EQ(OpenBytes(file_), 1);
  Bytes capped;
  std::vector<uint8_t> guard(kAudioScratchBytes + 64, 0xEE);
  int32_t n;
  while ((n = DeliverAudio(gReader, guard.data(), 4096, kAudioScratchBytes)) > 0) {
    ASSERT_LE(n, kAudioScratchBytes);
    for (size_t i = kAudioScratchBytes; i < guard.size(); ++i) ASSERT_EQ(guard[i], 0xEE);
    capped.insert(capped.end(), guard.begin(), guard.begin() + n);
  }
  CloseEntry();
  ASSERT_EQ(OpenBytes(file_), 1);
  Bytes whole;
  std::vector<uint8_t> buf(1 << 17);
  while ((n = ReadAudioEntry(buf.data(), 4096)) > 0)
    whole.insert(whole.end(), buf.begin(), buf.begin() + n);
  EXPECT_EQ(capped.size(), whole.size());
  EXPECT_TRUE(capped == whole);  // the samples held back come out next time
}

TEST(PcmConversionTest, ShiftsAndClips) {
  struct {
    int32_t in;
    int16_t out;
  } rows[] = {{16777216, 32767},  {-16777217, -32768}, {512, 1},          {-1, -1},
              {511, 0},           {-512, -1},          {16776704, 32767}, {-16777216, -32768},
              {INT32_MAX, 32767}, {INT32_MIN, -32768}};
  for (auto r : rows) EXPECT_EQ(ClipSample(r.in), r.out) << r.in;
}

}  // namespace

namespace {

// Pages noted while counting (written granule, exact end), then what a seek
// finds for each granule: only granules unlike both neighbours are kept,
// at most one a spacing (here 100 samples), thinned when the table fills.
TEST(VorbisAnchorsTest, KeepsUniqueGranulesOnceASpacing) {
  VorbisAnchors a;
  AnchorsReset(a, 100);
  const std::pair<int64_t, int64_t> pages[] = {
      {500, 480},              // the first after a reset: its predecessor is unknown
      {600, 580}, {600, 590},  // one granule on two pages: neither is kept
      {700, 690}, {720, 710},  // 720 is within the spacing of 700
      {900, 880}, {1000, 990}};
  for (const auto& [granule, exact] : pages) AnchorsNote(a, granule, exact);
  int64_t exact = 0;
  EXPECT_FALSE(AnchorsFind(a, 500, &exact));
  EXPECT_FALSE(AnchorsFind(a, 600, &exact));
  EXPECT_TRUE(AnchorsFind(a, 700, &exact) && exact == 690);
  EXPECT_FALSE(AnchorsFind(a, 720, &exact));
  EXPECT_TRUE(AnchorsFind(a, 900, &exact) && exact == 880);
  EXPECT_FALSE(AnchorsFind(a, 1000, &exact));  // waits for its successor
  // A break (a seek) starts the neighbours over; what was kept stays.
  AnchorsBreak(a);
  AnchorsNote(a, 1000, 990);
  AnchorsNote(a, 1100, 1090);
  EXPECT_FALSE(AnchorsFind(a, 1000, &exact));
  EXPECT_TRUE(AnchorsFind(a, 700, &exact));

  // A full table keeps every other entry and doubles the spacing.
  AnchorsReset(a, 1);
  for (int64_t g = 1; g <= kVorbisAnchorCapacity + 3; ++g) AnchorsNote(a, 10 * g, 10 * g - 5);
  EXPECT_EQ(a.spacing, 2);
  EXPECT_LE(a.count, kVorbisAnchorCapacity / 2 + 1);
  EXPECT_TRUE(AnchorsFind(a, 20, &exact) && exact == 15);
  EXPECT_TRUE(AnchorsFind(a, 10 * (kVorbisAnchorCapacity + 2), &exact));
}

}  // namespace
