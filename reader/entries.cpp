// The media entries: each takes what the host gave, hands the reader state
// down, and for the seeks takes the lock on the host's behalf.
#include "reader/entries.h"

#include "delivery/delivery.h"
#include "positioning/positioning.h"

// Constant-initialised: loading the library runs no code for it.
ReaderState gReader;

int32_t NextVideoFrameEntry(void* dest, int32_t capacity) {
  return NextVideoFrame(gReader, dest, capacity);
}

int32_t ReadAudioEntry(void* buffer, int32_t byteCount) {
  return ReadAudio(gReader, buffer, byteCount);
}

int32_t SeekEntry(int32_t position, int32_t byFrame) {
  LockHold hold(gReader);
  if (!hold.taken() || gReader.sourceOpen == 0) return 0;
  return Seek(gReader, position, byFrame);
}

int32_t SeekChapterEntry(int32_t chapterIndex) {
  LockHold hold(gReader);
  if (!hold.taken() || gReader.sourceOpen == 0) return 0;
  return SeekChapter(gReader, chapterIndex);
}

int32_t ReSeekAudioEntry() {
  LockHold hold(gReader);
  if (!hold.taken() || gReader.sourceOpen == 0) return 0;
  return ReSeekAudio(gReader);
}
