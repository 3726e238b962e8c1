// What the audio paths share inside delivery/: the result of one pass made
// under the lock, the page pull both paths use, and each path's pass. The
// dispatcher (DeliverAudio, ReadAudio) is in audio.cpp, the raw byte path in
// raw_audio.cpp, Vorbis PCM in vorbis_pcm.cpp, the placement of the Vorbis
// count in vorbis_count.cpp and the seeks' Vorbis skip in vorbis_skip.cpp.
#ifndef OGMDECAPS_DELIVERY_AUDIO_PATHS_H
#define OGMDECAPS_DELIVERY_AUDIO_PATHS_H

#include <cstdint>

#include "input/result.h"
#include "state/reader_state.h"

// A pass's results: kGoOn (more to do: call again), kFilled (the request is
// filled; *result holds the count), DECAPS_ERR_INPUT_ENDED,
// DECAPS_ERR_READ_FAILED, DECAPS_ERR_OUT_OF_MEMORY (the carry could not grow).

// Pulls pages until one of the audio stream was routed or a read was made.
// Lock held. kGoOn, DECAPS_ERR_INPUT_ENDED when the input has no more bytes,
// DECAPS_ERR_READ_FAILED when a read failed before its end.
int32_t PullAudioPages(ReaderState& s);

// Copies into the carry, growing it past its fixed part when one packet
// leaves more than it holds.
bool Carry(ReaderState& s, const uint8_t* bytes, int32_t n);

// One pass of the raw path; lock held. Returns kFilled with *result set
// when the request is filled.
int32_t RawPass(ReaderState& s, uint8_t*& out, int32_t& remaining, int32_t byteCount,
                int64_t keepFrom, uint8_t& endOfStream, int32_t* result);

// Samples the decoder holds that were not handed out yet.
int32_t DecoderHolds(DemuxState& d);

// The position of the next sample to hand out, from the packets' durations.
void UpdateAudioPosition(ReaderState& s);

// Times the packet just decoded, whose output brought `added` samples.
void TimeVorbisPacket(ReaderState& s, long block, int32_t added);

// Decodes one packet into the decoder without its granule: the decoder
// would cut the stream's end by its own count from the first granule it
// saw, which may run ahead; the end is cut by the counted position instead.
void DecodePacket(DemuxState& d, const ogg_packet& packet);

// One pass of the Vorbis path (one packet); lock held, also while decoding,
// so the decoder records are never used by two threads.
int32_t VorbisPass(ReaderState& s, uint8_t*& out, int32_t& written, int32_t capacity,
                   int32_t* result);

#endif
