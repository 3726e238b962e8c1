// RavelCache: local files through a read-ahead window of c bytes, so the
// host's small reads and short seeks cost no system call.
#include "plugins/common/file_source.h"
#include "plugins/common/open_args.h"
#include "plugins/common/ravel_entries.h"
#include "plugins/common/source_name.h"

RAVEL_EXPORT int32_t RavelOpen(const char16_t* name, int32_t, int32_t, int32_t c, int32_t) {
  return OpenSource([name, c] { return FileSource::Open(PathFromName(name), ReadAheadBytes(c)); });
}

RAVEL_EXPORT int32_t RavelRead(void* buffer, int32_t count) { return ReadSource(buffer, count); }

RAVEL_EXPORT int32_t RavelSeek(int32_t offset, int32_t origin) {
  return SeekSource(offset, origin);
}

RAVEL_EXPORT int32_t RavelClose(void) { return CloseSource(); }
