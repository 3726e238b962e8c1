// Running the built ogmdecaps binary, and the sample files the tests feed it:
// made with ffmpeg and ogmmerge on first use, once per test process.
#ifndef OGMDECAPS_TESTS_TOOLS_TOOL_HARNESS_H
#define OGMDECAPS_TESTS_TOOLS_TOOL_HARNESS_H

#include <map>
#include <string>
#include <vector>

#include "peer_files.h"

namespace tooltest {

using ogmtest::CommandResult;

// ogmdecaps with these arguments.
CommandResult Tool(const std::vector<std::string>& args);

// The samples: one MPEG-4 Visual test pattern (fourcc XVID, 160x120,
// kSeconds at 25 fps, a keyframe every kGop frames, no B-frames) muxed with
// several audio tracks. Each accessor returns "" when the peer tools are
// missing or failed.
constexpr int kSeconds = 6;
constexpr int kFps = 25;
constexpr int kGop = 25;
constexpr int kFrames = kSeconds * kFps;

class Samples {
 public:
  static Samples& Get();
  const std::string& dir() const { return dir_.path(); }
  std::string Path(const std::string& name) const { return dir_.File(name); }
  // A fresh subfolder for a test's outputs.
  std::string OutputDir(const std::string& tag);

  const std::string& Avi();        // v.avi
  const std::string& Mp3();        // a.mp3: plain MPEG frames, 44.1 kHz stereo
  const std::string& Ac3();        // a.ac3: 48 kHz stereo
  const std::string& VorbisOgg();  // a.ogg: 44.1 kHz stereo
  const std::string& Mp3Ogm();     // v.avi + a.mp3
  const std::string& Ac3Ogm();     // v.avi + a.ac3
  const std::string& VorbisOgm();  // v.avi + a.ogg
  const std::string& VideoOgm();   // v.avi alone
  const std::string& NtscAvi();    // 2 s at 30000/1001 fps
  const std::string& NtscOgm();
  // Mp3Ogm with three chapters (kChapters) in the video comments.
  const std::string& ChapterOgm();

 private:
  Samples() : dir_("ogmtools") {}
  const std::string& Make(const std::string& key, std::string (*make)(Samples&));
  ogmtest::TempDir dir_;
  std::map<std::string, std::string> made_;
  int outputs_ = 0;
};

struct ChapterSpec {
  int64_t startMs;
  const char* name;
};
extern const std::vector<ChapterSpec> kChapters;

// Skips the calling test when ffmpeg, ffprobe or ogmmerge is missing.
#define REQUIRE_PEER_TOOLS()                                                   \
  do {                                                                         \
    if (!ogmtest::HaveFfmpeg() || !ogmtest::HaveOgmmerge())                    \
      GTEST_SKIP() << "ffmpeg, ffprobe and ogmmerge are needed for this test"; \
  } while (0)

// The frame lines ("0, ...") of framemd5-shaped text, in order.
std::vector<std::string> FrameLines(const std::string& text);
// Header lines "#key: value" of framemd5-shaped text, by key ("tb 0").
std::map<std::string, std::string> HeaderLines(const std::string& text);
// `ffmpeg -i path -map 0:v -c copy -f framemd5 -` as text.
std::string FfmpegFrameMd5(const std::string& path);
// The video packets' flags as ffprobe shows them ("K_", "__"), in order.
std::vector<std::string> VideoPacketFlags(const std::string& path);
// Indices of the frames ffprobe flags as keyframes.
std::vector<int> KeyframeIndices(const std::string& path);
// One "key=value" field of `ffprobe -show_streams` for the first stream of
// the given type ("video", "audio").
std::string ProbeField(const std::string& path, const std::string& type, const std::string& key);
// Lines of text that start with prefix.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix);
// A whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace tooltest

#endif
