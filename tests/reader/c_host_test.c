/* A host written in C99: loads the reader with dlopen, fills its function
 * table, and calls what may be called with nothing open. */
#include <dlfcn.h>
#include <ogmdecaps/ogmdecaps.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;
#define CHECK(cond)                                              \
  do {                                                           \
    if (!(cond)) {                                               \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                \
    }                                                            \
  } while (0)

typedef ReaderFunctions* (*InitFn)(ReaderFunctions*);

int main(int argc, char** argv) {
  void* lib;
  InitFn init;
  ReaderFunctions table;
  ReaderFunctions again;
  void* sentinel = (void*)&table;
  char16_t missing[] = {'/', 'n', 'o', 'n', 'e', '.', 'o', 'g', 'm', 0};
  void* result = &table;

  if (argc < 2) return 2;
  lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  init = (InitFn)dlsym(lib, "InitializeReader");
  CHECK(init != NULL);
  /* Table-only functions are not exported. */
  CHECK(dlsym(lib, "AVIDecaps_AlwaysTrue") == NULL);
  CHECK(dlsym(lib, "AVIDecaps_SeekChapter") == NULL);
  CHECK(dlsym(lib, "AVIDecaps_CloseIfStalled") == NULL);
  if (init == NULL) return 1;

  memset(&table, 0, sizeof table);
  table.reserved9 = sentinel;
  CHECK(init(&table) == &table);
  CHECK(table.reserved9 == sentinel);
  CHECK(table.alwaysTrue != NULL && table.alwaysTrue() == 1);
  CHECK((void*)table.open == dlsym(lib, "AVIDecaps_Open"));
  CHECK((void*)table.readAudio == dlsym(lib, "AVIDecaps_ReadAudio"));
  CHECK((void*)table.nextVideoFrame == dlsym(lib, "AVIDecaps_NextVideoFrame"));
  CHECK((void*)table.seek == dlsym(lib, "AVIDecaps_Seek"));
  CHECK((void*)table.reSeekAudio == dlsym(lib, "AVIDecaps_ReSeekAudio"));
  CHECK((void*)table.getProgress == dlsym(lib, "AVIDecaps_GetProgress"));
  CHECK((void*)table.close == dlsym(lib, "AVIDecaps_Close"));
  memcpy(&again, &table, sizeof again);
  init(&again);
  CHECK(memcmp(&again, &table, sizeof again) == 0);

  /* Nothing open: every call answers its failure value, none crashes. */
  {
    unsigned char buf[16384];
    CHECK(table.nextVideoFrame(buf, 0) == -1);
    CHECK(table.readAudio(buf, 100) == 0);
    CHECK(table.seek(50, 0) == 0);
    CHECK(table.reSeekAudio() == 0);
    CHECK(table.seekChapter(0) == 0);
    table.closeIfStalled();
    CHECK(table.close() == 1);
    CHECK(table.close() == 1);
    CHECK(table.open(missing, 0, 0, &result) == 0);
    CHECK(result == &table); /* not written on failure */
    CHECK(table.nextVideoFrame(buf, 0) == -1);
  }
  dlclose(lib);
  if (failures == 0) printf("c host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
