// Received bytes from one offset on, kept in blocks so that appending never
// moves what is held and dropping the oldest bytes moves nothing either.
#ifndef OGMDECAPS_PLUGINS_HTTP_HELD_BYTES_H
#define OGMDECAPS_PLUGINS_HTTP_HELD_BYTES_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class HeldBytes {
 public:
  explicit HeldBytes(int64_t from) : from_(from) {}

  int64_t From() const { return from_; }
  int64_t End() const { return from_ + size_; }
  int64_t Size() const { return size_; }
  bool Holds(int64_t offset) const { return offset >= from_ && offset < End(); }

  void Append(const char* data, size_t count);
  // Copies up to count bytes from offset (which it must hold), up to the end
  // of the block that holds it; returns the number copied.
  size_t Copy(int64_t offset, char* out, size_t count) const;
  // Forgets the first count bytes (at most Size()).
  void DropFront(int64_t count);

 private:
  static constexpr size_t kBlock = size_t{256} << 10;

  int64_t from_;
  int64_t size_ = 0;
  size_t head_ = 0;  // bytes at the start of blocks_.front() already dropped
  // Every block but the last is full (kBlock bytes).
  std::deque<std::vector<char>> blocks_;
  // Dropped blocks kept for the next appends: in a long read, the pages of
  // the same few blocks are reused instead of fresh ones faulted in.
  std::vector<std::vector<char>> spare_;
};

#endif
