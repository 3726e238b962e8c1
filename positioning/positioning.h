// Routines shared by the seeks; each runs with the reader lock held.
#ifndef OGMDECAPS_POSITIONING_POSITIONING_H
#define OGMDECAPS_POSITIONING_POSITIONING_H

#include <cstdint>

#include "reader/reader_state.h"

// Moves the input to offset (clamped to the source) and empties the sync
// layer, both slots, the raw audio carry and the Vorbis decoder's overlap,
// so reading starts afresh there.
void RepositionInput(ReaderState& s, int32_t offset);

// Brings the audio to the kept keyframe's time, taking later keyframes while
// the audio is ahead.
enum AlignResult {
  kAligned,
  kAudioRanOut,  // the input or the audio stream ended while reading audio
  kVideoRanOut,  // the audio runs ahead of every keyframe left
};
AlignResult AlignAudioWithVideo(ReaderState& s);

// Audio bytes from currentFrame to the end of the source; 0 without audio.
int32_t RemainingAudioBytes(const ReaderState& s);

// Ends a seek at the start of the source: nothing pending, both times and
// currentFrame 0. Returns totalAudioBytes.
int32_t EndAtStartOfSource(ReaderState& s);

// Keyframe scan: keyframes into the held frame until one has a time (and,
// when minFrame > 0, a frame number of at least minFrame). false when the
// input or the video stream ran out.
bool ScanToKeyframe(ReaderState& s, int32_t minFrame);

#endif
