#include "plugins/common/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

std::unique_ptr<PosixFile> PosixFile::Open(const std::string& path) {
  if (path.empty()) return nullptr;
  int fd;
  do {
    // Without O_NONBLOCK the open of a FIFO waits for a writer that may
    // never come; a regular file ignores the flag for its reads.
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<PosixFile>(new PosixFile(fd, static_cast<int64_t>(info.st_size)));
}

PosixFile::~PosixFile() { close(fd_); }

int64_t PosixFile::ReadAt(int64_t offset, void* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = pread(fd_, static_cast<char*>(buffer) + done, size - done,
                              static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return done > 0 ? static_cast<int64_t>(done) : -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}
