// Positioned reads from a regular file. Reads never move a shared file
// offset (pread), so a cache and the plain source can both address bytes
// by offset.
#ifndef OGMDECAPS_PLUGINS_COMMON_POSIX_FILE_H
#define OGMDECAPS_PLUGINS_COMMON_POSIX_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Anything that hands out bytes by offset.
class RandomAccess {
 public:
  virtual ~RandomAccess() = default;
  // Reads up to size bytes at offset; fewer only at the end of data.
  // Returns the count (0 at the end) or -1 on an error before any byte.
  virtual int64_t ReadAt(int64_t offset, void* buffer, size_t size) = 0;
};

class PosixFile final : public RandomAccess {
 public:
  // Opens a regular file for reading; nullptr when that fails or the path
  // names something else (a FIFO or device has no length to report).
  static std::unique_ptr<PosixFile> Open(const std::string& path);
  ~PosixFile() override;
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  int64_t Size() const { return size_; }
  int64_t ReadAt(int64_t offset, void* buffer, size_t size) override;

 private:
  PosixFile(int fd, int64_t size) : fd_(fd), size_(size) {}
  int fd_;
  int64_t size_;
};

#endif
