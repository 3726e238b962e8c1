// The events that put reader state back, each with the one function that
// lists every field it concerns (as a decoder's reset or clear routine does):
// a new source, a reposition of the input, a keyframe scan, a return to the
// start of the source, the Vorbis count starting over or breaking off, and
// the close. All run with the lock held (or when no other thread can be
// inside the reader).
#ifndef OGMDECAPS_STATE_RESET_H
#define OGMDECAPS_STATE_RESET_H

#include "state/reader_state.h"

// A new source, before discovery: playback fields back to their load values
// so nothing of the last source leaks into this one. Discovery sets the rest.
void ResetForNewSource(ReaderState& s);

// A new source, after discovery: what depends on the streams found (the
// anchor table's spacing follows the Vorbis rate).
void ResetForDiscoveredStreams(ReaderState& s);

// The input was moved: every buffered byte and packet is dropped, both paths
// need a page, the Vorbis count is unknown, the raw audio carry is dropped
// and the decoder's overlap restarts. Counts one more reposition.
void ResetForReposition(ReaderState& s);

// A keyframe scan starts: no time known on either path, nothing held, the
// video delivers keyframes only.
void ResetForKeyframeScan(ReaderState& s);

// A seek ended at the start of the source: both times and currentFrame 0,
// nothing held (the held frame's heap part is given back).
void ResetToStartOfSource(ReaderState& s);

// A Vorbis header packet met in the stream (the stream starts again): the
// samples count from 0 exactly.
void VorbisCountFromStart(ReaderState& s);

// A gap in the Vorbis packets: the count breaks off and no page after it
// has a known predecessor.
void VorbisCountBreaks(ReaderState& s);

// The source closes: the decoder's batch, the held frame and the carry are
// given back, the source is marked closed and its length forgotten. The Ogg and Tremor records are
// cleared and the input released by CloseSource around it.
void ResetForClose(ReaderState& s);

#endif
