// The seeks; each runs with the reader lock held and a source open (the
// caller checks both).
#ifndef OGMDECAPS_POSITIONING_POSITIONING_H
#define OGMDECAPS_POSITIONING_POSITIONING_H

#include <cstdint>

#include "state/reader_state.h"

// As AVIDecaps_Seek, AVIDecaps_SeekChapter and AVIDecaps_ReSeekAudio.
int32_t Seek(ReaderState& s, int32_t position, int32_t byFrame);
int32_t SeekChapter(ReaderState& s, int32_t chapterIndex);
int32_t ReSeekAudio(ReaderState& s);

// Moves the input to offset (clamped to the source) and empties the sync
// layer, both slots, the raw audio carry and the Vorbis decoder's overlap,
// so reading starts afresh there.
void RepositionInput(ReaderState& s, int32_t offset);

// Brings the audio to the kept keyframe's time, taking later keyframes while
// the audio is ahead (unless takeLaterKeyframes is false: then audio ahead
// of the keyframe ends the call with kAudioAhead, everything else as it was
// read, and a later call can go on from there).
enum AlignResult {
  kAligned,
  kAudioRanOut,  // the input or the audio stream ended while reading audio
  kVideoRanOut,  // the audio runs ahead of every keyframe left
  kAudioAhead,   // the first audio found lies after the keyframe
};
AlignResult AlignAudioWithVideo(ReaderState& s, bool takeLaterKeyframes = true);

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
