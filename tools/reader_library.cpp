#include "reader_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

#include <cstdlib>

#include "platform/charset.h"

#ifndef OGMDECAPS_CLI_LIBDIR
#define OGMDECAPS_CLI_LIBDIR "lib"
#endif

namespace cli {

#ifdef _WIN32
// The same few loader calls on Windows, by UTF-8 path.
namespace {

constexpr int RTLD_NOW = 0;
constexpr int RTLD_LOCAL = 0;
constexpr int F_OK = 0;
std::string lastError;

void* dlopen(const char* path, int) {
  const std::u16string wide = Utf8ToUtf16(path);
  HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
  lastError = module ? "" : "cannot load (Windows error " + std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(module);
}

void* dlsym(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

const char* dlerror() { return lastError.empty() ? nullptr : lastError.c_str(); }

int access(const char* path, int) {
  const std::u16string wide = Utf8ToUtf16(path);
  return GetFileAttributesW(reinterpret_cast<const wchar_t*>(wide.c_str())) ==
                 INVALID_FILE_ATTRIBUTES
             ? -1
             : 0;
}

}  // namespace

std::string ExecutableDir() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "";
  const std::string exe = Utf16ToUtf8(reinterpret_cast<const char16_t*>(path), n);
  const size_t slash = exe.find_last_of("\\/");
  return slash == std::string::npos ? "" : exe.substr(0, slash);
}

namespace {

// Where the library is looked for when neither the option nor the
// environment names it; dir is the program's folder. Windows keeps DLLs
// beside the program.
std::vector<std::string> BuiltInCandidates(const std::string& dir) {
  std::vector<std::string> out;
  if (!dir.empty()) out.push_back(dir + "/ogmdecaps.dll");
  out.push_back("ogmdecaps.dll");
  return out;
}

}  // namespace
#else
std::string ExecutableDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  const std::string exe(path, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? "" : exe.substr(0, slash);
}

namespace {

// Where the library is looked for when neither the option nor the
// environment names it; dir is the program's folder: the build tree's lib/,
// the installed library folder, then the loader's search path.
std::vector<std::string> BuiltInCandidates(const std::string& dir) {
  std::vector<std::string> out;
  if (!dir.empty()) {
    out.push_back(dir + "/../lib/libogmdecaps.so");
    const std::string installed = dir + "/../" OGMDECAPS_CLI_LIBDIR "/libogmdecaps.so";
    if (installed != out.back()) out.push_back(installed);
  }
  out.push_back("libogmdecaps.so");
  return out;
}

}  // namespace
#endif

std::vector<std::string> LibraryCandidates(const std::string& option) {
  if (!option.empty()) return {option};
  const char* env = std::getenv("OGMDECAPS_LIBRARY");
  if (env != nullptr && *env != 0) return {env};
  return BuiltInCandidates(ExecutableDir());
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
    if (candidate.find_first_of("/\\") != std::string::npos &&
        access(candidate.c_str(), F_OK) != 0) {
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
