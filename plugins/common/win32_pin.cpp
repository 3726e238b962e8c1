// Linked into each plug-in DLL on Windows: once loaded, the DLL stays in
// memory until the process ends. A host may unload a plug-in right after a
// RavelClose from another thread, while the read that close aborted is
// still unwinding inside it.
#include <windows.h>

namespace {

const bool kPinned = [] {
  HMODULE self = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(&kPinned), &self) != 0;
}();

}  // namespace
