#include "plugins/http/held_bytes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kMaxSpare = 4;

}  // namespace

void HeldBytes::Append(const char* data, size_t count) {
  while (count > 0) {
    if (blocks_.empty() || blocks_.back().size() == kBlock) {
      if (spare_.empty()) {
        blocks_.emplace_back();
        blocks_.back().reserve(kBlock);
      } else {
        blocks_.push_back(std::move(spare_.back()));
        spare_.pop_back();
      }
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
    if (spare_.size() < kMaxSpare) {
      spare_.push_back(std::move(blocks_.front()));
      spare_.back().clear();
    }
    blocks_.pop_front();
  }
}
