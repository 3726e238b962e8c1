// Files of the shapes players meet, made at run time by ffmpeg and ogmmerge,
// each read by a host pattern and held to the same invariants: every video
// frame delivered is the source AVI's frame that currentFrame names (byte
// for byte, against ffmpeg's framemd5), and all of them when the host reads
// the video; raw audio is the source's bytes to the last; Vorbis PCM is the
// reference decode within 60 dB; frameCount is the AVI's; and the host tool
// reading the video alone gets every frame, its peak memory under a limit.
// Crafted files that need no peer tools share the last check.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "host.h"
#include "md5.h"
#include "simple_ogm.h"

namespace {

using namespace integ;

enum class Audio { kMp3, kVorbis };
enum class HostPattern { kInterleaved, kAudioThenVideo, kTwoThreads };

struct Shape {
  const char* name;
  double videoSeconds;
  int gop;  // frames, at 25 fps
  Audio audio;
  double audioSeconds;
  int channels;
  bool audioFirst;  // named first on ogmmerge's command line (serial 0)
  bool subtitles;   // a text stream as the third stream
  HostPattern host;
};

const Shape kShapes[] = {
    {"Vorbis ends early", 6, 25, Audio::kVorbis, 1, 2, false, false, HostPattern::kInterleaved},
    {"MP3 ends early", 6, 25, Audio::kMp3, 1, 2, false, false, HostPattern::kInterleaved},
    {"audio first", 4, 25, Audio::kVorbis, 4, 2, true, false, HostPattern::kInterleaved},
    {"all audio then all video", 4, 25, Audio::kMp3, 4, 2, false, false,
     HostPattern::kAudioThenVideo},
    {"two unpaced threads", 4, 25, Audio::kVorbis, 4, 2, false, false, HostPattern::kTwoThreads},
    {"6-channel Vorbis", 3, 25, Audio::kVorbis, 3, 6, false, false, HostPattern::kInterleaved},
    {"40-channel Vorbis", 2, 25, Audio::kVorbis, 2, 40, false, false, HostPattern::kInterleaved},
    {"GOP of 10 s", 11, 250, Audio::kMp3, 11, 2, false, false, HostPattern::kInterleaved},
    {"subtitles as a third stream", 3, 25, Audio::kMp3, 3, 2, false, true,
     HostPattern::kTwoThreads},
};

constexpr long kPeakRssLimitKiB = 24 * 1024;  // video-only reading by the host tool
constexpr int32_t kRawRequest = 4096;
constexpr int32_t kVorbisBuffer = 2000 + 8 * 8192;  // the bound the header promises

struct Made {
  std::string ogm, audio;
  std::vector<SourceFrame> frames;
  int vorbisSerial = -1;
};

// Size and MD5 of each frame line of framemd5 output (ffmpeg's or the host's).
std::vector<SourceFrame> FramesOf(const std::vector<std::string>& lines) {
  std::vector<SourceFrame> frames;
  for (const std::string& line : lines) {
    std::vector<std::string> f;
    std::istringstream in(line);
    for (std::string x; std::getline(in, x, ',');) f.push_back(x.substr(x.find_first_not_of(' ')));
    if (line[0] != '#' && f.size() == 6) frames.push_back({std::stoul(f[4]), f[5], false});
  }
  return frames;
}

Made MakeShape(const ogmtest::TempDir& dir, const Shape& s) {
  Made m;
  const std::string avi = ogmtest::MakePeerAvi(dir.path(), s.videoSeconds, 25, s.gop);
  if (s.audio == Audio::kMp3) {
    m.audio = ogmtest::MakePeerMp3(dir.path(), s.audioSeconds, 44100, s.channels);
  } else if (s.channels > 8) {
    // ffmpeg's Vorbis encoder stops at 8 channels; libvorbis itself does not.
    m.audio = ogmtest::EncodeVorbis(dir.path(), "a.ogg", 44100, s.channels, s.audioSeconds);
  } else {
    m.audio = ogmtest::MakePeerVorbisOgg(dir.path(), s.audioSeconds, 44100, s.channels);
  }
  if (avi.empty() || m.audio.empty()) return m;
  std::vector<std::string> inputs = {avi, m.audio};
  if (s.audioFirst) std::swap(inputs[0], inputs[1]);
  if (s.audio == Audio::kVorbis) m.vorbisSerial = s.audioFirst ? 0 : 1;
  if (s.subtitles) {
    const std::string srt = dir.File("s.srt");
    const std::string text =
        "1\n00:00:00,500 --> 00:00:01,500\nOne\n\n2\n00:00:02,000 --> 00:00:02,500\nTwo\n";
    ogmtest::WriteBytes(srt, Bytes(text.begin(), text.end()));
    inputs.push_back(srt);
  }
  m.ogm = ogmtest::MakePeerOgm(dir.path(), "shape.ogm", inputs);
  m.frames = FramesOf(ogmtest::FrameMd5Lines(avi));
  return m;
}

// What one host pattern got out of the reader.
struct Delivered {
  std::vector<std::pair<int32_t, std::string>> frames;  // currentFrame, md5
  Bytes audio;
  std::atomic<bool> badResult{false};
};

// One call into a buffer of the size the header promises suffices, with
// guard bytes after it (room for a whole extra batch) that must stay
// untouched.
bool ReadAudioCall(Delivered& d, bool vorbis) {
  constexpr int32_t kGuard = 1 << 16;
  thread_local std::vector<uint8_t> buf(kVorbisBuffer + kGuard);
  std::fill(buf.begin() + kVorbisBuffer, buf.end(), 0xa5);
  const int32_t n = AVIDecaps_ReadAudio(buf.data(), vorbis ? 0 : kRawRequest);
  if (n < 0 || n > (vorbis ? kVorbisBuffer : kRawRequest) ||
      std::any_of(buf.begin() + kVorbisBuffer, buf.end(), [](uint8_t b) { return b != 0xa5; }))
    d.badResult = true;
  if (n <= 0) return false;
  d.audio.insert(d.audio.end(), buf.begin(), buf.begin() + n);
  return true;
}

void Play(const Shape& s, const StreamInfo& info, size_t largest, Delivered& d) {
  const bool vorbis = s.audio == Audio::kVorbis;
  std::vector<uint8_t> buf(std::max<size_t>(largest, 1));
  auto video = [&](bool* more) {
    const int32_t n = AVIDecaps_NextVideoFrame(buf.data(), static_cast<int32_t>(buf.size()));
    *more = n >= 0;
    if (n < -1) d.badResult = true;
    if (n >= 0) d.frames.emplace_back(info.currentFrame, cli::Md5::Hex(buf.data(), n));
  };
  bool moreVideo = true, moreAudio = true;
  switch (s.host) {
    case HostPattern::kInterleaved:
      while (moreVideo || moreAudio) {
        if (moreVideo) video(&moreVideo);
        for (int k = 0; k < 2 && moreAudio; ++k) moreAudio = ReadAudioCall(d, vorbis);
      }
      break;
    case HostPattern::kAudioThenVideo:
      while (ReadAudioCall(d, vorbis)) {
      }
      while (moreVideo) video(&moreVideo);
      break;
    case HostPattern::kTwoThreads: {
      std::thread audio([&] {
        while (ReadAudioCall(d, vorbis)) {
        }
      });
      while (moreVideo) video(&moreVideo);
      audio.join();
      break;
    }
  }
}

// The host tool printing the video's frame MD5s: its peak resident memory
// (KiB, -1 when it failed) and the size and MD5 of each frame it printed.
// GNU time starts it: a process's peak as wait4 reports it includes what it
// had before its exec, and a fork of this test can hold far more than the
// host ever does.
struct HostRun {
  long peakKiB = -1;
  std::vector<SourceFrame> frames;
};

HostRun VideoOnlyThroughHost(const ogmtest::TempDir& dir, const std::string& ogm) {
  HostRun r;
  const std::string out = dir.File("framemd5.txt"), peak = dir.File("peak.txt");
  const pid_t pid = fork();
  if (pid == 0) {
    const int file = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_WRONLY);
    dup2(file, 1);
    dup2(null, 2);
    execl("/usr/bin/time", "/usr/bin/time", "-f", "%M", "-o", peak.c_str(), OGMDECAPS_CLI_PATH,
          "--library", OGMDECAPS_LIBRARY_PATH, "framemd5", ogm.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return r;
  const Bytes kib = ogmtest::ReadBytes(peak);
  r.peakKiB = std::atol(std::string(kib.begin(), kib.end()).c_str());
  const Bytes text = ogmtest::ReadBytes(out);
  std::istringstream in(std::string(text.begin(), text.end()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  r.frames = FramesOf(lines);
  return r;
}

// Every frame of the file, right, from a host that reads the video alone,
// within the memory limit (not measured under the sanitizers, whose shadow
// memory dwarfs the reader's).
void ExpectVideoOnlyHostReadsAll(const ogmtest::TempDir& dir, const std::string& ogm,
                                 const std::vector<SourceFrame>& frames, long limitKiB) {
  const HostRun run = VideoOnlyThroughHost(dir, ogm);
  ASSERT_GT(run.peakKiB, 0) << "the host (or /usr/bin/time, from scripts/deps) failed";
  ASSERT_EQ(run.frames.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(run.frames[i].size, frames[i].size) << "frame " << i;
    ASSERT_EQ(run.frames[i].md5, frames[i].md5) << "frame " << i;
  }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LE(run.peakKiB, limitKiB);
#else
  (void)limitKiB;
#endif
}

class Shapes : public ::testing::TestWithParam<Shape> {};

TEST_P(Shapes, EveryFrameAndAllAudioComeOutAsTheSourcesHoldThem) {
  const std::string missing = PeerToolsMissing();
  if (!missing.empty()) GTEST_SKIP() << missing;
  const Shape& s = GetParam();
  ogmtest::TempDir dir("ogm-shape");
  const Made m = MakeShape(dir, s);
  ASSERT_FALSE(m.ogm.empty() || m.frames.empty()) << "ffmpeg or ogmmerge failed";
  size_t largest = 0;
  for (const SourceFrame& f : m.frames) largest = std::max(largest, f.size);

  Session session;
  ASSERT_TRUE(session.Open(m.ogm));
  const StreamInfo& info = session.info();
  EXPECT_EQ(info.frameCount, static_cast<int32_t>(m.frames.size()));
  // A buffer too small for the first frame: reported, and the frame stays.
  uint8_t tiny[1];
  ASSERT_GT(m.frames[0].size, 1u);
  EXPECT_EQ(AVIDecaps_NextVideoFrame(tiny, 1), OGMDECAPS_FRAME_TOO_LARGE);
  Delivered d;
  Play(s, info, largest, d);
  EXPECT_FALSE(d.badResult);

  // Video: each frame is the one currentFrame names; all of them unless
  // nobody read the video while the audio was read to its end.
  ASSERT_FALSE(d.frames.empty());
  for (size_t i = 0; i < d.frames.size(); ++i) {
    const int32_t number = d.frames[i].first;
    ASSERT_TRUE(number >= 0 && number < static_cast<int32_t>(m.frames.size())) << number;
    ASSERT_EQ(d.frames[i].second, m.frames[number].md5) << "frame " << number;
    if (i > 0) {
      ASSERT_GT(number, d.frames[i - 1].first);
    }
  }
  EXPECT_EQ(d.frames.back().first + 1, static_cast<int32_t>(m.frames.size()));
  if (s.host != HostPattern::kAudioThenVideo) {
    EXPECT_EQ(d.frames.size(), m.frames.size());
  }

  // Audio.
  if (s.audio == Audio::kMp3) {
    EXPECT_TRUE(d.audio == ogmtest::ReadBytes(m.audio))
        << d.audio.size() << " bytes of " << ogmtest::ReadBytes(m.audio).size();
  } else {
    const ogmtest::DecodedPcm ref = ogmtest::DecodeVorbis(m.ogm, m.vorbisSerial);
    ASSERT_TRUE(ref.ok);
    const size_t n = std::min(ref.pcm.size(), d.audio.size()) / 2;
    EXPECT_LE(ref.pcm.size() - n * 2, static_cast<size_t>(4096 * ref.channels)) << "audio lost";
    EXPECT_GE(SnrDb(reinterpret_cast<const int16_t*>(ref.pcm.data()),
                    reinterpret_cast<const int16_t*>(d.audio.data()), n),
              60.0);
  }
  session.Close();
  ExpectVideoOnlyHostReadsAll(dir, m.ogm, m.frames, kPeakRssLimitKiB);
}

// 60,000 pages of empty audio packets (255 to a page, no body bytes) between
// two video frames: what libogg keeps per lacing value of the stream nobody
// reads must be dropped like its body bytes.
TEST(ShapesCrafted, SixtyThousandPagesOfEmptyAudioPacketsBetweenTwoFrames) {
  ogmtest::TempDir dir("ogm-shape");
  ogmtest::SimpleOgmOptions o;
  o.frames = 4;
  const std::string ogm = dir.File("pages.ogm");
  ASSERT_TRUE(ogmtest::WriteBytes(ogm, ogmtest::MakeEmptyAudioPagesOgm(o, 60000)));
  std::vector<SourceFrame> frames;
  for (int i = 0; i < o.frames; ++i) {
    const Bytes payload = ogmtest::FramePayload(o, i);
    frames.push_back({payload.size(), cli::Md5::Hex(payload.data(), payload.size()), false});
  }
  ExpectVideoOnlyHostReadsAll(dir, ogm, frames, 32 * 1024);
}

INSTANTIATE_TEST_SUITE_P(Matrix, Shapes, ::testing::ValuesIn(kShapes),
                         [](const ::testing::TestParamInfo<Shape>& p) {
                           std::string n = p.param.name;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

}  // namespace
