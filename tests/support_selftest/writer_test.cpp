// The writer's output read back through libogg, and its headers through
// ffprobe, which has its own OGM parser.
#include <gtest/gtest.h>
#include <ogg/ogg.h>

#include <cstring>

#include "golden_headers.h"
#include "ogg_edit.h"
#include "ogm_writer.h"
#include "peer_files.h"
#include "simple_ogm.h"

using namespace ogmtest;
namespace golden = ogmtest::golden;

namespace {

// n as the reader decodes it from a data packet's header byte.
int LengthBytesOf(uint8_t h) { return ((h >> 6) & 3) | ((h & 2) << 1); }

}  // namespace

// The writer writes each header form exactly as golden_headers.h spells it
// out, from the values given there.
TEST(PacketBuilders, HeadersAreTheGoldenBytes) {
  const StreamHeaderFields lv = golden::LegacyVideoFields();
  const StreamHeaderFields la = golden::LegacyAudioFields();
  struct {
    const char* name;
    Bytes written;
    const Bytes& expected;
  } rows[] = {
      {"direct video", DirectHeader(golden::DirectVideoFields()), golden::kDirectVideo},
      {"direct audio", DirectHeader(golden::DirectAudioFields()), golden::kDirectAudio},
      {"direct audio builder", DirectAudioHeader("2000", 48000, 6, 56000, 1536, 16),
       golden::kDirectAudio},
      {"direct text", DirectHeader(golden::DirectTextFields()), golden::kDirectText},
      {"direct text builder", DirectTextHeader(), golden::kDirectText},
      {"legacy video",
       LegacyVideoHeader(lv.subtype, lv.timeUnit, lv.width, lv.height, lv.bufferSize),
       golden::kLegacyVideo},
      {"legacy audio",
       LegacyAudioHeader(0x00FF, la.channels, static_cast<int32_t>(la.samplesPerUnit),
                         la.avgBytesPerSecond, la.blockAlign, la.bitsPerSample,
                         golden::kLegacyAudioExtra, la.bufferSize),
       golden::kLegacyAudio},
  };
  for (const auto& row : rows) EXPECT_EQ(row.written, row.expected) << row.name;
  // The direct forms read back into the values that write them again.
  for (const Bytes* g : {&golden::kDirectVideo, &golden::kDirectAudio, &golden::kDirectText}) {
    StreamHeaderFields back;
    ASSERT_TRUE(ReadDirectHeader(*g, &back));
    EXPECT_EQ(DirectHeader(back), *g);
  }
  // Other packet sizes pad or cut the direct form.
  const Bytes longer = DirectHeader(golden::DirectVideoFields(), 60);
  EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 57), golden::kDirectVideo);
  EXPECT_EQ(Bytes(longer.begin() + 57, longer.end()), Bytes(3, 0));
  EXPECT_EQ(DirectHeader(golden::DirectVideoFields(), 53),
            Bytes(golden::kDirectVideo.begin(), golden::kDirectVideo.begin() + 53));
}

TEST(PacketBuilders, DataPacketsEncodeLengthBytesAndKeyframe) {
  for (int n = 0; n <= 7; ++n) {
    for (bool key : {false, true}) {
      const uint8_t h = DataHeaderByte(key, n);
      EXPECT_EQ(LengthBytesOf(h), n);
      EXPECT_EQ((h & 0x08) != 0, key);
      EXPECT_EQ(h & 0x01, 0);
    }
  }
  EXPECT_EQ(DataHeaderByte(true, 2), 0x88);  // what ogmmerge writes for MP3
  const Bytes p = DataPacket(DataHeaderByte(false, 3), 3, 0x030201, Bytes{0xAA, 0xBB});
  EXPECT_EQ(p, (Bytes{0x40 | 0x80, 0x01, 0x02, 0x03, 0xAA, 0xBB}));
}

TEST(PacketBuilders, CommentPacketsAndChaptersParseBack) {
  const auto comments = ChapterComments({{0, "Intro"}, {3723500, "Main"}});
  ASSERT_EQ(comments.size(), 4u);
  EXPECT_EQ(comments[0], "CHAPTER01=00:00:00.000");
  EXPECT_EQ(comments[2], "CHAPTER02=01:02:03.500");
  EXPECT_EQ(comments[3], "CHAPTER02NAME=Main");
  const Bytes p = CommentPacket("vendor x", comments);
  EXPECT_EQ(p[0], 0x03);
  EXPECT_EQ(p.back(), 0x01);
  std::string vendor;
  std::vector<std::string> back;
  ASSERT_TRUE(ParseCommentPacket(p, &vendor, &back));
  EXPECT_EQ(vendor, "vendor x");
  EXPECT_EQ(back, comments);
  EXPECT_FALSE(ParseCommentPacket(Bytes(p.begin(), p.end() - 3), &vendor, &back));
}

