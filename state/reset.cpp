#include "state/reset.h"

#include "demux/page_intake.h"

void ResetForNewSource(ReaderState& s) {
  s.videoNeedsPage = 1;
  s.audioNeedsPage = 1;
  s.videoTime = 0;
  s.audioTime = 0;
  s.audioGranule = 0;
  // The first data packet after the headers starts the stream: sample 0.
  VorbisCountFromStart(s);
  s.pendingVideoBytes = 0;
  s.seeking = 0;
  s.pcm = nullptr;
  s.pcmSamples = 0;
  s.audioCarryBytes = 0;
}

void ResetForDiscoveredStreams(ReaderState& s) {
  AnchorsReset(s.vorbisAnchors, s.demux.vorbisInfo.rate);
}

void ResetForReposition(ReaderState& s) {
  DemuxState& d = s.demux;
  // Every buffered byte is dropped; the buffer itself is kept, so seeking
  // does not make playback allocate it again.
  ogg_sync_reset(&d.sync);
  ResetCursors(d);
  StreamSlotReset(d.slots[0]);
  StreamSlotReset(d.slots[1]);
  s.audioNeedsPage = 1;
  s.videoNeedsPage = 1;
  s.audioGranule = 0;
  VorbisCountBreaks(s);
  s.vorbisStop = INT64_MAX;
  s.vorbisLastBlock = 0;
  ++s.repositions;
  // Raw audio carried over from the old position does not belong to the new
  // one: handing it out would put stale audio in front of the new position.
  s.audioCarryBytes = 0;
  s.audioCarry.Release(0);
  // The decoder still holds the overlap of the old position; without a
  // restart the first block after the seek would mix old and new audio.
  if (d.vorbisReady != 0) vorbis_synthesis_restart(&d.vorbisDsp);
}

void ResetForKeyframeScan(ReaderState& s) {
  s.videoTime = -1;
  s.audioTime = -1;
  s.seeking = 1;
  s.pendingVideoBytes = 0;
  s.seekFirstFrame = -1;
}

void ResetToStartOfSource(ReaderState& s) {
  s.videoTime = 0;
  s.audioTime = 0;
  SetCurrentFrame(s.info, 0);
  s.seeking = 0;
  s.pendingVideoBytes = 0;
  s.pendingVideoFrame.Release(0);
}

void VorbisCountFromStart(ReaderState& s) {
  s.vorbisDecoded = 0;
  s.vorbisCounted = 1;
  s.vorbisStop = INT64_MAX;
  s.vorbisLastBlock = 0;
}

void VorbisCountBreaks(ReaderState& s) {
  s.vorbisDecoded = -1;
  s.vorbisCounted = 0;
  AnchorsBreak(s.vorbisAnchors);
}

void ResetForClose(ReaderState& s) {
  s.pcm = nullptr;
  s.pcmSamples = 0;
  s.sourceOpen = 0;
  s.pendingVideoFrame.Release(0);
  s.pendingVideoBytes = 0;
  s.audioCarry.Release(0);
  s.audioCarryBytes = 0;
  s.demux.sourceLength = 0;
}
