#include "demux/mul_div_round.h"

#include <cstdint>

int64_t MulDivRound(int64_t a, int64_t c, int64_t v) {
  if (v == 0) return 0;
  int64_t p;
  if (__builtin_mul_overflow(a, c, &p)) {
    // Far outside any time a file can describe; keep the sign, never wrap.
    return ((a < 0) != (c < 0)) != (v < 0) ? INT64_MIN : INT64_MAX;
  }
  if (v == -1) return p == INT64_MIN ? INT64_MAX : -p;  // INT64_MIN / -1 traps
  const int64_t q = p / v;
  const int64_t r = p % v;
  const int64_t h = v >> 1;
  return r > h ? q + 1 : q;
}
