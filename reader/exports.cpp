// The library's boundary: one-line forwarders, nothing else. Nothing throws
// across it (the library is built without exceptions). The definitions
// carry no noexcept: the header declares them without, and clang refuses a
// definition whose noexcept differs from its declaration.
#include <ogmdecaps/ogmdecaps.h>

#include "reader/entries.h"

extern "C" {

int32_t AVIDecaps_Open(const char16_t* name, int32_t useCache, int32_t openArg, void** result) {
  return OpenEntry(name, useCache, openArg, result);
}
int32_t AVIDecaps_NextVideoFrame(void* dest, int32_t bufferBytes) {
  return NextVideoFrameEntry(dest, bufferBytes);
}
int32_t AVIDecaps_ReadAudio(void* buffer, int32_t byteCount) {
  return ReadAudioEntry(buffer, byteCount);
}
double AVIDecaps_FrameRate(void) { return FrameRateEntry(); }
int32_t AVIDecaps_Seek(int32_t position, int32_t byFrame) { return SeekEntry(position, byFrame); }
int32_t AVIDecaps_ReSeekAudio(void) { return ReSeekAudioEntry(); }
double AVIDecaps_GetProgress(void) { return GetProgressEntry(); }
int32_t AVIDecaps_Close(void) { return CloseEntry(); }

// Reached only through the function table.
int32_t AVIDecaps_AlwaysTrue(void) { return 1; }
int32_t AVIDecaps_SeekChapter(int32_t chapterIndex) { return SeekChapterEntry(chapterIndex); }
int32_t AVIDecaps_CloseIfStalled(void) { return CloseIfStalledEntry(); }

ReaderFunctions* InitializeReader(ReaderFunctions* table) {
  if (table == nullptr) return table;
  table->open = AVIDecaps_Open;
  table->readAudio = AVIDecaps_ReadAudio;
  table->nextVideoFrame = AVIDecaps_NextVideoFrame;
  table->seek = AVIDecaps_Seek;
  table->reSeekAudio = AVIDecaps_ReSeekAudio;
  table->getProgress = AVIDecaps_GetProgress;
  table->close = AVIDecaps_Close;
  table->alwaysTrue = AVIDecaps_AlwaysTrue;
  table->seekChapter = AVIDecaps_SeekChapter;
  // Slot 9 is the host's.
  table->closeIfStalled = AVIDecaps_CloseIfStalled;
  return table;
}

}  // extern "C"
