// Opening, describing and closing sources; what the host may call when.
#include <cstring>

#include "input/input_source.h"
#include "peer_files.h"
#include "platform/charset.h"
#include "reader_fixture.h"

using ogmtest::Bytes;
using ogmtest::SimpleOgmOptions;

namespace {

SimpleOgmOptions Raw(int frames = 1500) {
  SimpleOgmOptions o;
  o.frames = frames;
  o.minFrameBytes = 20;
  o.maxFrameBytes = 60;
  o.audio = ogmtest::AudioKind::kRaw;
  return o;
}

TEST(PluginChoiceTest, ByNameAndCacheFlag) {
  struct {
    const char16_t* name;
    int32_t useCache;
    std::u16string plugin;
  } cases[] = {
      {u"/a/b.ogm", 0, u"Ravel.dll"},
      {u"/a/b.ogm", 1, u"RavelCache.dll"},
      {u"http://host/b.ogm", 1, u"RavelHTTP.dll"},
      {u"c:\\x\\my://odd.ogm", 0, u"RavelHTTP.dll"},
  };
  for (const auto& c : cases) EXPECT_EQ(PluginNameFor(c.name, c.useCache), c.plugin);
}

TEST_F(ReaderTest, DescribesRawAudioSource) {
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(Raw()).bytes), 1);
  ASSERT_EQ(info_, &gReader.info);
  EXPECT_EQ(info_->width, 320);
  EXPECT_EQ(info_->height, 240);
  EXPECT_EQ(info_->framesPerSecond, 25.0);
  EXPECT_EQ(std::memcmp(info_->fourcc, "XVID", 4), 0);
  EXPECT_EQ(info_->reserved20, 0);
  EXPECT_EQ(info_->frameCount, 1500);
  EXPECT_EQ(info_->currentFrame, 0);
  EXPECT_EQ(info_->audioFormat, 0x55);
  EXPECT_EQ(info_->audioParamA, 44100);
  EXPECT_EQ(info_->audioParamB, 2);
  EXPECT_EQ(info_->totalAudioBytes, 960000);  // 60 s x 16000 bytes/s
  EXPECT_EQ(FrameRateEntry(), 25.0);
}

TEST_F(ReaderTest, FrameRatesAndFormatTags) {
  struct {
    int64_t timeUnit;
    double fps;
  } rates[] = {{400000, 25.0}, {333667, 29.97000002997}, {417083, 23.976043137696813}};
  for (auto r : rates) {
    SimpleOgmOptions o;
    o.frames = 5;
    o.timeUnit = r.timeUnit;
    ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
    EXPECT_DOUBLE_EQ(info_->framesPerSecond, r.fps);
    EXPECT_EQ(FrameRateEntry(), info_->framesPerSecond);
  }
  struct {
    const char* tag;
    int32_t format;
  } tags[] = {{"0055", 85},  {"2000", 8192}, {"0001", 1}, {"00ff", 255},
              {"00FF", 255}, {"zz12", 0},    {"1g00", 1}};
  for (auto t : tags) {
    SimpleOgmOptions o = Raw(5);
    o.audioTag = t.tag;
    ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1) << t.tag;
    EXPECT_EQ(info_->audioFormat, t.format) << t.tag;
  }
}

TEST_F(ReaderTest, VorbisTotalsAndAudioFieldsThatCarryOver) {
  ogmtest::TempDir dir;
  SimpleOgmOptions o;
  o.frames = 1500;
  o.minFrameBytes = 20;
  o.maxFrameBytes = 40;
  o.audio = ogmtest::AudioKind::kVorbis;
  o.audioSeconds = 1;
  o.vorbisFile = ogmtest::EncodeVorbis(dir.path(), "a.ogg", 44100, 2, 1.0);
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  EXPECT_EQ(info_->audioFormat, 0);
  EXPECT_EQ(info_->audioParamA, 2);
  EXPECT_EQ(info_->audioParamB, 44100);
  EXPECT_GT(info_->audioBitrate, 0);
  EXPECT_EQ(info_->totalAudioBytes, 10584000);
  const int32_t bitrate = info_->audioBitrate;
  CloseEntry();

  // A video-only source after it: no audio bytes, the audio words as left.
  SimpleOgmOptions v;
  v.frames = 10;
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(v).bytes), 1);
  EXPECT_EQ(info_->totalAudioBytes, 0);
  EXPECT_EQ(info_->audioFormat, 0);
  EXPECT_EQ(info_->audioParamA, 2);
  EXPECT_EQ(info_->audioParamB, 44100);
  EXPECT_EQ(info_->audioBitrate, bitrate);
}

