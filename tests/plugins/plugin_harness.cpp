#include "plugin_harness.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "platform/charset.h"

Plugin::Plugin(const std::string& name) {
  const std::string path = std::string(PLUGIN_DIR) + "/" + name + ".so";
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) throw std::runtime_error(dlerror());
  open = reinterpret_cast<RavelOpenFn>(dlsym(library, "RavelOpen"));
  read = reinterpret_cast<RavelReadFn>(dlsym(library, "RavelRead"));
  seek = reinterpret_cast<RavelSeekFn>(dlsym(library, "RavelSeek"));
  close = reinterpret_cast<RavelCloseFn>(dlsym(library, "RavelClose"));
  if (!open || !read || !seek || !close) throw std::runtime_error(path + ": entry missing");
}

int32_t Plugin::Open(const std::string& name, int32_t c, int32_t d) const {
  return open(Utf8ToUtf16(name).c_str(), 0, 0, c, d);
}

std::string Plugin::ReadAll(int32_t chunk) const {
  std::string out, piece(static_cast<size_t>(chunk), '\0');
  while (int32_t got = read(piece.data(), chunk)) out.append(piece, 0, static_cast<size_t>(got));
  return out;
}

std::string Plugin::ReadAt(int32_t offset, int32_t count) const {
  std::string out(static_cast<size_t>(count), '\0');
  if (seek(offset, 0) != 1) return "seek refused";
  size_t done = 0;
  while (done < out.size()) {
    const int32_t got = read(out.data() + done, count - static_cast<int32_t>(done));
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  out.resize(done);
  return out;
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string data(size, '\0');
  for (char& ch : data) ch = static_cast<char>(generator());
  return data;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ravel-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& data) const {
  const std::string path = path_ + "/" + name;
  std::ofstream(path, std::ios::binary)
      .write(data.data(), static_cast<std::streamsize>(data.size()));
  return path;
}
