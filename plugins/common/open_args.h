// How a plug-in reads the c and d arguments of RavelOpen. Both arrive from
// hosts that pass fixed values (the first open passes d = 1000000), so both
// are clamped to ranges that keep memory and waiting bounded.
#ifndef OGMDECAPS_PLUGINS_COMMON_OPEN_ARGS_H
#define OGMDECAPS_PLUGINS_COMMON_OPEN_ARGS_H

#include <cstddef>
#include <cstdint>

constexpr size_t kDefaultReadAhead = size_t{1} << 20;  // 1 MiB
constexpr size_t kMinReadAhead = size_t{64} << 10;     // 64 KiB
constexpr size_t kMaxReadAhead = size_t{16} << 20;     // 16 MiB

constexpr int kDefaultTimeoutMs = 15000;
constexpr int kMinTimeoutMs = 100;
constexpr int kMaxTimeoutMs = 30000;

// c: read-ahead size in bytes; <= 0 gives the default, others are clamped
// to kMinReadAhead..kMaxReadAhead.
size_t ReadAheadBytes(int32_t c);

// d: time-out in milliseconds; <= 0 gives the default, others are clamped
// to kMinTimeoutMs..kMaxTimeoutMs.
int TimeoutMs(int32_t d);

#endif
