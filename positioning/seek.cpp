#include <cmath>

#include "delivery/delivery.h"
#include "positioning/positioning.h"

namespace {

// Audio is read and dropped in requests of these sizes: larger ones while no
// audio time is known, smaller ones to creep up on the video's time.
constexpr int32_t kUntimedAudioRequest = 4096;
constexpr int32_t kTimedAudioRequest = 1024;

// Reads audio into the scratch buffer to drop it, up to the video's time:
// raw audio keeps its first packet at or after that time for the host.
// 0 when the audio ran out, also by a failed read.
int32_t DiscardAudio(ReaderState& s, int32_t request) {
  const int32_t r = DeliverAudio(s, s.audioScratch.data(), request, kAudioScratchBytes,
                                 s.videoTime >= 0 ? s.videoTime : -1);
  return r > 0 ? r : 0;
}

// Byte offset of a seek target: percent of the length in 64-bit integers,
// or frame / frameCount of the length in double.
int64_t SeekTarget(const ReaderState& s, int32_t position, int32_t byFrame) {
  const int64_t length = s.demux.sourceLength;
  if (byFrame == 0) return static_cast<int64_t>(position) * length / 100;
  if (s.info.frameCount <= 0) return 0;
  const double target = static_cast<double>(position) / static_cast<double>(s.info.frameCount) *
                        static_cast<double>(length);
  return static_cast<int64_t>(target);
}

// An earlier position for a seek whose audio ran ahead of the last keyframes:
// a tenth of the source back.
int32_t StepBack(const ReaderState& s, int32_t position, int32_t byFrame) {
  const int32_t step =
      byFrame == 0 ? 10 : (s.info.frameCount / 10 > 0 ? s.info.frameCount / 10 : 1);
  return position > step ? position - step : 0;
}

}  // namespace

void RepositionInput(ReaderState& s, int32_t offset) {
  DemuxState& d = s.demux;
  if (offset < 0) offset = 0;
  if (offset > d.sourceLength) offset = d.sourceLength;
  InputSeek(d.input, offset);
  // Every buffered byte is dropped; the buffer itself is kept, so seeking
  // does not make playback allocate it again.
  ogg_sync_reset(&d.sync);
  StreamSlotReset(d.slots[0]);
  StreamSlotReset(d.slots[1]);
  s.audioNeedsPage = 1;
  s.videoNeedsPage = 1;
  s.audioGranule = 0;
  // Raw audio carried over from the old position does not belong to the new
  // one: handing it out would put stale audio in front of the new position.
  s.audioCarryBytes = 0;
  s.audioCarry.Release(0);
  // The decoder still holds the overlap of the old position; without a
  // restart the first block after the seek would mix old and new audio.
  if (d.vorbisReady != 0) vorbis_synthesis_restart(&d.vorbisDsp);
}

bool ScanToKeyframe(ReaderState& s, int32_t minFrame) {
  do {
    const int32_t r = DeliverVideoFrameToPending(s);
    // The end of the video stream counts as the input running out: nothing
    // after it can be kept.
    if (r < 0) return false;
  } while (s.videoTime < 0 || GetCurrentFrame(s.info) < minFrame);
  return true;
}

AlignResult AlignAudioWithVideo(ReaderState& s, bool takeLaterKeyframes) {
  while (s.audioTime < 0)
    if (DiscardAudio(s, kUntimedAudioRequest) == 0) return kAudioRanOut;
  if (!takeLaterKeyframes && s.audioTime > s.videoTime) return kAudioAhead;
  // Audio ahead of the keyframe: the host would hear it early, so take later
  // keyframes until the video catches up.
  while (s.audioTime > s.videoTime)
    if (DeliverVideoFrameToPending(s) < 0) return kVideoRanOut;
  while (s.audioTime < s.videoTime)
    if (DiscardAudio(s, kTimedAudioRequest) == 0) return kAudioRanOut;
  return kAligned;
}

int32_t RemainingAudioBytes(const ReaderState& s) {
  const DemuxState& d = s.demux;
  if (d.audioPresent != kStreamPresent || s.info.framesPerSecond == 0.0) return 0;
  const int64_t frames = static_cast<int64_t>(s.info.frameCount) - GetCurrentFrame(s.info);
  const double seconds = static_cast<double>(static_cast<int32_t>(frames)) / s.info.framesPerSecond;
  double bytes;
  if (d.headers[1] != nullptr) {
    bytes = seconds * static_cast<double>(d.headers[1]->avgBytesPerSecond);
  } else {
    bytes = seconds * static_cast<double>(s.info.audioParamA) *
            static_cast<double>(s.info.audioParamB) * 2.0;
  }
  if (!std::isfinite(bytes) || bytes >= 9.2e18 || bytes <= -9.2e18) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(bytes)));
}

int32_t EndAtStartOfSource(ReaderState& s) {
  s.videoTime = 0;
  s.audioTime = 0;
  SetCurrentFrame(s.info, 0);
  s.seeking = 0;
  s.pendingVideoBytes = 0;
  return s.info.totalAudioBytes;
}

int32_t Seek(ReaderState& s, int32_t position, int32_t byFrame) {
  // Positions before the start mean the start; percent stops at 100.
  if (position < 0) position = 0;
  if (byFrame == 0 && position > 100) position = 100;
  for (;;) {
    const int64_t target = SeekTarget(s, position, byFrame);
    RepositionInput(s, static_cast<int32_t>(target > INT32_MAX ? INT32_MAX : target));
    if (position == 0) return EndAtStartOfSource(s);
    s.videoTime = -1;
    s.audioTime = -1;
    s.seeking = 1;
    s.pendingVideoBytes = 0;
    // Past the last keyframe, or the audio ends first: start again from the
    // beginning.
    AlignResult aligned = kAudioRanOut;
    if (ScanToKeyframe(s, 0)) {
      aligned = s.demux.audioPresent != kStreamPresent ? kAligned : AlignAudioWithVideo(s);
      if (aligned == kAligned) {
        s.seeking = 0;
        return RemainingAudioBytes(s);
      }
    }
    // A keyframe was found, but the audio there runs ahead of every keyframe
    // left (muxers place audio early near the end): a little earlier fits,
    // where the start of the source would throw the whole position away.
    position = aligned == kVideoRanOut ? StepBack(s, position, byFrame) : 0;
  }
}

int32_t ReSeekAudio(ReaderState& s) {
  if (s.demux.audioPresent != kStreamPresent) return 0;
  while (s.audioTime < 0)
    if (DiscardAudio(s, kUntimedAudioRequest) == 0) return 0;
  while (s.audioTime < s.videoTime)
    if (DiscardAudio(s, kTimedAudioRequest) == 0) return 0;
  return RemainingAudioBytes(s);
}
