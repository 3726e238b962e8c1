#include "input/input_source.h"

#include "platform/charset.h"

const char16_t* PluginNameFor(const char16_t* sourceName, int32_t useCache) {
  if (Utf16Contains(sourceName, u"://")) return u"RavelHTTP.dll";
  return useCache != 0 ? u"RavelCache.dll" : u"Ravel.dll";
}

int32_t BindInput(InputSource& input, const char16_t* pluginName) {
  LibraryHandle library = LoadLibraryByName(pluginName);
  if (library == nullptr) return 0;
  InputSource bound;
  bound.library = library;
  bound.read = reinterpret_cast<RavelReadFn>(FindLibraryEntry(library, u"RavelRead"));
  bound.seek = reinterpret_cast<RavelSeekFn>(FindLibraryEntry(library, u"RavelSeek"));
  bound.open = reinterpret_cast<RavelOpenFn>(FindLibraryEntry(library, u"RavelOpen"));
  bound.close = reinterpret_cast<RavelCloseFn>(FindLibraryEntry(library, u"RavelClose"));
  // A plug-in without all four entries cannot serve a source; calling a
  // missing entry later would jump to address zero.
  if (bound.read == nullptr || bound.seek == nullptr || bound.open == nullptr ||
      bound.close == nullptr) {
    UnloadLibrary(library);
    return 0;
  }
  input = bound;
  return 1;
}

void UnbindInput(InputSource& input, bool closeSource) {
  if (input.library == nullptr && input.close == nullptr) return;
  if (closeSource && input.close != nullptr) input.close();
  UnloadLibrary(input.library);
  input = InputSource{};
}

int32_t InputOpen(InputSource& input, const char16_t* name, int32_t readAheadBytes,
                  int32_t timeoutMs) {
  if (input.open == nullptr) return 0;
  const int32_t length = input.open(name, 0, 0, readAheadBytes, timeoutMs);
  input.position = 0;
  input.length = length > 0 ? length : 0;
  return length;
}

int32_t InputRead(InputSource& input, void* buffer, int32_t count) {
  if (input.read == nullptr || count <= 0) return 0;
  const int32_t got = input.read(buffer, count);
  // A plug-in that claims more than it was asked for (or a negative count)
  // would make the sync layer trust bytes that were never written.
  if (got > 0 && got <= count) {
    input.position += got;
    return got;
  }
  return input.position < input.length ? DECAPS_ERR_READ_FAILED : 0;
}

bool InputSeek(InputSource& input, int32_t offset) {
  if (input.seek == nullptr) return false;
  if (offset < 0) offset = 0;
  const bool moved = input.seek(offset, 0) != 0;
  // A refused seek leaves the plug-in where it was.
  if (moved) input.position = offset;
  return moved;
}
