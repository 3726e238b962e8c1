// The same peer files read through URLs, served by nginx on 127.0.0.1.
#include <cmath>
#include <fstream>
#include <functional>
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

// Bytes this process got from read-like calls (/proc/self/io): what the
// reader reads from a local file, which the plain plug-in reads directly.
int64_t BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

struct Cost {
  int64_t bytes = 0;
  int requests = 0;
};

// The same calls on the local file and over HTTP: what nginx sends (and in
// how many requests) for the open, for each seek and for a whole read,
// beside the bytes the reader reads from the file for it.
TEST_P(HttpSource, SendsLittleMoreThanTheFileReads) {
  // Room for 4096 bytes of raw audio or one Vorbis call.
  std::vector<uint8_t> frame = FrameBuffer(), pcm(std::max<size_t>(PcmBufferBytes(*peer_), 4096));
  auto land = [&] {
    AVIDecaps_NextVideoFrame(frame.data(), 0);
    AVIDecaps_ReadAudio(pcm.data(), 4096);
  };
  using Step = std::function<void(const StreamInfo&)>;
  std::vector<Step> steps = {[](const StreamInfo&) {}};  // the open alone
  for (int p : {50, 13, 77, 31}) steps.push_back([p](const StreamInfo&) { AVIDecaps_Seek(p, 0); });
  for (int f : {300, 120, 410})
    steps.push_back([f](const StreamInfo& i) { AVIDecaps_Seek(f % i.frameCount, 1); });
  for (int c : {2, 0, 1})
    steps.push_back(
        [c](const StreamInfo& i) { Table().seekChapter(c % std::max(1, i.chapterCount)); });

  std::vector<Cost> file, net;
  {
    Session local;
    int64_t at = BytesReadSoFar();
    ASSERT_TRUE(local.Open(peer_->path));
    for (size_t i = 0; i < steps.size(); ++i) {
      if (i > 0) {
        steps[i](local.info());
        land();
      }
      const int64_t now = BytesReadSoFar();
      file.push_back({now - at, 0});
      at = now;
    }
  }
  size_t logged = server_->Requests().size();
  auto served = [&] {
    const std::vector<ogmtest::ServedRequest> log = server_->Requests();
    Cost c;
    for (; logged < log.size(); ++logged, ++c.requests) c.bytes += log[logged].bytes;
    return c;
  };
  {
    Session remote;
    ASSERT_TRUE(remote.Open(url_, 0, kTimeoutMs));
    for (size_t i = 0; i < steps.size(); ++i) {
      if (i > 0) {
        steps[i](remote.info());
        land();
      }
      net.push_back(served());
    }
    remote.Close();
    const Cost late = served();  // answers given up at the close
    net.back().bytes += late.bytes;
    net.back().requests += late.requests;
  }
  int64_t read = 0, sent = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    EXPECT_LE(net[i].requests, 2) << (i == 0 ? "the open" : "seek ") << i;
    read += file[i].bytes;
    sent += net[i].bytes;
  }
  EXPECT_LE(double(sent), 1.2 * double(read)) << "open + " << steps.size() - 1 << " seeks";

  // A whole read.
  {
    int64_t at = BytesReadSoFar();
    Session local;
    ASSERT_TRUE(local.Open(peer_->path));
    ReadAllFrames(local.info());
    local.Close();
    read = BytesReadSoFar() - at;
  }
  {
    Session remote;
    ASSERT_TRUE(remote.Open(url_, 0, kTimeoutMs));
    ReadAllFrames(remote.info());
  }
  const Cost whole = served();
  EXPECT_LE(double(whole.bytes), 1.2 * double(read)) << "whole read";
}

INSTANTIATE_TEST_SUITE_P(Peers, HttpSource, ::testing::Values(AudioKind::kMp3, AudioKind::kVorbis),
                         [](const ::testing::TestParamInfo<AudioKind>& p) {
                           return std::string(KindName(p.param));
                         });

}  // namespace
}  // namespace integ
