#include "plugins/http/held_bytes.h"

#include <algorithm>
#include <cstring>

void HeldBytes::Append(const char* data, size_t count) {
  while (count > 0) {
    if (blocks_.empty() || blocks_.back().size() == kBlock) {
      blocks_.emplace_back();
      blocks_.back().reserve(kBlock);
    }
    std::vector<char>& last = blocks_.back();
    const size_t take = std::min(count, kBlock - last.size());
    last.insert(last.end(), data, data + take);
    data += take;
    count -= take;
    size_ += static_cast<int64_t>(take);
  }
}

size_t HeldBytes::Copy(int64_t offset, char* out, size_t count) const {
  const size_t at = head_ + static_cast<size_t>(offset - from_);
  const std::vector<char>& block = blocks_[at / kBlock];
  const size_t n = std::min(count, block.size() - at % kBlock);
  std::memcpy(out, block.data() + at % kBlock, n);
  return n;
}

void HeldBytes::DropFront(int64_t count) {
  from_ += count;
  size_ -= count;
  head_ += static_cast<size_t>(count);
  while (!blocks_.empty() && head_ >= blocks_.front().size()) {
    head_ -= blocks_.front().size();
    blocks_.pop_front();
  }
}
