#ifndef OGMDECAPS_DELIVERY_PCM_H
#define OGMDECAPS_DELIVERY_PCM_H

#include <cstdint>

// Tremor's samples carry 9 more fractional bits than 16-bit PCM: shift them
// away (arithmetic shift) and clip what overshoots.
inline int16_t ClipSample(int32_t v) {
  const int32_t x = v >> 9;
  return static_cast<int16_t>(x > 32767 ? 32767 : (x < -32768 ? -32768 : x));
}

#endif
