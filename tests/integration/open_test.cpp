// Opening ogmmerge files through the file plug-ins: the stream description
// must say what ffprobe says of the same file.
#include <cmath>
#include <cstring>
#include <tuple>

#include "host.h"

namespace integ {
namespace {

using Param = std::tuple<AudioKind, int32_t>;  // audio kind, useCache

class OpenPeer : public ::testing::TestWithParam<Param> {
 protected:
  static void SetUpTestSuite() {
    if (PeerToolsMissing().empty()) {
      for (AudioKind k : {AudioKind::kNone, AudioKind::kMp3, AudioKind::kAc3, AudioKind::kVorbis})
        Peer(k);
    }
  }
  void SetUp() override {
    const std::string missing = PeerToolsMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
  }
};

const ogmtest::ProbeStream* StreamOf(const std::vector<ogmtest::ProbeStream>& probe,
                                     const std::string& type) {
  for (const auto& s : probe)
    if (s.codecType == type) return &s;
  return nullptr;
}

// The chapter name as a slot holds it: UTF-16, at most 49 units, never
// half of a surrogate pair.
std::u16string SlotText(const std::string& utf8) {
  std::u16string text = Utf16(utf8);
  if (text.size() > 49) {
    text.resize(49);
    if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
  }
  return text;
}

std::string Show(const char16_t* text, size_t n) {
  std::string out;
  char buf[8];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%04x ", static_cast<unsigned>(text[i]));
    out += buf;
  }
  return out;
}

TEST_P(OpenPeer, StreamInfoMatchesFfprobe) {
  const auto [kind, useCache] = GetParam();
  const PeerFile& peer = Peer(kind);
  ASSERT_FALSE(peer.path.empty());
  const ogmtest::ProbeStream* video = StreamOf(peer.probe, "video");
  ASSERT_NE(video, nullptr) << "ffprobe found no video in " << peer.path;
  ASSERT_GT(video->packets, 0);

  Session session;
  ASSERT_TRUE(session.Open(peer.path, useCache));
  const StreamInfo& info = session.info();

  EXPECT_EQ(info.width, video->width);
  EXPECT_EQ(info.height, video->height);
  EXPECT_EQ(std::string(info.fourcc, 4), video->codecTag);
  EXPECT_EQ(info.reserved20, 0);
  EXPECT_DOUBLE_EQ(info.framesPerSecond, video->FrameRate());
  EXPECT_DOUBLE_EQ(AVIDecaps_FrameRate(), video->FrameRate());
  EXPECT_EQ(info.frameCount, video->packets);
  EXPECT_EQ(info.currentFrame, 0);
  EXPECT_EQ(info.reserved28, 0);
  EXPECT_EQ(info.reserved36, 0);
  EXPECT_EQ(info.reserved60, 0);
  EXPECT_EQ(info.reserved64, 0);

  const double seconds = static_cast<double>(video->packets) / video->FrameRate();
  const ogmtest::ProbeStream* audio = StreamOf(peer.probe, "audio");
  switch (kind) {
    case AudioKind::kNone:
      EXPECT_EQ(audio, nullptr);
      EXPECT_EQ(info.totalAudioBytes, 0);
      break;
    case AudioKind::kMp3:
    case AudioKind::kAc3:
      ASSERT_NE(audio, nullptr);
      EXPECT_EQ(info.audioFormat, kind == AudioKind::kMp3 ? 0x55 : 0x2000);
      EXPECT_EQ(info.audioParamA, audio->sampleRate);
      EXPECT_EQ(info.audioParamB, audio->channels);
      EXPECT_EQ(info.totalAudioBytes, static_cast<int32_t>(seconds * peer.avgBytesPerSecond));
      break;
    case AudioKind::kVorbis: {
      // ffprobe cannot always read the Vorbis headers the way ogmmerge
      // pages them; the source file says the same then.
      std::vector<ogmtest::ProbeStream> source;
      if (audio == nullptr || audio->sampleRate == 0 || audio->channels == 0) {
        source = ogmtest::Probe(peer.audioSource);
        audio = StreamOf(source, "audio");
      }
      ASSERT_NE(audio, nullptr);
      EXPECT_EQ(info.audioFormat, 0);
      EXPECT_EQ(info.audioParamA, audio->channels);
      EXPECT_EQ(info.audioParamB, audio->sampleRate);
      EXPECT_EQ(info.audioBitrate, peer.vorbisNominalBitrate);
      EXPECT_EQ(info.totalAudioBytes,
                static_cast<int32_t>(seconds * audio->sampleRate * audio->channels * 2.0));
      break;
    }
  }

  ASSERT_EQ(info.chapterCount, static_cast<int32_t>(peer.chapters.size()));
  for (size_t i = 0; i < peer.chapters.size(); ++i) {
    const std::u16string want = SlotText(peer.chapters[i].name);
    const char16_t* got = info.chapterNames[i].text;
    EXPECT_EQ(std::u16string(got, std::char_traits<char16_t>::length(got)), want)
        << "chapter " << i << " (" << peer.chapters[i].name << "): got " << Show(got, 50)
        << "\nwant " << Show(want.c_str(), want.size() + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, OpenPeer,
                         ::testing::Combine(::testing::Values(AudioKind::kNone, AudioKind::kMp3,
                                                              AudioKind::kAc3, AudioKind::kVorbis),
                                            ::testing::Values(0, 1)),
                         [](const ::testing::TestParamInfo<Param>& p) {
                           return std::string(KindName(std::get<0>(p.param))) +
                                  (std::get<1>(p.param) ? "_cached" : "_plain");
                         });

// A video-only source has no audio: what an earlier source said of its
// audio must not show through.
// (Caught a reader that returned before writing the audio fields when a
// source has no audio, so the previous source's showed through.)
// A source without audio says so with totalAudioBytes 0; the audio words
// keep what the source before it described.
TEST_F(OpenPeer, VideoOnlyAfterAudioSourcesKeepsTheAudioWords) {
  for (AudioKind before : {AudioKind::kVorbis, AudioKind::kMp3}) {
    Session session;
    ASSERT_TRUE(session.Open(Peer(before).path));
    const StreamInfo first = session.info();
    ASSERT_TRUE(session.Open(Peer(AudioKind::kNone).path));
    const StreamInfo& i = session.info();
    uint8_t buf[4096];
    EXPECT_EQ(AVIDecaps_ReadAudio(buf, sizeof buf), 0) << "audio from a source without audio";
    EXPECT_EQ(i.totalAudioBytes, 0);
    EXPECT_EQ(i.audioFormat, first.audioFormat);
    EXPECT_EQ(i.audioParamA, first.audioParamA);
    EXPECT_EQ(i.audioParamB, first.audioParamB);
    EXPECT_EQ(i.audioBitrate, first.audioBitrate);
  }
}

// Files of the peers that are no OGM with video are refused, and the
// result pointer is left alone.
TEST_F(OpenPeer, RefusesPeerFilesThatAreNoVideoOgm) {
  const std::string files[] = {Video().avi, Peer(AudioKind::kVorbis).audioSource,
                               Peer(AudioKind::kMp3).audioSource};
  for (const std::string& f : files) {
    for (int32_t cache : {0, 1}) {
      void* result = &result;
      const std::u16string name = Utf16(f);
      EXPECT_EQ(AVIDecaps_Open(name.c_str(), cache, 0, &result), 0) << f;
      EXPECT_EQ(result, &result) << f;
      uint8_t buf[64];
      EXPECT_EQ(AVIDecaps_NextVideoFrame(buf, 0), -1) << f;
    }
  }
  // A good file still opens after those.
  Session session;
  EXPECT_TRUE(session.Open(Peer(AudioKind::kMp3).path));
}

}  // namespace
}  // namespace integ