TEST_F(ReaderTest, FailedOpensReleaseEverything) {
  const Bytes good = ogmtest::MakeSimpleOgm(Raw(10)).bytes;
  SimpleOgmOptions badVideo = Raw(10);
  badVideo.timeUnit = 0;
  ogmtest::MemoryInputConfig refuse;
  refuse.openSucceeds = false;
  struct Case {
    const char* name;
    Bytes file;
    ogmtest::MemoryInputConfig config;
  } cases[] = {
      {"plug-in cannot open", good, refuse},
      {"not an Ogg stream", Bytes(5000, 0x11), {}},
      {"video without a frame duration", ogmtest::MakeSimpleOgm(badVideo).bytes, {}},
      {"no video stream (it is marked as text)",
       ogmtest::Remux(ogmtest::MakeSimpleOgm(Raw(10)).bytes,
                      [](int32_t serial, int64_t index, ogmtest::Bytes& packet) {
                        if (serial == 0 && index == 0) std::memcpy(&packet[1], "text\0", 5);
                      }),
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ogmtest::MemoryInputReset(c.file, c.config);
    void* result = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(OpenWithInput(ogmtest::MemoryInput(), u"/x.ogm", 0, &result), 0);
    EXPECT_EQ(result, reinterpret_cast<void*>(0x1234));
    EXPECT_FALSE(ogmtest::MemoryInputStats().open);
    EXPECT_EQ(gReader.demux.input.read, nullptr);
    EXPECT_EQ(gReader.demux.headers[0], nullptr);
    uint8_t buf[64];
    EXPECT_EQ(NextVideoFrameEntry(buf), -1);
  }
  // And the next open works.
  EXPECT_EQ(OpenBytes(good), 1);
}

TEST_F(ReaderTest, AudioWithoutUsableTimingIsDropped) {
  ogmtest::OgmWriter w;
  const int v = w.AddStream(0);
  const int a = w.AddStream(1);
  w.Packet(v, ogmtest::DirectVideoHeader("XVID", 400000, 16, 16), 0, ogmtest::kFlushPage);
  // Samples per unit 0: no time can be computed for this audio.
  w.Packet(a, ogmtest::DirectAudioHeader("0055", 0, 2, 16000), 0, ogmtest::kFlushPage);
  w.Packet(v, ogmtest::CommentPacket("t", {}), 0, ogmtest::kFlushPage);
  w.Packet(a, ogmtest::CommentPacket("t", {}), 0, ogmtest::kFlushPage);
  for (int i = 0; i < 10; ++i) {
    w.Packet(v, ogmtest::FramePacket(true, Bytes(10, 1)), i, ogmtest::kFlushPage);
    w.Packet(a, ogmtest::DataPacket(0x88, 2, 1152, Bytes(100, 2)), i, ogmtest::kFlushPage);
  }
  ASSERT_EQ(OpenBytes(w.Finish()), 1);
  EXPECT_EQ(info_->totalAudioBytes, 0);
  uint8_t buf[256];
  EXPECT_EQ(ReadAudioEntry(buf, 100), 0);
  EXPECT_GT(NextVideoFrameEntry(buf), 0);
}

TEST_F(ReaderTest, OpenOverAnOpenSourceClosesItFirst) {
  const Bytes file = ogmtest::MakeSimpleOgm(Raw(10)).bytes;
  ASSERT_EQ(OpenBytes(file), 1);
  StreamInfo* first = info_;
  ASSERT_EQ(OpenBytes(file), 1);
  EXPECT_EQ(info_, first);  // the same record for every source
  EXPECT_EQ(CloseEntry(), 1);
  EXPECT_EQ(CloseEntry(), 1);
  EXPECT_EQ(info_->frameCount, 10);  // readable after the close
  uint8_t buf[64];
  EXPECT_EQ(NextVideoFrameEntry(buf), -1);
  EXPECT_EQ(ReadAudioEntry(buf, 10), 0);
  EXPECT_EQ(SeekEntry(50, 0), 0);
  EXPECT_EQ(ReSeekAudioEntry(), 0);
  CloseIfStalledEntry();
}

// The host's time-out reaches the plug-in: a URL's only open gets it when
// one is given; a file gets it at its second open.
TEST_F(ReaderTest, TheHostsTimeOutReachesThePlugin) {
  const Bytes file = ogmtest::MakeSimpleOgm(Raw(10)).bytes;
  struct {
    const char16_t* name;
    int32_t openArg, passed;
  } cases[] = {
      {u"http://h/a.ogm", 1500, 1500}, {u"http://h/a.ogm", 0, 1000000}, {u"/a.ogm", 1500, 1500}};
  for (const auto& c : cases) {
    ogmtest::MemoryInputReset(file);
    void* result = nullptr;
    ASSERT_EQ(OpenWithInput(ogmtest::MemoryInput(), c.name, c.openArg, &result), 1);
    EXPECT_EQ(ogmtest::MemoryInputStats().lastOpenArgs[3], c.passed) << c.openArg;
  }
}

TEST_F(ReaderTest, ProgressFollowsTheCurrentFrame) {
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(Raw(200)).bytes), 1);
  EXPECT_EQ(GetProgressEntry(), 0.0);
  static uint8_t frame[1 << 16];
  int frames = 0;
  while (NextVideoFrameEntry(frame) >= 0) ++frames;
  EXPECT_EQ(frames, 200);
  EXPECT_EQ(info_->currentFrame, 199);
  EXPECT_DOUBLE_EQ(GetProgressEntry(), 199 * 100.0 / 200);
}

TEST_F(ReaderTest, OpensFilesThroughTheRealPlugins) {
  ogmtest::TempDir dir;
  const std::string path = dir.File("caf\xc3\xa9 clip.ogm");
  ASSERT_TRUE(ogmtest::WriteBytes(path, ogmtest::MakeSimpleOgm(Raw(50)).bytes));
  const std::u16string name = Utf8ToUtf16(path);
  for (int32_t useCache : {0, 1}) {
    void* result = nullptr;
    ASSERT_EQ(OpenEntry(name.c_str(), useCache, 0, &result), 1) << useCache;
    EXPECT_NE(gReader.demux.input.library, nullptr);
    EXPECT_EQ(static_cast<StreamInfo*>(result)->frameCount, 50);
    uint8_t buf[1024];
    EXPECT_GT(NextVideoFrameEntry(buf), 0);
    CloseEntry();
    EXPECT_EQ(gReader.demux.input.library, nullptr);
  }
  void* result = nullptr;
  EXPECT_EQ(OpenEntry(u"/no/such/file.ogm", 0, 0, &result), 0);
  EXPECT_EQ(result, nullptr);
}

}  // namespace
