#include <cstring>

#include "demux/discovery.h"
#include "platform/charset.h"
#include "reader/entries.h"
#include "state/reader_state.h"
#include "state/reset.h"

namespace {

// How long an open waits for a thread still inside the reader, how long a
// close waits for a call in progress before it interrupts that call's read,
// and how long it then waits for the call to leave.
constexpr uint32_t kOpenWaitMs = 2000;
constexpr uint32_t kCloseWaitMs = 2000;
constexpr uint32_t kInterruptWaitMs = 1000;
constexpr uint32_t kStallMs = 500;

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

namespace {

// The one lock of the process, made at the first open. A thread that was
// inside the library when an earlier source was force-closed may still be
// leaving it, so the lock is never destroyed under it.
PlatformMutex* EnsureLock(ReaderState& s) {
  PlatformMutex* lock = GetLock(s);
  if (lock != nullptr) return lock;
  PlatformMutex* made = MutexCreate();
  if (made == nullptr) return nullptr;
  if (__atomic_compare_exchange_n(&s.lock, &lock, made, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
    return made;
  MutexDestroy(made);  // another open made it first
  return lock;
}

// Closes the source once the lock is free. A call that holds the lock past
// waitMs has its read interrupted (the plug-in's close makes a blocked read
// return) and kInterruptWaitMs more to leave; if it is still inside then,
// the close is left to it (it closes when its outermost hold ends).
void StopSource(ReaderState& s, uint32_t waitMs) {
  PlatformMutex* const lock = GetLock(s);
  if (lock == nullptr) return;  // nothing was ever opened
  uint32_t wait = waitMs == 0 ? kWaitTimedOut : MutexWait(lock, waitMs);
  if (wait == kWaitTimedOut) {
    // Requested before the interrupt: the holder's read then ends as a
    // close, not as a read failure, and the holder closes on leaving even
    // when it leaves just after this wait gives up.
    SetCloseRequested(s, 1);
    InterruptInput(s);
    wait = MutexWait(lock, kInterruptWaitMs);
  }
  if (wait != kWaitTaken) return;
  CloseSource(s);
  SetCloseRequested(s, 0);
  MutexRelease(lock);
}

}  // namespace

int32_t OpenWithInput(const InputSource& input, const char16_t* name, int32_t openArg,
                      void** result) {
  ReaderState& s = gReader;
  InputSource bound = input;
  if (EnsureLock(s) == nullptr) {
    UnbindInput(bound, false);
    return 0;
  }
  // Everything from the plug-in's open to the end of discovery runs under
  // the lock: a close from another thread waits for it or interrupts it,
  // and CloseIfStalled ends an open that hangs in a read (a network source
  // that stopped answering) as it ends a hanging frame or audio read.
  LockHold hold(s, kOpenWaitMs);
  if (!hold.taken()) {
    UnbindInput(bound, false);
    return 0;
  }
  // The host should close first; if it did not, close now so the earlier
  // plug-in, source and buffers are not leaked.
  if (s.sourceOpen != 0 || s.demux.input.library != nullptr || s.demux.input.close != nullptr)
    CloseSource(s);
  SetCloseRequested(s, 0);
  s.demux.input = bound;
  SetStallClose(s, bound.close);
  // The host's time-out reaches a network source here: it has no second
  // open after a duration scan.
  const int32_t timeout =
      Utf16Contains(name, u"://") && openArg > 0 ? openArg : kLongestOpenTimeoutMs;
  s.demux.sourceLength = InputOpen(s.demux.input, name, kDefaultReadAhead, timeout);
  if (s.demux.sourceLength <= 0) {
    ReleaseInput(s, false);
    s.demux.sourceLength = 0;
    return 0;
  }
  ResetForNewSource(s);
  // Discovery writes into a copy: a failed open leaves the host's view of
  // the last source as it was.
  StreamInfo& found = s.openScratch;
  found = s.info;
  if (DiscoverStreams(s.demux, found, name, openArg) != kDone || !AcceptStreams(s.demux) ||
      CloseRequested(s)) {
    CloseSource(s);
    return 0;
  }
  s.info.frameCount = found.frameCount;
  s.info.chapterCount = found.chapterCount;
  std::memcpy(s.info.chapterNames, found.chapterNames, sizeof s.info.chapterNames);
  SetCurrentFrame(s.info, 0);
  DescribeStreams(s);
  ResetForDiscoveredStreams(s);
  s.sourceOpen = 1;
  if (result != nullptr) *result = &s.info;
  return 1;
}

int32_t OpenEntry(const char16_t* name, int32_t useCache, int32_t openArg, void** result) {
  if (name == nullptr) return 0;
  InputSource input;
  if (BindInput(input, PluginNameFor(name, useCache)) == 0) return 0;
  return OpenWithInput(input, name, openArg, result);
}

int32_t CloseEntry() {
  StopSource(gReader, kCloseWaitMs);
  return 1;
}

int32_t CloseIfStalledEntry() {
  ReaderState& s = gReader;
  PlatformMutex* const lock = GetLock(s);
  const uint32_t wait = MutexWait(lock, kStallMs);
  if (wait == kWaitTaken) {
    MutexRelease(lock);
    return 1;
  }
  // Another thread has held the reader for the whole wait, most likely
  // blocked in a read: interrupt it and close.
  if (wait == kWaitTimedOut) StopSource(s, 0);
  return 1;
}

double FrameRateEntry() { return gReader.info.framesPerSecond; }

double GetProgressEntry() {
  const StreamInfo& info = gReader.info;
  if (info.frameCount == 0) return 0.0;
  return static_cast<double>(GetCurrentFrame(info)) * 100.0 / static_cast<double>(info.frameCount);
}
