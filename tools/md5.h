// MD5 message digest (RFC 1321), fed in pieces.
#ifndef OGMDECAPS_TOOLS_MD5_H
#define OGMDECAPS_TOOLS_MD5_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

class Md5 {
 public:
  Md5();
  void Update(const void* data, size_t size);
  // Finishes the digest; the object must be Reset before it is fed again.
  std::string HexDigest();
  void Reset();

  // One-shot convenience.
  static std::string Hex(const void* data, size_t size);

 private:
  void Block(const uint8_t* block);
  uint32_t state_[4];
  uint64_t length_ = 0;  // bytes fed
  uint8_t buffer_[64];
  size_t buffered_ = 0;
};

}  // namespace cli

#endif
