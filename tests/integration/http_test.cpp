// The same peer files read through URLs, served by nginx on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <memory>

#include "host.h"

extern char** environ;

namespace integ {
namespace {

bool Connects(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

int UnusedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  close(fd);
  return ntohs(a.sin_port);
}

// nginx in the foreground as our child, serving one folder on 127.0.0.1.
class Nginx {
 public:
  explicit Nginx(const std::string& root) {
    const std::string& d = dir_.path();
    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
      port_ = UnusedPort();
      std::ofstream(d + "/nginx.conf")
          << "daemon off; master_process off; worker_processes 1; pid " << d << "/nginx.pid;\n"
          << "error_log " << d << "/error.log; events { worker_connections 64; }\n"
          << "http { access_log off; client_body_temp_path " << d << "; proxy_temp_path " << d
          << "; fastcgi_temp_path " << d << "; uwsgi_temp_path " << d << "; scgi_temp_path " << d
          << ";\n"
          << " server { listen 127.0.0.1:" << port_ << "; root " << root << "; } }\n";
      const std::string conf = d + "/nginx.conf", err = d + "/error.log";
      const char* argv[] = {"nginx",   "-e", err.c_str(),  "-p",
                            d.c_str(), "-c", conf.c_str(), nullptr};
      pid_t pid;
      if (posix_spawnp(&pid, "nginx", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return;
      for (int wait = 0; wait < 150 && !Connects(port_); ++wait) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
          pid = -1;
          break;
        }
        usleep(20000);
      }
      if (pid > 0 && Connects(port_)) {
        pid_ = pid;
      } else if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
  }
  ~Nginx() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool running() const { return pid_ > 0; }
  std::string Url(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
  }

 private:
  ogmtest::TempDir dir_{"ogm-nginx"};
  int port_ = 0;
  pid_t pid_ = -1;
};

class HttpSource : public ::testing::TestWithParam<AudioKind> {
 protected:
  static void SetUpTestSuite() {
    if (!PeerToolsMissing().empty()) return;
    const PeerFile& p = Peer(AudioKind::kMp3);
    Peer(AudioKind::kVorbis);
    if (!p.path.empty()) server_ = new Nginx(p.path.substr(0, p.path.rfind('/')));
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
    ASSERT_TRUE(server_ != nullptr && server_->running()) << "nginx did not start";
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
  // No duration scan over the network: the frame count is the default.
  EXPECT_EQ(info.frameCount, 250000);
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
  // The frame count is an estimate here: progress stays far below 100.
  EXPECT_NEAR(AVIDecaps_GetProgress(), 100.0 * (source.size() - 1) / 250000.0, 1e-9);

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
    const double seconds = static_cast<double>(250000 - cf) / info.framesPerSecond;
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
