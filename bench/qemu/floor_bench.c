/* The floor's side of the qemu benchmarks: bench/floor.c built for armel.
 *
 *   floor_bench FILE demux      every page and packet of every stream, each
 *                               data packet's payload copied out
 *   floor_bench FILE vorbis     the Vorbis stream decoded to 16-bit PCM
 *   floor_bench FILE seek N     N times: jump to a byte offset, copy out the
 *                               next video keyframe, then audio up to its
 *                               first PCM (raw audio: its next packet)
 *
 * The seek targets follow the same sequence as reader_bench's. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "../floor.h"

int main(int argc, char** argv) {
  const char* mode = argc > 2 ? argv[2] : "";
  Floor f;
  if (argc < 3) {
    fprintf(stderr, "usage: floor_bench FILE demux|vorbis|seek N\n");
    return 2;
  }
  if (strcmp(mode, "demux") == 0) {
    FloorCounts counts;
    if (!FloorDemux(argv[1], kFloorCopy, &counts)) return 1;
    printf("packets %lld\n", counts.packets);
    FloorDumpMaps();
    return 0;
  }
  if (!FloorOpen(&f, argv[1], 1)) return 1;
  if (strcmp(mode, "seek") == 0) {
    struct stat st;
    const int count = argc > 3 ? atoi(argv[3]) : 0;
    int i, found = 0;
    if (stat(argv[1], &st) != 0) return 1;
    for (i = 0; i < count; ++i)
      found += FloorSeek(&f, (long long)st.st_size * FloorSeekPercent(i) / 100);
    printf("seeks %d found %d\n", count, found);
  } else {
    const long long bytes = FloorReadAudio(&f, 0, NULL, NULL);
    printf("samples %lld rate %ld channels %d\n", f.vi.channels > 0 ? bytes / 2 / f.vi.channels : 0,
           (long)f.vi.rate, f.vi.channels);
  }
  FloorDumpMaps();
  FloorClose(&f);
  return 0;
}
