// A local file as a source, read directly or through a read-ahead window.
#ifndef OGMDECAPS_PLUGINS_COMMON_FILE_SOURCE_H
#define OGMDECAPS_PLUGINS_COMMON_FILE_SOURCE_H

#include <memory>
#include <string>

#include "plugins/common/posix_file.h"
#include "plugins/common/read_ahead_cache.h"
#include "plugins/common/source.h"

class FileSource final : public Source {
 public:
  // window 0 reads the file directly; otherwise through a window of that
  // many bytes. nullptr when the file cannot be opened.
  static std::shared_ptr<FileSource> Open(const std::string& path, size_t window);

  int64_t Length() const override { return length_; }
  int64_t Position() const override { return position_; }
  int32_t Read(void* buffer, int32_t count) override;
  bool SeekTo(int64_t offset) override;

 private:
  explicit FileSource(std::unique_ptr<PosixFile> file);

  std::unique_ptr<PosixFile> file_;
  std::unique_ptr<ReadAheadCache> cache_;
  int64_t length_;
  int64_t position_ = 0;
};

#endif
