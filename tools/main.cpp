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
    if (a == "-h" || a == "--help" || a == "help") {
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
  if (command == "info") return RunInfo(args);
  if (command == "play") return RunPlay(args);
  if (command == "demux") return RunDemux(args);
  if (command == "framemd5") return RunFrameMd5(args);
  if (command == "seek") return RunSeek(args);
  std::fprintf(stderr, "ogmdecaps: unknown command '%s'\n\n%s", command.c_str(), UsageText());
  return kExitUsage;
}
