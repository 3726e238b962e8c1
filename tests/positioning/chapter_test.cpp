// Chapter navigation: landing near the chapter, stepping back when the byte
// estimate lands late, and inputs that cannot be satisfied.
#include "seek_helpers.h"

using ogmtest::Bytes;

namespace {

constexpr int kFps = 25;

ogmtest::SimpleOgmOptions ChapterFile() {
  ogmtest::SimpleOgmOptions o;
  o.frames = 1500;  // 60 s
  o.gop = 25;
  o.minFrameBytes = 100;
  o.maxFrameBytes = 300;
  o.chapters = {{0, "Start"}, {12400, "One"}, {2999, "Two"}, {47040, "Three"}};
  return o;
}

// A chapter seek lands on the first keyframe at or after the chapter's frame
// (milliseconds count), or on the last keyframe when none follows.
void ExpectKeyframeNear(const ogmtest::SimpleOgmOptions& o, int64_t ms) {
  const int target = static_cast<int>((ms * kFps + 999) / 1000);
  int first = target;
  while (first < o.frames && !ogmtest::IsKeyframe(o, first)) ++first;
  if (first == o.frames)
    for (first = o.frames - 1; !ogmtest::IsKeyframe(o, first); --first) {
    }
  EXPECT_EQ(gReader.info.currentFrame, first) << "chapter at " << ms << " ms";
  ExpectKeyframeThenOrder(o, 10);
}

TEST_F(ReaderTest, EveryChapterLandsOnItsFirstKeyframe) {
  const ogmtest::SimpleOgmOptions o = ChapterFile();
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  ASSERT_EQ(info_->chapterCount, 4);
  for (int k = 3; k >= 0; --k) {
    SCOPED_TRACE(k);
    SeekChapterEntry(k);
    ExpectKeyframeNear(o, o.chapters[k].startMs);
  }
  // Chapter 0 at 00:00:00 is the start of the source.
  EXPECT_EQ(SeekChapterEntry(0), info_->totalAudioBytes);
  EXPECT_EQ(gReader.videoTime, 0);
}

TEST_F(ReaderTest, StepsBackWhenTheEstimateLandsLate) {
  // Small frames in the first half, big ones after: a chapter early in the
  // file lies at a far smaller share of the bytes than of the time, so the
  // first estimate lands long after it.
  ogmtest::SimpleOgmOptions o = ChapterFile();
  for (int i = 750; i < 1500; ++i) o.largeFrames.insert(i);
  o.largeFrameBytes = 3000;
  o.chapters = {{1000, "a"}, {10000, "b"}};
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  const int64_t seeksBefore = ogmtest::MemoryInputStats().seeks;
  SeekChapterEntry(1);
  ExpectKeyframeNear(o, 10000);
  EXPECT_GT(ogmtest::MemoryInputStats().seeks - seeksBefore, 1);  // it stepped back
}

TEST_F(ReaderTest, ChapterSeeksBetweenSparseKeyframesReadLittle) {
  // 20 s, a keyframe every 4 s, about 0.75 MB; chapters 1 to 3 s before a
  // keyframe, one a millisecond before a second ends, one past the last
  // keyframe.
  for (auto audio : {ogmtest::AudioKind::kNone, ogmtest::AudioKind::kRaw}) {
    ogmtest::SimpleOgmOptions o = ChapterFile();
    o.frames = 500;
    o.gop = 100;
    o.minFrameBytes = 1200;
    o.maxFrameBytes = 1800;
    o.audio = audio;
    o.chapters = {{0, "a"}, {2999, "b"}, {5000, "c"}, {13000, "d"}, {15000, "e"}, {19000, "f"}};
    ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
    for (int k : {3, 1, 2, 5, 4}) {
      SCOPED_TRACE(k);
      const int64_t read = ogmtest::MemoryInputStats().bytesRead;
      SeekChapterEntry(k);
      // Past the last keyframe the estimate first reads to the end.
      EXPECT_LT(ogmtest::MemoryInputStats().bytesRead - read, k == 5 ? 600000 : 400000);
      ExpectKeyframeNear(o, o.chapters[k].startMs);
    }
  }
}

TEST_F(ReaderTest, ChapterOnTheLastKeyframe) {
  // The byte estimate of a chapter on the last keyframe can land past it;
  // the seek must still find that keyframe rather than give up.
  ogmtest::SimpleOgmOptions o = ChapterFile();
  o.frames = 455;
  o.gop = 50;
  o.chapters = {{0, "a"}, {18000, "last"}};
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  for (int pass = 0; pass < 2; ++pass) {
    SeekChapterEntry(1);
    EXPECT_EQ(info_->currentFrame, 450);
    ExpectKeyframeThenOrder(o, 5);
  }
}

TEST_F(ReaderTest, ChapterSeeksThatCannotBeSatisfiedEnd) {
  ogmtest::SimpleOgmOptions o = ChapterFile();
  o.audio = ogmtest::AudioKind::kRaw;
  o.chapters.clear();
  // A chapter beyond the end, one before the first keyframe's bytes can be
  // found again, and time comments cut short.
  o.extraComments = {"CHAPTER01=09:00:00.000", "CHAPTER01NAME=Beyond", "CHAPTER02=00:00:3",
                     "CHAPTER02NAME=Short",    "CHAPTER03=",           "CHAPTER03NAME=Empty"};
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  ASSERT_EQ(info_->chapterCount, 3);

  // Beyond the end: the last keyframe.
  SeekChapterEntry(0);
  EXPECT_EQ(info_->currentFrame, 1475);
  // "00:00:3": the seconds field holds one digit.
  SeekChapterEntry(1);
  ExpectKeyframeNear(o, 3000);
  // No digits at all: the start.
  EXPECT_EQ(SeekChapterEntry(2), info_->totalAudioBytes);
}

TEST_F(ReaderTest, ChapterIndexOutsideTheListChangesNothing) {
  ogmtest::SimpleOgmOptions o = ChapterFile();
  o.audio = ogmtest::AudioKind::kRaw;
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  std::vector<uint8_t> frame(1 << 16);
  for (int i = 0; i < 100; ++i) ASSERT_GT(NextVideoFrameEntry(frame.data()), 0);
  const int64_t seeks = ogmtest::MemoryInputStats().seeks;
  for (int32_t k : {-1, 4, 1000, INT32_MAX, INT32_MIN}) {
    // From currentFrame 99 on, 640 audio bytes a frame (16000 a second, 25 fps).
    EXPECT_EQ(SeekChapterEntry(k), (1500 - 99) * 640) << k;
  }
  EXPECT_EQ(ogmtest::MemoryInputStats().seeks, seeks);
  ASSERT_GT(NextVideoFrameEntry(frame.data()), 0);
  EXPECT_EQ(info_->currentFrame, 100);
}

TEST_F(ReaderTest, ChapterSeekWithoutChapters) {
  ogmtest::SimpleOgmOptions o = ChapterFile();
  o.chapters.clear();
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  EXPECT_EQ(SeekChapterEntry(0), 0);
  EXPECT_EQ(ogmtest::MemoryInputStats().seeks, 1);  // only the duration scan's
}

}  // namespace
