#include <cmath>

#include "delivery/delivery.h"
#include "input/result.h"
#include "positioning/positioning.h"
#include "state/reset.h"

namespace {

// Audio is read and dropped in requests of these sizes: larger ones while no
// audio time is known, smaller ones to creep up on the video's time.
constexpr int32_t kUntimedAudioRequest = 4096;
constexpr int32_t kTimedAudioRequest = 1024;
// Passes a landing may take. The step back doubles with each pass, so a few
// of them reach the start of any source.
constexpr int kMaxPasses = 12;

// Reads audio into the scratch buffer to drop it, up to the video's time:
// raw audio keeps its first packet at or after that time for the host.
// The bytes taken; DECAPS_ERR_STREAM_ENDED when the audio ran out (the
// host's audio calls then return 0); DECAPS_ERR_READ_FAILED when a read
// failed.
int32_t DiscardAudio(ReaderState& s, int32_t request) {
  const int32_t r = DeliverAudio(s, s.audioScratch.data(), request, kAudioScratchBytes,
                                 s.videoTime >= 0 ? s.videoTime : -1);
  if (r > 0) return r;
  return r == OGMDECAPS_READ_ERROR ? DECAPS_ERR_READ_FAILED : DECAPS_ERR_STREAM_ENDED;
}

// Byte offset of a seek target: percent of the length in 64-bit integers,
// or frame / frameCount of the length in double.
int64_t SeekTarget(const ReaderState& s, int32_t position, int32_t byFrame) {
  const int64_t length = s.demux.sourceLength;
  if (byFrame == 0) return static_cast<int64_t>(position) * length / 100;
  if (s.info.frameCount <= 0) return 0;
  const double target = static_cast<double>(position) / static_cast<double>(s.info.frameCount) *
                        static_cast<double>(length);
  return target >= 9.2e18 ? INT64_MAX : static_cast<int64_t>(target);
}

// Bytes that frames frames take on average, at least one read's worth.
int64_t BytesOfFrames(const ReaderState& s, int64_t frames) {
  const int64_t count = s.info.frameCount > 0 ? s.info.frameCount : 1;
  const int64_t bytes = frames * static_cast<int64_t>(s.demux.sourceLength) / count;
  return bytes > kReadChunk ? bytes : kReadChunk;
}

// How far, in 100 ns units, the first audio may start after the keyframe
// and still count as aligned: one packet (a long block for Vorbis).
int64_t OnePacketTime(ReaderState& s) {
  DemuxState& d = s.demux;
  if (d.headers[1] != nullptr) {
    const StreamHeader& h = *d.headers[1];
    const int64_t duration =
        d.slots[1].lastDuration > 0 ? d.slots[1].lastDuration : h.defaultLength;
    if (h.samplesPerUnit <= 0 || duration <= 0) return 0;
    return duration * h.timeUnit / h.samplesPerUnit;
  }
  if (d.vorbisReady == 0 || d.vorbisInfo.rate <= 0) return 0;
  return vorbis_info_blocksize(&d.vorbisInfo, 1) / 2 * 10000000LL / d.vorbisInfo.rate;
}

struct Pass {
  bool found = false;    // a keyframe with a time at or after the goal was taken
  int32_t first = -1;    // number of the first frame read with a time
  int32_t lastKey = -1;  // number of the last keyframe with a time taken
  bool moved = true;     // the input went to the offset
};

// One keyframe scan from offset, up to the first keyframe with a time whose
// number is at least minFrame (held as the pending frame).
Pass ScanFrom(ReaderState& s, int64_t offset, int32_t minFrame) {
  Pass p;
  p.moved = RepositionInput(s, offset);
  // Where the input refused to move, any keyframe is all there is.
  if (!p.moved) minFrame = 0;
  ResetForKeyframeScan(s);
  for (;;) {
    // The end of the video stream counts as the input running out: nothing
    // after it can be kept.
    const int32_t r = DeliverVideoFrameToPending(s);
    p.first = s.seekFirstFrame;
    if (r < 0) return p;
    if (s.videoTime < 0) continue;
    p.lastKey = GetCurrentFrame(s.info);
    if (p.lastKey >= minFrame) {
      p.found = true;
      return p;
    }
  }
}

// Brings the audio to the held keyframe's time: kDone when aligned. Audio
// that starts more than a packet after the keyframe ends the call with
// DECAPS_ERR_AUDIO_AHEAD (the audio before it was not timed here), unless
// takeLaterKeyframes: then later keyframes are taken until the video
// catches up. DECAPS_ERR_STREAM_ENDED: the audio ended first;
// DECAPS_ERR_READ_FAILED: a read failed, or the video ended while later
// keyframes were taken.
int32_t AlignAudio(ReaderState& s, bool takeLaterKeyframes) {
  if (s.demux.headers[1] == nullptr) {
    // Vorbis: the packets before the keyframe are skipped, not decoded.
    const int32_t r = SkipVorbisTo(s, s.videoTime);
    if (r != kDone) return r;
    if (s.audioTime <= s.videoTime + OnePacketTime(s)) return kDone;
    if (!takeLaterKeyframes) return DECAPS_ERR_AUDIO_AHEAD;
    while (s.audioTime > s.videoTime)
      if (DeliverVideoFrameToPending(s) < 0) return DECAPS_ERR_READ_FAILED;
    return SkipVorbisTo(s, s.videoTime);
  }
  while (s.audioTime < 0) {
    const int32_t r = DiscardAudio(s, kUntimedAudioRequest);
    if (r <= 0) return r;
  }
  if (s.audioTime > s.videoTime + OnePacketTime(s)) {
    if (!takeLaterKeyframes) return DECAPS_ERR_AUDIO_AHEAD;
    while (s.audioTime > s.videoTime)
      if (DeliverVideoFrameToPending(s) < 0) return DECAPS_ERR_READ_FAILED;
  }
  while (s.audioTime < s.videoTime) {
    const int32_t r = DiscardAudio(s, kTimedAudioRequest);
    if (r <= 0) return r;
  }
  return kDone;
}

}  // namespace

