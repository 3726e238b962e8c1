// Test helpers: plug-ins loaded by file path through dlopen (the exported
// ABI is what gets tested), temporary files and pseudo-random content.
#ifndef OGMDECAPS_TESTS_PLUGINS_PLUGIN_HARNESS_H
#define OGMDECAPS_TESTS_PLUGINS_PLUGIN_HARNESS_H

#include <ogmdecaps/ogmdecaps.h>

#include <cstdint>
#include <string>

struct Plugin {
  explicit Plugin(const std::string& name);  // "Ravel", "RavelCache", "RavelHTTP"
  // name is UTF-8; it is handed over as UTF-16 like the reader does.
  int32_t Open(const std::string& name, int32_t c = -1, int32_t d = 0) const;
  // Reads to the end in pieces of chunk bytes.
  std::string ReadAll(int32_t chunk = 4096) const;
  std::string ReadAt(int32_t offset, int32_t count) const;

  RavelOpenFn open = nullptr;
  RavelReadFn read = nullptr;
  RavelSeekFn seek = nullptr;
  RavelCloseFn close = nullptr;
};

std::string RandomBytes(size_t size, uint32_t seed);

// A fresh directory, removed (with its contents) on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::string& data) const;

 private:
  std::string path_;
};

#endif
