// A read-ahead window over a RandomAccess: one large read fills the window,
// and every read that falls inside it afterwards is a memory copy. Seeking
// is free because callers pass the offset with each read.
#ifndef OGMDECAPS_PLUGINS_COMMON_READ_AHEAD_CACHE_H
#define OGMDECAPS_PLUGINS_COMMON_READ_AHEAD_CACHE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "plugins/common/posix_file.h"

class ReadAheadCache {
 public:
  // Serves bytes 0..length-1 of source through a window of window bytes.
  ReadAheadCache(RandomAccess& source, int64_t length, size_t window);

  // Copies up to size bytes at offset. Returns the count (0 at or past the
  // end) or -1 when the source failed before any byte was copied.
  int64_t Read(int64_t offset, void* buffer, size_t size);

 private:
  // Refills the window so it covers offset; false when the source fails.
  bool Fill(int64_t offset);

  RandomAccess& source_;
  int64_t length_;
  std::vector<unsigned char> window_;
  int64_t start_ = 0;  // offset of window_[0]
  size_t filled_ = 0;  // valid bytes in window_
};

#endif
