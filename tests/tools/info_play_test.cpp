// info and play on the samples, checked against what ffprobe says about the
// files that went into them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "mini_json.h"
#include "test_paths.h"
#include "tool_harness.h"

namespace {

using namespace tooltest;

JsonValue InfoJson(const std::string& path) {
  const CommandResult r = Tool({"info", path, "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  JsonValue v;
  std::string error;
  EXPECT_TRUE(ParseJson(r.out, &v, &error)) << error << "\n" << r.out;
  return v;
}

void ExpectVideoMatchesSource(const JsonValue& video, const std::string& avi) {
  EXPECT_EQ(video["width"].number, std::stoi(ProbeField(avi, "video", "width")));
  EXPECT_EQ(video["height"].number, std::stoi(ProbeField(avi, "video", "height")));
  EXPECT_EQ(video["frameRate"].text, ProbeField(avi, "video", "r_frame_rate"));
  EXPECT_EQ(video["frameCount"].number, FrameLines(FfmpegFrameMd5(avi)).size());
  EXPECT_EQ(video["fourcc"].text, ProbeField(avi, "video", "codec_tag_string"));
  EXPECT_EQ(video["codec"].text, ProbeField(avi, "video", "codec_name"));
}

TEST(Info, JsonMatchesFfprobeOnTheSources) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.Mp3Ogm().empty());
  ASSERT_FALSE(s.VorbisOgm().empty());
  ASSERT_FALSE(s.VideoOgm().empty());

  const JsonValue mp3 = InfoJson(s.Mp3Ogm());
  ExpectVideoMatchesSource(mp3["video"], s.Avi());
  EXPECT_EQ(mp3["video"]["framesPerSecond"].number, 25);
  EXPECT_EQ(mp3["video"]["durationSeconds"].number, kSeconds);
  EXPECT_EQ(mp3["video"]["duration"].text, "00:00:06.000");
  EXPECT_EQ(mp3["video"]["frameCountIsEstimate"].kind, JsonValue::kBool);
  EXPECT_FALSE(mp3["video"]["frameCountIsEstimate"].boolean);
  EXPECT_EQ(mp3["audio"]["format"].number, 0x55);
  EXPECT_EQ(mp3["audio"]["formatName"].text, "MP3");
  EXPECT_EQ(mp3["audio"]["channels"].number, std::stoi(ProbeField(s.Mp3(), "audio", "channels")));
  EXPECT_EQ(mp3["audio"]["sampleRate"].number,
            std::stoi(ProbeField(s.Mp3(), "audio", "sample_rate")));
  EXPECT_EQ(mp3["chapters"].kind, JsonValue::kArray);
  EXPECT_TRUE(mp3["chapters"].items.empty());

  const JsonValue vorbis = InfoJson(s.VorbisOgm());
  ExpectVideoMatchesSource(vorbis["video"], s.Avi());
  EXPECT_EQ(vorbis["audio"]["format"].number, 0);
  EXPECT_EQ(vorbis["audio"]["formatName"].text, "Vorbis (PCM)");
  EXPECT_EQ(vorbis["audio"]["channels"].number,
            std::stoi(ProbeField(s.VorbisOgg(), "audio", "channels")));
  EXPECT_EQ(vorbis["audio"]["sampleRate"].number,
            std::stoi(ProbeField(s.VorbisOgg(), "audio", "sample_rate")));
  // 16-bit PCM over the video's length.
  EXPECT_EQ(vorbis["audio"]["totalBytes"].number, kSeconds * 44100 * 2 * 2);

  const JsonValue none = InfoJson(s.VideoOgm());
  ExpectVideoMatchesSource(none["video"], s.Avi());
  EXPECT_EQ(none["audio"].kind, JsonValue::kNull);

  const JsonValue ntsc = InfoJson(s.NtscOgm());
  ExpectVideoMatchesSource(ntsc["video"], s.NtscAvi());
  EXPECT_NEAR(ntsc["video"]["framesPerSecond"].number, 30000.0 / 1001, 1e-4);
}

TEST(Info, TextNamesTheStreams) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.Ac3Ogm().empty());
  const CommandResult r = Tool({"info", s.Ac3Ogm()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("video:     160x120, fourcc XVID (mpeg4)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("25.000 fps (25/1), 150 frames, duration 00:00:06.000"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("audio:     AC3 (format tag 0x2000), 2 channels, 48000 samples per second"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("chapters:  0"), std::string::npos) << r.out;
}

// Chapter names come through UTF-16 and JSON intact; each chapter's time is
// the keyframe a chapter seek lands on, the same one `seek --chapter` shows.
TEST(Info, ChaptersLandOnKeyframesAndAgreeWithSeek) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.ChapterOgm().empty());
  const JsonValue info = InfoJson(s.ChapterOgm());
  const std::vector<JsonValue>& chapters = info["chapters"].items;
  ASSERT_EQ(chapters.size(), kChapters.size());
  const std::vector<int> keyframes = KeyframeIndices(s.Avi());
  const std::vector<std::string> source = FrameLines(FfmpegFrameMd5(s.Avi()));
  for (size_t i = 0; i < chapters.size(); ++i) {
    const JsonValue& c = chapters[i];
    EXPECT_EQ(c["number"].number, i + 1);
    EXPECT_EQ(c["name"].text, kChapters[i].name);
    const int frame = static_cast<int>(c["frame"].number);
    const int start = static_cast<int>(kChapters[i].startMs * kFps / 1000);
    EXPECT_GE(frame, start) << c["name"].text;
    EXPECT_LE(frame, start + kGop) << c["name"].text;
    EXPECT_TRUE(std::count(keyframes.begin(), keyframes.end(), frame)) << frame;
    EXPECT_DOUBLE_EQ(c["seconds"].number, frame / static_cast<double>(kFps));

    const CommandResult seek =
        Tool({"seek", s.ChapterOgm(), "--chapter", std::to_string(i + 1), "--frames", "2"});
    ASSERT_EQ(seek.exitCode, 0) << seek.err;
    EXPECT_NE(seek.out.find("landed on:    frame " + std::to_string(frame) + ","),
              std::string::npos)
        << seek.out;
    const std::vector<std::string> lines = FrameLines(seek.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], source[frame]);
    EXPECT_EQ(lines[1], source[frame + 1]);
  }
  const CommandResult text = Tool({"info", s.ChapterOgm()});
  EXPECT_NE(text.out.find("chapters:  3"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Finale"), std::string::npos);
  const CommandResult beyond = Tool({"seek", s.ChapterOgm(), "--chapter", "4"});
  EXPECT_EQ(beyond.exitCode, 2);
  EXPECT_NE(beyond.err.find("3 chapter(s)"), std::string::npos) << beyond.err;
}

// The number after label in "label N unit" lines of the play summary.
double SummaryNumber(const std::string& out, const std::string& label, const std::string& before) {
  const std::vector<std::string> lines = LinesStartingWith(out, label);
  if (lines.empty()) return -1;
  const size_t at = lines.front().find(before);
  if (at == std::string::npos) return -1;
  return std::stod(lines.front().substr(at + before.size()));
}

size_t SourceVideoBytes(const std::string& avi) {
  size_t total = 0;
  for (const std::string& line : FrameLines(FfmpegFrameMd5(avi))) {
    long long a, b, c;
    size_t size;
    if (std::sscanf(line.c_str(), "0, %lld, %lld, %lld, %zu,", &a, &b, &c, &size) == 4)
      total += size;
  }
  return total;
}

TEST(Play, DeliversEveryFrameAndTheAudio) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.Mp3Ogm().empty());
  ASSERT_FALSE(s.VorbisOgm().empty());
  const double videoBytes = static_cast<double>(SourceVideoBytes(s.Avi()));

  const CommandResult mp3 = Tool({"play", s.Mp3Ogm()});
  ASSERT_EQ(mp3.exitCode, 0) << mp3.err;
  EXPECT_EQ(SummaryNumber(mp3.out, "video:", "video:"), kFrames) << mp3.out;
  EXPECT_EQ(SummaryNumber(mp3.out, "video:", "frames, "), videoBytes) << mp3.out;
  // Raw audio is taken in fixed requests: all of it but a last partial one.
  const double mp3Bytes = static_cast<double>(ReadFile(s.Mp3()).size());
  const double audio = SummaryNumber(mp3.out, "audio:", "audio:");
  EXPECT_LE(audio, mp3Bytes) << mp3.out;
  EXPECT_GT(audio, mp3Bytes - 4096) << mp3.out;

  const CommandResult vorbis = Tool({"play", s.VorbisOgm()});
  ASSERT_EQ(vorbis.exitCode, 0) << vorbis.err;
  EXPECT_EQ(SummaryNumber(vorbis.out, "video:", "video:"), kFrames) << vorbis.out;
  EXPECT_NEAR(SummaryNumber(vorbis.out, "audio:", "bytes, "), kSeconds, 0.1) << vorbis.out;
  const double atEnd = SummaryNumber(vorbis.out, "a/v:", "video - audio = ");
  EXPECT_NEAR(atEnd, 0, 0.1) << vorbis.out;
  EXPECT_NE(vorbis.out.find("throughput:"), std::string::npos);
}

