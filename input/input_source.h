// The bound input plug-in: one library and its four entries. All byte input
// of the reader goes through here.
#ifndef OGMDECAPS_INPUT_INPUT_SOURCE_H
#define OGMDECAPS_INPUT_INPUT_SOURCE_H

#include <ogmdecaps/ogmdecaps.h>

#include <cstdint>

#include "input/result.h"
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

// The read-ahead an open asks for: the plug-in's own default, or the
// window a local file is read through once discovery knows its length
// (the cache plug-in's window; the others ignore it).
constexpr int32_t kDefaultReadAhead = -1;
constexpr int32_t kFileReadAheadBytes = 4000000;
// The time-out of an open the host gave none for: longer than any plug-in
// accepts, so each clamps it to its own longest wait.
constexpr int32_t kLongestOpenTimeoutMs = 1000000;

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

// Opens the source through the bound plug-in, with its read-ahead in bytes
// and its time-out in milliseconds for a network source; the reported
// length, or 0 (also when unbound). Reading then starts at byte 0.
int32_t InputOpen(InputSource& input, const char16_t* name, int32_t readAheadBytes,
                  int32_t timeoutMs);

// Reads up to count bytes: the count read; 0 at the end of data or when
// unbound; DECAPS_ERR_READ_FAILED when the plug-in brings nothing (or reports
// anything outside 0..count) before the length it reported is reached.
int32_t InputRead(InputSource& input, void* buffer, int32_t count);

// Moves the read position to offset (absolute); false when the plug-in
// refused or nothing is bound.
bool InputSeek(InputSource& input, int32_t offset);

#endif
