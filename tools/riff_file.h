// An output file for RIFF containers (AVI, WAV): little-endian writes at the
// end and 32-bit patches of sizes written earlier.
#ifndef OGMDECAPS_TOOLS_RIFF_FILE_H
#define OGMDECAPS_TOOLS_RIFF_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace cli {

class RiffFile {
 public:
  RiffFile() = default;
  ~RiffFile();
  RiffFile(const RiffFile&) = delete;
  RiffFile& operator=(const RiffFile&) = delete;

  bool Open(const std::string& path, std::string* error);
  // Every write reports failure through ok(); the first error text is kept.
  void Bytes(const void* data, size_t size);
  void Fourcc(const char* code);  // exactly four characters
  void U16(uint16_t v);
  void U32(uint32_t v);
  void Zeros(size_t count);
  // The RIFF header: "RIFF", the size (set by PatchRiffSize) and the form.
  void Start(const char* form);
  // Sets the size in the RIFF header to what follows it now.
  void PatchRiffSize();
  // Overwrites four bytes at offset, then returns to the end.
  void PatchU32(uint64_t offset, uint32_t v);
  // Closes; false when any write (or the close) failed.
  bool Close();

  uint64_t size() const { return size_; }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

 private:
  void Fail(const char* what);
  std::FILE* file_ = nullptr;
  std::string path_;
  uint64_t size_ = 0;
  bool ok_ = false;
  std::string error_;
};

}  // namespace cli

#endif
