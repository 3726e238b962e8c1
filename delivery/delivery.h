// Media delivery inside the library: the video and audio paths as the
// seeks call them, with the destination's capacity known.
#ifndef OGMDECAPS_DELIVERY_DELIVERY_H
#define OGMDECAPS_DELIVERY_DELIVERY_H

#include <cstdint>

#include "state/reader_state.h"

// As AVIDecaps_NextVideoFrame: the frame held back (by a seek, or as too
// large for the last buffer) first, then the next frame from the input.
// capacity > 0: dest's size. Takes the lock itself.
int32_t NextVideoFrame(ReaderState& s, void* dest, int32_t capacity = 0);

// As AVIDecaps_ReadAudio, for the host (byteCount as the host gave it).
int32_t ReadAudio(ReaderState& s, void* buffer, int32_t byteCount);

// Video for the host: the next frame, copied to dest. Results as
// AVIDecaps_NextVideoFrame: size; -1 input ended; OGMDECAPS_READ_ERROR a
// read failed; OGMDECAPS_FRAME_TOO_LARGE when capacity > 0 and the frame is
// larger (the frame is then held for the next call, and currentFrame names
// it). Takes the lock itself.
int32_t DeliverVideoFrame(ReaderState& s, void* dest, int32_t capacity);

// Same, into the held frame (grown when the frame is larger than its fixed
// part); sets pendingVideoBytes. Called by the seeks with the lock held.
// Returns DECAPS_ERR_STREAM_ENDED instead of 0 when the stream's last
// packet was passed (seeking: without a keyframe).
int32_t DeliverVideoFrameToPending(ReaderState& s);

// Audio as AVIDecaps_ReadAudio, never writing more than capacity bytes
// (decoded samples that do not fit stay in the decoder for the next call).
// capacity < 0: no limit known (the host's buffer).
// keepFrom >= 0 (raw audio, used when audio is read only to be dropped):
// the first packet whose time is keepFrom or later is not dropped but kept
// whole in the carry, so the host's audio resumes at a packet boundary; the
// call then reports the request as filled.
int32_t DeliverAudio(ReaderState& s, uint8_t* buffer, int32_t byteCount, int32_t capacity,
                     int64_t keepFrom = -1);

// Most bytes one Vorbis call writes for the host: 2000 plus the largest
// batch of 8 channels of 8192-sample blocks. More decoded samples (more
// channels) wait in the decoder for the next call.
constexpr int32_t kVorbisCallLimit = 2000 + 8 * 8192;

// Vorbis, lock held: moves the audio on to the first sample at or after
// time (100 ns units) without decoding the packets before it: they are
// counted by their block sizes. The decoder restarts and decodes the packet
// that holds that sample after the one before it, so what follows equals a
// continuous decode. kDone (audioTime is where the next sample lies);
// DECAPS_ERR_STREAM_ENDED when the input or the stream ended first (or the
// audio is not Vorbis); DECAPS_ERR_READ_FAILED when a read failed.
int32_t SkipVorbisTo(ReaderState& s, int64_t time);

#endif
