// The same peer files read through URLs, served by nginx on 127.0.0.1.
#include <cmath>
#include <memory>
#include <stdexcept>

#include "host.h"
#include "nginx.h"

namespace integ {
namespace {

using ogmtest::Nginx;

class HttpSource : public ::testing::TestWithParam<AudioKind> {
 protected:
  static void SetUpTestSuite() {
    if (!PeerToolsMissing().empty()) return;
    const PeerFile& p = Peer(AudioKind::kMp3);
    Peer(AudioKind::kVorbis);
    try {
      if (!p.path.empty()) server_ = new Nginx(p.path.substr(0, p.path.rfind('/')));
    } catch (const std::exception&) {
      server_ = nullptr;  // SetUp reports it
    }
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    const std::string missing = PeerToolsMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    peer_ = &Peer(GetParam());
    ASSERT_FALSE(peer_->path.empty());
    ASSERT_TRUE(server_ != nullptr) << "nginx did not start";
    url_ = server_->Url(peer_->path.substr(peer_->path.rfind('/') + 1));
  }

  static Nginx* server_;
  const PeerFile* peer_ = nullptr;
  std::string url_;
};
Nginx* HttpSource::server_ = nullptr;

constexpr int32_t kTimeoutMs = 5000;

TEST_P(HttpSource, DescribesFramesAndSeeksLikeTheLocalFile) {
  Session local;
  ASSERT_TRUE(local.Open(peer_->path));
  const StreamInfo want = local.info();
  local.Close();

  Session net;
  ASSERT_TRUE(net.Open(url_, 0, kTimeoutMs)) << url_;
  const StreamInfo& info = net.info();
  // The server answers range requests: the tail is scanned as locally.
  EXPECT_EQ(info.frameCount, want.frameCount);
  EXPECT_EQ(info.width, want.width);
  EXPECT_EQ(info.height, want.height);
  EXPECT_EQ(std::string(info.fourcc, 4), std::string(want.fourcc, 4));
  EXPECT_DOUBLE_EQ(info.framesPerSecond, want.framesPerSecond);
  EXPECT_EQ(info.audioFormat, want.audioFormat);
  EXPECT_EQ(info.audioParamA, want.audioParamA);
  EXPECT_EQ(info.audioParamB, want.audioParamB);
  EXPECT_EQ(info.chapterCount, want.chapterCount);
  for (int i = 0; i < want.chapterCount && i < 100; ++i)
    EXPECT_EQ(std::u16string(info.chapterNames[i].text), std::u16string(want.chapterNames[i].text))
        << i;

  const auto& source = Video().frames;
  const std::vector<DeliveredFrame> frames = ReadAllFrames(info, source.size() + 10);
  ASSERT_EQ(frames.size(), source.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(frames[i].size, static_cast<int32_t>(source[i].size)) << "frame " << i;
    ASSERT_EQ(frames[i].md5, source[i].md5) << "frame " << i;
    ASSERT_EQ(frames[i].currentFrame, static_cast<int32_t>(i));
  }
  std::vector<uint8_t> buf = FrameBuffer();
  EXPECT_EQ(AVIDecaps_NextVideoFrame(buf.data(), 0), -1);
  EXPECT_NEAR(AVIDecaps_GetProgress(), 100.0 * (source.size() - 1) / want.frameCount, 1e-9);

  // A percent seek lands on a keyframe of the source and goes on from it.
  for (int p : {50, 20, 80}) {
    const int32_t r = AVIDecaps_Seek(p, 0);
    const int cf = info.currentFrame;
    const int32_t n = AVIDecaps_NextVideoFrame(buf.data(), 0);
    ASSERT_TRUE(IsSourceFrame(buf.data(), n, cf)) << "Seek(" << p << ", 0)";
    EXPECT_TRUE(source[cf].key) << "Seek(" << p << ", 0) resumed on frame " << cf;
    // Near the target (the Vorbis alignment may move on by a GOP more, see
    // the seek tests).
    const int slack = (peer_->audio == AudioKind::kVorbis ? 3 : 2) * Video().gop;
    EXPECT_LE(std::abs(cf - static_cast<int>(source.size()) * p / 100), slack)
        << "Seek(" << p << ", 0)";
    for (int i = 1; i <= 10; ++i) {
      const int32_t m = AVIDecaps_NextVideoFrame(buf.data(), 0);
      if (cf + i == static_cast<int>(source.size())) {
        EXPECT_EQ(m, -1) << "after the last frame";
        break;
      }
      ASSERT_TRUE(IsSourceFrame(buf.data(), m, cf + i))
          << "frame " << i << " after Seek(" << p << ", 0)";
    }
    const double seconds = static_cast<double>(want.frameCount - cf) / info.framesPerSecond;
    const double perSecond = peer_->audio == AudioKind::kVorbis
                                 ? 2.0 * peer_->reference.channels * peer_->reference.rate
                                 : static_cast<double>(peer_->avgBytesPerSecond);
    EXPECT_EQ(r, static_cast<int32_t>(seconds * perSecond))
        << "Seek(" << p << ", 0) at frame " << cf;
  }
}

TEST_P(HttpSource, AudioAloneEqualsTheLocalFilesAudio) {
  auto readAudio = [this](const std::string& name, int32_t openArg) {
    Session s;
    EXPECT_TRUE(s.Open(name, 0, openArg)) << name;
    std::vector<uint8_t> buf(peer_->audio == AudioKind::kVorbis ? PcmBufferBytes(*peer_) : 1000);
    Bytes all;
    for (int32_t n; (n = AVIDecaps_ReadAudio(buf.data(), static_cast<int32_t>(buf.size()))) > 0;)
      all.insert(all.end(), buf.begin(), buf.begin() + n);
    return all;
  };
  const Bytes local = readAudio(peer_->path, 0);
  const Bytes net = readAudio(url_, kTimeoutMs);
  ASSERT_FALSE(local.empty());
  EXPECT_EQ(net.size(), local.size());
  EXPECT_TRUE(net == local);
}

INSTANTIATE_TEST_SUITE_P(Peers, HttpSource, ::testing::Values(AudioKind::kMp3, AudioKind::kVorbis),
                         [](const ::testing::TestParamInfo<AudioKind>& p) {
                           return std::string(KindName(p.param));
                         });

}  // namespace
}  // namespace integ
