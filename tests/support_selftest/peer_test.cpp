// Peer-made files and the Vorbis tools.
#include <gtest/gtest.h>

#include "ogg_edit.h"
#include "peer_files.h"
#include "simple_ogm.h"
#include "test_paths.h"

using namespace ogmtest;

TEST(VorbisTools, EncodeDecodeKeepsLengthAndRemuxKeepsSamples) {
  TempDir dir;
  const std::string ogg = EncodeVorbis(dir.path(), "a.ogg", 22050, 1, 2.0, 0.0, "chirp");
  ASSERT_FALSE(ogg.empty());
  const DecodedPcm plain = DecodeVorbis(ogg);
  ASSERT_TRUE(plain.ok);
  EXPECT_EQ(plain.channels, 1);
  EXPECT_EQ(plain.rate, 22050);
  EXPECT_EQ(plain.samples, 44100);
  EXPECT_EQ(plain.pcm.size(), 44100u * 2);

  // Inside an OGM at serial 1 the same packets decode to the same samples.
  SimpleOgmOptions o;
  o.frames = 50;
  o.audio = AudioKind::kVorbis;
  o.vorbisFile = ogg;
  const SimpleOgm f = MakeSimpleOgm(o);
  EXPECT_EQ(f.audioSamples, 44100);
  EXPECT_EQ(f.vorbisRate, 22050);
  const std::string ogm = dir.File("v.ogm");
  ASSERT_TRUE(WriteBytes(ogm, f.bytes));
  const DecodedPcm muxed = DecodeVorbis(ogm, 1);
  ASSERT_TRUE(muxed.ok);
  EXPECT_EQ(muxed.pcm, plain.pcm);
  EXPECT_FALSE(DecodeVorbis(ogm, 0).ok);  // the video stream is no Vorbis

  if (HaveFfmpeg()) {
    const auto streams = Probe(ogm);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[1].codecName, "vorbis");
    EXPECT_EQ(streams[1].sampleRate, 22050);
  }
}

class PeerOgm : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFfmpeg() || !HaveOgmmerge()) GTEST_SKIP() << "ffmpeg or ogmmerge not installed";
    avi_ = MakePeerAvi(dir_.path(), 4, 25, 50);
    mp3_ = MakePeerMp3(dir_.path(), 4);
    ASSERT_FALSE(avi_.empty());
    if (mp3_.empty()) GTEST_SKIP() << "no MP3 encoder in ffmpeg";
  }
  TempDir dir_;
  std::string avi_, mp3_;
};

TEST_F(PeerOgm, OgmmergeKeepsFramesAndMp3BytesAndFfprobeReadsIt) {
  const std::string ogm = MakePeerOgm(dir_.path(), "peer.ogm", {avi_, mp3_});
  ASSERT_FALSE(ogm.empty());
  const auto streams = Probe(ogm);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].codecTag, "XVID");
  EXPECT_EQ(streams[0].width, 160);
  EXPECT_EQ(streams[0].height, 120);
  EXPECT_DOUBLE_EQ(streams[0].FrameRate(), 25.0);
  EXPECT_EQ(streams[0].packets, 100);
  EXPECT_EQ(streams[1].codecName, "mp3");

  const Bytes file = ReadBytes(ogm);
  const auto video = ReadPackets(file, 0);
  ASSERT_EQ(video.size(), 102u);
  // The header is the direct form our writer makes, but for the buffer size.
  StreamHeaderFields peer;
  ASSERT_TRUE(ReadDirectHeader(video[0].data, &peer));
  StreamHeaderFields h;
  h.width = 160;
  h.height = 120;
  h.bufferSize = peer.bufferSize;
  EXPECT_EQ(video[0].data, DirectHeader(h));

  // Frames go in without length bytes, a keyframe flag on every 50th.
  for (size_t i = 0; i < 100; ++i) EXPECT_EQ(video[2 + i].data[0], i % 50 == 0 ? 0x08 : 0x00) << i;
  EXPECT_EQ(FrameMd5Lines(avi_).size(), 100u);

  // MP3: packets with 2 length bytes; their payloads are the file's bytes.
  Bytes stream;
  const auto audio = ReadPackets(file, 1);
  for (size_t k = 2; k < audio.size(); ++k) {
    ASSERT_EQ(audio[k].data[0], 0x88);
    stream.insert(stream.end(), audio[k].data.begin() + 3, audio[k].data.end());
  }
  EXPECT_EQ(stream, ReadBytes(mp3_));
}

TEST_F(PeerOgm, ChaptersWrittenIntoAPeerFileReachFfprobe) {
  const std::string ogm = MakePeerOgm(dir_.path(), "peer.ogm", {avi_});
  ASSERT_FALSE(ogm.empty());
  const std::string withChapters = dir_.File("chapters.ogm");
  ASSERT_TRUE(
      WriteBytes(withChapters, SetChapters(ReadBytes(ogm), {{0, "Intro"}, {2000, "Middle"}})));
  const CommandResult r = RunCommand({OGM_FFPROBE, "-v", "error", "-show_chapters", withChapters});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("title=Intro"), std::string::npos);
  EXPECT_NE(r.out.find("start_time=2.000000"), std::string::npos);
  EXPECT_EQ(Probe(withChapters).at(0).packets, 100);
}

TEST_F(PeerOgm, Ac3GoesInWithFormatTag2000) {
  const std::string ac3 = MakePeerAc3(dir_.path(), 2);
  ASSERT_FALSE(ac3.empty());
  const std::string ogm = MakePeerOgm(dir_.path(), "ac3.ogm", {avi_, ac3});
  ASSERT_FALSE(ogm.empty());
  const auto audio = ReadPackets(ReadBytes(ogm), 1);
  ASSERT_GT(audio.size(), 3u);
  StreamHeaderFields h;
  ASSERT_TRUE(ReadDirectHeader(audio[0].data, &h));
  EXPECT_EQ(h.subtype, "2000");
  EXPECT_EQ(h.samplesPerUnit, 48000);
  EXPECT_EQ(audio[2].data[0], 0x88);
  EXPECT_EQ(GetLe(audio[2].data, 1, 2), 1536u);
  EXPECT_EQ(Probe(ogm).at(1).codecName, "ac3");
}
