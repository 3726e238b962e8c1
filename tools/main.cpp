// ogmdecaps: command-line host of the OGM reader library.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli_args.h"
#include "command_common.h"
#include "commands.h"

int main(int argc, char** argv) {
  using namespace cli;
  std::vector<std::string> args;
  std::string command;
  // Options may also come before the command name ("ogmdecaps --library X
  // info FILE"): they are handed to the command.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    // "help" is the command only in the command's place: after it, it is a
    // file name.
    if (a == "-h" || a == "--help" || (a == "help" && command.empty())) {
      std::fputs(UsageText(), stdout);
      return kExitOk;
    }
    if (command.empty() && !a.empty() && a[0] != '-') {
      command = a;
      continue;
    }
    args.push_back(a);
    if (command.empty() && (a == "--library" || a == "--timeout") && i + 1 < argc)
      args.push_back(argv[++i]);
  }
  if (command.empty()) {
    std::fputs(UsageText(), stderr);
    return kExitUsage;
  }
  int code;
  if (command == "info") {
    code = RunInfo(args);
  } else if (command == "play") {
    code = RunPlay(args);
  } else if (command == "demux") {
    code = RunDemux(args);
  } else if (command == "framemd5") {
    code = RunFrameMd5(args);
  } else if (command == "seek") {
    code = RunSeek(args);
  } else {
    std::fprintf(stderr, "ogmdecaps: unknown command '%s'\n\n%s", command.c_str(), UsageText());
    return kExitUsage;
  }
  // Whatever the command printed must have reached stdout (a full disk, a
  // closed pipe): otherwise the run failed, whatever the command found.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "ogmdecaps %s: cannot write to stdout\n", command.c_str());
    return kExitFailed;
  }
  return code;
}
