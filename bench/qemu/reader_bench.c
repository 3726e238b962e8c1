/* The reader's side of the qemu benchmarks: a host in C that loads the
 * reader library with dlopen and drives it through its function table.
 *
 *   reader_bench LIB FILE read        every video frame and all the audio,
 *                                     the audio read along with the video
 *   reader_bench LIB FILE percent N   N percent seeks, each followed by
 *                                     taking the keyframe it reached and
 *                                     the first audio, as a player does
 *   reader_bench LIB FILE chapter N   N chapter seeks, the same way
 *
 * Instruction counts come from running it under qemu-arm with the
 * insn_count plug-in; run.sh subtracts a run that does less work. */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <ogmdecaps/ogmdecaps.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../floor.h"

typedef ReaderFunctions* (*InitFn)(ReaderFunctions*);

enum { kVideoBuffer = 4 << 20, kAudioBuffer = 1 << 16, kRawChunk = 4096 };

int main(int argc, char** argv) {
  void* lib;
  InitFn init;
  ReaderFunctions r;
  char16_t name[4096];
  void* result = NULL;
  const StreamInfo* info;
  unsigned char* video = malloc(kVideoBuffer);
  unsigned char* audio = malloc(kAudioBuffer);
  const char* mode = argc > 3 ? argv[3] : "read";
  const int count = argc > 4 ? atoi(argv[4]) : 0;
  size_t i;
  long frames = 0;
  long long videoBytes = 0, audioBytes = 0;

  if (argc < 4 || video == NULL || audio == NULL) {
    fprintf(stderr, "usage: reader_bench LIB FILE read|percent N|chapter N\n");
    return 2;
  }
  lib = dlopen(argv[1], RTLD_NOW);
  if (lib == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  init = (InitFn)dlsym(lib, "InitializeReader");
  if (init == NULL || init(&r) != &r) return 1;
  for (i = 0; argv[2][i] != 0 && i + 1 < sizeof name / sizeof name[0]; ++i)
    name[i] = (char16_t)(unsigned char)argv[2][i];
  name[i] = 0;
  if (r.open(name, 0, 0, &result) != 1 || result == NULL) {
    fprintf(stderr, "reader_bench: cannot open %s\n", argv[2]);
    return 1;
  }
  info = result;

  if (strcmp(mode, "read") == 0) {
    const int vorbis = info->audioFormat == 0;
    const int chunk = vorbis ? kAudioBuffer : kRawChunk;
    const double seconds = info->framesPerSecond > 0 ? info->frameCount / info->framesPerSecond : 0;
    /* Audio bytes per video frame, to read the audio along with the video;
     * worked out once, so the loop adds no floating point of its own. */
    const double byteRate = vorbis ? 2.0 * info->audioParamA * info->audioParamB
                                   : (seconds > 0 ? info->totalAudioBytes / seconds : 0);
    const long long perFrame =
        info->framesPerSecond > 0 ? (long long)(byteRate / info->framesPerSecond) + 1 : 0;
    long long due = 0;
    int audioLeft = info->audioParamA != 0 || info->audioParamB != 0;
    for (;;) {
      const int n = r.nextVideoFrame(video, 0);
      if (n < 0) break;
      ++frames;
      videoBytes += n;
      due += perFrame;
      while (audioLeft && audioBytes < due) {
        const int a = r.readAudio(audio, chunk);
        if (a <= 0) audioLeft = 0;
        audioBytes += a > 0 ? a : 0;
      }
    }
    while (audioLeft) {
      const int a = r.readAudio(audio, chunk);
      if (a <= 0) break;
      audioBytes += a;
    }
    printf("frames %ld video %lld audio %lld\n", frames, videoBytes, audioBytes);
  } else if (strcmp(mode, "percent") == 0 || strcmp(mode, "chapter") == 0) {
    const int chapters = info->chapterCount;
    const int chunk = info->audioFormat == 0 ? kAudioBuffer : kRawChunk;
    int k;
    for (k = 0; k < count; ++k) {
      if (mode[0] == 'p') {
        r.seek(FloorSeekPercent(k), 0);
      } else if (chapters > 0) {
        r.seekChapter(k % chapters);
      }
      if (r.nextVideoFrame(video, 0) >= 0) ++frames;
      const int a = r.readAudio(audio, chunk);
      audioBytes += a > 0 ? a : 0;
    }
    printf("seeks %d keyframes %ld audio %lld\n", count, frames, audioBytes);
  } else {
    fprintf(stderr, "reader_bench: unknown mode %s\n", mode);
    return 2;
  }
  FloorDumpMaps();
  r.close();
  dlclose(lib);
  free(video);
  free(audio);
  return 0;
}
