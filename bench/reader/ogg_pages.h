// The pages of a file read as the reader reads it: 4096 bytes at a time
// through a libogg sync state. Shared by the bare libogg floors.
#ifndef OGMDECAPS_BENCH_OGG_PAGES_H
#define OGMDECAPS_BENCH_OGG_PAGES_H

#include <ogg/ogg.h>
#include <unistd.h>

#include <cstdint>

namespace bench {

// The next page; bytes before a page are skipped. False at the end of the
// file. *bytesRead, when given, counts the bytes read.
inline bool NextOggPage(int fd, ogg_sync_state& sync, ogg_page* page,
                        int64_t* bytesRead = nullptr) {
  for (;;) {
    const int r = ogg_sync_pageout(&sync, page);
    if (r > 0) return true;
    if (r < 0) continue;
    char* area = ogg_sync_buffer(&sync, 4096);
    const ssize_t got = read(fd, area, 4096);
    if (got <= 0) return false;
    ogg_sync_wrote(&sync, got);
    if (bytesRead != nullptr) *bytesRead += got;
  }
}

}  // namespace bench

#endif
