#include <windows.h>

#include "platform/charset.h"
#include "platform/dynlib.h"

std::string LibraryFileName(const char16_t* name) { return Utf16ToUtf8(name); }

namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The folder of the module this code was linked into (the reader DLL), with
// a trailing backslash; empty when unknown.
std::wstring OwnFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&OwnFolder), &self))
    return std::wstring();
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(self, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool HasFolder(const char16_t* name) {
  for (size_t i = 0; name[i] != 0; ++i)
    if (name[i] == u'\\' || name[i] == u'/' || name[i] == u':') return true;
  return false;
}

HMODULE Load(const wchar_t* file) {
  // No "cannot find the DLL" message box for a missing or broken plug-in.
  DWORD previous = 0;
  const BOOL quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
  HMODULE library = LoadLibraryW(file);
  if (quiet) SetThreadErrorMode(previous, nullptr);
  return library;
}

}  // namespace

LibraryHandle LoadLibraryByName(const char16_t* name) {
  if (name == nullptr || name[0] == 0) return nullptr;
  HMODULE library = nullptr;
  // A bare name is looked for beside the reader DLL first, as the reader's
  // own run path does on Linux, then by the system's search.
  if (!HasFolder(name)) {
    const std::wstring folder = OwnFolder();
    if (!folder.empty()) library = Load((folder + Wide(name)).c_str());
  }
  if (library == nullptr) library = Load(Wide(name));
  return reinterpret_cast<LibraryHandle>(library);
}

void* FindLibraryEntry(LibraryHandle library, const char16_t* entryName) {
  if (library == nullptr) return nullptr;
  const std::string entry = Utf16ToUtf8(entryName);
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), entry.c_str()));
}

void UnloadLibrary(LibraryHandle library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}
