// Stream discovery over in-memory sources written by the test writer.
#include "demux/discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "demux/page_intake.h"
#include "demux/take_frame.h"
#include "input/result.h"
#include "memory_input.h"
#include "peer_files.h"
#include "simple_ogm.h"

using ogmtest::Bytes;
using ogmtest::MemoryInputStats;

namespace {

class DiscoveryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ClearDemuxState(d_);
    ogmtest::MemoryInputClose();
  }

  int32_t Discover(const Bytes& file, const char16_t* name = u"/media/test.ogm",
                   const ogmtest::MemoryInputConfig& config = {}) {
    ClearDemuxState(d_);
    d_ = DemuxState{};
    ogmtest::MemoryInputReset(file, config);
    d_.input = ogmtest::MemoryInput();
    d_.sourceLength = InputOpen(d_.input, name, kDefaultReadAhead, kLongestOpenTimeoutMs);
    return DiscoverStreams(d_, info_, name, 0);
  }

  std::u16string Name(int i) const { return std::u16string(info_.chapterNames[i].text); }

  DemuxState d_;
  StreamInfo info_{};
};

ogmtest::SimpleOgmOptions RawAudioFile() {
  ogmtest::SimpleOgmOptions o;
  o.frames = 40;
  o.audio = ogmtest::AudioKind::kRaw;
  return o;
}

TEST_F(DiscoveryTest, VideoWithRawAudio) {
  ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(RawAudioFile());
  ASSERT_EQ(Discover(f.bytes), kDone);
  EXPECT_EQ(d_.videoPresent, kStreamPresent);
  EXPECT_EQ(d_.audioPresent, kStreamPresent);
  ASSERT_NE(d_.headers[1], nullptr);
  EXPECT_EQ(d_.vorbisReady, 0);
  EXPECT_EQ(info_.frameCount, 40);
  // The packet after the audio header was dropped: the next one taken is a
  // data packet (the writer puts a comment packet there, as ogmmerge does).
  Frame frame;
  int32_t r;
  while ((r = TakeFrame(d_.slots[1], *d_.headers[1], &frame)) == kNoPacket) {
    int32_t slot;
    ASSERT_NE(PullPage(d_, 1, &slot), DECAPS_ERR_INPUT_ENDED);
  }
  EXPECT_TRUE(r == kPacket || r == DECAPS_ERR_NO_GRANULE) << r;
  ASSERT_GE(frame.size, 4);
  EXPECT_EQ(0, std::memcmp(frame.payload, ogmtest::RawAudio(0, 4).data(), 4));
}

TEST_F(DiscoveryTest, VideoWithVorbisSetsUpTheDecoder) {
  ogmtest::TempDir dir;
  ogmtest::SimpleOgmOptions o;
  o.frames = 25;
  o.audio = ogmtest::AudioKind::kVorbis;
  o.vorbisFile = ogmtest::EncodeVorbis(dir.path(), "a.ogg", 22050, 1, 1.0);
  ASSERT_FALSE(o.vorbisFile.empty());
  ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(o);
  ASSERT_EQ(Discover(f.bytes), kDone);
  EXPECT_EQ(d_.audioPresent, kStreamPresent);
  EXPECT_EQ(d_.headers[1], nullptr);
  EXPECT_EQ(d_.vorbisReady, 1);
  EXPECT_EQ(d_.vorbisInfo.channels, 1);
  EXPECT_EQ(d_.vorbisInfo.rate, 22050);
}

TEST_F(DiscoveryTest, VideoOnlyAndMisplacedAudio) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 30;
  ASSERT_EQ(Discover(ogmtest::MakeSimpleOgm(o).bytes), kDone);
  EXPECT_EQ(d_.videoPresent, kStreamPresent);
  EXPECT_EQ(d_.audioPresent, kStreamAbsent);

  // Audio whose first page comes after a second video page is not found.
  ogmtest::OgmWriter w;
  const int v = w.AddStream(0);
  const int a = w.AddStream(1);
  w.Packet(v, ogmtest::DirectVideoHeader("XVID", 400000, 16, 16), 0, ogmtest::kFlushPage);
  w.Packet(v, ogmtest::CommentPacket("t", {}), 0, ogmtest::kFlushPage);
  w.Packet(a, ogmtest::DirectAudioHeader("0055", 44100, 2, 16000), 0, ogmtest::kFlushPage);
  w.Packet(a, ogmtest::CommentPacket("t", {}), 0, ogmtest::kFlushPage);
  w.Packet(v, ogmtest::FramePacket(true, Bytes(10, 1)), 0, ogmtest::kFlushPage);
  ASSERT_EQ(Discover(w.Finish()), kDone);
  EXPECT_EQ(d_.audioPresent, kStreamAbsent);
}

