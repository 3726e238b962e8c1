// Hosts that call the entries in orders a careful host would not: after a
// close, twice in a row, open over an open source, with null buffers and
// extreme positions. Through the loaded library and the Ravel plug-in.
#include <climits>
#include <vector>

#include "host_library.h"
#include "peer_files.h"
#include "simple_ogm.h"

namespace {

class HostileSequence : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ogmtest::TempDir("hostile");
    ogmtest::SimpleOgmOptions o;
    o.frames = 100;
    o.gop = 10;
    o.audio = ogmtest::AudioKind::kRaw;
    o.chapters = {{0, "One"}, {2000, "Two"}};
    raw_ = o;
    ASSERT_TRUE(ogmtest::WriteBytes(dir_->File("raw.ogm"), ogmtest::MakeSimpleOgm(o).bytes));
    o.audio = ogmtest::AudioKind::kNone;
    ASSERT_TRUE(ogmtest::WriteBytes(dir_->File("video.ogm"), ogmtest::MakeSimpleOgm(o).bytes));
    o.audio = ogmtest::AudioKind::kVorbis;
    o.vorbisFile = ogmtest::EncodeVorbis(dir_->path(), "a.ogg", 22050, 2, 4.0);
    ASSERT_FALSE(o.vorbisFile.empty());
    ASSERT_TRUE(ogmtest::WriteBytes(dir_->File("vorbis.ogm"), ogmtest::MakeSimpleOgm(o).bytes));
  }
  static void TearDownTestSuite() { delete dir_; }
  void TearDown() override { lib_.t.close(); }

  // Every entry answers as with nothing open.
  void ExpectNothingOpen() {
    uint8_t buf[64];
    EXPECT_EQ(lib_.t.nextVideoFrame(buf, 0), -1);
    EXPECT_EQ(lib_.t.readAudio(buf, 64), 0);
    EXPECT_EQ(lib_.t.seek(50, 0), 0);
    EXPECT_EQ(lib_.t.seek(5, 1), 0);
    EXPECT_EQ(lib_.t.reSeekAudio(), 0);
    EXPECT_EQ(lib_.t.seekChapter(1), 0);
    lib_.t.closeIfStalled();
  }

  static ogmtest::TempDir* dir_;
  static ogmtest::SimpleOgmOptions raw_;
  HostLibrary lib_;
  std::vector<uint8_t> frame_ = std::vector<uint8_t>(1 << 16);
};
ogmtest::TempDir* HostileSequence::dir_ = nullptr;
ogmtest::SimpleOgmOptions HostileSequence::raw_;

TEST_F(HostileSequence, EntriesAfterCloseAndTwiceInARow) {
  StreamInfo* info = lib_.Open(dir_->File("raw.ogm"));
  ASSERT_NE(info, nullptr);
  EXPECT_GT(lib_.t.nextVideoFrame(frame_.data(), 0), 0);
  EXPECT_EQ(lib_.t.close(), 1);
  EXPECT_EQ(lib_.t.close(), 1);
  for (int round = 0; round < 2; ++round) ExpectNothingOpen();
  // The description stays readable after the close.
  EXPECT_EQ(info->frameCount, 100);
  EXPECT_EQ(info->width, raw_.width);
  ASSERT_EQ(lib_.Open(dir_->File("raw.ogm")), info);
  EXPECT_EQ(lib_.t.nextVideoFrame(frame_.data(), 0),
            static_cast<int32_t>(ogmtest::FrameSize(raw_, 0)));
}

TEST_F(HostileSequence, OpenOverAnOpenSourceAndAFailedOpen) {
  ASSERT_NE(lib_.Open(dir_->File("raw.ogm")), nullptr);
  for (int i = 0; i < 30; ++i) ASSERT_GT(lib_.t.nextVideoFrame(frame_.data(), 0), 0);
  // No close in between: the new source starts at its own first frame.
  ASSERT_NE(lib_.Open(dir_->File("raw.ogm")), nullptr);
  EXPECT_EQ(lib_.t.nextVideoFrame(frame_.data(), 0),
            static_cast<int32_t>(ogmtest::FrameSize(raw_, 0)));
  // A failed open closes what was open and leaves nothing open.
  EXPECT_EQ(lib_.Open(dir_->File("missing.ogm")), nullptr);
  ExpectNothingOpen();
  EXPECT_EQ(lib_.Open(dir_->File("missing.ogm")), nullptr);
  ExpectNothingOpen();
}

