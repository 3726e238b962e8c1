// Files of the shapes players meet, made at run time by ffmpeg and ogmmerge,
// each read as players read it and held to the same invariants. A one-pass
// read (video and audio interleaved in one thread) gives every video frame as
// the source AVI holds it (against ffmpeg's framemd5), the frame currentFrame
// names; raw audio as the source's bytes to the last; Vorbis PCM within 60 dB
// of the reference decode. All the video then all the audio, all the audio
// then all the video, and two unpaced threads must each give exactly what the
// one-pass read gave. Percent, frame and chapter seeks land on the keyframe
// the header names and go on with the source's frames, the audio silent past
// its end. The host tool reading the video alone gets every frame, its peak
// memory under a limit. Crafted files that need no peer tools share that
// last check.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "host.h"
#include "md5.h"
#include "simple_ogm.h"

namespace {

using namespace integ;

enum class Audio { kMp3, kAc3, kPcm, kVorbis };
enum ShapeFlags : int {
  kAudioFirst = 1,  // audio named first on ogmmerge's command line (serial 0)
  kSubtitles = 2,   // a text stream as the third stream
  kChapters = 4,    // chapters at 0, 1/4, 1/2 and 3/4 of the video
  kNoisy = 8,       // a noisy 320x240 picture at 1.5 Mbit/s: large frames
};

struct Shape {
  const char* name;
  double videoSeconds;
  int gop;  // frames, at 25 fps
  Audio audio;
  double audioSeconds;
  int channels;
  int flags;
};

const Shape kShapes[] = {
    {"Vorbis ends early", 6, 25, Audio::kVorbis, 1, 2, 0},
    {"MP3 ends early", 6, 25, Audio::kMp3, 1, 2, 0},
    {"audio first", 4, 25, Audio::kVorbis, 4, 2, kAudioFirst},
    {"MP3 as long as the video", 4, 25, Audio::kMp3, 4, 2, 0},
    {"Vorbis as long as the video", 4, 25, Audio::kVorbis, 4, 2, kChapters},
    {"6-channel Vorbis", 3, 25, Audio::kVorbis, 3, 6, 0},
    {"40-channel Vorbis", 2, 25, Audio::kVorbis, 2, 40, 0},
    {"GOP of 10 s", 11, 250, Audio::kMp3, 11, 2, 0},
    {"subtitles as a third stream", 3, 25, Audio::kMp3, 3, 2, kSubtitles},
    // Audio that ends well before the video: seeks past its end.
    {"AC-3 mono 7.5 s in 30 s, audio first", 30, 50, Audio::kAc3, 7.5, 1, kAudioFirst | kChapters},
    {"MP3 5 s in 20 s", 20, 50, Audio::kMp3, 5, 2, kChapters},
    {"Vorbis 2 s in 8 s", 8, 25, Audio::kVorbis, 2, 2, kChapters},
    {"PCM 3 s in 12 s", 12, 50, Audio::kPcm, 3, 2, kChapters},
    // Audio that goes on after the video: percent seeks into its tail.
    {"PCM mono 12 s for 8 s of video", 8, 50, Audio::kPcm, 12, 1, kChapters},
    {"Vorbis mono 30 s for 20 s of video, GOP of 10 s", 20, 250, Audio::kVorbis, 30, 1, kChapters},
    // More than 1 MiB of one stream ahead of the other.
    {"PCM stereo 8 s, 1.4 MB", 8, 50, Audio::kPcm, 8, 2, 0},
    {"Vorbis stereo 30 s, GOP of 10 s, large frames", 30, 250, Audio::kVorbis, 30, 2,
     kNoisy | kChapters},
};

constexpr long kPeakRssLimitKiB = 24 * 1024;  // video-only reading by the host tool
constexpr int32_t kRawRequest = 4096;
constexpr int32_t kVorbisBuffer = 2000 + 8 * 8192;  // the bound the header promises
constexpr int kFramesAfterLanding = 25;

// Where a video frame begins in the OGM: the offset of its first page.
struct VideoPacket {
  size_t pageOffset;
  bool key;
};

struct Made {
  std::string ogm;
  size_t length = 0;
  Bytes rawAudio;  // raw audio: the bytes the track holds, in order
  std::vector<SourceFrame> frames;
  std::vector<VideoPacket> index;
  std::vector<ogmtest::Chapter> chapters;
  int vorbisSerial = -1;

