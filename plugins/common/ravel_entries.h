// The work behind RavelOpen/Read/Seek/Close, shared by every plug-in: each
// plug-in library links its own copy and so has its own slot.
#ifndef OGMDECAPS_PLUGINS_COMMON_RAVEL_ENTRIES_H
#define OGMDECAPS_PLUGINS_COMMON_RAVEL_ENTRIES_H

#include <cstdint>
#include <functional>
#include <memory>

#include "plugins/common/source.h"

#ifdef _WIN32
#define RAVEL_EXPORT extern "C" __declspec(dllexport)
#else
#define RAVEL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Closes the current source, then installs the one open() returns (nullptr:
// not opened). Returns its length, or 0 when there is none or its length is
// 0 or does not fit in an int32_t.
int32_t OpenSource(const std::function<std::shared_ptr<Source>()>& open);

int32_t ReadSource(void* buffer, int32_t count);

// origin 0: from the start, 1: from the position, 2: from the end. The
// target must lie in 0..length.
int32_t SeekSource(int32_t offset, int32_t origin);

int32_t CloseSource();

#endif
