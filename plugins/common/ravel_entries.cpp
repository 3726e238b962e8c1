#include "plugins/common/ravel_entries.h"

#include <limits>

#include "plugins/common/source_slot.h"

namespace {

// Never destroyed: a read still running on another thread at exit, or a
// source left open, must not meet a slot torn down by static destructors.
SourceSlot& Slot() {
  static SourceSlot* slot = new SourceSlot;
  return *slot;
}

}  // namespace

int32_t OpenSource(const std::function<std::shared_ptr<Source>()>& open) {
  Slot().Clear();
  std::shared_ptr<Source> source = open();
  if (!source) return 0;
  const int64_t length = source->Length();
  if (length <= 0 || length > std::numeric_limits<int32_t>::max()) return 0;
  Slot().Put(std::move(source));
  return static_cast<int32_t>(length);
}

int32_t ReadSource(void* buffer, int32_t count) {
  if (buffer == nullptr || count <= 0) return 0;
  const std::shared_ptr<Source> source = Slot().Get();
  if (!source) return 0;
  const int32_t got = source->Read(buffer, count);
  // A close during the read wins: the host has given the source up.
  if (source->Aborted() || got < 0) return 0;
  return got > count ? count : got;
}

int32_t SeekSource(int32_t offset, int32_t origin) {
  const std::shared_ptr<Source> source = Slot().Get();
  if (!source) return 0;
  int64_t base = 0;
  switch (origin) {
    case 0:
      base = 0;
      break;
    case 1:
      base = source->Position();
      break;
    case 2:
      base = source->Length();
      break;
    default:
      return 0;
  }
  const int64_t target = base + offset;
  if (target < 0 || target > source->Length()) return 0;
  return source->SeekTo(target) ? 1 : 0;
}

int32_t CloseSource() {
  Slot().Clear();
  return 1;
}
