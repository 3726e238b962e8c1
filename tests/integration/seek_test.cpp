// Seeking as a host does (percent, frame number, chapter, the start), one
// seek after another on the same open source: the reader must resume on a
// source keyframe, go on in source order, and hand out audio that continues
// the source stream from the keyframe's time on.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>

#include "host.h"

namespace integ {
namespace {

constexpr int kFramesAfter = 55;       // frames checked after each landing (more than a GOP)
constexpr int32_t kRawRequest = 1000;  // raw audio request size (leaves a carry most of the time)
constexpr size_t kRawBytes = 8000;     // raw audio checked after each landing
constexpr size_t kPcmFrames = 12288;   // Vorbis samples checked after each landing
constexpr size_t kPcmProbe = 4096;     // where in them the match is looked for
constexpr size_t kPcmCompared = 8192;  // samples compared with the reference from the landing on

struct Landing {
  int frame = -1;           // keyframe the seek resumed on
  double audioStart = NAN;  // seconds: where the audio handed out next starts
  size_t carried = 0;       // raw: bytes handed out before the packet-aligned run
  bool carryFromOldPlace = false;
};

class PeerSeek : public ::testing::TestWithParam<AudioKind> {
 protected:
  void SetUp() override {
    const std::string missing = PeerToolsMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    peer_ = &Peer(GetParam());
    ASSERT_FALSE(peer_->path.empty());
    ASSERT_TRUE(session_.Open(peer_->path));
    frame_ = FrameBuffer();
  }

  const StreamInfo& info() const { return session_.info(); }
  double Fps() const { return info().framesPerSecond; }

  // What the seek must return: the audio bytes from the current frame on.
  int32_t Remaining() const {
    if (peer_->audio == AudioKind::kNone) return 0;
    const double seconds = static_cast<double>(info().frameCount - info().currentFrame) / Fps();
    if (peer_->audio == AudioKind::kVorbis)
      return static_cast<int32_t>(seconds * peer_->reference.channels * peer_->reference.rate *
                                  2.0);
    return static_cast<int32_t>(seconds * peer_->avgBytesPerSecond);
  }

  // Checks the state right after a seek that returned `returned`; what
  // comes next must be a source keyframe and the frames after it, then the
  // audio from that keyframe's time on.
  Landing CheckLanding(const std::string& what, int32_t returned) {
    SCOPED_TRACE(what);
    Landing l;
    const int cf = info().currentFrame;
    EXPECT_EQ(returned, Remaining()) << "return value at frame " << cf;
    const int32_t n = AVIDecaps_NextVideoFrame(frame_.data(), 0);
    EXPECT_TRUE(IsSourceFrame(frame_.data(), n, cf));
    const auto& source = Video().frames;
    if (cf < 0 || cf >= static_cast<int>(source.size())) return l;
    EXPECT_TRUE(source[cf].key) << "resumed on frame " << cf << ", which is no keyframe";
    EXPECT_EQ(info().currentFrame, cf);
    l.frame = cf;
    for (int i = 1; i <= kFramesAfter && cf + i < static_cast<int>(source.size()); ++i) {
      const int32_t m = AVIDecaps_NextVideoFrame(frame_.data(), 0);
      if (!IsSourceFrame(frame_.data(), m, cf + i)) {
        ADD_FAILURE() << "frame " << i << " after the landing: "
                      << IsSourceFrame(frame_.data(), m, cf + i).message();
        break;
      }
      EXPECT_EQ(info().currentFrame, cf + i);
    }
    const double keyTime = cf / Fps();
    switch (peer_->audio) {
      case AudioKind::kNone:
        break;
      case AudioKind::kMp3:
      case AudioKind::kAc3:
        CheckRawAudio(keyTime, &l);
        break;
      case AudioKind::kVorbis:
        CheckPcm(keyTime, &l);
        break;
    }
    return l;
  }

