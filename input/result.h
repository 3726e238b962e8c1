// The results of the reader's own routines, one list from the input up.
// Routines that hand out a count (bytes read, bytes written) return it as
// is and a negative result from this list otherwise. Entry points turn
// these into the host's results; nothing here ever reaches the host.
//
// Ranges:
//   0 .. 63        successes: something was taken or done, or (0) nothing
//                  is complete yet and nothing is wrong
//   -1             a gap in a stream (libogg's meaning)
//   -2 .. -3 and -128 .. -138   left to libogg's and Tremor's own results
//   -2049 .. -2099 conditions: what was met instead of what was asked for;
//                  the caller decides whether to go on
//   -2100 and below failures: the step could not be done
// 1, 0 and -1 keep their libogg meanings (packet / no packet / gap). The
// packet kinds a stream's header byte tells (-2049 .. -2052) keep their
// long-standing names, successes among them.
#ifndef OGMDECAPS_INPUT_RESULT_H
#define OGMDECAPS_INPUT_RESULT_H

#include <cstdint>

enum DecapsResult : int32_t {
  kNoPacket = 0,   // nothing complete yet: the slot holds no whole packet
  kPacket = 1,     // a data packet was taken and has a granule position
  kDone = 2,       // the step completed (a discovery phase, an alignment)
  kPageTaken = 3,  // a page went from the sync layer to a slot (or was set aside)
  kChunkRead = 4,  // no page was complete; a chunk of input was read: try again
  kGoOn = 5,       // a step was made and more is to be done: call again
  kFilled = 6,     // the caller's request is filled

  kGap = -1,  // the stream has a gap here (reported once by libogg)

  DECAPS_ERR_HEADER_PACKET = -2049,       // a header packet was taken; timing restarts at 0
  DECAPS_ERR_NOT_HEADER = -2050,          // not a stream header packet
  DECAPS_ERR_UNSUPPORTED_STREAM = -2051,  // a header of a kind we do not read
  DECAPS_ERR_NO_GRANULE = -2052,          // a data packet was taken; its time is unknown
  DECAPS_ERR_BAD_PACKET = -2053,          // a data packet shorter than its own length field
  DECAPS_ERR_LOST_SYNC = -2054,           // bytes were skipped to find a page start: try again
  DECAPS_ERR_INPUT_ENDED = -2055,         // the input has no more bytes
  DECAPS_ERR_STREAM_ENDED = -2056,        // the stream ended before what was looked for
  DECAPS_ERR_AUDIO_AHEAD = -2057,         // the audio starts after the keyframe's time

  DECAPS_ERR_READ_FAILED = -2100,  // a read failed before the input's length (or it would not move)
  DECAPS_ERR_OUT_OF_MEMORY = -2101,  // an allocation failed
  DECAPS_ERR_DAMAGED = -2102,        // bytes that cannot be read as Ogg Media
};

// True for the results in the failure range.
constexpr bool IsFailure(int32_t result) { return result <= DECAPS_ERR_READ_FAILED; }

#endif
