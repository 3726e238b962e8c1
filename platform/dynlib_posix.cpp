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

LibraryHandle LoadLibraryByName(const char16_t* name) {
  const std::string file = LibraryFileName(name);
  if (file.empty()) return nullptr;
  // RTLD_LOCAL keeps one plug-in's symbols from resolving another's.
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindLibraryEntry(LibraryHandle library, const char16_t* entryName) {
  if (library == nullptr) return nullptr;
  const std::string entry = Utf16ToUtf8(entryName);
  return dlsym(library, entry.c_str());
}

void UnloadLibrary(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}
