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
// so reading starts afresh there. false when the input refused to move.
bool RepositionInput(ReaderState& s, int64_t offset);

// Audio bytes from currentFrame to the end of the source; 0 without audio.
int32_t RemainingAudioBytes(const ReaderState& s);

// Ends a seek at the start of the source: nothing pending (the held frame's
// heap part is given back), both times and currentFrame 0. Returns
// totalAudioBytes.
int32_t EndAtStartOfSource(ReaderState& s);

// Lands a seek: the held frame becomes the first keyframe (with a time) at
// or after targetFrame, or, with targetFrame < 0, the first one found after
// offset. The input is positioned at offset, an estimate: while the first
// frame read there lies past the target, the position steps back (doubling
// the step), so the scan reaches the target from before it. A target past
// the last keyframe lands on the last keyframe. Then the audio is aligned
// with the keyframe; audio that starts more than one packet after the
// keyframe's time moves the input earlier again (same keyframe) rather than
// the video to a later keyframe. Returns false when no keyframe can be
// found (or the audio ends first): the caller ends at the start.
bool LandOnKeyframe(ReaderState& s, int64_t offset, int32_t targetFrame);

#endif