TEST(PageBuilder, LiboggAcceptsHandMadePagesAndJoinsSpanningPackets) {
  PageFields first;
  first.serial = 7;
  first.bos = true;
  first.granule = 0;
  first.packets = {Bytes{1, 2, 3}, Bytes(510, 0x11)};
  first.lastPacketOpen = true;
  PageFields second;
  second.serial = 7;
  second.sequence = 1;
  second.continued = true;
  second.eos = true;
  second.granule = 42;
  second.packets = {Bytes(10, 0x22)};
  Bytes file = BuildPage(first);
  const Bytes p2 = BuildPage(second);
  file.insert(file.end(), p2.begin(), p2.end());

  const auto pages = ListPages(file);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(pages[0].crcOk && pages[1].crcOk);
  EXPECT_EQ(pages[0].flags, 2);
  EXPECT_EQ(pages[1].flags, 5);
  EXPECT_EQ(pages[1].granule, 42);
  EXPECT_EQ(pages[1].sequence, 1u);

  const auto packets = ReadPackets(file);
  ASSERT_EQ(packets.size(), 2u);
  Bytes joined(510, 0x11);
  joined.insert(joined.end(), 10, 0x22);
  EXPECT_EQ(packets[1].data, joined);
  EXPECT_EQ(packets[1].granule, 42);
  EXPECT_TRUE(packets[1].eos);

  PageFields tooMany;
  tooMany.packets.assign(256, Bytes{1});
  EXPECT_THROW(BuildPage(tooMany), std::invalid_argument);
}

TEST(SimpleOgm, PacketsPagesAndGranulesReadBackAsWritten) {
  SimpleOgmOptions o;
  o.frames = 120;
  o.gop = 25;
  o.largeFrames = {30};
  o.largeFrameBytes = 150000;  // more than one page holds
  o.emptyFrames = {7};
  o.audio = AudioKind::kRaw;
  o.chapters = {{0, "A"}, {2000, "B"}};
  const SimpleOgm f = MakeSimpleOgm(o);

  const auto pages = ListPages(f.bytes);
  ASSERT_GE(pages.size(), 6u);
  EXPECT_EQ(pages[0].offset, 0u);
  EXPECT_EQ(pages[0].serial, 0);
  EXPECT_EQ(pages[1].serial, 1);
  EXPECT_TRUE(pages[0].flags & 2);
  EXPECT_TRUE(pages[1].flags & 2);
  for (const auto& p : pages) EXPECT_TRUE(p.crcOk);
  EXPECT_EQ(pages[0].size, 28u + 57u);  // header alone on its page

  const auto video = ReadPackets(f.bytes, 0);
  ASSERT_EQ(video.size(), 2u + 120u);
  EXPECT_EQ(video[0].data, DirectVideoHeader("XVID", 400000, 320, 240));
  std::string vendor;
  std::vector<std::string> comments;
  ASSERT_TRUE(ParseCommentPacket(video[1].data, &vendor, &comments));
  EXPECT_EQ(comments, ChapterComments(o.chapters));
  for (int i = 0; i < o.frames; ++i) {
    const Bytes& p = video[2 + i].data;
    ASSERT_FALSE(p.empty());
    EXPECT_EQ((p[0] & 0x08) != 0, i % 25 == 0) << i;
    EXPECT_EQ(Bytes(p.begin() + 1, p.end()), FramePayload(o, i)) << i;
    EXPECT_EQ(p.size() - 1, f.frames[i].size);
  }
  EXPECT_EQ(video[2 + 7].data.size(), 1u);
  EXPECT_GT(video[2 + 30].data.size(), 150000u);

  // Page granule = number of the last frame completed on the page, -1 on a
  // page completing none (the large frame spans pages).
  int64_t framesSeen = 0;
  bool sawNoGranule = false;
  bool sawEos = false;
  for (const auto& p : pages) {
    if (p.serial != 0) continue;
    sawEos |= (p.flags & 4) != 0;
    if (p.sequence < 2) continue;
    framesSeen += p.packetsCompleted;
    if (p.packetsCompleted == 0) {
      EXPECT_EQ(p.granule, -1);
      sawNoGranule = true;
    } else {
      EXPECT_EQ(p.granule, framesSeen - 1);
    }
  }
  EXPECT_EQ(framesSeen, 120);
  EXPECT_TRUE(sawNoGranule);
  EXPECT_TRUE(sawEos);

  // Raw audio: ogmmerge-style packets whose payloads make up the byte stream.
  const auto audio = ReadPackets(f.bytes, 1);
  ASSERT_EQ(audio.size(), 2u + f.audioPackets.size());
  EXPECT_EQ(audio[0].data, DirectAudioHeader("0055", 44100, 2, 16000, 1152));
  Bytes stream;
  for (size_t k = 2; k < audio.size(); ++k) {
    const Bytes& p = audio[k].data;
    ASSERT_EQ(p[0], 0x88);
    EXPECT_EQ(GetLe(p, 1, 2), 1152u);
    stream.insert(stream.end(), p.begin() + 3, p.end());
  }
  EXPECT_EQ(stream, RawAudio(0, f.rawAudioBytes));
  EXPECT_NEAR(f.rawAudioBytes, 120 / 25.0 * 16000, 2000);
  EXPECT_TRUE(audio.back().eos);
}

