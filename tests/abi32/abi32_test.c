/* The interface as a C host sees it in memory, checked at byte offsets
 * rather than through member names: on a 32-bit target the function table's
 * slot n lies at byte 4 x n, and StreamInfo's fields lie where a host that
 * reads raw bytes expects them. Builds and runs on any target; the 32-bit
 * checks apply where pointers are 4 bytes (armel under qemu-arm).
 *
 *   abi32_test LIBRARY   (path of libogmdecaps.so; its plug-ins beside it)
 *
 * The library is loaded with dlopen. A small OGM file (abi32_sample.h) is
 * opened through the table, and StreamInfo is read byte by byte. The
 * declared layout itself is pinned at compile time by reader/abi_layout.cpp,
 * which every target builds. */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <ogmdecaps/ogmdecaps.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "abi32_sample.h"

static int passed = 0;
static int failed = 0;

static void Check(int ok, const char* what, long long got, long long want, int line) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    fprintf(stderr, "abi32_test.c:%d: %s: got %lld, want %lld\n", line, what, got, want);
  }
}
#define CHECK_EQ(got, want, what)                            \
  do {                                                       \
    long long g_ = (long long)(got), w_ = (long long)(want); \
    Check(g_ == w_, what, g_, w_, __LINE__);                 \
  } while (0)
#define CHECK(cond, what) Check((cond) != 0, what, 0, 1, __LINE__)

/* ---------------------------------------------------------------------
 * Raw byte access, little-endian as the interface says.
 * --------------------------------------------------------------------- */

static int32_t RawI32(const void* base, size_t offset) {
  const unsigned char* p = (const unsigned char*)base + offset;
  return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                   (uint32_t)p[3] << 24);
}

static double RawF64(const void* base, size_t offset) {
  uint64_t bits = 0;
  double d;
  int i;
  for (i = 7; i >= 0; --i) bits = bits << 8 | ((const unsigned char*)base)[offset + (size_t)i];
  memcpy(&d, &bits, sizeof d);
  return d;
}

/* Slot n of the table as a 32-bit host reads it: the pointer stored at byte
 * n x (pointer size). */
static void* RawSlot(const void* table, int n) {
  void* p;
  memcpy(&p, (const unsigned char*)table + (size_t)n * sizeof(void*), sizeof p);
  return p;
}

/* ---------------------------------------------------------------------
 * The library as loaded by a host.
 * --------------------------------------------------------------------- */

typedef ReaderFunctions* (*InitFn)(ReaderFunctions*);

static const char* const kExported[] = {
    "AVIDecaps_Open",        "AVIDecaps_ReadAudio",   "AVIDecaps_NextVideoFrame", "AVIDecaps_Seek",
    "AVIDecaps_ReSeekAudio", "AVIDecaps_GetProgress", "AVIDecaps_Close",
};
enum { kExportedSlots = 7 };

static void CheckTableFill(void* lib, InitFn init, unsigned char* table) {
  const size_t slot = sizeof(void*);
  int n, m;
  memset(table, 0xA5, 11 * slot);
  CHECK(init((ReaderFunctions*)table) == (ReaderFunctions*)table,
        "InitializeReader returns the table");
  for (n = 0; n < kExportedSlots; ++n) {
    void* want = dlsym(lib, kExported[n]);
    CHECK(want != NULL, kExported[n]);
    CHECK(RawSlot(table, n) == want, kExported[n]);
  }
  /* Slot 9 is the host's: every byte as the host left it. */
  for (n = 0; n < (int)slot; ++n) CHECK_EQ(table[9 * slot + (size_t)n], 0xA5, "slot 9 byte");
  /* Slots 7, 8 and 10 hold functions of their own. */
  for (n = 7; n <= 10; n += (n == 8 ? 2 : 1)) {
    CHECK(RawSlot(table, n) != NULL, "table-only slot filled");
    for (m = 0; m < 11; ++m)
      if (m != n && m != 9)
        CHECK(RawSlot(table, n) != RawSlot(table, m), "table-only slot distinct");
  }
}

