// The files a command writes: each is made under a temporary name beside
// its final one and renamed into place only when the command keeps it, so
// an existing file of that name is never half overwritten, and a failed or
// interrupted run (Ctrl-C, SIGTERM, SIGHUP) leaves nothing behind.
#ifndef OGMDECAPS_TOOLS_OUTPUT_FILES_H
#define OGMDECAPS_TOOLS_OUTPUT_FILES_H

#include <cstdio>
#include <string>

namespace cli {

// Creates or empties the file at path (UTF-8) for binary writing; nullptr
// with errno set when that fails. Windows takes the name as UTF-16.
std::FILE* OpenOutput(const std::string& path);

// True when both names reach the same existing file (device and inode).
bool SameFile(const std::string& a, const std::string& b);

class OutputFiles {
 public:
  OutputFiles();
  ~OutputFiles();  // removes what was neither kept nor discarded
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // The temporary name to write finalPath under (at most two per run).
  std::string Add(const std::string& finalPath);
  // Renames every file into place; false (with *error) when one fails.
  bool Keep(std::string* error);
  // Removes every temporary file.
  void Discard();
};

}  // namespace cli

#endif
