#include "plugins/common/file_source.h"

#include <algorithm>

FileSource::FileSource(std::unique_ptr<PosixFile> file)
    : file_(std::move(file)), length_(file_->Size()) {}

std::shared_ptr<FileSource> FileSource::Open(const std::string& path, size_t window) {
  std::unique_ptr<PosixFile> file = PosixFile::Open(path);
  if (!file) return nullptr;
  std::shared_ptr<FileSource> source(new FileSource(std::move(file)));
  if (window > 0)
    source->cache_ = std::make_unique<ReadAheadCache>(*source->file_, source->length_, window);
  return source;
}

int32_t FileSource::Read(void* buffer, int32_t count) {
  if (Aborted() || position_ >= length_) return 0;
  // The length was fixed at open: bytes a growing file gains later are not
  // part of this source.
  const size_t size = static_cast<size_t>(std::min<int64_t>(count, length_ - position_));
  const int64_t got =
      cache_ ? cache_->Read(position_, buffer, size) : file_->ReadAt(position_, buffer, size);
  if (got <= 0) return 0;
  position_ += got;
  return static_cast<int32_t>(got);
}

bool FileSource::SeekTo(int64_t offset) {
  position_ = offset;
  return true;
}