  int LastKeyframe() const {
    for (size_t i = index.size(); i-- > 0;)
      if (index[i].key) return static_cast<int>(i);
    return 0;
  }
  // The header's landings: the first keyframe at or after a frame, the
  // first whose page starts at or after a percent's byte offset; past the
  // last keyframe the last keyframe.
  int KeyframeAtOrAfter(int frame) const {
    for (size_t i = std::max(frame, 0); i < index.size(); ++i)
      if (index[i].key) return static_cast<int>(i);
    return LastKeyframe();
  }
  int PercentLanding(int percent) const {
    const size_t offset = static_cast<size_t>(static_cast<int64_t>(length) * percent / 100);
    return KeyframeAtOrAfter(static_cast<int>(
        std::partition_point(index.begin(), index.end(),
                             [&](const VideoPacket& v) { return v.pageOffset < offset; }) -
        index.begin()));
  }
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

// The frames of the video stream (its packets after the two headers), each
// at the page its first byte is on, keyframes by their header byte.
std::vector<VideoPacket> IndexVideo(const Bytes& ogm, int32_t serial) {
  std::vector<VideoPacket> index;
  int packet = 0;
  bool open = false;  // a packet goes on onto the next page
  for (const ogmtest::PageInfo& page : ogmtest::ListPages(ogm)) {
    if (page.serial != serial) continue;
    const size_t segments = ogm[page.offset + 26];
    size_t body = page.offset + 27 + segments;
    for (size_t i = 0; i < segments; ++i) {
      const uint8_t lace = ogm[page.offset + 27 + i];
      if (!open && packet++ >= 2) index.push_back({page.offset, (ogm[body] & 0x08) != 0});
      body += lace;
      open = lace == 255;
    }
  }
  return index;
}

Made MakeShape(const ogmtest::TempDir& dir, const Shape& s) {
  Made m;
  const std::string avi = (s.flags & kNoisy)
                              ? ogmtest::MakePeerNoisyAvi(dir.path(), s.videoSeconds, 25, s.gop)
                              : ogmtest::MakePeerAvi(dir.path(), s.videoSeconds, 25, s.gop);
  std::string audio;
  switch (s.audio) {
    case Audio::kMp3:
      audio = ogmtest::MakePeerMp3(dir.path(), s.audioSeconds, 44100, s.channels);
      break;
    case Audio::kAc3:
      audio = ogmtest::MakePeerAc3(dir.path(), s.audioSeconds, 48000, s.channels);
      break;
    case Audio::kPcm:
      audio = ogmtest::MakePeerWav(dir.path(), s.audioSeconds, 44100, s.channels);
      break;
    case Audio::kVorbis:
      // ffmpeg's Vorbis encoder stops at 8 channels; libvorbis itself does not.
      audio = s.channels > 8
                  ? ogmtest::EncodeVorbis(dir.path(), "a.ogg", 44100, s.channels, s.audioSeconds)
                  : ogmtest::MakePeerVorbisOgg(dir.path(), s.audioSeconds, 44100, s.channels);
      m.vorbisSerial = (s.flags & kAudioFirst) ? 0 : 1;
      break;
  }
  if (avi.empty() || audio.empty()) return m;
  m.rawAudio = ogmtest::ReadBytes(audio);
  if (s.audio == Audio::kPcm) m.rawAudio.erase(m.rawAudio.begin(), m.rawAudio.begin() + 44);
  std::vector<std::string> inputs = {avi, audio};
  if (s.flags & kAudioFirst) std::swap(inputs[0], inputs[1]);
  if (s.flags & kSubtitles) {
    const std::string srt = dir.File("s.srt");
    const std::string text =
        "1\n00:00:00,500 --> 00:00:01,500\nOne\n\n2\n00:00:02,000 --> 00:00:02,500\nTwo\n";
    ogmtest::WriteBytes(srt, Bytes(text.begin(), text.end()));
    inputs.push_back(srt);
  }
  const std::string merged = ogmtest::MakePeerOgm(dir.path(), "shape.ogm", inputs);
  if (merged.empty()) return m;
  const int32_t videoSerial = (s.flags & kAudioFirst) ? 1 : 0;
  Bytes ogm = ogmtest::ReadBytes(merged);
  if (s.flags & kChapters) {
    // Whole fifths of a second: frames at 25 fps, seldom keyframes.
    for (int k = 0; k < 4; ++k)
      m.chapters.push_back({static_cast<int64_t>(s.videoSeconds * k / 4 * 5) * 200,
                            "Chapter " + std::to_string(k + 1)});
    ogm = ogmtest::SetChapters(ogm, m.chapters, videoSerial);
    if (!ogmtest::WriteBytes(merged, ogm)) return m;
  }
  m.ogm = merged;
  m.length = ogm.size();
  m.index = IndexVideo(ogm, videoSerial);
  m.frames = FramesOf(ogmtest::FrameMd5Lines(avi));
  return m;
}

// What one read got out of the reader.
struct Delivered {
  std::vector<std::pair<int32_t, std::string>> frames;  // currentFrame, md5
  Bytes audio;
  std::atomic<bool> badResult{false};
};

// One call into a buffer of the size the header promises suffices, with
// guard bytes after it (room for a whole extra batch) that must stay
// untouched. Returns the bytes delivered.
int32_t ReadAudioCall(Delivered& d, bool vorbis) {
  constexpr int32_t kGuard = 1 << 16;
  thread_local std::vector<uint8_t> buf(kVorbisBuffer + kGuard);
  std::fill(buf.begin() + kVorbisBuffer, buf.end(), 0xa5);
  const int32_t n = AVIDecaps_ReadAudio(buf.data(), vorbis ? 0 : kRawRequest);
  if (n < 0 || n > (vorbis ? kVorbisBuffer : kRawRequest) ||
      std::any_of(buf.begin() + kVorbisBuffer, buf.end(), [](uint8_t b) { return b != 0xa5; }))
    d.badResult = true;
  if (n <= 0) return 0;
  d.audio.insert(d.audio.end(), buf.begin(), buf.begin() + n);
  return n;
}

enum class Order { kInterleaved, kVideoFirst, kAudioFirst, kTwoThreads };

// Reads the whole source in one order. Two threads start a random 0-5 ms
// apart (seed), either one first.
void Play(Order order, bool vorbis, const StreamInfo& info, size_t largest, Delivered& d,
          unsigned seed) {
  std::vector<uint8_t> buf(std::max<size_t>(largest, 1));
  auto video = [&] {
    const int32_t n = AVIDecaps_NextVideoFrame(buf.data(), static_cast<int32_t>(buf.size()));
    if (n < -1) d.badResult = true;
    if (n >= 0) d.frames.emplace_back(info.currentFrame, cli::Md5::Hex(buf.data(), n));
    return n >= 0;
  };
  const std::function<void()> allVideo = [&] {
    while (video()) {
    }
  };
  const std::function<void()> allAudio = [&] {
    while (ReadAudioCall(d, vorbis) > 0) {
    }
  };
  switch (order) {
    case Order::kInterleaved: {
      bool moreVideo = true, moreAudio = true;
      while (moreVideo || moreAudio) {
        if (moreVideo) moreVideo = video();
        for (int k = 0; k < 2 && moreAudio; ++k) moreAudio = ReadAudioCall(d, vorbis) > 0;
      }
      break;
    }
    case Order::kVideoFirst:
      allVideo();
      allAudio();
      break;
    case Order::kAudioFirst:
      allAudio();
      allVideo();
      break;
    case Order::kTwoThreads: {
      std::mt19937 rng(seed);
      const bool audioStarts = rng() % 2 == 0;
      std::thread first(audioStarts ? allAudio : allVideo);
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 5000));
      std::thread second(audioStarts ? allVideo : allAudio);
      first.join();
      second.join();
      break;
    }
  }
}

