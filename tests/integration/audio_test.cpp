// Audio as a host receives it: raw MP3/AC-3 bytes equal the source stream,
// Vorbis PCM equals a reference decode of the same stream.
#include <algorithm>
#include <cstring>
#include <tuple>

#include "host.h"

namespace integ {
namespace {

// ---------------------------------------------------------------------------
// Raw audio
// ---------------------------------------------------------------------------

struct RawCase {
  AudioKind kind;
  int32_t request;
  bool withVideo;  // a video frame before every audio request, as a player reads
};
void PrintTo(const RawCase& c, std::ostream* os) {
  *os << KindName(c.kind) << " in requests of " << c.request
      << (c.withVideo ? " with video" : " alone");
}

class RawAudioBytes : public ::testing::TestWithParam<RawCase> {
 protected:
  void SetUp() override {
    const std::string missing = PeerToolsMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
  }
};

TEST_P(RawAudioBytes, AreTheSourceStreamToItsLastByte) {
  const RawCase c = GetParam();
  const PeerFile& peer = Peer(c.kind);
  ASSERT_FALSE(peer.path.empty());
  const Bytes& source = peer.raw.bytes;

  Session session;
  ASSERT_TRUE(session.Open(peer.path));
  std::vector<uint8_t> frame = FrameBuffer();
  std::vector<uint8_t> buf(static_cast<size_t>(c.request));
  Bytes got;
  int frames = 0;
  bool videoEnded = !c.withVideo;
  for (;;) {
    if (!videoEnded) {
      const int32_t v = AVIDecaps_NextVideoFrame(frame.data(), 0);
      if (v < 0)
        videoEnded = true;
      else
        ++frames;
    }
    const int32_t n = AVIDecaps_ReadAudio(buf.data(), c.request);
    if (n == 0) break;
    // Every request is filled but the one that meets the stream's end.
    if (n != c.request) {
      ASSERT_EQ(got.size() + static_cast<size_t>(n), source.size());
    }
    got.insert(got.end(), buf.begin(), buf.begin() + n);
    ASSERT_LE(got.size(), source.size()) << "more audio than the source holds";
  }
  EXPECT_EQ(AVIDecaps_ReadAudio(buf.data(), c.request), 0) << "audio after the end";
  const auto mismatch = std::mismatch(got.begin(), got.end(), source.begin());
  EXPECT_TRUE(mismatch.first == got.end())
      << "delivered audio differs from the source at byte " << (mismatch.first - got.begin())
      << " of " << got.size();
  EXPECT_EQ(got.size(), source.size());
  if (c.withVideo) {
    // The video went on to its end untouched by the audio reads.
    while (AVIDecaps_NextVideoFrame(frame.data(), 0) >= 0) ++frames;
    EXPECT_EQ(frames, static_cast<int>(Video().frames.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Peers, RawAudioBytes,
    ::testing::Values(RawCase{AudioKind::kMp3, 4096, false}, RawCase{AudioKind::kMp3, 1000, false},
                      RawCase{AudioKind::kMp3, 1, false}, RawCase{AudioKind::kMp3, 1000, true},
                      RawCase{AudioKind::kMp3, 65536, true}, RawCase{AudioKind::kAc3, 4096, false},
                      RawCase{AudioKind::kAc3, 1, false}, RawCase{AudioKind::kAc3, 777, true}),
    [](const ::testing::TestParamInfo<RawCase>& p) {
      return std::string(KindName(p.param.kind)) + "_" + std::to_string(p.param.request) +
             (p.param.withVideo ? "_with_video" : "_audio_only");
    });

// ---------------------------------------------------------------------------
// Vorbis PCM
// ---------------------------------------------------------------------------

class VorbisPcm : public ::testing::TestWithParam<bool> {  // true: alternate with video
 protected:
  void SetUp() override {
    const std::string missing = PeerToolsMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
  }
};

TEST_P(VorbisPcm, HasTheReferenceLengthAndSamples) {
  const bool withVideo = GetParam();
  const PeerFile& peer = Peer(AudioKind::kVorbis);
  ASSERT_FALSE(peer.path.empty());
  const ogmtest::DecodedPcm& ref = peer.reference;
  const int ch = ref.channels;
  const int rate = ref.rate;

  Session session;
  ASSERT_TRUE(session.Open(peer.path));
  const double fps = session.info().framesPerSecond;
  std::vector<uint8_t> frame = FrameBuffer();
  std::vector<uint8_t> buf(PcmBufferBytes(peer));
  Bytes got;
  int frames = 0;
  bool videoEnded = !withVideo;
  bool shortCall = false;
  for (;;) {
    if (!videoEnded) {
      if (AVIDecaps_NextVideoFrame(frame.data(), 0) < 0) {
        videoEnded = true;
      } else {
        ++frames;
        // Keep the audio a little ahead of the picture, as a player's
        // sound buffer does.
        const double want = (frames / fps + 0.2) * rate * ch * 2;
        if (static_cast<double>(got.size()) >= want) continue;
      }
    }
    const int32_t n = AVIDecaps_ReadAudio(buf.data(), static_cast<int32_t>(buf.size()));
    if (n == 0) {
      if (videoEnded) break;
      continue;
    }
    // Only the stream's very last call returns less than 2000 bytes.
    ASSERT_FALSE(shortCall) << "a short call before the end";
    shortCall = n < 2000;
    ASSERT_LE(static_cast<size_t>(n), buf.size());
    ASSERT_EQ(n % (2 * ch), 0);
    got.insert(got.end(), buf.begin(), buf.begin() + n);
  }
  if (withVideo) {
    EXPECT_EQ(frames, static_cast<int>(Video().frames.size()));
  }

  const int64_t gotSamples = static_cast<int64_t>(got.size() / 2 / ch);
  EXPECT_EQ(gotSamples, ref.samples) << "samples delivered vs reference decode";
  const size_t n = std::min(got.size(), ref.pcm.size()) / 2;
  const double snr = SnrDb(reinterpret_cast<const int16_t*>(ref.pcm.data()),
                           reinterpret_cast<const int16_t*>(got.data()), n);
  EXPECT_GE(snr, 40.0) << "over " << n / ch << " samples from the start";
  // Cut up: no stretch of the stream may be poor (a lost or repeated packet
  // shows here even when the whole still has a good ratio).
  const size_t piece = 4096 * static_cast<size_t>(ch);
  double worst = 1e9;
  size_t worstAt = 0;
  for (size_t at = 0; at + piece <= n; at += piece) {
    const double s = SnrDb(reinterpret_cast<const int16_t*>(ref.pcm.data()) + at,
                           reinterpret_cast<const int16_t*>(got.data()) + at, piece);
    if (s < worst) {
      worst = s;
      worstAt = at;
    }
  }
  EXPECT_GE(worst, 40.0) << "worst stretch at sample " << worstAt / ch;
}

INSTANTIATE_TEST_SUITE_P(Reading, VorbisPcm, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "alternating_with_video" : "audio_only";
                         });

}  // namespace
}  // namespace integ
