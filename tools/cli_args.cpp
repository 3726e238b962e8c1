#include "cli_args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace cli {

bool ParsedArgs::Parse(const std::vector<std::string>& args, std::vector<OptionSpec> specs,
                       std::string* error) {
  specs.push_back({"--library", true});
  specs.push_back({"--cache", false});
  specs.push_back({"--timeout", true});
  values_.clear();
  source_.clear();
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      if (!source_.empty()) {
        *error = "unexpected argument '" + arg + "' (one source at a time)";
        return false;
      }
      source_ = arg;
      continue;
    }
    std::string inlineValue;
    bool hasInline = false;
    const size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
      hasInline = true;
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs)
      if (arg == s.name) spec = &s;
    if (spec == nullptr) {
      *error = "unknown option '" + arg + "'";
      return false;
    }
    if (values_.count(arg) != 0) {
      *error = "option '" + arg + "' given twice";
      return false;
    }
    if (!spec->takesValue) {
      if (hasInline) {
        *error = "option '" + arg + "' takes no value";
        return false;
      }
      values_[arg] = "";
    } else if (hasInline) {
      values_[arg] = inlineValue;
    } else if (i + 1 < args.size()) {
      values_[arg] = args[++i];
    } else {
      *error = "option '" + arg + "' needs a value";
      return false;
    }
  }
  if (source_.empty()) {
    *error = "no source given (a file or a URL)";
    return false;
  }
  return true;
}

std::string ParsedArgs::Value(const std::string& name) const {
  const auto it = values_.find(name);
  return it == values_.end() ? std::string() : it->second;
}

bool ParseInt(const std::string& text, long long min, long long max, long long* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != 0 || v < min || v > max) return false;
  *out = v;
  return true;
}

bool ParseDouble(const std::string& text, double min, double max, double* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != 0 || !std::isfinite(v) || v < min || v > max)
    return false;
  *out = v;
  return true;
}

bool ReadSourceOptions(const ParsedArgs& args, SourceOptions* out, std::string* error) {
  out->library = args.Value("--library");
  out->useCache = args.Has("--cache");
  if (args.Has("--timeout")) {
    long long ms = 0;
    // The network plug-in's range: nothing it would silently change.
    if (!ParseInt(args.Value("--timeout"), 100, 30000, &ms)) {
      *error = "--timeout wants milliseconds (100..30000)";
      return false;
    }
    out->openArg = static_cast<int>(ms);
  }
  return true;
}

}  // namespace cli
