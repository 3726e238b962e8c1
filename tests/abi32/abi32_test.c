/* The interface as a C host sees it in memory, checked at byte offsets
 * rather than through member names: on a 32-bit target the function table's
 * slot n lies at byte 4 x n, and StreamInfo's fields lie where a host that
 * reads raw bytes expects them. Builds and runs on any target; the 32-bit
 * checks apply where pointers are 4 bytes (armel under qemu-arm).
 *
 *   abi32_test LIBRARY   (path of libogmdecaps.so; its plug-ins beside it)
 *
 * The library is loaded with dlopen. A small OGM file (video at serial 0,
 * MP3-tagged raw audio at serial 1, two chapters) is written with libogg,
 * opened through the table, and StreamInfo is read byte by byte. */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <ogg/ogg.h>
#include <ogmdecaps/ogmdecaps.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

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
 * Layout as the compiler lays out the public header.
 * --------------------------------------------------------------------- */

struct FieldOffset {
  const char* name;
  size_t offset;
  size_t want;
};

static void CheckDeclaredLayout(void) {
  const size_t slot = sizeof(void*);
  const struct FieldOffset info[] = {
      {"width", offsetof(StreamInfo, width), 0},
      {"height", offsetof(StreamInfo, height), 4},
      {"framesPerSecond", offsetof(StreamInfo, framesPerSecond), 8},
      {"fourcc", offsetof(StreamInfo, fourcc), 16},
      {"reserved20", offsetof(StreamInfo, reserved20), 20},
      {"frameCount", offsetof(StreamInfo, frameCount), 24},
      {"currentFrame", offsetof(StreamInfo, currentFrame), 32},
      {"audioFormat", offsetof(StreamInfo, audioFormat), 40},
      {"audioParamA", offsetof(StreamInfo, audioParamA), 44},
      {"audioParamB", offsetof(StreamInfo, audioParamB), 48},
      {"audioBitrate", offsetof(StreamInfo, audioBitrate), 52},
      {"totalAudioBytes", offsetof(StreamInfo, totalAudioBytes), 56},
      {"chapterCount", offsetof(StreamInfo, chapterCount), 68},
      {"chapterNames", offsetof(StreamInfo, chapterNames), 72},
  };
  const struct FieldOffset table[] = {
      {"open", offsetof(ReaderFunctions, open), 0},
      {"readAudio", offsetof(ReaderFunctions, readAudio), 1},
      {"nextVideoFrame", offsetof(ReaderFunctions, nextVideoFrame), 2},
      {"seek", offsetof(ReaderFunctions, seek), 3},
      {"reSeekAudio", offsetof(ReaderFunctions, reSeekAudio), 4},
      {"getProgress", offsetof(ReaderFunctions, getProgress), 5},
      {"close", offsetof(ReaderFunctions, close), 6},
      {"alwaysTrue", offsetof(ReaderFunctions, alwaysTrue), 7},
      {"seekChapter", offsetof(ReaderFunctions, seekChapter), 8},
      {"reserved9", offsetof(ReaderFunctions, reserved9), 9},
      {"closeIfStalled", offsetof(ReaderFunctions, closeIfStalled), 10},
  };
  size_t i;
  for (i = 0; i < sizeof info / sizeof info[0]; ++i)
    CHECK_EQ(info[i].offset, info[i].want, info[i].name);
  CHECK_EQ(sizeof(ChapterName), 100, "sizeof(ChapterName)");
  CHECK_EQ(sizeof(StreamInfo), 10072, "sizeof(StreamInfo)");
  CHECK_EQ(_Alignof(StreamInfo), 8, "alignof(StreamInfo)");
  CHECK_EQ(sizeof(double), 8, "sizeof(double)");
  CHECK_EQ(sizeof(ReaderFunctions), 11 * slot, "sizeof(ReaderFunctions)");
  for (i = 0; i < sizeof table / sizeof table[0]; ++i) {
    CHECK_EQ(table[i].offset, table[i].want * slot, table[i].name);
    /* What a 32-bit host relies on: slot n at byte 4 x n. */
    if (slot == 4) CHECK_EQ(table[i].offset, 4 * table[i].want, table[i].name);
  }
  if (slot == 4) CHECK_EQ(sizeof(ReaderFunctions), 44, "sizeof(ReaderFunctions) on 32 bits");
}

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

