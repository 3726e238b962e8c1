// framemd5 and seek against ffmpeg's view of the source AVI that went into
// the OGM file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tool_harness.h"

namespace {

using namespace tooltest;

class FrameMd5 : public ::testing::TestWithParam<std::string> {};

// Every frame line equals ffmpeg's on the source AVI, whatever audio track
// the file carries (the audio is read alongside and must not disturb the
// video).
TEST_P(FrameMd5, FrameLinesEqualFfmpegOnTheSourceAvi) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  const std::string& ogm = GetParam() == "mp3"      ? s.Mp3Ogm()
                           : GetParam() == "vorbis" ? s.VorbisOgm()
                           : GetParam() == "ac3"    ? s.Ac3Ogm()
                                                    : s.VideoOgm();
  ASSERT_FALSE(ogm.empty());
  const CommandResult r = Tool({"framemd5", ogm});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string reference = FfmpegFrameMd5(s.Avi());
  const std::vector<std::string> want = FrameLines(reference);
  ASSERT_EQ(want.size(), static_cast<size_t>(kFrames));
  EXPECT_EQ(FrameLines(r.out), want);
  // The header lines that describe the stream agree with ffmpeg's too.
  auto ours = HeaderLines(r.out);
  auto theirs = HeaderLines(reference);
  for (const char* key :
       {"format", "version", "hash", "tb 0", "media_type 0", "codec_id 0", "dimensions 0"})
    EXPECT_EQ(ours[key], theirs[key]) << key;
  EXPECT_EQ(LinesStartingWith(r.out, "#stream#"), LinesStartingWith(reference, "#stream#"));
}

INSTANTIATE_TEST_SUITE_P(Audio, FrameMd5, ::testing::Values("mp3", "vorbis", "ac3", "none"));

TEST(FrameMd5Ntsc, TimeBaseIs1001Over30000) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.NtscOgm().empty());
  const CommandResult r = Tool({"framemd5", s.NtscOgm()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string reference = FfmpegFrameMd5(s.NtscAvi());
  EXPECT_EQ(HeaderLines(r.out)["tb 0"], "1001/30000");
  EXPECT_EQ(HeaderLines(reference)["tb 0"], "1001/30000");
  EXPECT_EQ(FrameLines(r.out), FrameLines(reference));
}

std::string Field(const std::string& text, const std::string& label) {
  const std::vector<std::string> lines = LinesStartingWith(text, label);
  return lines.empty() ? "" : lines.front();
}

// Where a seek landed, from "landed on:    frame N, ...".
int LandedFrame(const std::string& out) {
  const std::string line = Field(out, "landed on:");
  const size_t at = line.find("frame ");
  return at == std::string::npos ? -1 : std::stoi(line.substr(at + 6));
}

// The frames printed after a seek are the source's frames from the landing
// keyframe on, numbered as in the source, and the keyframe line repeats
// the first one's size and MD5.
void ExpectSeekMatchesSource(const CommandResult& r, const std::vector<std::string>& source,
                             const std::vector<int>& keyframes, size_t count) {
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const int landed = LandedFrame(r.out);
  ASSERT_GE(landed, 0) << r.out;
  EXPECT_TRUE(std::count(keyframes.begin(), keyframes.end(), landed))
      << "frame " << landed << " is no keyframe";
  const std::vector<std::string> lines = FrameLines(r.out);
  ASSERT_EQ(lines.size(), count) << r.out;
  for (size_t i = 0; i < count; ++i) {
    ASSERT_LT(landed + i, source.size());
    EXPECT_EQ(lines[i], source[landed + i]);
  }
  // "keyframe:     SIZE bytes, md5 HEX" names the first line's size and hash.
  long long dts, pts, duration;
  size_t size;
  char md5[64];
  ASSERT_EQ(std::sscanf(lines.front().c_str(), "0, %lld, %lld, %lld, %zu, %63s", &dts, &pts,
                        &duration, &size, md5),
            5);
  EXPECT_EQ(Field(r.out, "keyframe:"),
            "keyframe:     " + std::to_string(size) + " bytes, md5 " + md5);
}

TEST(Seek, FrameSeekPrintsTheSourcesFramesFromTheLandingKeyframe) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.Mp3Ogm().empty());
  const std::vector<std::string> source = FrameLines(FfmpegFrameMd5(s.Avi()));
  const std::vector<int> keyframes = KeyframeIndices(s.Avi());
  ASSERT_FALSE(keyframes.empty());
  for (int target : {35, 60, 90}) {
    const CommandResult r =
        Tool({"seek", s.Mp3Ogm(), "--frame", std::to_string(target), "--frames", "3"});
    ExpectSeekMatchesSource(r, source, keyframes, 3);
    const int landed = LandedFrame(r.out);
    EXPECT_GE(landed, target) << "a frame seek lands on a keyframe at or after its target";
    EXPECT_LE(landed, target + 2 * kGop);
  }
}

TEST(Seek, PercentSeekPrintsTheSourcesFrames) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.Mp3Ogm().empty());
  const std::vector<std::string> source = FrameLines(FfmpegFrameMd5(s.Avi()));
  const std::vector<int> keyframes = KeyframeIndices(s.Avi());
  for (const char* percent : {"30", "50"}) {
    const CommandResult r = Tool({"seek", s.Mp3Ogm(), "--percent", percent, "--frames", "5"});
    ExpectSeekMatchesSource(r, source, keyframes, 5);
    EXPECT_GT(LandedFrame(r.out), 0) << percent;
  }
}

// "audio: R bytes remain after the seek (of T); position about C": C is
// (T - R) / (2 x channels x rate) for Vorbis, and the reader counts R from
// the frame it landed on, so C is that frame's time too.
TEST(Seek, VorbisAudioPositionFollowsFromTheRemainingBytes) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.VorbisOgm().empty());
  for (const char* percent : {"0", "10"}) {
    const CommandResult r = Tool({"seek", s.VorbisOgm(), "--percent", percent});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string audio = Field(r.out, "audio:");
    long remaining = 0, total = 0;
    ASSERT_EQ(std::sscanf(audio.c_str(), "audio: %ld bytes remain after the seek (of %ld)",
                          &remaining, &total),
              2)
        << audio;
    EXPECT_EQ(total, kSeconds * 44100L * 4);
    EXPECT_LE(remaining, total);
    const double seconds = (total - remaining) / (4.0 * 44100);
    char clock[32];
    std::snprintf(clock, sizeof clock, "00:%02d:%06.3f", static_cast<int>(seconds) / 60, seconds);
    EXPECT_NE(audio.find(std::string("position about ") + clock), std::string::npos)
        << audio << " vs " << clock;
    EXPECT_NEAR(seconds, LandedFrame(r.out) / static_cast<double>(kFps), 1.0 / kFps) << r.out;
  }
}

TEST(Seek, WithoutFramesPrintsOnlyTheLanding) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.VideoOgm().empty());
  const CommandResult r = Tool({"seek", s.VideoOgm(), "--frame", "0"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(LandedFrame(r.out), 0);
  EXPECT_TRUE(FrameLines(r.out).empty());
  EXPECT_EQ(Field(r.out, "audio:"), "audio:        none");
  const std::string first = FrameLines(FfmpegFrameMd5(s.Avi())).front();
  const std::string md5 = first.substr(first.rfind(", ") + 2);
  EXPECT_NE(Field(r.out, "keyframe:").find("md5 " + md5), std::string::npos);
}

}  // namespace