// What a read gave that the one-pass read did not ("" when nothing).
std::string Difference(const Delivered& got, const Delivered& ref) {
  std::ostringstream out;
  if (got.frames != ref.frames) {
    const auto at =
        std::mismatch(got.frames.begin(), got.frames.end(), ref.frames.begin(), ref.frames.end());
    out << got.frames.size() << " of " << ref.frames.size() << " frames, the first difference at #"
        << at.first - got.frames.begin() << " (frame "
        << (at.first != got.frames.end() ? at.first->first : -1) << "). ";
  }
  if (got.audio != ref.audio)
    out << got.audio.size() << " of " << ref.audio.size()
        << " audio bytes, the first difference at "
        << std::mismatch(got.audio.begin(), got.audio.end(), ref.audio.begin(), ref.audio.end())
                   .first -
               got.audio.begin();
  return out.str();
}

// The one-pass read against the sources.
void ExpectTheSources(const Shape& s, const Made& m, const Delivered& d) {
  for (size_t i = 0; i < d.frames.size(); ++i) {
    const int32_t number = d.frames[i].first;
    ASSERT_TRUE(number >= 0 && number < static_cast<int32_t>(m.frames.size())) << number;
    ASSERT_EQ(d.frames[i].second, m.frames[number].md5) << "frame " << number;
    ASSERT_EQ(number, static_cast<int32_t>(i)) << "frames lost before it";
  }
  EXPECT_EQ(d.frames.size(), m.frames.size());
  if (s.audio != Audio::kVorbis) {
    EXPECT_TRUE(d.audio == m.rawAudio) << d.audio.size() << " bytes of " << m.rawAudio.size();
    return;
  }
  const ogmtest::DecodedPcm ref = ogmtest::DecodeVorbis(m.ogm, m.vorbisSerial);
  ASSERT_TRUE(ref.ok);
  const size_t n = std::min(ref.pcm.size(), d.audio.size()) / 2;
  EXPECT_LE(ref.pcm.size() - n * 2, static_cast<size_t>(4096 * ref.channels)) << "audio lost";
  EXPECT_GE(SnrDb(reinterpret_cast<const int16_t*>(ref.pcm.data()),
                  reinterpret_cast<const int16_t*>(d.audio.data()), n),
            60.0);
}

