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

constexpr int32_t kPendingFrameBytes = 48000;
constexpr int32_t kAudioCarryBytes = 4096;
constexpr int32_t kAudioScratchBytes = 8192;

struct ReaderState {
  StreamInfo info = {};
  DemuxState demux;                                  // input, sync, slots, headers, Tremor records
  PlatformMutex* lock = nullptr;                     // made at the first open, kept for the process
  RavelCloseFn stallClose = nullptr;                 // the bound input's close, for CloseIfStalled
  uint8_t sourceOpen = 0;                            // 1 from a successful open to the close
  int32_t videoNeedsPage = 1;                        // the video path must pull a page first
  int32_t audioNeedsPage = 1;                        // the audio path must pull a page first
  int64_t videoTime = 0;                             // 100 ns; negative: no time established
  int64_t audioTime = 0;                             // 100 ns; negative: no time established
  int64_t audioGranule = 0;                          // Vorbis sample position; 0: none yet
  HeldBuffer<kPendingFrameBytes> pendingVideoFrame;  // keyframe kept by a seek
  int32_t pendingVideoBytes = 0;
  uint8_t seeking = 0;          // 1: video delivers keyframes only
  ogg_int32_t** pcm = nullptr;  // decoder's current batch, per channel
  int32_t pcmSamples = 0;
  HeldBuffer<kAudioCarryBytes> audioCarry;  // raw audio that did not fit
  int32_t audioCarryBytes = 0;
  std::array<uint8_t, kAudioScratchBytes> audioScratch = {};  // audio read to be dropped
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

// stallClose is read by CloseIfStalled without the lock (another thread
// holds it) while open and close on other threads bind and unbind the input:
// access it as an atomic, never through demux.input.
inline void SetStallClose(ReaderState& s, RavelCloseFn close) {
  __atomic_store_n(&s.stallClose, close, __ATOMIC_RELEASE);
}
inline RavelCloseFn GetStallClose(const ReaderState& s) {
  return __atomic_load_n(&s.stallClose, __ATOMIC_ACQUIRE);
}

// Takes the reader lock for the scope (unbounded wait); taken() is false when
// no lock exists yet (nothing was ever opened).
class LockHold {
 public:
  explicit LockHold(ReaderState& state)
      : lock_(state.lock), taken_(MutexWait(lock_, kWaitForever) == kWaitTaken) {}
  ~LockHold() {
    if (taken_) MutexRelease(lock_);
  }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;
  bool taken() const { return taken_; }

 private:
  PlatformMutex* lock_;
  bool taken_;
};

// Steps shared by close and the stalled close: clear the Ogg and Tremor
// records, close the source and unload its plug-in. Lock held or not needed.
void CloseSource(ReaderState& state);

// Fills the StreamInfo words that describe the accepted streams (fourcc,
// size, frame rate and the audio words) from the stream headers.
void DescribeStreams(ReaderState& state);

#endif
