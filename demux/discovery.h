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
constexpr int kMaxChapters = 100;
constexpr size_t kChapterKeyLength = 7;    // "CHAPTER", any letter case
constexpr size_t kChapterNameOffset = 14;  // text after "CHAPTERxxNAME="

// Runs discovery on an input that was just opened (d.input bound,
// d.sourceLength set). Writes frameCount, chapterCount and chapterNames of
// info. Returns 1 when every phase completed, -1 when the source cannot be
// read as Ogg Media (no page at the start, a damaged first page, a gap in a
// header packet, a header Tremor refuses, an unusable stream header, or the
// input ending during the headers). Discovery never loops without reading.
int32_t DiscoverStreams(DemuxState& d, StreamInfo& info, const char16_t* name, int32_t openArg);

// True when packet holds a complete Vorbis comment header (type 3,
// "vorbis", vendor and every comment inside the packet). Tremor's parser is
// only handed packets that pass this.
bool IsWellFormedComment(const uint8_t* packet, size_t bytes);

// Fills info.chapterNames from the comments and returns how many there are.
int32_t CollectChapterNames(const vorbis_comment& comments, StreamInfo& info);

// Index of the first comment whose key begins with "CHAPTER" (any case), or
// the comment count when there is none.
int FirstChapterComment(const vorbis_comment& comments);

#endif
