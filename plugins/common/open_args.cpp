#include "plugins/common/open_args.h"

#include <algorithm>

size_t ReadAheadBytes(int32_t c) {
  if (c <= 0) return kDefaultReadAhead;
  return std::clamp(static_cast<size_t>(c), kMinReadAhead, kMaxReadAhead);
}

int TimeoutMs(int32_t d) {
  if (d <= 0) return kDefaultTimeoutMs;
  return static_cast<int>(std::clamp<int32_t>(d, kMinTimeoutMs, kMaxTimeoutMs));
}
