// Everything the demultiplexer keeps for the open source: the bound input,
// the Ogg sync layer and page, the two stream slots with their headers, and
// the Tremor records of a Vorbis audio stream and of the video comments.
// Routines take this record (or parts of it) as an argument.
#ifndef OGMDECAPS_DEMUX_DEMUX_STATE_H
#define OGMDECAPS_DEMUX_DEMUX_STATE_H

#include <ogg/ogg.h>
#include <tremor/ivorbiscodec.h>

#include <cstdint>

#include "demux/stream_header.h"
#include "demux/stream_slot.h"
#include "input/input_source.h"

enum : int32_t { kStreamUnknown = 0, kStreamPresent = 1, kStreamAbsent = -1 };

constexpr int32_t kMainCursor = -1;  // DemuxState::cursor: the main reading

struct DemuxState {
  InputSource input;
  int32_t sourceLength = 0;  // bytes, as the plug-in's open reported
  int32_t videoPresent = 0;  // kStreamUnknown / kStreamPresent / kStreamAbsent
  int32_t audioPresent = 0;
  StreamHeader* headers[kSlotCount] = {};  // 0 video, 1 audio (null: Vorbis)
  StreamSlot slots[kSlotCount];
  ogg_sync_state sync = {};
  // Where the input and the sync layer read: kMainCursor, or the index of a
  // detached slot whose pages are being read again. mainOffset is where the
  // main reading resumes while the input serves a slot's second read.
  int32_t cursor = kMainCursor;
  int64_t mainOffset = 0;
  // 1: the input can go back (its seeks work), so a slot may stop taking
  // pages at its bound and read them again later; 0: every page is kept.
  uint8_t canReread = 0;
  ogg_page page = {};
  ogg_packet packet = {};
  vorbis_info vorbisInfo = {};
  vorbis_comment vorbisComment = {};
  vorbis_dsp_state vorbisDsp = {};
  vorbis_block vorbisBlock = {};
  uint8_t vorbisReady = 0;  // 1 once the decoder is set up
  vorbis_info videoCommentInfo = {};
  vorbis_comment videoComment = {};
};

// Releases every libogg/Tremor buffer and header record of the state and
// leaves the records cleared; the input is not touched.
void ClearDemuxState(DemuxState& d);

// True when the audio stream is Vorbis (decoded here to PCM).
inline bool AudioIsVorbis(const DemuxState& d) {
  return d.audioPresent == kStreamPresent && d.headers[1] == nullptr;
}

#endif
