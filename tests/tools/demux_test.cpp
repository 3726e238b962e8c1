// demux: the AVI must read back in ffmpeg as the source AVI did, raw audio
// must come out byte for byte, Vorbis as a WAV of the right shape, and
// impossible requests are refused before anything is written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "md5.h"
#include "simple_ogm.h"
#include "tool_harness.h"

namespace {

using namespace tooltest;

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::vector<char> KeyColumn(const std::vector<std::string>& flags) {
  std::vector<char> out;
  for (const std::string& f : flags) out.push_back(f.empty() ? '?' : f[0]);
  return out;
}

TEST(Demux, AviAndMp3TogetherMatchTheSources) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.Mp3Ogm().empty());
  const std::string dir = s.OutputDir("demux");
  const CommandResult r =
      Tool({"demux", s.Mp3Ogm(), "-v", dir + "/out.avi", "-a", dir + "/out.mp3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("video: 150 frames (6 marked keyframes)"), std::string::npos) << r.out;

  // Video: same frames, same keyframes, same stream description.
  EXPECT_EQ(FrameLines(FfmpegFrameMd5(dir + "/out.avi")), FrameLines(FfmpegFrameMd5(s.Avi())));
  EXPECT_EQ(KeyColumn(VideoPacketFlags(dir + "/out.avi")), KeyColumn(VideoPacketFlags(s.Avi())));
  for (const char* key : {"codec_name", "codec_tag_string", "width", "height", "r_frame_rate"})
    EXPECT_EQ(ProbeField(dir + "/out.avi", "video", key), ProbeField(s.Avi(), "video", key)) << key;
  // Audio: the MP3 frames exactly as they went in, to the last byte.
  const std::string mp3 = ReadFile(dir + "/out.mp3");
  const std::string source = ReadFile(s.Mp3());
  EXPECT_EQ(mp3.size(), source.size());
  EXPECT_TRUE(mp3 == source);
}

TEST(Demux, NtscRateSurvivesAsARational) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.NtscOgm().empty());
  const std::string out = s.OutputDir("ntsc") + "/out.avi";
  const CommandResult r = Tool({"demux", s.NtscOgm(), "-v", out});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ProbeField(out, "video", "r_frame_rate"), "30000/1001");
  EXPECT_EQ(FrameLines(FfmpegFrameMd5(out)), FrameLines(FfmpegFrameMd5(s.NtscAvi())));
}

