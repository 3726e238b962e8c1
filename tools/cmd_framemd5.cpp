// framemd5: one line per video frame, in ffmpeg's framemd5 layout.
#include <cstdio>
#include <string>
#include <vector>

#include "command_common.h"
#include "commands.h"
#include "framemd5_format.h"
#include "progress.h"
#include "pump.h"

namespace cli {

int RunFrameMd5(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!parsed.Parse(args, {}, &error)) return UsageError("framemd5", error);
  Session session;
  if (const int code = OpenSession("framemd5", parsed, &session); code != kExitOk) return code;
  const OpenSource& source = *session.source;
  std::fputs(FrameMd5Header(source.info()).c_str(), stdout);
  std::fputs(FrameMd5Columns().c_str(), stdout);
  ProgressBar progress(true);
  Pump pump(source, false);
  int64_t frame = 0;
  bool writeFailed = false;
  pump.onVideo = [&](const uint8_t* data, size_t size) {
    writeFailed = std::fputs(FrameMd5Line(frame++, data, size).c_str(), stdout) < 0;
    return !writeFailed;
  };
  pump.onProgress = [&](double percent) {
    progress.Update(percent, std::to_string(frame) + " frames");
  };
  pump.Run(false);
  progress.Done();
  if (writeFailed || std::fflush(stdout) != 0)
    return Failure("framemd5", "cannot write the output");
  if (pump.stats().readFailed) return ReadFailure("framemd5", pump.stats().frames);
  return kExitOk;
}

}  // namespace cli
