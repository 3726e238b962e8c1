#include "state/reader_state.h"

#include <mutex>

#include "state/reset.h"

namespace {

// Keeps the plug-in loaded while InterruptInput calls into it from a thread
// that does not hold the reader lock. Held only for a plug-in's close or an
// unload, never while waiting for the reader lock.
std::mutex gInputGuard;

}  // namespace

LockHold::LockHold(ReaderState& state, uint32_t timeoutMs)
    : state_(state), lock_(GetLock(state)), taken_(MutexWait(lock_, timeoutMs) == kWaitTaken) {
  if (taken_) ++state_.lockDepth;
}

LockHold::~LockHold() {
  if (!taken_) return;
  if (--state_.lockDepth == 0 && CloseRequested(state_)) {
    CloseSource(state_);
    SetCloseRequested(state_, 0);
  }
  MutexRelease(lock_);
}

void SetStallClose(ReaderState& state, RavelCloseFn close) {
  std::lock_guard<std::mutex> guard(gInputGuard);
  state.stallClose = close;
}

void InterruptInput(ReaderState& state) {
  std::lock_guard<std::mutex> guard(gInputGuard);
  if (state.stallClose != nullptr) state.stallClose();
}

void ReleaseInput(ReaderState& state, bool closeSource) {
  std::lock_guard<std::mutex> guard(gInputGuard);
  state.stallClose = nullptr;
  UnbindInput(state.demux.input, closeSource);
}

int32_t EndResult(const ReaderState& state, bool readFailed) {
  return readFailed && !CloseRequested(state) ? OGMDECAPS_READ_ERROR : OGMDECAPS_END_OF_INPUT;
}

void CloseSource(ReaderState& state) {
  ClearDemuxState(state.demux);
  ResetForClose(state);
  ReleaseInput(state, true);
}