static void PutLe(unsigned char* p, uint64_t v, int bytes) {
  int i;
  for (i = 0; i < bytes; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

/* ---------------------------------------------------------------------
 * The sample file.
 * --------------------------------------------------------------------- */

enum {
  kFrames = 50,
  kFps = 25,
  kWidth = 176,
  kHeight = 144,
  kAudioTag = 0x55,
  kAudioRate = 44100,
  kAudioChannels = 2,
  kAudioBytesPerSecond = 16000,
  kAudioPacketSamples = 1152,
  kAudioPacketBytes = 418
};
static const char* const kChapterNames[] = {"Opening", "Second part"};
static const char* const kChapterTimes[] = {"00:00:00.000", "00:00:01.000"};
enum { kChapters = 2 };

static size_t FrameBytes(int i) { return (size_t)(60 + 37 * i); }

static int WritePages(FILE* f, ogg_stream_state* os, int flush) {
  ogg_page page;
  while (flush ? ogg_stream_flush(os, &page) : ogg_stream_pageout(os, &page)) {
    if (fwrite(page.header, 1, (size_t)page.header_len, f) != (size_t)page.header_len) return 0;
    if (fwrite(page.body, 1, (size_t)page.body_len, f) != (size_t)page.body_len) return 0;
  }
  return 1;
}

static int PacketIn(ogg_stream_state* os, unsigned char* data, size_t bytes, int bos,
                    int64_t granule) {
  ogg_packet op;
  memset(&op, 0, sizeof op);
  op.packet = data;
  op.bytes = (long)bytes;
  op.b_o_s = bos;
  op.granulepos = granule;
  return ogg_stream_packetin(os, &op) == 0;
}

/* The 57-byte stream header: type byte 1, then the record. */
static void StreamHeaderPacket(unsigned char h[57], const char* type, const char* subtype,
                               int64_t timeUnit, int64_t samplesPerUnit) {
  memset(h, 0, 57);
  h[0] = 1;
  memcpy(h + 1, type, strlen(type));
  memcpy(h + 9, subtype, 4);
  PutLe(h + 13, 56, 4);
  PutLe(h + 17, (uint64_t)timeUnit, 8);
  PutLe(h + 25, (uint64_t)samplesPerUnit, 8);
  PutLe(h + 33, 1, 4);
  PutLe(h + 37, 65536, 4);
}

/* A comment packet: 3 "vorbis", vendor, the comments, framing bit. */
static size_t CommentPacket(unsigned char* out, const char* const* comments, int count) {
  const char* vendor = "abi32_test";
  size_t n = 0;
  int i;
  out[n++] = 3;
  memcpy(out + n, "vorbis", 6);
  n += 6;
  PutLe(out + n, strlen(vendor), 4);
  n += 4;
  memcpy(out + n, vendor, strlen(vendor));
  n += strlen(vendor);
  PutLe(out + n, (uint64_t)count, 4);
  n += 4;
  for (i = 0; i < count; ++i) {
    PutLe(out + n, strlen(comments[i]), 4);
    n += 4;
    memcpy(out + n, comments[i], strlen(comments[i]));
    n += strlen(comments[i]);
  }
  out[n++] = 1;
  return n;
}

static int WriteSample(const char* path) {
  FILE* f = fopen(path, "wb");
  ogg_stream_state video, audio;
  unsigned char header[57];
  unsigned char comment[512];
  unsigned char packet[2048];
  char chapterText[2 * kChapters][64];
  const char* chapterComments[2 * kChapters];
  int ok = f != NULL;
  int i, c;
  int64_t audioSample = 0;
  if (!ok) return 0;
  ogg_stream_init(&video, 0);
  ogg_stream_init(&audio, 1);

  StreamHeaderPacket(header, "video", "XVID", 10000000 / kFps, 1);
  PutLe(header + 45, kWidth, 4);
  PutLe(header + 49, kHeight, 4);
  ok = ok && PacketIn(&video, header, sizeof header, 1, 0) && WritePages(f, &video, 1);
  StreamHeaderPacket(header, "audio", "0055", 10000000, kAudioRate);
  PutLe(header + 45, kAudioChannels, 2);
  PutLe(header + 47, 1, 2);
  PutLe(header + 49, kAudioBytesPerSecond, 4);
  ok = ok && PacketIn(&audio, header, sizeof header, 1, 0) && WritePages(f, &audio, 1);

  for (c = 0; c < kChapters; ++c) {
    snprintf(chapterText[2 * c], sizeof chapterText[0], "CHAPTER%02d=%s", c + 1, kChapterTimes[c]);
    snprintf(chapterText[2 * c + 1], sizeof chapterText[0], "CHAPTER%02dNAME=%s", c + 1,
             kChapterNames[c]);
    chapterComments[2 * c] = chapterText[2 * c];
    chapterComments[2 * c + 1] = chapterText[2 * c + 1];
  }
  ok = ok &&
       PacketIn(&video, comment, CommentPacket(comment, chapterComments, 2 * kChapters), 0, 0) &&
       WritePages(f, &video, 1);
  ok = ok && PacketIn(&audio, comment, CommentPacket(comment, NULL, 0), 0, 0) &&
       WritePages(f, &audio, 1);

  /* Every frame a keyframe on a page of its own; the audio that starts
   * before the next frame follows it. Granules are start positions. */
  for (i = 0; ok && i < kFrames; ++i) {
    memset(packet, i, FrameBytes(i) + 1);
    packet[0] = 0x08;
    ok = PacketIn(&video, packet, FrameBytes(i) + 1, 0, i) && WritePages(f, &video, 1);
    while (ok && audioSample * kFps < (int64_t)(i + 1) * kAudioRate) {
      memset(packet, 0xA0 + (int)(audioSample / kAudioPacketSamples % 16), kAudioPacketBytes + 3);
      packet[0] = 0x88;
      PutLe(packet + 1, kAudioPacketSamples, 2);
      ok = PacketIn(&audio, packet, kAudioPacketBytes + 3, 0, audioSample) &&
           WritePages(f, &audio, 1);
      audioSample += kAudioPacketSamples;
    }
  }
  ogg_stream_clear(&video);
  ogg_stream_clear(&audio);
  if (fclose(f) != 0) ok = 0;
  return ok;
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
  AVIDecaps_VoidFn close, alwaysTrue, closeIfStalled;
  AVIDecaps_SeekChapterFn seekChapter;
  char16_t name[512];
  void* result = NULL;
  const unsigned char* info;
  unsigned char* frame = malloc(FrameBytes(kFrames) + 16);
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
  memcpy(&alwaysTrue, table + 7 * sizeof(void*), sizeof alwaysTrue);
  memcpy(&seekChapter, table + 8 * sizeof(void*), sizeof seekChapter);
  memcpy(&closeIfStalled, table + 10 * sizeof(void*), sizeof closeIfStalled);

  CHECK_EQ(alwaysTrue(), 1, "slot 7 returns 1");
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
    CHECK_EQ(nextVideoFrame(frame, 0), (long long)FrameBytes((int)i), "slot 2 frame size");
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
  CHECK_EQ(closeIfStalled(), 1, "slot 10 returns 1");
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
  CheckDeclaredLayout();

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
      CHECK(WriteSample(pathBuf), "sample written");
      CheckOpenSource(table, pathBuf);
      unlink(pathBuf);
    }
  }
  /* Not unloaded: the library keeps its lock for the life of the process,
   * and after an unload leak checkers would report it. */
  printf("abi32 checks: %d of %d passed\n", passed, passed + failed);
  return failed == 0 ? 0 : 1;
}
