// RavelHTTP: http:// and https:// sources through libcurl, streamed from one
// transfer at a time; seeks start ranged requests.
#include "plugins/common/open_args.h"
#include "plugins/common/ravel_entries.h"
#include "plugins/common/source_name.h"
#include "plugins/http/http_source.h"

RAVEL_EXPORT int32_t RavelOpen(const char16_t* name, int32_t, int32_t, int32_t c, int32_t d) {
  return OpenSource([name, c, d] {
    return HttpSource::Open(UrlFromName(name), ReadAheadBytes(c), TimeoutMs(d));
  });
}

RAVEL_EXPORT int32_t RavelRead(void* buffer, int32_t count) { return ReadSource(buffer, count); }

RAVEL_EXPORT int32_t RavelSeek(int32_t offset, int32_t origin) {
  return SeekSource(offset, origin);
}

RAVEL_EXPORT int32_t RavelClose(void) { return CloseSource(); }
