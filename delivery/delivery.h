// Media delivery inside the library: the video and audio paths as the
// seeks call them, with the destination's capacity known.
#ifndef OGMDECAPS_DELIVERY_DELIVERY_H
#define OGMDECAPS_DELIVERY_DELIVERY_H

#include <cstdint>

#include "state/reader_state.h"

// As AVIDecaps_NextVideoFrame: the frame a seek held back first, then the
// next frame from the input. Takes the lock itself.
int32_t NextVideoFrame(ReaderState& s, void* dest);

// Video: the next frame (in seeking mode, the next keyframe with a time),
// copied to dest. Results as AVIDecaps_NextVideoFrame: size; -1 input ended;
// OGMDECAPS_READ_ERROR a read failed; 0 when seeking passed the stream's
// last packet. Takes the lock itself.
int32_t DeliverVideoFrame(ReaderState& s, void* dest);

// Seeking mode passed the video stream's last packet without a keyframe.
constexpr int32_t kVideoStreamEnded = -2;

// Same, into the held frame (grown when the frame is larger than its fixed
// part); sets pendingVideoBytes. Called by the seeks with the lock held.
// Returns kVideoStreamEnded instead of 0 when the stream ended.
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

// Vorbis, lock held: moves the audio on to the first sample at or after
// time (100 ns units) without decoding the packets before it: they are
// counted by their block sizes. The decoder restarts and decodes the packet
// that holds that sample after the one before it, so what follows equals a
// continuous decode. 1 done (audioTime is where the next sample lies); 0
// when the input or the stream ended first.
int32_t SkipVorbisTo(ReaderState& s, int64_t time);

#endif
