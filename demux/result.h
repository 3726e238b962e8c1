// Result codes of the demultiplexer.
//
// Ranges: 1, 0 and -1 keep their libogg meanings (packet / no packet / gap);
// -2 .. -3 and -128 .. -138 are left to libogg and Tremor soft and hard
// results; -2049 and below are ours. Entry points turn these into 0, -1 or a
// retry; nothing here ever reaches the host.
#ifndef OGMDECAPS_DEMUX_RESULT_H
#define OGMDECAPS_DEMUX_RESULT_H

#include <cstdint>

enum : int32_t {
  kPacket = 1,                            // a data packet was taken and has a granule position
  kNoPacket = 0,                          // the slot holds no complete packet
  kGap = -1,                              // the stream has a gap here (reported once by libogg)
  DECAPS_ERR_HEADER_PACKET = -2049,       // a header packet; timing restarts at 0
  DECAPS_ERR_NOT_HEADER = -2050,          // not a stream header packet
  DECAPS_ERR_UNSUPPORTED_STREAM = -2051,  // a header of a kind we do not read
  DECAPS_ERR_NO_GRANULE = -2052,          // data packet, time unknown
  DECAPS_ERR_BAD_PACKET = -2053,          // data packet shorter than its own length field
};

#endif
