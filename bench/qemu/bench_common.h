/* What the qemu benchmark programs share: the sequence of seek targets, so
 * the reader and its floor seek to the same places. */
#ifndef OGMDECAPS_BENCH_QEMU_BENCH_COMMON_H
#define OGMDECAPS_BENCH_QEMU_BENCH_COMMON_H

#include <stdio.h>
#include <stdlib.h>

/* Percent positions spread over 3..95 without repeating soon. */
static inline int BenchSeekPercent(int i) { return 3 + (i * 37) % 93; }

/* With BENCH_MAPS=FILE in the environment, copies the program's memory map
 * there (under qemu-arm: the guest's), for profile.sh to place addresses. */
static inline void BenchDumpMaps(void) {
  const char* path = getenv("BENCH_MAPS");
  FILE *in, *out;
  int c;
  if (path == NULL || *path == 0) return;
  in = fopen("/proc/self/maps", "r");
  out = fopen(path, "w");
  if (in != NULL && out != NULL)
    while ((c = getc(in)) != EOF) putc(c, out);
  if (in != NULL) fclose(in);
  if (out != NULL) fclose(out);
}

#endif
