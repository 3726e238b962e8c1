// The subcommands. Each takes the arguments after its name and returns the
// process exit code (see ExitCode).
#ifndef OGMDECAPS_TOOLS_COMMANDS_H
#define OGMDECAPS_TOOLS_COMMANDS_H

#include <string>
#include <vector>

namespace cli {

int RunInfo(const std::vector<std::string>& args);
int RunPlay(const std::vector<std::string>& args);
int RunDemux(const std::vector<std::string>& args);
int RunFrameMd5(const std::vector<std::string>& args);
int RunSeek(const std::vector<std::string>& args);

}  // namespace cli

#endif