  // Raw audio: what comes out is at most one packet's tail (carried), then
  // a run of whole source packets, byte for byte.
  void CheckRawAudio(double keyTime, Landing* l) {
    const RawAudio& raw = peer_->raw;
    Bytes got;
    std::vector<uint8_t> buf(kRawRequest);
    while (got.size() < kRawBytes) {
      const int32_t n = AVIDecaps_ReadAudio(buf.data(), kRawRequest);
      if (n == 0) break;
      got.insert(got.end(), buf.begin(), buf.begin() + n);
      if (n < kRawRequest) break;  // the stream's tail
    }
    ASSERT_GT(got.size(), raw.largestPacket) << "audio ran out right after the seek";
    int packet = -1;
    size_t carried = 0;
    for (size_t c = 0; c < raw.largestPacket && packet < 0; ++c) {
      const size_t rest = got.size() - c;
      for (size_t j = 0; j < raw.packets.size(); ++j) {
        const size_t off = raw.packets[j].offset;
        if (off + rest > raw.bytes.size()) break;
        if (std::memcmp(got.data() + c, raw.bytes.data() + off, rest) == 0) {
          // Equal packets may repeat: take the one nearest the keyframe.
          const double t = static_cast<double>(raw.packets[j].startSample) / raw.rate;
          if (packet < 0 ||
              std::fabs(t - keyTime) <
                  std::fabs(static_cast<double>(raw.packets[packet].startSample) / raw.rate -
                            keyTime))
            packet = static_cast<int>(j);
        }
      }
      carried = c;
    }
    ASSERT_GE(packet, 0)
        << "the audio after the seek is no run of source packets after a carried tail";
    const size_t off = raw.packets[packet].offset;
    l->carried = carried;
    l->carryFromOldPlace =
        carried > 0 && !(off >= carried &&
                         std::memcmp(got.data(), raw.bytes.data() + off - carried, carried) == 0);
    l->audioStart = static_cast<double>(raw.packets[packet].startSample) / raw.rate;
    EXPECT_GE(l->audioStart, keyTime - 1e-9) << "audio resumes before the keyframe";
    EXPECT_LE(l->audioStart, keyTime + 0.5) << "audio resumes well after the keyframe";
  }

  // Vorbis: the PCM from the landing on is a clean decode of the stream from
  // a point at or after the keyframe's time.
  void CheckPcm(double keyTime, Landing* l) {
    const ogmtest::DecodedPcm& ref = peer_->reference;
    const int ch = ref.channels;
    std::vector<uint8_t> buf(PcmBufferBytes(*peer_));
    Bytes got;
    while (got.size() < kPcmFrames * 2 * ch) {
      const int32_t n = AVIDecaps_ReadAudio(buf.data(), static_cast<int32_t>(buf.size()));
      if (n == 0) break;
      got.insert(got.end(), buf.begin(), buf.begin() + n);
    }
    const size_t frames = got.size() / 2 / ch;
    ASSERT_GE(frames, kPcmCompared) << "audio ran out right after the seek";
    const auto* pcm = reinterpret_cast<const int16_t*>(got.data());
    const int64_t keySample = static_cast<int64_t>(keyTime * ref.rate);
    const int64_t at =
        BestOffset(ref, pcm, frames, kPcmProbe, keySample - 2 * ref.rate, keySample + 3 * ref.rate);
    ASSERT_GE(at, 0);
    l->audioStart = static_cast<double>(at) / ref.rate;
    const auto* r = reinterpret_cast<const int16_t*>(ref.pcm.data()) + at * ch;
    const size_t compared = std::min<size_t>(kPcmCompared, ref.pcm.size() / 2 / ch - at) * ch;
    const double snr = SnrDb(r, pcm, compared);
    EXPECT_GE(snr, 40.0) << "PCM after the seek (placed at sample " << at
                         << ") against a clean decode";
    // The first block alone: the old position's overlap would show here.
    const size_t first = std::min<size_t>(compared, 1024 * ch);
    EXPECT_GE(SnrDb(r, pcm, first), 40.0) << "first samples after the seek";
    // Timed by the packets' durations, never after the keyframe by more
    // than a long block and a call's worth. ogmmerge's granules on this file
    // all run ahead of the packets (by up to a second, changing from page to
    // page), and the reader counts from the smallest bound that the next
    // 10 s of granules (or the stream's last one) allow: that much early is
    // possible.
    EXPECT_GE(l->audioStart, keyTime - 0.050) << "audio resumes before the keyframe";
    EXPECT_LE(l->audioStart, keyTime + 0.050) << "audio resumes well after the keyframe";
  }

  // How far from its target a percent or frame seek may land: the target
  // is turned into a byte offset.
  int LandingSlack() const { return 2 * Video().gop; }

