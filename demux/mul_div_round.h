#ifndef OGMDECAPS_DEMUX_MUL_DIV_ROUND_H
#define OGMDECAPS_DEMUX_MUL_DIV_ROUND_H

#include <cstdint>

// a x c / v, rounded: the quotient truncated toward zero, plus one when the
// remainder exceeds half the divisor (half rounded down), so positive values
// round to nearest with exact halves going down and negative products are
// truncated. A divisor of 0 gives 0; a product beyond 64 bits saturates.
// Used to turn granule positions into 100-ns times.
int64_t MulDivRound(int64_t a, int64_t c, int64_t v);

// double -> int32 truncated toward zero, saturating instead of overflowing
// (NaN gives 0). Durations and byte counts computed in double land here.
inline int32_t TruncateToInt32(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

#endif
