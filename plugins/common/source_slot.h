// The one source a plug-in serves. A read holds its own reference while it
// runs, so a close from another thread only takes the source out of the slot
// and aborts it: the source is freed by whichever of the two lets go last,
// and a file descriptor is never closed while a read still uses it.
#ifndef OGMDECAPS_PLUGINS_COMMON_SOURCE_SLOT_H
#define OGMDECAPS_PLUGINS_COMMON_SOURCE_SLOT_H

#include <memory>
#include <mutex>

#include "plugins/common/source.h"

class SourceSlot {
 public:
  std::shared_ptr<Source> Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return source_;
  }

  void Put(std::shared_ptr<Source> source) {
    std::lock_guard<std::mutex> lock(mutex_);
    source_ = std::move(source);
  }

  // Empties the slot and aborts what it held.
  void Clear() {
    std::shared_ptr<Source> old;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      old.swap(source_);
    }
    if (old) old->Abort();
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<Source> source_;
};

#endif
