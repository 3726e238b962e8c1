// seek: one seek, then where the reader landed and, on request, the frames
// from there in framemd5 layout.
#include <cstdio>
#include <string>
#include <vector>

#include "command_common.h"
#include "commands.h"
#include "framemd5_format.h"
#include "md5.h"
#include "pump.h"
#include "stream_facts.h"

namespace cli {

int RunSeek(const std::vector<std::string>& args) {
  const char* kCommand = "seek";
  ParsedArgs parsed;
  std::string error;
  if (!parsed.Parse(
          args, {{"--percent", true}, {"--frame", true}, {"--chapter", true}, {"--frames", true}},
          &error))
    return UsageError(kCommand, error);
  const int targets = parsed.Has("--percent") + parsed.Has("--frame") + parsed.Has("--chapter");
  if (targets != 1)
    return UsageError(kCommand, "give exactly one of --percent P, --frame N, --chapter K");
  long long target = 0;
  long long frames = 0;
  std::string how;
  if (parsed.Has("--percent")) {
    if (!ParseInt(parsed.Value("--percent"), 0, 100, &target))
      return UsageError(kCommand, "--percent wants a whole number 0..100");
    how = "to " + std::to_string(target) + "%";
  } else if (parsed.Has("--frame")) {
    if (!ParseInt(parsed.Value("--frame"), 0, INT32_MAX, &target))
      return UsageError(kCommand, "--frame wants a frame number (0 or more)");
    how = "to frame " + std::to_string(target);
  } else {
    if (!ParseInt(parsed.Value("--chapter"), 1, 100, &target))
      return UsageError(kCommand, "--chapter wants a chapter number from 1 (as info lists them)");
    how = "to chapter " + std::to_string(target);
  }
  if (parsed.Has("--frames") && !ParseInt(parsed.Value("--frames"), 0, INT32_MAX, &frames))
    return UsageError(kCommand, "--frames wants a count (0 or more)");

  Session session;
  if (const int code = OpenSession(kCommand, parsed, &session); code != kExitOk) return code;
  const OpenSource& source = *session.source;
  const StreamInfo& info = source.info();
  const ReaderApi& api = source.api();
  if (parsed.Has("--chapter") && target > info.chapterCount)
    return UsageError(kCommand,
                      "the source has " + std::to_string(info.chapterCount) + " chapter(s)");

  int32_t remaining;
  if (parsed.Has("--percent"))
    remaining = api.seek(static_cast<int32_t>(target), 0);
  else if (parsed.Has("--frame"))
    remaining = api.seek(static_cast<int32_t>(target), 1);
  else
    remaining = api.table.seekChapter(static_cast<int32_t>(target - 1));
  const int32_t landed = info.currentFrame;
  const double fps = info.framesPerSecond;
  const AudioFacts audio = DescribeAudio(info);

  std::printf("seek:         %s\n", how.c_str());
  std::printf("landed on:    frame %d, %s (frame / fps)\n", landed,
              ClockTime(fps > 0 ? landed / fps : 0).c_str());

  // The first frame after a seek is the keyframe it landed on.
  std::vector<std::string> lines;
  Pump pump(source, false);
  bool first = true;
  pump.onVideo = [&](const uint8_t* data, size_t size) {
    if (first) {
      std::printf("keyframe:     %zu bytes, md5 %s\n", size, Md5::Hex(data, size).c_str());
      first = false;
    }
    if (frames > 0)
      lines.push_back(FrameMd5Line(landed + static_cast<int64_t>(lines.size()), data, size));
    return true;
  };
  pump.Run(false, frames > 0 ? frames : 1);
  if (first) std::printf("keyframe:     none (the video ended)\n");
  if (audio.present) {
    const double position =
        audio.bytesPerSecond > 0
            ? (static_cast<double>(info.totalAudioBytes) - remaining) / audio.bytesPerSecond
            : 0;
    std::printf(
        "audio:        %d bytes remain after the seek (of %d); position about %s (from the "
        "remaining bytes)\n",
        remaining, info.totalAudioBytes, ClockTime(position).c_str());
  } else {
    std::printf("audio:        none\n");
  }
  if (frames > 0) {
    std::fputs(FrameMd5Columns().c_str(), stdout);
    for (const std::string& line : lines) std::fputs(line.c_str(), stdout);
    if (static_cast<long long>(lines.size()) < frames)
      std::fprintf(stderr, "ogmdecaps seek: the video ended after %zu frame(s)\n", lines.size());
  }
  return std::fflush(stdout) == 0 ? kExitOk : Failure(kCommand, "cannot write the output");
}

}  // namespace cli