TEST_F(DiscoveryTest, SecondStreamKinds) {
  for (const char* kind : {"text", "videoXY"}) {
    SCOPED_TRACE(kind);
    ogmtest::OgmWriter w;
    const int v = w.AddStream(0);
    const int t = w.AddStream(1);
    ogmtest::StreamHeaderFields f;
    f.streamType = kind;
    f.timeUnit = 10000000;
    f.samplesPerUnit = 1000;
    w.Packet(v, ogmtest::DirectVideoHeader("XVID", 400000, 16, 16), 0, ogmtest::kFlushPage);
    w.Packet(t, ogmtest::DirectHeader(f), 0, ogmtest::kFlushPage);
    w.Packet(v, ogmtest::CommentPacket("t", {}), 0, ogmtest::kFlushPage);
    w.Packet(t, ogmtest::CommentPacket("t", {}), 0, ogmtest::kFlushPage);
    w.Packet(v, ogmtest::FramePacket(true, Bytes(10, 1)), 0, ogmtest::kFlushPage);
    ASSERT_EQ(Discover(w.Finish()), kDone);
    EXPECT_EQ(d_.videoPresent, kStreamPresent);
    EXPECT_EQ(d_.audioPresent, kStreamPresent);
    ASSERT_NE(d_.headers[1], nullptr);
    EXPECT_FALSE(IsVideoHeader(*d_.headers[1]));
  }
}

TEST_F(DiscoveryTest, ChapterNames) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 10;
  o.extraComments = {"TITLE=x"};
  o.chapters = {{0, "Intro"}, {61000, "Main"}};
  ASSERT_EQ(Discover(ogmtest::MakeSimpleOgm(o).bytes), kDone);
  ASSERT_EQ(info_.chapterCount, 2);
  EXPECT_EQ(Name(0), u"Intro");
  EXPECT_EQ(Name(1), u"Main");

  struct Case {
    const char* name;
    std::vector<std::string> comments;
    int32_t count;
    std::u16string first;
  } cases[] = {
      {"lowercase keys", {"chapter01=00:00:00.000", "chapter01name=Intro"}, 1, u"Intro"},
      {"no chapters", {"TITLE=a", "ARTIST=b"}, 0, u""},
      {"chapter comment last", {"TITLE=a", "CHAPTER01=00:00:01.000"}, 0, u""},
      {"name entry shorter than its key", {"CHAPTER01=00:00:01.000", "CHAPTER01N"}, 1, u""},
      {"Windows-1252 name", {"CHAPTER01=00:00:01.000", "CHAPTER01NAME=Caf\xe9"}, 1, u"Caf\u00e9"},
      {"UTF-8 name",
       {"CHAPTER01=00:00:01.000", "CHAPTER01NAME=Caf\xc3\xa9 \xe2\x82\xac"},
       1,
       u"Caf\u00e9 \u20ac"},
      {"long name cut to 49 units",
       {"CHAPTER01=00:00:01.000", "CHAPTER01NAME=" + std::string(80, 'n')},
       1,
       std::u16string(49, u'n')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ogmtest::SimpleOgmOptions oc;
    oc.frames = 10;
    oc.extraComments = c.comments;
    std::memset(&info_, 0x55, sizeof info_);  // no stale name must survive
    ASSERT_EQ(Discover(ogmtest::MakeSimpleOgm(oc).bytes), kDone);
    EXPECT_EQ(info_.chapterCount, c.count);
    if (c.count > 0) {
      EXPECT_EQ(Name(0), c.first);
    }
  }
}

TEST_F(DiscoveryTest, AtMostOneHundredChapters) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 10;
  for (int i = 0; i < 130; ++i) o.chapters.push_back({i * 1000, "c" + std::to_string(i)});
  ASSERT_EQ(Discover(ogmtest::MakeSimpleOgm(o).bytes), kDone);
  EXPECT_EQ(info_.chapterCount, 100);
  // Keys from CHAPTER100NAME= on are a character longer; names are taken
  // from the fixed position all the same.
  EXPECT_EQ(Name(98), u"c98");
}

TEST_F(DiscoveryTest, FrameCountFromTheTail) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 1500;
  o.minFrameBytes = 100;
  o.maxFrameBytes = 300;
  ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(o);
  ASSERT_GT(f.bytes.size(), 200000u);
  ASSERT_EQ(Discover(f.bytes), kDone);
  EXPECT_EQ(info_.frameCount, 1500);
  EXPECT_EQ(MemoryInputStats().lastSeekOffset, static_cast<int64_t>(f.bytes.size()) - 100000);
  EXPECT_EQ(MemoryInputStats().opens, 2);  // the scan reopens the source

  // A short source is scanned from its start.
  o.frames = 20;
  ogmtest::SimpleOgm small = ogmtest::MakeSimpleOgm(o);
  ASSERT_EQ(Discover(small.bytes), kDone);
  EXPECT_EQ(info_.frameCount, 20);
  EXPECT_EQ(MemoryInputStats().lastSeekOffset, 0);
}

