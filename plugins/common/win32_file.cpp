// The local file on Windows: opened by its UTF-16 name with CreateFileW, so
// any name the file system holds works, and read by offset.
// The handle is kept as a C runtime descriptor so the class is the same on
// every platform.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

#include "platform/charset.h"
#include "plugins/common/posix_file.h"

namespace {

HANDLE Handle(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

}  // namespace

std::unique_ptr<PosixFile> PosixFile::Open(const std::string& path) {
  if (path.empty()) return nullptr;
  const std::u16string name = Utf8ToUtf16(path);
  // Others may go on writing, renaming or deleting the file while it is read.
  HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // Only a disk file has a length to report (not a pipe or a device).
  LARGE_INTEGER size;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::unique_ptr<PosixFile>(new PosixFile(fd, static_cast<int64_t>(size.QuadPart)));
}

PosixFile::~PosixFile() { _close(fd_); }

// Positioned by SetFilePointerEx, then read without an OVERLAPPED: a read
// that carries one is reported to a completion port when it succeeds, and
// wine asks its server about that on every read, where a seek and a plain
// read are a system call each. The handle is this object's own and its
// reads come one at a time (the reader holds its lock), so nobody else
// sees its position move.
int64_t PosixFile::ReadAt(int64_t offset, void* buffer, size_t size) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  if (offset < 0 || !SetFilePointerEx(Handle(fd_), at, nullptr, FILE_BEGIN)) return -1;
  size_t done = 0;
  while (done < size) {
    const DWORD ask = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(Handle(fd_), static_cast<char*>(buffer) + done, ask, &got, nullptr))
      return done > 0 ? static_cast<int64_t>(done) : -1;
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}
