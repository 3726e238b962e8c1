#include <dlfcn.h>

#include "platform/charset.h"
#include "platform/dynlib.h"

std::string LibraryFileName(const char16_t* name) {
  std::string file = Utf16ToUtf8(name);
  static const char kDll[] = ".dll";
  const size_t n = sizeof(kDll) - 1;
  if (file.size() >= n && CompareNoCase(file.c_str() + file.size() - n, kDll, n) == 0) {
    file.replace(file.size() - n, n, ".so");
  }
  return file;
}

namespace {

// The folder of the object this code was linked into (the reader library).
std::string OwnFolder() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || info.dli_fname == nullptr)
    return std::string();
  const std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

LibraryHandle LoadLibraryByName(const char16_t* name) {
  const std::string file = LibraryFileName(name);
  if (file.empty()) return nullptr;
  // RTLD_LOCAL keeps one plug-in's symbols from resolving another's.
  void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr && file.find('/') == std::string::npos) {
    // The loader consults the RUNPATH of the object that calls dlopen; where
    // dlopen is intercepted (sanitizer runtimes, some debuggers) that is not
    // us, so look beside the reader library explicitly as well.
    const std::string folder = OwnFolder();
    if (!folder.empty()) library = dlopen((folder + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  return library;
}

void* FindLibraryEntry(LibraryHandle library, const char16_t* entryName) {
  if (library == nullptr) return nullptr;
  const std::string entry = Utf16ToUtf8(entryName);
  return dlsym(library, entry.c_str());
}

void UnloadLibrary(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}