// A player's two threads on 30 s of large frames (a noisy picture at
// 1.5 Mbit/s) with a keyframe every 10 s and 128 kbit/s Vorbis of noise:
// far more than 1 MiB of video lies between keyframes, and all of it comes
// out, the audio ending with the video.
TEST(Play, DeliversEveryLargeFrameBetweenKeyframesTenSecondsApart) {
  REQUIRE_PEER_TOOLS();
  const std::string dir = Samples::Get().OutputDir("gop250");
  const std::string avi = ogmtest::MakePeerNoisyAvi(dir, 30, kFps, 250);
  const std::string ogg = dir + "/noise.ogg";
  const CommandResult noise =
      ogmtest::RunCommand({OGM_FFMPEG, "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-f",
                           "lavfi", "-i", "anoisesrc=sample_rate=44100:amplitude=0.5", "-t", "30",
                           "-ac", "2", "-c:a", "libvorbis", "-b:a", "128k", ogg});
  ASSERT_EQ(noise.exitCode, 0) << noise.err;
  ASSERT_FALSE(avi.empty());
  const std::string ogm = ogmtest::MakePeerOgm(dir, "gop250.ogm", {avi, ogg});
  ASSERT_FALSE(ogm.empty());

  const CommandResult r = Tool({"play", ogm});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(SummaryNumber(r.out, "video:", "video:"), FrameLines(FfmpegFrameMd5(avi)).size())
      << r.out;
  EXPECT_EQ(SummaryNumber(r.out, "video:", "frames, "), SourceVideoBytes(avi)) << r.out;
  EXPECT_NEAR(SummaryNumber(r.out, "audio:", "bytes, "), 30, 0.1) << r.out;
  EXPECT_NEAR(SummaryNumber(r.out, "a/v:", "video - audio = "), 0, 0.1) << r.out;
}

