// The library's boundary: one-line forwarders, nothing else. Nothing throws
// across it (the library is built without exceptions).
#include <ogmdecaps/ogmdecaps.h>

#include "reader/entries.h"

extern "C" {

int32_t AVIDecaps_Open(const char16_t* name, int32_t useCache, int32_t openArg,
                       void** result) noexcept {
  return OpenEntry(name, useCache, openArg, result);
}
int32_t AVIDecaps_NextVideoFrame(void* dest, int32_t) noexcept { return NextVideoFrameEntry(dest); }
int32_t AVIDecaps_ReadAudio(void* buffer, int32_t byteCount) noexcept {
  return ReadAudioEntry(buffer, byteCount);
}
double AVIDecaps_FrameRate(void) noexcept { return FrameRateEntry(); }
int32_t AVIDecaps_Seek(int32_t position, int32_t byFrame) noexcept {
  return SeekEntry(position, byFrame);
}
int32_t AVIDecaps_ReSeekAudio(void) noexcept { return ReSeekAudioEntry(); }
double AVIDecaps_GetProgress(void) noexcept { return GetProgressEntry(); }
int32_t AVIDecaps_Close(void) noexcept { return CloseEntry(); }

// Reached only through the function table.
int32_t AVIDecaps_AlwaysTrue(void) noexcept { return 1; }
int32_t AVIDecaps_SeekChapter(int32_t chapterIndex) noexcept {
  return SeekChapterEntry(chapterIndex);
}
int32_t AVIDecaps_CloseIfStalled(void) noexcept { return CloseIfStalledEntry(); }

ReaderFunctions* InitializeReader(ReaderFunctions* table) noexcept {
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