TEST_F(DiscoveryTest, FrameCountFromFurtherBackOrTheDefault) {
  // Tails without a video granule (long audio runs at the end): the scan
  // looks further back, up to 8 MiB, before taking the default.
  ogmtest::SimpleOgmOptions o = RawAudioFile();
  o.frames = 10;
  for (const double seconds : {60.0, 600.0}) {
    SCOPED_TRACE(seconds);
    o.audioSeconds = seconds;  // 16000 bytes a second
    info_.frameCount = 1234;
    ASSERT_EQ(Discover(ogmtest::MakeSimpleOgm(o).bytes), kDone);
    EXPECT_EQ(info_.frameCount, seconds < 500 ? 10 : kDefaultFrameCount);
  }

  // A network source is scanned only when it can seek (a server that
  // answers range requests), and is not opened again.
  ogmtest::SimpleOgmOptions v;
  v.frames = 3000;
  const Bytes file = ogmtest::MakeSimpleOgm(v).bytes;
  ASSERT_GT(file.size(), static_cast<size_t>(kDurationTail));
  ogmtest::MemoryInputConfig noRanges;
  noRanges.seekable = false;
  for (const bool ranges : {true, false}) {
    SCOPED_TRACE(ranges);
    ASSERT_EQ(
        Discover(file, u"http://127.0.0.1/x.ogm", ranges ? ogmtest::MemoryInputConfig{} : noRanges),
        kDone);
    EXPECT_EQ(info_.frameCount, ranges ? 3000 : kDefaultFrameCount);
    EXPECT_EQ(MemoryInputStats().opens, 1);
  }
}

TEST_F(DiscoveryTest, FailsOnUnreadableStarts) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 10;
  const Bytes good = ogmtest::MakeSimpleOgm(o).bytes;
  const auto pages = ogmtest::ListPages(good);
  ASSERT_GE(pages.size(), 3u);

  ogmtest::OgmWriter noComment;
  const int v = noComment.AddStream(0);
  noComment.Packet(v, ogmtest::DirectVideoHeader("XVID", 400000, 16, 16), 0, ogmtest::kFlushPage);
  noComment.Packet(v, ogmtest::FramePacket(true, Bytes(10, 1)), 0, ogmtest::kFlushPage);

  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"bytes before the first page", ogmtest::PrependJunk(good, 100)},
      {"input ends after the first page", ogmtest::Truncate(good, pages[1].offset)},
      {"second video packet is not a comment", noComment.Finish()},
      {"empty source", Bytes(10, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Discover(c.file), DECAPS_ERR_DAMAGED);
  }
}

TEST_F(DiscoveryTest, DropsPagesOfAThirdStream) {
  ogmtest::SimpleOgmOptions o = RawAudioFile();
  ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(o);
  // A foreign stream's first page right after the video's, and another page
  // of it later; neither may be used as a slot index.
  Bytes file = ogmtest::InsertForeignPage(f.bytes, 1, 7, true);
  file = ogmtest::InsertForeignPage(file, 5, 7, false);
  ASSERT_EQ(Discover(file), kDone);
  EXPECT_EQ(d_.videoPresent, kStreamPresent);
  EXPECT_EQ(d_.audioPresent, kStreamPresent);
}

TEST_F(DiscoveryTest, StreamsTakeTheirSlotsWhateverTheirOrder) {
  ogmtest::SimpleOgmOptions o = RawAudioFile();
  o.audioFirst = true;
  ASSERT_EQ(Discover(ogmtest::MakeSimpleOgm(o).bytes), kDone);
  ASSERT_EQ(d_.videoPresent, kStreamPresent);
  ASSERT_EQ(d_.audioPresent, kStreamPresent);
  EXPECT_TRUE(IsVideoHeader(*d_.headers[0]));
  EXPECT_FALSE(IsVideoHeader(*d_.headers[1]));
  EXPECT_EQ(d_.slots[0].streamState.serialno, 0);
  EXPECT_EQ(d_.slots[1].streamState.serialno, 1);
}

TEST(CommentShapeTest, AcceptsOnlyCompleteCommentPackets) {
  const Bytes good = ogmtest::CommentPacket("vendor", {"A=1", "B=2"});
  EXPECT_TRUE(IsWellFormedComment(good.data(), good.size()));
  for (size_t cut : {2u, 7u, 12u, 20u}) {  // 1 would only drop the framing byte
    ASSERT_LT(cut, good.size());
    EXPECT_FALSE(IsWellFormedComment(good.data(), good.size() - cut)) << cut;
  }
  Bytes huge = good;
  huge[11 + 6] = 0xFF;  // comment count far beyond the packet
  huge[11 + 6 + 3] = 0x7F;
  EXPECT_FALSE(IsWellFormedComment(huge.data(), huge.size()));
}

}  // namespace
