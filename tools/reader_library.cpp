#include "reader_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>

#include "utf16.h"

#ifndef OGMDECAPS_CLI_LIBDIR
#define OGMDECAPS_CLI_LIBDIR "lib"
#endif

namespace cli {

std::string ExecutableDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  const std::string exe(path, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? "" : exe.substr(0, slash);
}

std::vector<std::string> LibraryCandidates(const std::string& option) {
  if (!option.empty()) return {option};
  const char* env = std::getenv("OGMDECAPS_LIBRARY");
  if (env != nullptr && *env != 0) return {env};
  std::vector<std::string> out;
  const std::string dir = ExecutableDir();
  if (!dir.empty()) {
    out.push_back(dir + "/../lib/libogmdecaps.so");
    const std::string installed = dir + "/../" OGMDECAPS_CLI_LIBDIR "/libogmdecaps.so";
    if (installed != out.back()) out.push_back(installed);
  }
  out.push_back("libogmdecaps.so");
  return out;
}

namespace {

template <typename Fn>
bool Resolve(void* handle, const char* name, Fn* slot, std::string* error) {
  void* p = dlsym(handle, name);
  if (p == nullptr) {
    *error = std::string("the library does not export ") + name;
    return false;
  }
  *slot = reinterpret_cast<Fn>(p);
  return true;
}

}  // namespace

bool ReaderLibrary::Load(const std::string& option, std::string* error) {
  void* handle = nullptr;
  std::string tried;
  for (const std::string& candidate : LibraryCandidates(option)) {
    // A bare name goes to the loader's search; a path must exist.
    if (candidate.find('/') != std::string::npos && access(candidate.c_str(), F_OK) != 0) {
      tried += "\n  " + candidate + ": no such file";
      continue;
    }
    handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) {
      path_ = candidate;
      break;
    }
    const char* why = dlerror();
    tried += "\n  " + candidate + ": " + (why ? why : "cannot load");
  }
  if (handle == nullptr) {
    *error = "cannot load the reader library (use --library PATH or OGMDECAPS_LIBRARY):" + tried;
    return false;
  }
  ReaderFunctions* (*initialize)(ReaderFunctions*) = nullptr;
  if (!Resolve(handle, "AVIDecaps_Open", &api_.open, error) ||
      !Resolve(handle, "AVIDecaps_NextVideoFrame", &api_.nextVideoFrame, error) ||
      !Resolve(handle, "AVIDecaps_ReadAudio", &api_.readAudio, error) ||
      !Resolve(handle, "AVIDecaps_FrameRate", &api_.frameRate, error) ||
      !Resolve(handle, "AVIDecaps_Seek", &api_.seek, error) ||
      !Resolve(handle, "AVIDecaps_ReSeekAudio", &api_.reSeekAudio, error) ||
      !Resolve(handle, "AVIDecaps_GetProgress", &api_.getProgress, error) ||
      !Resolve(handle, "AVIDecaps_Close", &api_.close, error) ||
      !Resolve(handle, "InitializeReader", &initialize, error))
    return false;
  if (initialize(&api_.table) != &api_.table || api_.table.seekChapter == nullptr) {
    *error = "InitializeReader did not fill the function table";
    return false;
  }
  return true;
}

OpenSource::~OpenSource() { Close(); }

bool OpenSource::Open(const std::string& name, bool useCache, int openArg) {
  Close();
  const std::u16string wide = Utf8ToUtf16(name);
  void* result = nullptr;
  if (api_.open(wide.c_str(), useCache ? 1 : 0, openArg, &result) != 1 || result == nullptr)
    return false;
  info_ = static_cast<const StreamInfo*>(result);
  open_ = true;
  return true;
}

void OpenSource::Close() {
  if (open_) api_.close();
  open_ = false;
}

}  // namespace cli
