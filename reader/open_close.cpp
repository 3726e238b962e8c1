#include "demux/discovery.h"
#include "reader/entries.h"
#include "state/reader_state.h"

namespace {

// Fields of the reader state that no discovery step sets: start every source
// from their load values so nothing of the last source leaks into this one.
void ResetPlaybackState(ReaderState& s) {
  s.videoNeedsPage = 1;
  s.audioNeedsPage = 1;
  s.videoTime = 0;
  s.audioTime = 0;
  s.audioGranule = 0;
  s.pendingVideoBytes = 0;
  s.seeking = 0;
  s.pcm = nullptr;
  s.pcmSamples = 0;
  s.audioCarryBytes = 0;
}

// A video stream must have timing we can divide by; an audio stream that has
// none is dropped (the video still plays).
bool AcceptStreams(DemuxState& d) {
  if (d.videoPresent != kStreamPresent || d.headers[0] == nullptr) return false;
  if (!HasUsableTiming(*d.headers[0])) return false;
  if (d.audioPresent == kStreamPresent && d.headers[1] != nullptr &&
      !HasUsableTiming(*d.headers[1])) {
    FreeStreamHeader(d.headers[1]);
    d.headers[1] = nullptr;
    d.audioPresent = kStreamAbsent;
  }
  if (AudioIsVorbis(d) && (d.vorbisInfo.channels <= 0 || d.vorbisInfo.rate <= 0)) return false;
  return true;
}

}  // namespace

int32_t OpenWithInput(const InputSource& input, const char16_t* name, int32_t openArg,
                      void** result) {
  ReaderState& s = gReader;
  s.demux.input = input;
  SetStallClose(s, input.close);
  s.audioCarryBytes = 0;
  s.demux.sourceLength = input.open(name, 0, 0, -1, 1000000);
  if (s.demux.sourceLength <= 0) {
    SetStallClose(s, nullptr);
    UnbindInput(s.demux.input, false);
    s.demux.sourceLength = 0;
    return 0;
  }
  // One lock serves every source of the process: a thread that was inside
  // the library when an earlier source was force-closed may still be leaving
  // it, so the lock is never destroyed under it.
  // Published atomically: CloseIfStalled may look for it from another thread.
  if (s.lock == nullptr) __atomic_store_n(&s.lock, MutexCreate(), __ATOMIC_RELEASE);
  if (s.lock == nullptr) {
    CloseSource(s);
    return 0;
  }
  // Discovery reads under the lock, so that CloseIfStalled can end an open
  // that hangs in a read (a network source that stopped answering) as it
  // ends a hanging frame or audio read.
  LockHold hold(s);
  ResetPlaybackState(s);
  SetCurrentFrame(s.info, 0);
  if (DiscoverStreams(s.demux, s.info, name, openArg) != 1 || !AcceptStreams(s.demux)) {
    CloseSource(s);
    return 0;
  }
  DescribeStreams(s);
  s.sourceOpen = 1;
  if (result != nullptr) *result = &s.info;
  return 1;
}

int32_t OpenEntry(const char16_t* name, int32_t useCache, int32_t openArg, void** result) {
  if (name == nullptr) return 0;
  // The host should close first; if it did not, close now so the earlier
  // plug-in, source and buffers are not leaked.
  if (gReader.sourceOpen != 0 || gReader.demux.input.library != nullptr) CloseEntry();
  InputSource input;
  if (BindInput(input, PluginNameFor(name, useCache)) == 0) return 0;
  return OpenWithInput(input, name, openArg, result);
}

int32_t CloseEntry() {
  CloseSource(gReader);
  return 1;
}

int32_t CloseIfStalledEntry() {
  ReaderState& s = gReader;
  PlatformMutex* const lock = __atomic_load_n(&s.lock, __ATOMIC_ACQUIRE);
  const uint32_t wait = MutexWait(lock, 500);
  if (wait == kWaitTaken) {
    MutexRelease(lock);
    return 1;
  }
  if (wait != kWaitTimedOut) return 1;
  // Another thread has held the reader for 500 ms, most likely blocked in a
  // read. Closing the input first makes that read return; the thread then
  // finds the input ended and leaves. Only when it has let go of the lock
  // are the records it was using released and the plug-in unloaded.
  if (const RavelCloseFn close = GetStallClose(s)) close();
  if (MutexWait(lock, kWaitForever) == kWaitTaken) {
    CloseSource(s);
    MutexRelease(lock);
  }
  return 1;
}

double FrameRateEntry() { return gReader.info.framesPerSecond; }

double GetProgressEntry() {
  const StreamInfo& info = gReader.info;
  if (info.frameCount == 0) return 0.0;
  return static_cast<double>(GetCurrentFrame(info)) * 100.0 / static_cast<double>(info.frameCount);
}