// A source without audio says so with totalAudioBytes 0; the audio words
// keep what the last source with audio wrote (the bitrate only changes for
// Vorbis), as hosts of the reader expect.
TEST_F(HostileSequence, AudioFieldsAcrossSources) {
  StreamInfo* info = lib_.Open(dir_->File("vorbis.ogm"));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->audioParamA, 2);
  EXPECT_EQ(info->audioParamB, 22050);
  const int32_t bitrate = info->audioBitrate;
  EXPECT_GT(bitrate, 0);
  ASSERT_NE(lib_.Open(dir_->File("video.ogm")), nullptr);
  EXPECT_EQ(info->totalAudioBytes, 0);
  EXPECT_EQ(info->audioFormat, 0);
  EXPECT_EQ(info->audioParamA, 2);
  EXPECT_EQ(info->audioParamB, 22050);
  EXPECT_EQ(info->audioBitrate, bitrate);
  ASSERT_NE(lib_.Open(dir_->File("raw.ogm")), nullptr);
  EXPECT_EQ(info->audioFormat, 0x55);
  EXPECT_EQ(info->audioParamB, raw_.audioChannels);
  EXPECT_EQ(info->audioBitrate, bitrate);  // raw audio has none of its own
}

TEST_F(HostileSequence, NullBuffersAndExtremeArguments) {
  StreamInfo* info = lib_.Open(dir_->File("raw.ogm"));
  ASSERT_NE(info, nullptr);
  uint8_t buf[64];
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(lib_.t.nextVideoFrame(nullptr, 0), -1);
    EXPECT_EQ(lib_.t.readAudio(nullptr, 64), 0);
    EXPECT_EQ(lib_.t.readAudio(buf, 0), 0);
    EXPECT_EQ(lib_.t.readAudio(buf, -1), 0);
    EXPECT_EQ(lib_.t.readAudio(buf, INT32_MIN), 0);
  }
  // Chapter indexes outside the list change nothing.
  EXPECT_EQ(lib_.t.nextVideoFrame(frame_.data(), 0),
            static_cast<int32_t>(ogmtest::FrameSize(raw_, 0)));
  for (int32_t index : {-1, 2, INT32_MAX, INT32_MIN}) {
    EXPECT_GE(lib_.t.seekChapter(index), 0);
    EXPECT_EQ(info->currentFrame, 0) << index;
  }
  EXPECT_EQ(lib_.t.nextVideoFrame(frame_.data(), 0),
            static_cast<int32_t>(ogmtest::FrameSize(raw_, 1)));
  // Every seek lands on a keyframe of the file (or at the start) and
  // reports audio within the source's total.
  const struct {
    int32_t position, byFrame;
  } seeks[] = {{INT32_MIN, 0}, {INT32_MAX, 0}, {-1, 0},  {101, 0}, {INT32_MIN, 1}, {INT32_MAX, 1},
               {-1, 1},        {99, 1},        {100, 1}, {50, -7}, {50, INT32_MIN}};
  for (const auto& s : seeks) {
    for (int round = 0; round < 2; ++round) {
      const int32_t r = lib_.t.seek(s.position, s.byFrame);
      EXPECT_GE(r, 0) << s.position << "," << s.byFrame;
      EXPECT_LE(r, info->totalAudioBytes) << s.position << "," << s.byFrame;
      const int32_t n = lib_.t.nextVideoFrame(frame_.data(), 0);
      ASSERT_GE(n, 5) << s.position << "," << s.byFrame;
      const int index = frame_[0] | frame_[1] << 8;
      EXPECT_TRUE(ogmtest::IsKeyframe(raw_, index)) << index;
      EXPECT_EQ(ogmtest::Bytes(frame_.begin(), frame_.begin() + n),
                ogmtest::FramePayload(raw_, index));
    }
  }
  EXPECT_EQ(lib_.t.reSeekAudio(), lib_.t.reSeekAudio());
}

}  // namespace