static void CheckOpenSource(const unsigned char* table, const char* path) {
  AVIDecaps_OpenFn open;
  AVIDecaps_NextVideoFrameFn nextVideoFrame;
  AVIDecaps_SeekFn seek;
  AVIDecaps_ProgressFn getProgress;
  AVIDecaps_VoidFn close, closeIfStalled;
  AVIDecaps_SeekChapterFn seekChapter;
  char16_t name[512];
  void* result = NULL;
  const unsigned char* info;
  unsigned char* frame = malloc(1 << 16);
  size_t i;
  int c;
  int32_t total, current, remaining;
  double seconds;

  /* Calls go through the raw slots, as a 32-bit host makes them. */
  memcpy(&open, table + 0 * sizeof(void*), sizeof open);
  memcpy(&nextVideoFrame, table + 2 * sizeof(void*), sizeof nextVideoFrame);
  memcpy(&seek, table + 3 * sizeof(void*), sizeof seek);
  memcpy(&getProgress, table + 5 * sizeof(void*), sizeof getProgress);
  memcpy(&close, table + 6 * sizeof(void*), sizeof close);
  memcpy(&seekChapter, table + 8 * sizeof(void*), sizeof seekChapter);
  memcpy(&closeIfStalled, table + 10 * sizeof(void*), sizeof closeIfStalled);

  for (i = 0; path[i] != 0 && i + 1 < sizeof name / sizeof name[0]; ++i)
    name[i] = (char16_t)(unsigned char)path[i];
  name[i] = 0;
  CHECK_EQ(open(name, 0, 0, &result), 1, "slot 0 opens the sample");
  if (result == NULL || frame == NULL) {
    free(frame);
    return;
  }
  info = result;

  CHECK_EQ(RawI32(info, 0), kWidth, "width at 0");
  CHECK_EQ(RawI32(info, 4), kHeight, "height at 4");
  CHECK(RawF64(info, 8) == (double)kFps, "framesPerSecond at 8");
  CHECK(memcmp(info + 16, "XVID", 4) == 0, "fourcc at 16");
  CHECK_EQ(RawI32(info, 20), 0, "zero after fourcc at 20");
  CHECK_EQ(RawI32(info, 24), kFrames, "frameCount at 24");
  CHECK_EQ(RawI32(info, 40), kAudioTag, "audioFormat at 40");
  CHECK_EQ(RawI32(info, 44), kAudioRate, "audioParamA at 44");
  CHECK_EQ(RawI32(info, 48), kAudioChannels, "audioParamB at 48");
  total = RawI32(info, 56);
  CHECK_EQ(total, (int32_t)((double)kFrames / kFps * kAudioBytesPerSecond),
           "totalAudioBytes at 56");
  CHECK_EQ(RawI32(info, 68), kChapters, "chapterCount at 68");
  for (c = 0; c < kChapters; ++c) {
    const size_t at = 72 + 100 * (size_t)c;
    const char* want = kChapterNames[c];
    for (i = 0; i <= strlen(want); ++i) {
      const unsigned unit = info[at + 2 * i] | (unsigned)info[at + 2 * i + 1] << 8;
      CHECK_EQ(unit, (unsigned char)want[i], "chapter name unit");
    }
  }

  /* Frames through slot 2; the current frame at 32 is what the progress
   * (slot 5) is computed from. */
  for (i = 0; i < 3; ++i) {
    CHECK_EQ(nextVideoFrame(frame, 0), (long long)AbiSampleFrameBytes((int)i), "slot 2 frame size");
    CHECK_EQ(frame[0], i, "slot 2 frame content");
    current = RawI32(info, 32);
    CHECK(getProgress() == (double)current * 100.0 / (double)kFrames,
          "currentFrame at 32 behind the progress");
  }
  CHECK(RawI32(info, 32) > 0, "currentFrame moved");

  /* Slot 8 seeks to chapter 2 (1 s in: frame kFps), landing on a keyframe
   * at most a second past it, and returns the audio left from there as
   * computed from the fields at 24 and 32. */
  remaining = seekChapter(1);
  current = RawI32(info, 32);
  CHECK(current >= kFps && current <= 2 * kFps, "slot 8 reaches the second chapter");
  seconds = (double)(kFrames - current) / kFps;
  CHECK_EQ(remaining, (int32_t)(seconds * kAudioBytesPerSecond), "slot 8 returns the audio left");
  /* Slot 3 back to the start returns the whole audio. */
  CHECK_EQ(seek(0, 0), total, "slot 3 to 0 % returns totalAudioBytes");
  /* Slot 10 closes only a source whose reader is stuck: this one stays
   * open. */
  closeIfStalled();
  CHECK_EQ(nextVideoFrame(frame, 0), (long long)AbiSampleFrameBytes(0),
           "slot 10 leaves a source that is not stalled open");
  CHECK_EQ(close(), 1, "slot 6 closes");
  CHECK_EQ(nextVideoFrame(frame, 0), -1, "nothing open after slot 6");
  free(frame);
}

int main(int argc, char** argv) {
  void* lib;
  InitFn init;
  void* tableSlots[16]; /* pointer-aligned bytes for the table */
  unsigned char* table = (unsigned char*)tableSlots;
  char path[] = "/tmp/abi32-XXXXXX";
  const char* tmp = getenv("TMPDIR");
  char pathBuf[4096];
  int fd;

  if (argc < 2) {
    fprintf(stderr, "usage: abi32_test LIBRARY\n");
    return 2;
  }
  printf("pointer size %u, StreamInfo %u bytes\n", (unsigned)sizeof(void*),
         (unsigned)sizeof(StreamInfo));

  lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  init = (InitFn)dlsym(lib, "InitializeReader");
  CHECK(init != NULL, "InitializeReader exported");
  if (init != NULL) {
    CheckTableFill(lib, init, table);

    if (tmp != NULL && *tmp != 0 && strlen(tmp) + 20 < sizeof pathBuf) {
      snprintf(pathBuf, sizeof pathBuf, "%s/abi32-XXXXXX", tmp);
    } else {
      snprintf(pathBuf, sizeof pathBuf, "%s", path);
    }
    fd = mkstemp(pathBuf);
    CHECK(fd >= 0, "temporary file");
    if (fd >= 0) {
      close(fd);
      CHECK(WriteAbiSample(pathBuf), "sample written");
      CheckOpenSource(table, pathBuf);
      unlink(pathBuf);
    }
  }
  /* Not unloaded: the library keeps its lock for the life of the process,
   * and after an unload leak checkers would report it. */
  printf("abi32 checks: %d of %d passed\n", passed, passed + failed);
  return failed == 0 ? 0 : 1;
}