TEST(Demux, Ac3IsCopiedByteForByte) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.Ac3Ogm().empty());
  const std::string dir = s.OutputDir("ac3");
  const CommandResult r = Tool({"demux", s.Ac3Ogm(), "-a", dir + "/out.ac3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(Exists(dir + "/out.avi"));
  const std::string ac3 = ReadFile(dir + "/out.ac3");
  EXPECT_EQ(ac3.size(), ReadFile(s.Ac3()).size());
  EXPECT_TRUE(ac3 == ReadFile(s.Ac3()));
}

TEST(Demux, VorbisBecomesAWavOfTheRightShape) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.VorbisOgm().empty());
  const std::string dir = s.OutputDir("wav");
  const CommandResult r = Tool({"demux", s.VorbisOgm(), "-a", dir + "/out.wav"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string wav = dir + "/out.wav";
  EXPECT_EQ(ProbeField(wav, "audio", "codec_name"), "pcm_s16le");
  EXPECT_EQ(ProbeField(wav, "audio", "channels"), "2");
  EXPECT_EQ(ProbeField(wav, "audio", "sample_rate"), "44100");
  const double duration = std::stod(ProbeField(wav, "audio", "duration"));
  EXPECT_NEAR(duration, kSeconds, 0.1);
  // The same PCM as bare bytes: the WAV's data chunk, nothing more.
  const CommandResult raw = Tool({"demux", s.VorbisOgm(), "-a", dir + "/out.raw"});
  ASSERT_EQ(raw.exitCode, 0) << raw.err;
  const std::string pcm = ReadFile(dir + "/out.raw");
  const std::string whole = ReadFile(wav);
  ASSERT_GE(whole.size(), 44u + pcm.size());
  EXPECT_TRUE(whole.compare(44, pcm.size(), pcm) == 0);
  EXPECT_EQ(pcm.size() % 4, 0u);
}

TEST(Demux, RefusesWhatCannotBeWrittenAndWritesNothing) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.Mp3Ogm().empty());
  ASSERT_FALSE(s.VorbisOgm().empty());
  ASSERT_FALSE(s.Ac3Ogm().empty());
  ASSERT_FALSE(s.VideoOgm().empty());
  const std::string dir = s.OutputDir("refuse");
  struct Case {
    std::string source;
    std::vector<std::string> outputs;
    const char* says;
  };
  const std::vector<Case> cases = {
      {s.VorbisOgm(), {"-a", dir + "/x.mp3"}, "Vorbis"},
      {s.Mp3Ogm(), {"-a", dir + "/x.wav"}, "not PCM"},
      {s.Ac3Ogm(), {"-a", dir + "/x.mp3"}, "AC3"},
      {s.VideoOgm(), {"-v", dir + "/x.avi", "-a", dir + "/x.wav"}, "no audio"},
      {s.Mp3Ogm(), {"-v", dir + "/x.mkv"}, ".avi"},
      {s.Mp3Ogm(), {"-a", dir + "/x.flac"}, ".wav"},
      {s.Mp3Ogm(), {}, "-v OUT.avi"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"demux", c.source};
    args.insert(args.end(), c.outputs.begin(), c.outputs.end());
    const CommandResult r = Tool(args);
    EXPECT_EQ(r.exitCode, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  for (const char* name : {"x.mp3", "x.wav", "x.avi", "x.mkv", "x.flac"})
    EXPECT_FALSE(Exists(dir + "/" + name)) << name;
}

TEST(Demux, AviSizeLimitKeepsAValidPrefix) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.Mp3Ogm().empty());
  const std::string out = s.OutputDir("limit") + "/out.avi";
  const CommandResult r = Tool({"demux", s.Mp3Ogm(), "-v", out, "--avi-limit", "100000"});
  EXPECT_EQ(r.exitCode, 0);  // the limit asked for was reached: not a failure
  EXPECT_NE(r.err.find("AVI size limit"), std::string::npos) << r.err;
  EXPECT_LE(ReadFile(out).size(), 100000u);
  const std::vector<std::string> written = FrameLines(FfmpegFrameMd5(out));
  const std::vector<std::string> source = FrameLines(FfmpegFrameMd5(s.Avi()));
  ASSERT_GT(written.size(), 5u);
  ASSERT_LT(written.size(), source.size());
  EXPECT_TRUE(std::equal(written.begin(), written.end(), source.begin()));
  EXPECT_NE(r.out.find("video: " + std::to_string(written.size()) + " frames"), std::string::npos)
      << r.out;
}

// A fourcc without a keyframe parser: every frame is marked and the user is
// told. The frames come from the test writer, so their bytes are known
// without any peer tool; one of them is large, one empty.
TEST(Demux, UnknownFourccMarksEveryFrameAndKeepsTheBytes) {
  REQUIRE_PEER_TOOLS();
  ogmtest::SimpleOgmOptions o;
  o.fourcc = "ABCD";
  o.frames = 30;
  o.gop = 10;
  o.largeFrames = {7};
  o.emptyFrames = {12};
  const ogmtest::SimpleOgm fixture = ogmtest::MakeSimpleOgm(o);
  const std::string dir = Samples::Get().OutputDir("abcd");
  ASSERT_TRUE(ogmtest::WriteBytes(dir + "/in.ogm", fixture.bytes));
  const CommandResult r = Tool({"demux", dir + "/in.ogm", "-v", dir + "/out.avi"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("every frame is marked a keyframe"), std::string::npos) << r.err;
  EXPECT_EQ(ProbeField(dir + "/out.avi", "video", "codec_tag_string"), "ABCD");
  const std::vector<std::string> flags = VideoPacketFlags(dir + "/out.avi");
  EXPECT_EQ(KeyColumn(flags), std::vector<char>(flags.size(), 'K'));

  // framemd5 of the OGM against the payloads the writer put in.
  const CommandResult md5 = Tool({"framemd5", dir + "/in.ogm"});
  ASSERT_EQ(md5.exitCode, 0) << md5.err;
  const std::vector<std::string> lines = FrameLines(md5.out);
  ASSERT_EQ(lines.size(), 30u);
  for (int i = 0; i < 30; ++i) {
    const ogmtest::Bytes payload = ogmtest::FramePayload(o, i);
    char want[160];
    std::snprintf(want, sizeof want, "0, %10d, %10d, %8d, %8zu, %s", i, i, 1, payload.size(),
                  cli::Md5::Hex(payload.data(), payload.size()).c_str());
    EXPECT_EQ(lines[i], want);
  }
  EXPECT_EQ(HeaderLines(md5.out)["codec_id 0"], "none");
}

}  // namespace