// The video thread may not run more than two seconds past a due seek, so
// the first seek always happens; later ones depend on where it landed.
TEST(Play, SeeksFromAThirdThreadLandOnKeyframes) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.Mp3Ogm().empty());
  const std::vector<int> keyframes = KeyframeIndices(s.Avi());
  // Without audio too; there the landing frame is read after the seek (the
  // video thread may have moved on), so only the count is checked.
  for (const std::string& source : {s.Mp3Ogm(), s.VideoOgm()}) {
    const CommandResult r = Tool({"play", source, "--seek-every", "30"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const double seeks = SummaryNumber(r.out, "seeks:", "seeks:");
    EXPECT_GE(seeks, 1) << r.out;
    EXPECT_LE(seeks, 3) << r.out;  // 30, 60 and 90 percent
    if (source != s.Mp3Ogm()) continue;
    const std::vector<std::string> landings = LinesStartingWith(r.out, "            ");
    int listed = 0;
    for (const std::string& line : landings) {
      int percent = 0, frame = -1;
      if (std::sscanf(line.c_str(), " %d%% -> frame %d", &percent, &frame) != 2) continue;
      ++listed;
      EXPECT_TRUE(std::count(keyframes.begin(), keyframes.end(), frame)) << line;
    }
    EXPECT_EQ(listed, seeks) << r.out;
  }
}

TEST(Play, RealtimeDeliversTheWholeShortFile) {
  REQUIRE_PEER_TOOLS();
  Samples& s = Samples::Get();
  ASSERT_FALSE(s.NtscOgm().empty());
  const CommandResult r = Tool({"play", s.NtscOgm(), "--realtime"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(SummaryNumber(r.out, "video:", "video:"),
            FrameLines(FfmpegFrameMd5(s.NtscAvi())).size())
      << r.out;
  EXPECT_NE(r.out.find("audio:      none"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(paced by --realtime)"), std::string::npos) << r.out;
}

}  // namespace
