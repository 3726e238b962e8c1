#include "demux/demux_state.h"

void ClearDemuxState(DemuxState& d) {
  StreamSlotClear(d.slots[0]);
  StreamSlotClear(d.slots[1]);
  // Each clear accepts a record that is already cleared or never set up.
  vorbis_block_clear(&d.vorbisBlock);
  vorbis_dsp_clear(&d.vorbisDsp);
  vorbis_comment_clear(&d.vorbisComment);
  vorbis_info_clear(&d.vorbisInfo);
  d.vorbisReady = 0;
  vorbis_comment_clear(&d.videoComment);
  vorbis_info_clear(&d.videoCommentInfo);
  ogg_sync_clear(&d.sync);
  d.cursor = kMainCursor;
  d.mainOffset = 0;
  d.canReread = 0;
  for (StreamHeader*& h : d.headers) {
    FreeStreamHeader(h);
    h = nullptr;
  }
}
