// Internal entry routines behind the exported shims of exports.cpp. Each
// returns exactly what its exported name returns to the host.
#ifndef OGMDECAPS_READER_ENTRIES_H
#define OGMDECAPS_READER_ENTRIES_H

#include <ogmdecaps/ogmdecaps.h>

#include <cstdint>

#include "input/input_source.h"
#include "state/reader_state.h"

// The one reader of the process; only reader/ names it, the floors below
// get it as ReaderState&.
extern ReaderState gReader;

int32_t OpenEntry(const char16_t* name, int32_t useCache, int32_t openArg, void** result);
// Opens through an input that is already bound (tests bind in-memory
// sources this way); the input is owned by the reader from here on, also on
// failure.
int32_t OpenWithInput(const InputSource& input, const char16_t* name, int32_t openArg,
                      void** result);
int32_t CloseEntry();
int32_t CloseIfStalledEntry();
double FrameRateEntry();
double GetProgressEntry();

int32_t NextVideoFrameEntry(void* dest, int32_t capacity = 0);
int32_t ReadAudioEntry(void* buffer, int32_t byteCount);
int32_t SeekEntry(int32_t position, int32_t byFrame);
int32_t SeekChapterEntry(int32_t chapterIndex);
int32_t ReSeekAudioEntry();

#endif
