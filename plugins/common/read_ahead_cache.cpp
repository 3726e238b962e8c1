#include "plugins/common/read_ahead_cache.h"

#include <algorithm>
#include <cstring>

namespace {
// Windows start on a page boundary at or below the missed offset, which
// also keeps a few bytes before it for the short backward seeks of a reader
// that re-synchronises.
constexpr int64_t kAlign = 4096;
}  // namespace

ReadAheadCache::ReadAheadCache(RandomAccess& source, int64_t length, size_t window)
    : source_(source), length_(length), window_(std::max<size_t>(window, 2 * kAlign)) {}

int64_t ReadAheadCache::Read(int64_t offset, void* buffer, size_t size) {
  if (offset < 0 || offset >= length_) return 0;
  size = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), length_ - offset));
  auto* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  bool failed = false;
  while (done < size) {
    const int64_t at = offset + static_cast<int64_t>(done);
    const size_t left = size - done;
    if (at >= start_ && at < start_ + static_cast<int64_t>(filled_)) {
      const size_t from = static_cast<size_t>(at - start_);
      const size_t n = std::min(left, filled_ - from);
      std::memcpy(out + done, window_.data() + from, n);
      done += n;
    } else if (left >= window_.size()) {
      // Larger than the window: copying through it would only add work.
      const int64_t got = source_.ReadAt(at, out + done, left);
      if (got <= 0) {
        failed = got < 0;
        break;
      }
      done += static_cast<size_t>(got);
      if (static_cast<size_t>(got) < left) break;
    } else if (!Fill(at)) {
      failed = true;
      break;
    }
  }
  if (done == 0 && failed) return -1;
  return static_cast<int64_t>(done);
}

bool ReadAheadCache::Fill(int64_t offset) {
  const int64_t start = offset - offset % kAlign;
  const size_t want =
      static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(window_.size()), length_ - start));
  const int64_t got = source_.ReadAt(start, window_.data(), want);
  if (got <= offset - start) {
    // Nothing usable at offset (an error, or the file shrank): keep no
    // stale window.
    filled_ = 0;
    return false;
  }
  start_ = start;
  filled_ = static_cast<size_t>(got);
  return true;
}