// Percent seeks 10..100, frame seeks (one just past the audio's end when it
// ends first) and every chapter, one after another as a player makes them.
// Each lands where the header says; the landing and the frames after it are
// the source's, read with the audio as a player reads it: some audio while
// the audio lasts, none past its end.
void ExpectSeeksLandRight(const Shape& s, const Made& m, size_t largest) {
  Session session;
  ASSERT_TRUE(session.Open(m.ogm));
  const StreamInfo& info = session.info();
  const int frameCount = static_cast<int>(m.frames.size());
  std::vector<uint8_t> buf(largest);
  auto land = [&](const std::string& what, int expected) {
    const int at = info.currentFrame;
    EXPECT_EQ(at, expected) << what << " landed on frame " << at;
    if (at < 0 || at >= frameCount) return at;
    Delivered d;
    for (int i = 0; i <= kFramesAfterLanding && at + i < frameCount; ++i) {
      const int32_t n = AVIDecaps_NextVideoFrame(buf.data(), static_cast<int32_t>(buf.size()));
      const std::string md5 = n >= 0 ? cli::Md5::Hex(buf.data(), n) : "";
      if (n < 0 || info.currentFrame != at + i || md5 != m.frames[at + i].md5) {
        const auto same = std::find_if(m.frames.begin(), m.frames.end(),
                                       [&](const SourceFrame& f) { return f.md5 == md5; });
        ADD_FAILURE() << what << ": " << i << " frame(s) after landing on " << at << " came "
                      << (n < 0 ? "the end" : "currentFrame " + std::to_string(info.currentFrame))
                      << " with the bytes of source frame " << same - m.frames.begin() << " ("
                      << m.frames.size() << ": none), not frame " << at + i;
        break;
      }
      ReadAudioCall(d, s.audio == Audio::kVorbis);
    }
    const double seconds = at / 25.0;
    if (seconds > s.audioSeconds + 0.5) {
      EXPECT_EQ(d.audio.size(), 0u) << what << ": audio past its end, at " << seconds << " s";
    }
    if (seconds + 1 < s.audioSeconds) {
      EXPECT_GT(d.audio.size(), 0u) << what << ": no audio at " << seconds << " s";
    }
    return at;
  };
  int previous = 0;
  for (int p = 10; p <= 100; p += 10) {
    const std::string what = "Seek(" + std::to_string(p) + ", 0)";
    AVIDecaps_Seek(p, 0);
    const int at = land(what, m.PercentLanding(p));
    EXPECT_GE(at, previous) << what << " went back before the landing of a smaller percent";
    previous = at;
  }
  std::vector<int> frames = {1, frameCount / 2 + 1, frameCount - 1};
  const int audioEnd = static_cast<int>(s.audioSeconds * 25);
  if (audioEnd + 1 < frameCount) frames.push_back(audioEnd + 1);
  for (int f : frames) {
    AVIDecaps_Seek(f, 1);
    land("Seek(" + std::to_string(f) + ", 1)", m.KeyframeAtOrAfter(f));
  }
  EXPECT_EQ(info.chapterCount, static_cast<int32_t>(m.chapters.size()));
  for (size_t c = 0; c < m.chapters.size(); ++c) {
    Table().seekChapter(static_cast<int32_t>(c));
    const int frame = static_cast<int>(m.chapters[c].startMs * 25 / 1000);
    land("chapter " + std::to_string(c) + " at " + std::to_string(frame),
         m.KeyframeAtOrAfter(frame));
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

void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

class Shapes : public ::testing::TestWithParam<Shape> {};

TEST_P(Shapes, EveryOrderGivesTheOnePassReadAndSeeksLandRight) {
  const std::string missing = PeerToolsMissing();
  if (!missing.empty()) GTEST_SKIP() << missing;
  const Shape& s = GetParam();
  ogmtest::TempDir dir("ogm-shape");
  const Made m = MakeShape(dir, s);
  ASSERT_FALSE(m.ogm.empty() || m.frames.empty()) << "ffmpeg or ogmmerge failed";
  ASSERT_EQ(m.index.size(), m.frames.size()) << "the OGM's video packets";
  size_t largest = 0;
  for (const SourceFrame& f : m.frames) largest = std::max(largest, f.size);
  const bool vorbis = s.audio == Audio::kVorbis;

  Session session;
  ASSERT_TRUE(session.Open(m.ogm));
  EXPECT_EQ(session.info().frameCount, static_cast<int32_t>(m.frames.size()));
  // A buffer too small for the first frame: reported, and the frame stays.
  uint8_t tiny[1];
  ASSERT_GT(m.frames[0].size, 1u);
  EXPECT_EQ(AVIDecaps_NextVideoFrame(tiny, 1), OGMDECAPS_FRAME_TOO_LARGE);
  Delivered ref;
  Play(Order::kInterleaved, vorbis, session.info(), largest, ref, 0);
  EXPECT_FALSE(ref.badResult);
  ExpectTheSources(s, m, ref);

  const unsigned seed = std::random_device()();
  const std::pair<Order, const char*> orders[] = {{Order::kVideoFirst, "all video, then audio"},
                                                  {Order::kAudioFirst, "all audio, then video"},
                                                  {Order::kTwoThreads, "two unpaced threads"}};
  for (const auto& order : orders) {
    ASSERT_TRUE(session.Open(m.ogm));
    Delivered d;
    Play(order.first, vorbis, session.info(), largest, d, seed);
    EXPECT_FALSE(d.badResult) << order.second;
    EXPECT_EQ(Difference(d, ref), "") << order.second << " (seed " << seed << ")";
  }
  session.Close();
  ExpectSeeksLandRight(s, m, largest);
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