bool RepositionInput(ReaderState& s, int64_t offset) {
  DemuxState& d = s.demux;
  if (offset < 0) offset = 0;
  if (offset > d.sourceLength) offset = d.sourceLength;
  const bool moved = InputSeek(d.input, static_cast<int32_t>(offset));
  ResetForReposition(s);
  return moved;
}

bool LandOnKeyframe(ReaderState& s, int64_t offset, int32_t targetFrame) {
  const bool audio = s.demux.audioPresent == kStreamPresent;
  const double fps = s.info.framesPerSecond > 0.0 ? s.info.framesPerSecond : 25.0;
  int64_t back = BytesOfFrames(s, static_cast<int64_t>(fps));
  int32_t goal = targetFrame;
  // The byte estimate of a frame errs either way; starting a second early
  // saves the second pass that a late start costs.
  if (goal >= 0) offset = offset > back ? offset - back : 0;
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    const Pass p = ScanFrom(s, offset, goal < 0 ? 0 : goal);
    if (!p.moved) return p.found && (!audio || AlignAudio(s, true) != DECAPS_ERR_READ_FAILED);
    if (!p.found && p.lastKey >= 0) {
      // No keyframe at or after the goal follows: the last keyframe read is
      // the source's last. Land on it (read again from the same place).
      goal = p.lastKey;
      continue;
    }
    if (!p.found && goal < 0) {
      // A percent past the video's last keyframe (audio goes on after the
      // video): from further back, the last keyframe is the landing, not
      // the first one found there.
      goal = INT32_MAX;
    }
    // Found from before the goal (or from the start): no keyframe between
    // the goal and the one found was passed over.
    if (p.found && (goal < 0 || offset == 0 || (p.first >= 0 && p.first <= goal))) {
      if (!audio) return true;
      const bool last = pass + 1 == kMaxPasses || offset == 0;
      const int32_t a = AlignAudio(s, last);
      if (a == kDone || a == DECAPS_ERR_STREAM_ENDED) return true;
      if (a == DECAPS_ERR_READ_FAILED) return false;
      // The audio read here starts after the keyframe: the same keyframe
      // from earlier reaches the audio before it.
      goal = GetCurrentFrame(s.info);
    }
    if (offset == 0) return false;
    // Past the target: back by the frames passed over and the step. Past the
    // last keyframe (nothing found up to the end): at least as far back again
    // as there was left to read.
    int64_t behind = goal >= 0 && p.first > goal ? BytesOfFrames(s, p.first - goal) : 0;
    if (!p.found && p.lastKey < 0 && s.demux.sourceLength - offset > behind)
      behind = s.demux.sourceLength - offset;
    offset = offset - behind - back > 0 ? offset - behind - back : 0;
    back *= 2;
  }
  return false;
}

int32_t RemainingAudioBytes(const ReaderState& s) {
  const DemuxState& d = s.demux;
  if (d.audioPresent != kStreamPresent || s.info.framesPerSecond == 0.0) return 0;
  // The frames left and the result are 32-bit as hosts receive them: the
  // bytes are truncated to 64 bits and their low 32 bits returned, so past
  // 2 GiB of audio the count wraps instead of saturating. That is the value
  // players have always been given for such a source, so it stays.
  const int64_t frames = static_cast<int64_t>(s.info.frameCount) - GetCurrentFrame(s.info);
  const double seconds = static_cast<double>(static_cast<int32_t>(frames)) / s.info.framesPerSecond;
  double bytes;
  if (d.headers[1] != nullptr) {
    bytes = seconds * static_cast<double>(d.headers[1]->avgBytesPerSecond);
  } else {
    bytes = seconds * static_cast<double>(s.info.audioParamA) *
            static_cast<double>(s.info.audioParamB) * 2.0;
  }
  // Past the 64-bit range the truncation itself is undefined: none left.
  if (!std::isfinite(bytes) || bytes >= 9.2e18 || bytes <= -9.2e18) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(bytes)));
}

int32_t EndAtStartOfSource(ReaderState& s) {
  ResetToStartOfSource(s);
  return s.info.totalAudioBytes;
}

int32_t Seek(ReaderState& s, int32_t position, int32_t byFrame) {
  // Positions before the start mean the start; percent stops at 100.
  if (position < 0) position = 0;
  if (byFrame == 0 && position > 100) position = 100;
  if (position != 0 &&
      LandOnKeyframe(s, SeekTarget(s, position, byFrame), byFrame != 0 ? position : -1)) {
    s.seeking = 0;
    return RemainingAudioBytes(s);
  }
  // The start, or nothing to land on (no keyframe, or the audio ends first).
  RepositionInput(s, 0);
  return EndAtStartOfSource(s);
}

int32_t ReSeekAudio(ReaderState& s) {
  if (s.demux.audioPresent != kStreamPresent) return 0;
  if (s.demux.headers[1] == nullptr) {
    // Vorbis: the packets before the video's time are counted, not decoded.
    if (s.videoTime >= 0 && SkipVorbisTo(s, s.videoTime) != kDone) return 0;
    return RemainingAudioBytes(s);
  }
  while (s.audioTime < 0)
    if (DiscardAudio(s, kUntimedAudioRequest) <= 0) return 0;
  while (s.audioTime < s.videoTime)
    if (DiscardAudio(s, kTimedAudioRequest) <= 0) return 0;
  return RemainingAudioBytes(s);
}
