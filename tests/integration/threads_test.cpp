// A player reads video and audio on threads of their own, and may seek
// from a third. Each reader must get what it would get reading alone.
#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "host.h"
#include "md5.h"

namespace integ {
namespace {

class ConcurrentReading : public ::testing::TestWithParam<AudioKind> {
 protected:
  void SetUp() override {
    const std::string missing = PeerToolsMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    peer_ = &Peer(GetParam());
    ASSERT_FALSE(peer_->path.empty());
  }

  // One audio call: raw requests of 4096 bytes, or one Vorbis batch.
  int32_t ReadAudio(std::vector<uint8_t>& buf) const {
    return AVIDecaps_ReadAudio(buf.data(), static_cast<int32_t>(buf.size()));
  }
  std::vector<uint8_t> AudioBuffer() const {
    return std::vector<uint8_t>(peer_->audio == AudioKind::kVorbis ? PcmBufferBytes(*peer_) : 4096);
  }

  // All the audio of the source read alone.
  Bytes SequentialAudio() {
    Session s;
    EXPECT_TRUE(s.Open(peer_->path));
    std::vector<uint8_t> buf = AudioBuffer();
    Bytes all;
    for (int32_t n; (n = ReadAudio(buf)) > 0;) all.insert(all.end(), buf.begin(), buf.begin() + n);
    return all;
  }

  const PeerFile* peer_ = nullptr;
};

TEST_P(ConcurrentReading, VideoAndAudioThreadsGetWhatSequentialReadingGets) {
  const Bytes alone = SequentialAudio();
  ASSERT_FALSE(alone.empty());
  if (peer_->audio != AudioKind::kVorbis) {
    // Read alone, raw audio is the source stream (see the audio tests).
    ASSERT_LE(alone.size(), peer_->raw.bytes.size());
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), peer_->raw.bytes.begin()));
  }

  Session session;
  ASSERT_TRUE(session.Open(peer_->path));
  std::vector<DeliveredFrame> frames;
  Bytes audio;
  std::thread video([&] { frames = ReadAllFrames(session.info(), 100000); });
  std::thread sound([&] {
    std::vector<uint8_t> buf = AudioBuffer();
    for (int32_t n; (n = ReadAudio(buf)) > 0;)
      audio.insert(audio.end(), buf.begin(), buf.begin() + n);
  });
  video.join();
  sound.join();

  const auto& source = Video().frames;
  ASSERT_EQ(frames.size(), source.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(frames[i].size, static_cast<int32_t>(source[i].size)) << "frame " << i;
    ASSERT_EQ(frames[i].md5, source[i].md5) << "frame " << i;
  }
  EXPECT_EQ(audio.size(), alone.size());
  EXPECT_TRUE(audio == alone) << "audio read beside the video differs from audio read alone";
}

TEST_P(ConcurrentReading, SeeksFromAThirdThreadLeaveBothReadersWorking) {
  const auto& source = Video().frames;
  std::set<std::string> known;
  for (const auto& f : source) known.insert(f.md5);

  Session session;
  ASSERT_TRUE(session.Open(peer_->path));
  const StreamInfo& info = session.info();
  std::atomic<bool> seeksDone{false};
  std::atomic<int> strangeFrames{0};
  std::atomic<int> framesRead{0};
  std::atomic<long> audioBytes{0};
  std::vector<std::string> tail;  // md5 of the frames after the last seek
  int32_t lastFrameNumber = -1;

  std::thread video([&] {
    std::vector<uint8_t> buf = FrameBuffer();
    for (int calls = 0; calls < 20000; ++calls) {
      const bool done = seeksDone.load();
      const int32_t n = AVIDecaps_NextVideoFrame(buf.data(), 0);
      if (n < 0) {
        if (done) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      ++framesRead;
      const std::string md5 = cli::Md5::Hex(buf.data(), static_cast<size_t>(n));
      if (!known.count(md5)) ++strangeFrames;
      if (done) {
        tail.push_back(md5);
        lastFrameNumber = info.currentFrame;
      }
      if (calls % 8 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::thread sound([&] {
    std::vector<uint8_t> buf = AudioBuffer();
    for (int calls = 0; calls < 100000; ++calls) {
      const bool done = seeksDone.load();
      const int32_t n = ReadAudio(buf);
      if (n == 0) {
        if (done) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      audioBytes += n;
      if (calls % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::thread seeker([&] {
    const ReaderFunctions& t = Table();
    auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(15)); };
    pause();
    AVIDecaps_Seek(60, 0);
    pause();
    t.seekChapter(1);
    pause();
    AVIDecaps_Seek(200, 1);
    pause();
    AVIDecaps_Seek(0, 0);
    seeksDone = true;
  });
  seeker.join();
  video.join();
  sound.join();

  EXPECT_EQ(strangeFrames.load(), 0) << "frames that are none of the source's";
  EXPECT_GT(framesRead.load(), 0);
  EXPECT_GT(audioBytes.load(), 0);
  // After the last seek (to the start) the video went on to the end.
  ASSERT_FALSE(tail.empty());
  EXPECT_EQ(tail.back(), source.back().md5);
  EXPECT_EQ(lastFrameNumber, info.frameCount - 1);
}

INSTANTIATE_TEST_SUITE_P(Peers, ConcurrentReading,
                         ::testing::Values(AudioKind::kMp3, AudioKind::kVorbis),
                         [](const ::testing::TestParamInfo<AudioKind>& p) {
                           return std::string(KindName(p.param));
                         });

}  // namespace
}  // namespace integ