TEST(SimpleOgm, InterleavesAudioWithVideoByTime) {
  SimpleOgmOptions o;
  o.frames = 250;
  o.framesPerPage = 5;
  o.audio = AudioKind::kRaw;
  const SimpleOgm f = MakeSimpleOgm(o);
  // Going through the pages in order, audio time never runs more than a
  // page's worth (about 4 kB = 0.25 s) ahead of or behind video time.
  double videoTime = 0, audioTime = 0;
  for (const auto& p : ListPages(f.bytes)) {
    if (p.granule < 0 || p.sequence < 2) continue;
    if (p.serial == 0) videoTime = p.granule / 25.0;
    if (p.serial == 1) audioTime = p.granule / 44100.0;
    EXPECT_LT(std::abs(videoTime - audioTime), 0.6) << "page at " << p.offset;
  }
  EXPECT_GT(videoTime, 9.5);
  EXPECT_GT(audioTime, 9.5);
}

TEST(SimpleOgm, FramesPerPageAndGranuleConventions) {
  SimpleOgmOptions o;
  o.frames = 20;
  o.framesPerPage = 4;
  o.granuleIsEnd = true;
  o.eos = false;
  const SimpleOgm f = MakeSimpleOgm(o);
  std::vector<int64_t> granules;
  for (const auto& p : ListPages(f.bytes)) {
    EXPECT_FALSE(p.flags & 4);
    if (p.sequence >= 2) {
      EXPECT_EQ(p.packetsCompleted, 4);
      granules.push_back(p.granule);
    }
  }
  EXPECT_EQ(granules, (std::vector<int64_t>{4, 8, 12, 16, 20}));
}

TEST(SimpleOgm, MakesAnHourLongFile) {
  SimpleOgmOptions o;
  o.frames = 25 * 3600;
  o.minFrameBytes = 8;
  o.maxFrameBytes = 24;
  o.gop = 250;
  const SimpleOgm f = MakeSimpleOgm(o);
  const auto pages = ListPages(f.bytes);
  ASSERT_FALSE(pages.empty());
  EXPECT_EQ(pages.back().offset + pages.back().size, f.bytes.size());
  EXPECT_EQ(pages.back().granule, 25 * 3600 - 1);
  EXPECT_TRUE(pages.back().flags & 4);
}

TEST(SimpleOgm, FfprobeReadsWriterFilesAsOgm) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffprobe not installed";
  TempDir dir;
  for (HeaderForm form : {HeaderForm::kDirect, HeaderForm::kLegacy}) {
    SimpleOgmOptions o;
    o.header = form;
    o.frames = 60;
    o.timeUnit = 333667;  // 29.97 fps
    o.width = 176;
    o.height = 144;
    o.fourcc = "DIVX";
    o.audio = AudioKind::kRaw;
    o.audioRate = 48000;
    o.audioChannels = 1;
    const std::string path = dir.File(form == HeaderForm::kDirect ? "direct.ogm" : "legacy.ogm");
    ASSERT_TRUE(WriteBytes(path, MakeSimpleOgm(o).bytes));
    const auto streams = Probe(path);
    ASSERT_EQ(streams.size(), 2u) << path;
    EXPECT_EQ(streams[0].codecType, "video");
    EXPECT_EQ(streams[0].codecName, "mpeg4");  // from the fourcc
    if (form == HeaderForm::kDirect) {
      EXPECT_EQ(streams[0].codecTag, "DIVX");  // ffmpeg keeps the tag of this form only
    }
    EXPECT_EQ(streams[0].width, 176);
    EXPECT_EQ(streams[0].height, 144);
    EXPECT_NEAR(streams[0].FrameRate(), 29.97, 0.01);
    EXPECT_EQ(streams[0].packets, 60);
    EXPECT_EQ(streams[1].codecType, "audio");
    EXPECT_EQ(streams[1].codecName, "mp3");
    EXPECT_EQ(streams[1].sampleRate, 48000);
    EXPECT_EQ(streams[1].channels, 1);
  }
}
