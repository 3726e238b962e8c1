#include "delivery/audio_paths.h"
#include "delivery/delivery.h"
#include "demux/page_intake.h"

int32_t PullAudioPages(ReaderState& s) {
  DemuxState& d = s.demux;
  while (s.audioNeedsPage == 1) {
    int32_t slot = 0;
    s.audioNeedsPage = 0;
    for (;;) {
      const int32_t r = PullPage(d, 1, &slot);
      if (IntakeOver(r)) {
        // The input is over, but the video path may have left packets of
        // this stream in its slot: take those before reporting the end.
        if (StreamSlotHasPacket(d.slots[1])) return kGoOn;
        return r == DECAPS_ERR_READ_FAILED ? r : DECAPS_ERR_INPUT_ENDED;
      }
      if (r != kPageTaken) {
        // A read was made (or sync lost): give other threads a turn before
        // the next page, as the video path does between its pages.
        s.audioNeedsPage = 1;
        return kGoOn;
      }
      if (slot == 1) return kGoOn;
    }
  }
  return kGoOn;
}

int32_t DeliverAudio(ReaderState& s, uint8_t* buffer, int32_t byteCount, int32_t capacity,
                     int64_t keepFrom) {
  if (buffer == nullptr) return 0;
  bool raw;
  {
    // The headers belong to the open source: a close on another thread
    // releases them, so they are looked at only under the lock.
    LockHold hold(s);
    if (!hold.taken() || s.sourceOpen == 0) return 0;
    raw = s.demux.headers[1] != nullptr;
  }
  if (raw && byteCount <= 0) return 0;  // nothing asked: the loop would never end
  if (raw && capacity >= 0 && byteCount > capacity) byteCount = capacity;
  uint8_t* out = buffer;
  int32_t remaining = byteCount;
  int32_t written = 0;
  uint8_t endOfStream = 0;
  bool started = false;
  uint32_t repositions = 0;
  for (;;) {
    {
      LockHold hold(s);
      // Between passes the source may have been closed (and another opened).
      if (!hold.taken() || s.sourceOpen == 0 || s.demux.audioPresent != kStreamPresent) return 0;
      if ((s.demux.headers[1] != nullptr) != raw) return 0;
      if (!raw && s.demux.vorbisReady == 0) return 0;
      // A seek on another thread between two passes: what this call wrote
      // belongs to the old position, so it starts over at the new one.
      if (started && repositions != s.repositions) {
        out = buffer;
        remaining = byteCount;
        written = 0;
        endOfStream = 0;
      }
      started = true;
      repositions = s.repositions;
      StreamSlot& slot = s.demux.slots[1];
      int32_t pass = kGoOn;
      if (s.audioNeedsPage == 1) {
        // Once the stream's last packet is out, nothing more is read for it:
        // the rest of the input belongs to the video.
        if (slot.ended != 0) {
          pass = DECAPS_ERR_INPUT_ENDED;
        } else {
          pass = PullAudioPages(s);
        }
      }
      if (pass == DECAPS_ERR_INPUT_ENDED || pass == DECAPS_ERR_READ_FAILED) {
        const int32_t got = raw ? byteCount - remaining : written;
        const bool failed =
            pass == DECAPS_ERR_READ_FAILED && EndResult(s, true) == OGMDECAPS_READ_ERROR;
        // A failed read with raw bytes already gathered: they wait in the
        // carry for the call that tries again, so nothing is lost.
        if (failed && raw && got > 0 && Carry(s, buffer, got)) return OGMDECAPS_READ_ERROR;
        // The stream's last bytes rarely fill a request (nor make 2000 bytes
        // of PCM): hand them out as a short result; the next call gives 0.
        if (got > 0) {
          if (!raw) UpdateAudioPosition(s);
          return got;
        }
        return failed ? OGMDECAPS_READ_ERROR : 0;
      }
      if (s.audioNeedsPage == 0) {
        int32_t result = 0;
        pass = raw ? RawPass(s, out, remaining, byteCount, keepFrom, endOfStream, &result)
                   : VorbisPass(s, out, written, capacity, &result);
        if (pass == kFilled) return result;
        // No memory to carry what does not fit: the call gives nothing.
        if (pass == DECAPS_ERR_OUT_OF_MEMORY) return 0;
      }
    }
    if (endOfStream != 0) return byteCount - remaining;
  }
}

int32_t ReadAudio(ReaderState& s, void* buffer, int32_t byteCount) {
  // Raw audio: the request is the buffer. Vorbis: a positive byteCount is
  // the buffer's size; no call writes more than kVorbisCallLimit.
  int32_t capacity = -1;
  {
    // The headers and the decoder's set-up belong to the open source: a
    // close on another thread releases them, so they are read under the lock.
    LockHold hold(s);
    if (!hold.taken() || s.sourceOpen == 0) return 0;
    if (s.demux.headers[1] == nullptr) {
      capacity = byteCount > 0 && byteCount < kVorbisCallLimit ? byteCount : kVorbisCallLimit;
      const int32_t frameBytes = 2 * s.demux.vorbisInfo.channels;
      if (byteCount > 0 && byteCount < frameBytes) return OGMDECAPS_FRAME_TOO_LARGE;
    }
  }
  return DeliverAudio(s, static_cast<uint8_t*>(buffer), byteCount, capacity);
}
