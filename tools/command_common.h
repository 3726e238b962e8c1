// What the subcommands share: the usage text, usage errors, and opening the
// source through the loaded library.
#ifndef OGMDECAPS_TOOLS_COMMAND_COMMON_H
#define OGMDECAPS_TOOLS_COMMAND_COMMON_H

#include <memory>
#include <string>

#include "cli_args.h"
#include "reader_library.h"

namespace cli {

// The whole usage text.
const char* UsageText();

// Prints "ogmdecaps COMMAND: message" and a hint to stderr; returns kExitUsage.
int UsageError(const std::string& command, const std::string& message);
// Prints "ogmdecaps COMMAND: message" to stderr; returns kExitFailed.
int Failure(const std::string& command, const std::string& message);

// Prints that a read of the source failed before its end after frames
// frames (the output holds what came before); returns kExitFailed.
int ReadFailure(const std::string& command, int64_t frames);

// Library and source of one command run.
struct Session {
  ReaderLibrary library;
  std::unique_ptr<OpenSource> source;
};
// Loads the library and opens args.source(). Returns kExitOk, or prints why
// not and returns the exit code: kExitUsage for a bad common option,
// kExitFailed when the library or the source does not open.
int OpenSession(const std::string& command, const ParsedArgs& args, Session* session);

}  // namespace cli

#endif
