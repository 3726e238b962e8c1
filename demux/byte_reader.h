// Bounded little-endian reads from packet bytes. A read past the end yields 0
// and clears ok(), so a parser can read a whole record and check once. Never
// cast packet bytes to a record: alignment and byte order differ by target.
#ifndef OGMDECAPS_DEMUX_BYTE_READER_H
#define OGMDECAPS_DEMUX_BYTE_READER_H

#include <cstddef>
#include <cstdint>

inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadLe64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadLe32(p)) | (static_cast<uint64_t>(LoadLe32(p + 4)) << 32);
}
inline void StoreLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreLe64(uint8_t* p, uint64_t v) {
  StoreLe32(p, static_cast<uint32_t>(v));
  StoreLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// True when [pos, pos + n) does not lie inside [0, size), wrap included.
inline bool OutOfBounds(size_t pos, size_t n, size_t size) { return pos > size || n > size - pos; }

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

  bool ok() const { return ok_; }
  size_t size() const { return size_; }

  // Reads at an absolute offset; the cursor is not used.
  uint8_t U8At(size_t pos) { return Fits(pos, 1) ? data_[pos] : 0; }
  uint16_t Le16At(size_t pos) { return Fits(pos, 2) ? LoadLe16(data_ + pos) : 0; }
  uint32_t Le32At(size_t pos) { return Fits(pos, 4) ? LoadLe32(data_ + pos) : 0; }
  uint64_t Le64At(size_t pos) { return Fits(pos, 8) ? LoadLe64(data_ + pos) : 0; }
  // The address of n bytes at pos, or nullptr (and !ok()) when they are not
  // all inside.
  const uint8_t* BytesAt(size_t pos, size_t n) { return Fits(pos, n) ? data_ + pos : nullptr; }

  // Sequential reads from the cursor.
  uint32_t Le32() {
    const uint32_t v = Le32At(pos_);
    pos_ += 4;
    return v;
  }
  const uint8_t* Bytes(size_t n) {
    const uint8_t* p = BytesAt(pos_, n);
    if (p != nullptr) pos_ += n;
    return p;
  }

 private:
  bool Fits(size_t pos, size_t n) {
    if (OutOfBounds(pos, n, size_)) {
      ok_ = false;
      return false;
    }
    return true;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

#endif
