// The record of the open source and the reader lock. reader/ owns the one
// process-wide instance and hands it down as ReaderState& to delivery/ and
// positioning/; demux/ routines get the parts they work on as arguments.
#ifndef OGMDECAPS_STATE_READER_STATE_H
#define OGMDECAPS_STATE_READER_STATE_H

#include <ogmdecaps/ogmdecaps.h>

#include <array>
#include <cstdint>
#include <type_traits>

#include "demux/demux_state.h"
#include "platform/mutex.h"
#include "state/held_buffer.h"
#include "state/vorbis_anchors.h"

constexpr int32_t kPendingFrameBytes = 48000;
constexpr int32_t kAudioCarryBytes = 4096;
constexpr int32_t kAudioScratchBytes = 8192;

// Which event puts each group back (one function each in state/reset.h):
// a new source the needs-page flags, both times, audioGranule, the Vorbis
// count (from 0), the held frame's size, seeking, the decoder's batch and
// the carry's size, and once the streams are known the anchors; a
// reposition the needs-page flags, audioGranule, the Vorbis count (unknown),
// the carry, and counts repositions; a keyframe scan both times, seeking,
// the held frame's size and seekFirstFrame; a seek ending at the start of
// the source both times, currentFrame, seeking and the held frame; a Vorbis
// header packet the count (from 0); a gap the count (unknown); the close
// the decoder's batch, the held frame, the carry, sourceOpen and the
// source's length. The lock, stallClose, lockDepth and closeRequested belong
// to the process, not to a source.
struct ReaderState {
  StreamInfo info = {};
  DemuxState demux;                   // input, sync, slots, headers, Tremor records
  PlatformMutex* lock = nullptr;      // made at the first open, kept for the process
  RavelCloseFn stallClose = nullptr;  // the bound input's close, for CloseIfStalled
  uint8_t sourceOpen = 0;             // 1 from a successful open to the close
  uint8_t closeRequested = 0;  // a close gave up waiting: the lock's holder closes on leaving
  int32_t lockDepth = 0;       // holds of the lock's holder (guarded by the lock)
  int32_t videoNeedsPage = 1;  // the video path must pull a page first
  int32_t audioNeedsPage = 1;  // the audio path must pull a page first
  int64_t videoTime = 0;       // 100 ns; negative: no time established
  int64_t audioTime = 0;       // 100 ns; negative: no time established
  int64_t audioGranule = 0;    // Vorbis sample position; 0: none yet
  int64_t vorbisDecoded = -1;  // Vorbis: position at the end of the decoder's output; -1 unknown
  // 1: vorbisDecoded was counted packet by packet from the stream's first
  // sample, so it is exact and the page granules are not needed.
  uint8_t vorbisCounted = 0;
  VorbisAnchors vorbisAnchors;     // exact positions of pages counted through
  int64_t vorbisStop = INT64_MAX;  // Vorbis: the stream ends here (last page's granule)
  int32_t vorbisLastBlock = 0;  // block size of the last Vorbis packet decoded; 0 after a restart
  HeldBuffer<kPendingFrameBytes> pendingVideoFrame;  // keyframe kept by a seek
  int32_t pendingVideoBytes = 0;
  uint8_t seeking = 0;          // 1: video delivers keyframes only
  uint32_t repositions = 0;     // counts input repositions (audio calls must not span one)
  int32_t seekFirstFrame = -1;  // seeking: number of the first frame read with a time, or -1
  ogg_int32_t** pcm = nullptr;  // decoder's current batch, per channel
  int32_t pcmSamples = 0;
  HeldBuffer<kAudioCarryBytes> audioCarry;  // raw audio that did not fit
  int32_t audioCarryBytes = 0;
  std::array<uint8_t, kAudioScratchBytes> audioScratch = {};  // audio read to be dropped
  StreamInfo openScratch = {};  // what an open finds, kept apart until it succeeds
};

static_assert(std::is_trivially_destructible_v<ReaderState>,
              "the reader state runs no code when the library unloads");

// currentFrame is one 32-bit word that the host reads without the lock
// while delivery and the seeks write it: access it as a relaxed atomic.
inline void SetCurrentFrame(StreamInfo& info, int32_t frame) {
  __atomic_store_n(&info.currentFrame, frame, __ATOMIC_RELAXED);
}
inline int32_t GetCurrentFrame(const StreamInfo& info) {
  return __atomic_load_n(&info.currentFrame, __ATOMIC_RELAXED);
}

// The lock is made once and published atomically: a close on another
// thread may look for it while an open makes it.
inline PlatformMutex* GetLock(const ReaderState& s) {
  return __atomic_load_n(&s.lock, __ATOMIC_ACQUIRE);
}

// closeRequested is set by a close that could not take the lock (another
// thread holds it) and read by that holder: an atomic.
inline void SetCloseRequested(ReaderState& s, uint8_t value) {
  __atomic_store_n(&s.closeRequested, value, __ATOMIC_SEQ_CST);
}
inline bool CloseRequested(const ReaderState& s) {
  return __atomic_load_n(&s.closeRequested, __ATOMIC_SEQ_CST) != 0;
}

// Takes the reader lock for the scope (unbounded wait, or timeoutMs);
// taken() is false when no lock exists yet (nothing was ever opened) or the
// wait timed out. The outermost hold of a thread, on leaving, carries out a
// close that another thread requested while it held the lock.
class LockHold {
 public:
  explicit LockHold(ReaderState& state, uint32_t timeoutMs = kWaitForever);
  ~LockHold();
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;
  bool taken() const { return taken_; }
  // Lets go of the lock (taken once by this thread) until Retake, so that
  // another thread can run meanwhile.
  void Release() {
    if (taken_) MutexRelease(lock_);
    taken_ = false;
  }
  bool Retake() {
    taken_ = MutexWait(lock_, kWaitForever) == kWaitTaken;
    return taken_;
  }

 private:
  ReaderState& state_;
  PlatformMutex* lock_;
  bool taken_;
};

// Steps shared by close and the stalled close: clear the Ogg and Tremor
// records, close the source and unload its plug-in. Lock held or not needed.
void CloseSource(ReaderState& state);

// Fills the StreamInfo words that describe the accepted streams (fourcc,
// size, frame rate and the audio words) from the stream headers.
void DescribeStreams(ReaderState& state);

// Makes close the entry that InterruptInput calls (nullptr: none).
void SetStallClose(ReaderState& state, RavelCloseFn close);

// Closes the bound plug-in's source from a thread that does not hold the
// lock, so that a read blocked in it returns. Never calls a plug-in that is
// being or has been unloaded.
void InterruptInput(ReaderState& state);

// Unbinds the input (closing its source when closeSource is true) and
// unloads the plug-in, in step with InterruptInput.
void ReleaseInput(ReaderState& state, bool closeSource);

// The result of a reader whose page intake brought nothing: a read failure
// is reported as such, unless a close has interrupted the read.
int32_t EndResult(const ReaderState& state, bool readFailed);

#endif
