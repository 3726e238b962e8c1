#include "riff_file.h"

#include <cerrno>
#include <cstring>

#include "output_files.h"

namespace cli {

RiffFile::~RiffFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RiffFile::Open(const std::string& path, std::string* error) {
  path_ = path;
  file_ = OpenOutput(path);
  if (file_ == nullptr) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  ok_ = true;
  size_ = 0;
  return true;
}

void RiffFile::Fail(const char* what) {
  if (!ok_) return;
  ok_ = false;
  error_ = path_ + ": " + what + ": " + std::strerror(errno);
}

void RiffFile::Bytes(const void* data, size_t size) {
  if (!ok_ || size == 0) return;
  if (std::fwrite(data, 1, size, file_) != size) return Fail("write failed");
  size_ += size;
}

void RiffFile::Fourcc(const char* code) { Bytes(code, 4); }

void RiffFile::Start(const char* form) {
  Fourcc("RIFF");
  U32(0);
  Fourcc(form);
}

void RiffFile::PatchRiffSize() { PatchU32(4, static_cast<uint32_t>(size_ - 8)); }

void RiffFile::U16(uint16_t v) {
  const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  Bytes(b, 2);
}

void RiffFile::U32(uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  Bytes(b, 4);
}

void RiffFile::Zeros(size_t count) {
  static const uint8_t kZero[64] = {};
  while (count > 0) {
    const size_t n = count < sizeof kZero ? count : sizeof kZero;
    Bytes(kZero, n);
    count -= n;
  }
}

void RiffFile::PatchU32(uint64_t offset, uint32_t v) {
  if (!ok_) return;
  if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return Fail("seek failed");
  const uint64_t end = size_;
  U32(v);
  size_ = end;
  if (fseeko(file_, 0, SEEK_END) != 0) Fail("seek failed");
}

bool RiffFile::Close() {
  if (file_ == nullptr) return ok_;
  if (std::fclose(file_) != 0) Fail("close failed");
  file_ = nullptr;
  return ok_;
}

}  // namespace cli
