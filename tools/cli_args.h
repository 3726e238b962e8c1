// Command-line parsing shared by the subcommands: one source argument and
// named options, with or without a value.
#ifndef OGMDECAPS_TOOLS_CLI_ARGS_H
#define OGMDECAPS_TOOLS_CLI_ARGS_H

#include <map>
#include <string>
#include <vector>

namespace cli {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct OptionSpec {
  const char* name;  // "--json", "-v"
  bool takesValue;
};

class ParsedArgs {
 public:
  // Accepts "--name value" and "--name=value". Every command also takes the
  // common options (--library, --cache, --timeout). Exactly one positional
  // argument (the source) is required.
  bool Parse(const std::vector<std::string>& args, std::vector<OptionSpec> specs,
             std::string* error);

  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  std::string Value(const std::string& name) const;
  const std::string& source() const { return source_; }

 private:
  std::map<std::string, std::string> values_;
  std::string source_;
};

// Whole-string numbers in [min, max]; false otherwise.
bool ParseInt(const std::string& text, long long min, long long max, long long* out);
bool ParseDouble(const std::string& text, double min, double max, double* out);

// What every command needs to reach the reader.
struct SourceOptions {
  std::string library;
  bool useCache = false;
  int openArg = 0;
};
// Reads the common options; false (with error) when --timeout is bad.
bool ReadSourceOptions(const ParsedArgs& args, SourceOptions* out, std::string* error);

}  // namespace cli

#endif
