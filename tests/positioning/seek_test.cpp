// Seeking by percent and by frame, the rewinds, and audio re-alignment.
#include "seek_helpers.h"

using ogmtest::Bytes;

namespace {

ogmtest::SimpleOgmOptions RawFile() {
  ogmtest::SimpleOgmOptions o;
  o.frames = 750;  // 30 s
  o.gop = 50;
  o.minFrameBytes = 200;
  o.maxFrameBytes = 900;
  o.audio = ogmtest::AudioKind::kRaw;
  return o;
}

class SeekTest : public ReaderTest {
 protected:
  void SetUp() override {
    file_ = ogmtest::MakeSimpleOgm(options_);
    ASSERT_EQ(OpenBytes(file_.bytes), 1);
  }

  // After a seek, raw audio continues at a packet boundary at or after the
  // keyframe's time.
  void ExpectAudioAligned() {
    EXPECT_GE(gReader.audioTime, gReader.videoTime);
    std::vector<uint8_t> buf(64);
    ASSERT_EQ(ReadAudioEntry(buf.data(), 64), 64);
    bool found = false;
    for (const auto& p : file_.audioPackets) {
      if (buf == ogmtest::RawAudio(p.byteOffset, 64)) {
        found = true;
        // At or after the keyframe, by less than one packet.
        const int64_t start = p.startSample * 10000000LL / options_.audioRate;
        EXPECT_GE(start, gReader.videoTime - 10000000 / 25);
        EXPECT_LT(start, gReader.videoTime +
                             options_.audioSamplesPerPacket * 10000000LL / options_.audioRate);
        break;
      }
    }
    EXPECT_TRUE(found) << "audio after the seek does not start a packet";
  }

  ogmtest::SimpleOgmOptions options_ = RawFile();
  ogmtest::SimpleOgm file_;
};

TEST_F(SeekTest, PercentSeeksLandOnKeyframes) {
  for (int p = 10; p <= 90; p += 10) {
    SCOPED_TRACE(p);
    const int32_t remaining = SeekEntry(p, 0);
    EXPECT_EQ(remaining, ExpectedRemaining(*info_, options_.audioAvgBytesPerSecond));
    ExpectAudioAligned();
    ExpectKeyframeThenOrder(options_, 60);
  }
}

TEST_F(SeekTest, FrameSeeksLandOnTheFirstKeyframeAtOrAfterTheFrame) {
  // Keyframes every 50 frames, the last at 700 of 750.
  for (int n : {1, 100, 120, 333, 500, 650, 651, 699, 700, 701, 749}) {
    SCOPED_TRACE(n);
    SeekEntry(n, 1);
    EXPECT_EQ(info_->currentFrame, n > 700 ? 700 : (n + 49) / 50 * 50);
    ExpectAudioAligned();
    ExpectKeyframeThenOrder(options_, 30);
  }
}

TEST_F(SeekTest, FirstSeekOffsetIsThePercentOfTheLength) {
  SeekEntry(50, 0);
  EXPECT_EQ(ogmtest::MemoryInputStats().lastSeekOffset,
            static_cast<int64_t>(file_.bytes.size()) * 50 / 100);
}

TEST_F(SeekTest, StartRewindsAndTheEndLandsOnTheLastKeyframe) {
  struct {
    int32_t position, byFrame, frame;
  } cases[] = {{0, 0, 0},     {0, 1, 0},     {-20, 0, 0},    {-3, 1, 0},
               {100, 0, 700}, {750, 1, 700}, {5000, 1, 700}, {250, 0, 700}};
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << c.position << "/" << c.byFrame);
    SeekEntry(40, 0);  // somewhere else first
    const int32_t r = SeekEntry(c.position, c.byFrame);
    EXPECT_EQ(info_->currentFrame, c.frame);
    if (c.frame != 0) {
      ExpectAudioAligned();
      ExpectKeyframeThenOrder(options_, 10);
      continue;
    }
    EXPECT_EQ(r, info_->totalAudioBytes);
    EXPECT_EQ(gReader.pendingVideoBytes, 0);
    EXPECT_EQ(gReader.videoTime, 0);
    EXPECT_EQ(gReader.audioTime, 0);
    EXPECT_EQ(ogmtest::MemoryInputStats().lastSeekOffset, 0);
    ExpectKeyframeThenOrder(options_, 3);
    // The audio starts again from its first byte.
    std::vector<uint8_t> buf(100);
    ASSERT_EQ(ReadAudioEntry(buf.data(), 100), 100);
  }
}

TEST_F(SeekTest, ReSeekAudioCatchesUpWithTheVideo) {
  std::vector<uint8_t> frame(1 << 16);
  for (int i = 0; i < 300; ++i) ASSERT_GT(NextVideoFrameEntry(frame.data()), 0);
  const int32_t remaining = ReSeekAudioEntry();
  EXPECT_GE(gReader.audioTime, gReader.videoTime);
  EXPECT_EQ(remaining, ExpectedRemaining(*info_, options_.audioAvgBytesPerSecond));
  // The video goes on where it was.
  ASSERT_GT(NextVideoFrameEntry(frame.data()), 0);
  EXPECT_EQ(info_->currentFrame, 300);
  // Already aligned: nothing more is read.
  const int64_t reads = ogmtest::MemoryInputStats().reads;
  EXPECT_GT(ReSeekAudioEntry(), 0);
  EXPECT_EQ(ogmtest::MemoryInputStats().reads, reads);
}

TEST_F(ReaderTest, SeekWithoutAudioReadsNoAudio) {
  ogmtest::SimpleOgmOptions o = RawFile();
  o.audio = ogmtest::AudioKind::kNone;
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  EXPECT_EQ(SeekEntry(50, 0), 0);
  EXPECT_EQ(gReader.audioTime, -1);
  ExpectKeyframeThenOrder(o, 10);
}

TEST_F(ReaderTest, AudioEndingBeforeTheVideoRewinds) {
  ogmtest::SimpleOgmOptions o = RawFile();
  o.audioSeconds = 5;  // the audio stops long before the video
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  EXPECT_EQ(SeekEntry(70, 0), info_->totalAudioBytes);
  EXPECT_EQ(info_->currentFrame, 0);
  // Re-aligning where the audio has ended reports 0.
  std::vector<uint8_t> frame(1 << 16);
  for (int i = 0; i < 400; ++i) ASSERT_GT(NextVideoFrameEntry(frame.data()), 0);
  EXPECT_EQ(ReSeekAudioEntry(), 0);
}

TEST_F(ReaderTest, HeldKeyframeLargerThanTheFixedBuffer) {
  ogmtest::SimpleOgmOptions o = RawFile();
  o.audio = ogmtest::AudioKind::kNone;
  o.largeFrames = {400, 450};  // keyframes of more than 48000 bytes
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  SeekEntry(390, 1);
  // 400, or 450 if 400 was not the last frame completed on its page.
  EXPECT_TRUE(info_->currentFrame == 400 || info_->currentFrame == 450) << info_->currentFrame;
  EXPECT_GT(gReader.pendingVideoBytes, kPendingFrameBytes);
  ExpectKeyframeThenOrder(o, 5);
  EXPECT_EQ(gReader.pendingVideoFrame.heap, nullptr);  // returned once handed out
  // Also when a seek ends at the start before the frame was handed out.
  SeekEntry(390, 1);
  ASSERT_NE(gReader.pendingVideoFrame.heap, nullptr);
  SeekEntry(0, 0);
  EXPECT_EQ(gReader.pendingVideoFrame.heap, nullptr);
}

}  // namespace
