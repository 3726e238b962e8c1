// Stream discovery at open: the frame count from the tail of a local source,
// the video and audio streams from the first pages, the chapter names from
// the video comments, and the Vorbis headers and decoder.
#ifndef OGMDECAPS_DEMUX_DISCOVERY_H
#define OGMDECAPS_DEMUX_DISCOVERY_H

#include <ogmdecaps/ogmdecaps.h>

#include <cstddef>
#include <cstdint>

#include "demux/demux_state.h"

constexpr int32_t kDurationTail = 100000;
constexpr int32_t kDefaultFrameCount = 250000;

// Runs discovery on an input that was just opened (d.input bound,
// d.sourceLength set). Writes frameCount, chapterCount and chapterNames of
// info. Returns kDone when every phase completed; DECAPS_ERR_DAMAGED when
// the source cannot be read as Ogg Media (no page at the start, a damaged
// first page, a gap in a header packet, a header Tremor refuses, an unusable
// stream header, or the input ending during the headers);
// DECAPS_ERR_READ_FAILED when a read failed or the source would not open
// again; DECAPS_ERR_OUT_OF_MEMORY. Discovery never loops without reading.
int32_t DiscoverStreams(DemuxState& d, StreamInfo& info, const char16_t* name, int32_t openArg);

// True when packet holds a complete Vorbis comment header (type 3,
// "vorbis", vendor and every comment inside the packet). Tremor's parser is
// only handed packets that pass this.
bool IsWellFormedComment(const uint8_t* packet, size_t bytes);

#endif
