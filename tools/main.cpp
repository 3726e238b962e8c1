// ogmdecaps: command-line host of the OGM reader library.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli_args.h"
#include "command_common.h"
#include "commands.h"

#ifdef _WIN32
#include <windows.h>
// After <windows.h>, which it needs:
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include "platform/charset.h"

namespace {

// The arguments as UTF-8, from the UTF-16 command line: argv holds them in
// the ANSI code page, which loses every character outside it.
std::vector<std::string> Utf8Arguments() {
  std::vector<std::string> out;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return out;
  for (int i = 0; i < argc; ++i) {
    const auto* arg = reinterpret_cast<const char16_t*>(argv[i]);
    out.push_back(Utf16ToUtf8(arg, wcslen(argv[i])));
  }
  LocalFree(argv);
  return out;
}

}  // namespace
#endif

int main(int argc, char** argv) {
  using namespace cli;
#ifdef _WIN32
  // Output is the same bytes as on other systems (no CR added before LF).
  _setmode(_fileno(stdout), _O_BINARY);
  const std::vector<std::string> wideArgs = Utf8Arguments();
  std::vector<char*> utf8Argv;
  for (const std::string& a : wideArgs) utf8Argv.push_back(const_cast<char*>(a.c_str()));
  if (!utf8Argv.empty()) {
    argc = static_cast<int>(utf8Argv.size());
    argv = utf8Argv.data();
  }
#endif
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