  std::string Describe(const Landing& l, double fromSeconds) const {
    std::ostringstream s;
    s << "keyframe " << l.frame << " (" << l.frame / Fps() << " s, +"
      << (l.frame / Fps() - fromSeconds) << " s)";
    if (!std::isnan(l.audioStart)) s << ", audio from " << l.audioStart << " s";
    if (l.carried > 0)
      s << ", " << l.carried << " carried bytes "
        << (l.carryFromOldPlace ? "from the old place" : "of the new place");
    return s.str();
  }

  const PeerFile* peer_ = nullptr;
  Session session_;
  std::vector<uint8_t> frame_;
};

// After Seek(0, 0) and every rewind: frame 0 and the audio from the start.
void ExpectStart(const Landing& l) {
  EXPECT_EQ(l.frame, 0);
  if (!std::isnan(l.audioStart)) {
    EXPECT_EQ(l.audioStart, 0.0);
  }
}

// On the Vorbis file Seek(90, 0) and Seek(420, 1) find keyframe 450, but the
// audio there is timed (by ogmmerge's granules) past it and no later keyframe
// follows: the seek must settle a little earlier, not at the start.
TEST_P(PeerSeek, PercentSeeksResumeOnSourceKeyframesWithAudioAligned) {
  const int frameCount = info().frameCount;
  for (int p = 10; p <= 90; p += 10) {
    const int32_t r = AVIDecaps_Seek(p, 0);
    const Landing l = CheckLanding("Seek(" + std::to_string(p) + ", 0)", r);
    const double target = frameCount * p / 100.0;
    std::printf("Seek(%d%%): target frame %.0f, %s\n", p, target,
                Describe(l, target / Fps()).c_str());
    // The position is estimated from the byte offset; it must still be near,
    // and a target before the last keyframe is no reason to rewind.
    EXPECT_LE(std::fabs(l.frame - target), LandingSlack()) << "Seek(" << p << ", 0)";
    EXPECT_FALSE(l.frame == 0 && target < Video().KeyframeAtOrBefore(frameCount - 1))
        << "Seek(" << p << ", 0) rewound to the start although keyframe "
        << Video().KeyframeAtOrBefore(frameCount - 1) << " lies after the target";
  }
  const int32_t r0 = AVIDecaps_Seek(0, 0);
  EXPECT_EQ(r0, info().totalAudioBytes);
  ExpectStart(CheckLanding("Seek(0, 0)", r0));
  // The end: the last keyframe.
  const Landing end = CheckLanding("Seek(100, 0)", AVIDecaps_Seek(100, 0));
  std::printf("Seek(100%%): %s\n", Describe(end, 0).c_str());
  EXPECT_EQ(end.frame, Video().KeyframeAtOrBefore(frameCount - 1));
}

TEST_P(PeerSeek, FrameSeeksResumeOnSourceKeyframesWithAudioAligned) {
  const int frameCount = info().frameCount;
  for (int n : {1, 49, 50, 51, 130, 260, 340, 420}) {
    const int32_t r = AVIDecaps_Seek(n, 1);
    const Landing l = CheckLanding("Seek(" + std::to_string(n) + ", 1)", r);
    std::printf("Seek(frame %d): %s\n", n, Describe(l, n / Fps()).c_str());
    EXPECT_LE(std::abs(l.frame - n), LandingSlack()) << "Seek(" << n << ", 1)";
    EXPECT_FALSE(l.frame == 0 && n < Video().KeyframeAtOrBefore(frameCount - 1))
        << "Seek(" << n << ", 1) rewound to the start although keyframe "
        << Video().KeyframeAtOrBefore(frameCount - 1) << " lies after the target";
  }
  // Past the last keyframe: the last keyframe.
  const int last = frameCount - 1;
  ASSERT_GT(last, Video().KeyframeAtOrBefore(last));
  const Landing l = CheckLanding("Seek(last frame, 1)", AVIDecaps_Seek(last, 1));
  std::printf("Seek(frame %d): %s\n", last, Describe(l, 0).c_str());
  EXPECT_EQ(l.frame, Video().KeyframeAtOrBefore(last));
}

// The last chapter sits on the last keyframe; its byte estimate lands past
// that keyframe's page, so the seek must step back to it rather than end at
// the start of the source.
TEST_P(PeerSeek, ChapterSeeksResumeOnTheFirstKeyframeOfTheChapter) {
  const ReaderFunctions& t = Table();
  ASSERT_NE(t.seekChapter, nullptr);
  const auto& chapters = peer_->chapters;
  ASSERT_EQ(info().chapterCount, static_cast<int32_t>(chapters.size()));
  // Every chapter, in an order that jumps both ways.
  std::vector<size_t> jumping;  // 0, n-1, 1, n-2, ...
  for (size_t i = 0; i < chapters.size(); ++i)
    jumping.push_back(i % 2 ? chapters.size() - 1 - i / 2 : i / 2);
  for (size_t k : jumping) {
    const double at = chapters[k].startMs / 1000.0;
    const int chapterFrame = static_cast<int>(std::lround(at * Fps()));
    const int first = Video().KeyframeAtOrAfter(chapterFrame);
    const int32_t r = t.seekChapter(static_cast<int32_t>(k));
    const Landing l = CheckLanding("seekChapter(" + std::to_string(k) + ")", r);
    std::printf(
        "chapter %zu at %.3f s (frame %d, first keyframe %d): %s, %d frames after the chapter\n", k,
        at, chapterFrame, first, Describe(l, at).c_str(), l.frame - chapterFrame);
    EXPECT_GE(l.frame, first) << "chapter " << k << " at " << at << " s lands on frame " << l.frame
                              << ", before its first keyframe " << first;
    if (peer_->audio == AudioKind::kNone) {
      EXPECT_EQ(l.frame, first) << "chapter " << k;
      EXPECT_LE(l.frame - chapterFrame, static_cast<int>(Fps())) << "chapter " << k;
    } else if (l.frame > first) {
      // Only the audio may move the landing on, to a later keyframe: the
      // audio found there was already past the keyframe before.
      const int previous = Video().KeyframeAtOrBefore(l.frame - 1);
      EXPECT_GT(l.audioStart, previous / Fps())
          << "chapter " << k << " skipped keyframe " << previous
          << " although the audio was not past it";
    }
  }
}

// A player's commonest seek goes back into what it has played: the reader
// counted those Vorbis packets exactly, so the audio starts at the
// keyframe's own sample, whatever the granules on the pages say.
TEST_P(PeerSeek, SeeksBackIntoWhatWasPlayedStartAtTheKeyframesSample) {
  if (peer_->audio != AudioKind::kVorbis) GTEST_SKIP() << "counting Vorbis packets";
  std::vector<uint8_t> buf(PcmBufferBytes(*peer_));
  while (AVIDecaps_NextVideoFrame(frame_.data(), 0) >= 0) {
  }
  while (AVIDecaps_ReadAudio(buf.data(), static_cast<int32_t>(buf.size())) > 0) {
  }
  const double rate = peer_->reference.rate;
  for (int n : {90, 10, 50, 30, 70}) {
    const Landing l = CheckLanding("Seek(" + std::to_string(n) + ", 0)", AVIDecaps_Seek(n, 0));
    const double keySample = std::ceil(l.frame / Fps() * rate - 1e-9);
    EXPECT_NEAR(l.audioStart * rate, keySample, 1.0) << "Seek(" << n << ", 0)";
  }
}

TEST_P(PeerSeek, ChapterOutsideTheListChangesNothing) {
  const ReaderFunctions& t = Table();
  for (int i = 0; i < 30; ++i) ASSERT_GE(AVIDecaps_NextVideoFrame(frame_.data(), 0), 0);
  const int cf = info().currentFrame;
  for (int32_t k : {-1, info().chapterCount, 1000}) {
    EXPECT_EQ(t.seekChapter(k), Remaining()) << "seekChapter(" << k << ")";
    EXPECT_EQ(info().currentFrame, cf);
  }
  const int32_t n = AVIDecaps_NextVideoFrame(frame_.data(), 0);
  EXPECT_TRUE(IsSourceFrame(frame_.data(), n, cf + 1));
}

INSTANTIATE_TEST_SUITE_P(Peers, PeerSeek,
                         ::testing::Values(AudioKind::kMp3, AudioKind::kVorbis, AudioKind::kNone,
                                           AudioKind::kAc3),
                         [](const ::testing::TestParamInfo<AudioKind>& p) {
                           return std::string(KindName(p.param));
                         });

}  // namespace
}  // namespace integ
