#include "state/reader_state.h"

void CloseSource(ReaderState& state) {
  ClearDemuxState(state.demux);
  state.pcm = nullptr;
  state.pcmSamples = 0;
  state.sourceOpen = 0;
  state.pendingVideoFrame.Release(0);
  state.pendingVideoBytes = 0;
  state.audioCarry.Release(0);
  state.audioCarryBytes = 0;
  SetStallClose(state, nullptr);
  UnbindInput(state.demux.input, true);
  state.demux.sourceLength = 0;
}
