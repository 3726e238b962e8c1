// The bound input plug-in: one library and its four entries. All byte input
// of the reader goes through here.
#ifndef OGMDECAPS_INPUT_INPUT_SOURCE_H
#define OGMDECAPS_INPUT_INPUT_SOURCE_H

#include <ogmdecaps/ogmdecaps.h>

#include <cstdint>

#include "platform/dynlib.h"

struct InputSource {
  LibraryHandle library = nullptr;  // none when no plug-in is bound
  RavelOpenFn open = nullptr;
  RavelReadFn read = nullptr;
  RavelSeekFn seek = nullptr;
  RavelCloseFn close = nullptr;
  // Where the next read starts and the length the plug-in reported: a read
  // that brings nothing before the length is a failure, not the end.
  int64_t position = 0;
  int64_t length = 0;
};

constexpr int32_t kInputReadFailed = -1;

// The plug-in library a source name asks for: "RavelHTTP.dll" for any name
// containing "://", else "RavelCache.dll" when useCache is nonzero, else
// "Ravel.dll".
const char16_t* PluginNameFor(const char16_t* sourceName, int32_t useCache);

// Loads the plug-in and looks up its four entries. 1 bound; 0 the library
// cannot be loaded or lacks an entry (then nothing stays loaded and the
// source is untouched).
int32_t BindInput(InputSource& input, const char16_t* pluginName);

// Closes the source (when open is true) and unloads the library; the source
// is then unbound. Safe on an unbound source.
void UnbindInput(InputSource& input, bool closeSource);

// Opens the source through the bound plug-in; the reported length, or 0
// (also when unbound). Reading then starts at byte 0.
int32_t InputOpen(InputSource& input, const char16_t* name, int32_t c, int32_t d);

// Reads up to count bytes: the count read; 0 at the end of data or when
// unbound; kInputReadFailed when the plug-in brings nothing (or reports
// anything outside 0..count) before the length it reported is reached.
int32_t InputRead(InputSource& input, void* buffer, int32_t count);

// Moves the read position to offset (absolute); false when the plug-in
// refused or nothing is bound.
bool InputSeek(InputSource& input, int32_t offset);

#endif
