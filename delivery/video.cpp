#include <cstring>

#include "delivery/delivery.h"
#include "demux/page_intake.h"
#include "demux/take_frame.h"
#include "input/result.h"

namespace {

// Where a delivered frame goes: the host's buffer or the held frame of a
// seek (grown as needed).
struct VideoSink {
  uint8_t* dest;  // host buffer, or nullptr for the held frame
  ReaderState* state;
  int32_t capacity;  // host buffer's size; <= 0 unknown
};

int32_t Hold(ReaderState& s, const Frame& frame) {
  uint8_t* held = s.pendingVideoFrame.Reserve(frame.size, 0);
  if (held == nullptr) return -1;  // no memory for an oversized keyframe
  if (frame.size > 0) std::memcpy(held, frame.payload, static_cast<size_t>(frame.size));
  return frame.size;
}

int32_t CopyOut(const VideoSink& sink, const Frame& frame) {
  if (sink.dest == nullptr) return Hold(*sink.state, frame);
  if (sink.capacity > 0 && frame.size > sink.capacity) {
    // Kept for a retry with a larger buffer.
    if (Hold(*sink.state, frame) < 0) return -1;
    sink.state->pendingVideoBytes = frame.size;
    return OGMDECAPS_FRAME_TOO_LARGE;
  }
  if (frame.size > 0) std::memcpy(sink.dest, frame.payload, static_cast<size_t>(frame.size));
  return frame.size;
}

// The video path. The lock is held from page intake to the end of the copy:
// the payload lies in the video slot's stream buffer, which the audio path's
// page intake may move as soon as the lock is free.
int32_t TakeVideo(ReaderState& s, const VideoSink& sink) {
  LockHold hold(s);
  if (!hold.taken() || s.sourceOpen == 0 || s.demux.headers[0] == nullptr) return -1;
  DemuxState& d = s.demux;
  int32_t slot = 0;  // slot of the last page submitted in this call
  Frame frame;
  frame.endOfStream = 0;
  for (;;) {
    bool takeFromSlot = true;
    if (s.videoNeedsPage == 1) {
      s.videoNeedsPage = 0;
      const int32_t r = PullPage(d, 0, &slot);
      if (IntakeOver(r)) {
        // The input is over (or failed), but pages the audio path pulled
        // may have left frames in this slot: hand those out first.
        if (!StreamSlotHasPacket(d.slots[0])) return EndResult(s, r == DECAPS_ERR_READ_FAILED);
        slot = 0;
      } else if (r != kPageTaken || slot != 0) {
        s.videoNeedsPage = 1;
        takeFromSlot = false;
      }
    }
    if (takeFromSlot) {
      const int32_t r = TakeFrame(d.slots[0], *d.headers[0], &frame);
      s.videoTime = (r == kPacket || r == DECAPS_ERR_NO_GRANULE) ? frame.time : s.videoTime;
      if (r == kPacket || r == DECAPS_ERR_NO_GRANULE) {
        const int64_t granule = d.slots[0].lastGranule;
        if (s.seeking != 0 && s.seekFirstFrame < 0 && granule >= 0)
          s.seekFirstFrame = static_cast<int32_t>(granule);
        if (frame.keyframe == 1 || s.seeking == 0) {
          const int32_t copied = CopyOut(sink, frame);
          // A delivered frame's number is its granule, 0 included; one
          // without a granule follows the frame before it.
          SetCurrentFrame(
              s.info, granule >= 0 ? static_cast<int32_t>(granule) : GetCurrentFrame(s.info) + 1);
          return copied;
        }
        // Seeking: a frame that is not a keyframe is passed over. Its
        // granule 0 is not taken as its number: a frame passed over keeps
        // the count moving forward (each one a frame more) rather than
        // setting it back to the start while the seek scans; hosts that
        // show the count during a seek have always seen it so.
        SetCurrentFrame(s.info,
                        granule > 0 ? static_cast<int32_t>(granule) : GetCurrentFrame(s.info) + 1);
      } else if (r != DECAPS_ERR_BAD_PACKET) {
        // No packet, a gap or a header packet: pull the next page. (A bad
        // packet is skipped and the next one taken from the slot.)
        s.videoNeedsPage = 1;
      }
    }
    if (frame.endOfStream != 0) return DECAPS_ERR_STREAM_ENDED;
  }
}

}  // namespace

int32_t DeliverVideoFrame(ReaderState& s, void* dest, int32_t capacity) {
  const int32_t r = TakeVideo(s, VideoSink{static_cast<uint8_t*>(dest), &s, capacity});
  return r == DECAPS_ERR_STREAM_ENDED ? 0 : r;
}

int32_t DeliverVideoFrameToPending(ReaderState& s) {
  const int32_t r = TakeVideo(s, VideoSink{nullptr, &s, 0});
  s.pendingVideoBytes = r > 0 ? r : 0;
  return r;
}

int32_t NextVideoFrame(ReaderState& s, void* dest, int32_t capacity) {
  if (dest == nullptr) return -1;
  // One hold from the pending check through the delivery: a seek on another
  // thread can neither replace the held keyframe while it is copied nor slip
  // in between the check and the next frame.
  LockHold hold(s);
  if (!hold.taken() || s.sourceOpen == 0) return -1;
  if (s.seeking == 0 && s.pendingVideoBytes > 0) {
    const int32_t n = s.pendingVideoBytes;
    if (capacity > 0 && n > capacity) return OGMDECAPS_FRAME_TOO_LARGE;
    std::memcpy(dest, s.pendingVideoFrame.data(), static_cast<size_t>(n));
    s.pendingVideoBytes = 0;
    s.pendingVideoFrame.Release(0);
    return n;
  }
  return DeliverVideoFrame(s, dest, capacity);
}
