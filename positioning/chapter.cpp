#include <cstring>

#include "demux/discovery.h"
#include "demux/mul_div_round.h"
#include "platform/charset.h"
#include "positioning/positioning.h"

namespace {

// A chapter's byte position is estimated from its time; when the keyframe
// found lies more than a second past the chapter, the estimate steps back by
// this share of the source.
constexpr double kStepBack = 0.01;
// Steps back taken when the input ran out before a keyframe at or after the
// chapter was found, or the audio ran past every keyframe left: enough to
// reach audio muxed well ahead of its video near the end of a file.
constexpr int kMaxRunOutStepBacks = 20;

// Reads the two-digit field at pos of a time comment "CHAPTERxx=HH:MM:SS.mmm"
// as the C runtime's atoi would; characters past the comment's end count as
// absent.
int32_t TimeField(const char* text, int length, int pos) {
  char digits[3] = {0, 0, 0};
  for (int i = 0; i < 2 && pos + i < length; ++i) digits[i] = text[pos + i];
  return DecimalToInt(digits);
}

// Seconds of the chapter's time comment (milliseconds are not read).
double ChapterSeconds(const vorbis_comment& comments, int index) {
  const char* text = comments.user_comments[index];
  const int length = comments.comment_lengths[index];
  const int32_t hours = TimeField(text, length, 10);
  const int32_t minutes = TimeField(text, length, 13);
  const int32_t seconds = TimeField(text, length, 16);
  return static_cast<double>(seconds) + static_cast<double>(minutes) * 60.0 +
         static_cast<double>(hours) * 3600.0;
}

// From one estimate of the chapter's place: scan to a keyframe and align the
// audio, stepping the estimate back while it lands late or runs out (at most
// kMaxRunOutStepBacks run-outs). Returns true with the chapter reached; false
// when the input or a stream ran out. *atStart is set when the estimate
// reaches the start of the source.
bool StepBackToChapter(ReaderState& s, double fraction, int32_t targetFrame, bool* atStart) {
  const double fps = s.info.framesPerSecond;
  int runOuts = 0;
  for (;;) {
    RepositionInput(s, TruncateToInt32(static_cast<double>(s.demux.sourceLength) * fraction));
    if (fraction == 0.0) {
      *atStart = true;
      return true;
    }
    s.videoTime = -1;
    s.audioTime = -1;
    s.seeking = 1;
    s.pendingVideoBytes = 0;
    bool earlier = false;
    if (!ScanToKeyframe(s, targetFrame)) {
      // The estimate may lie past the chapter's last keyframe (a chapter near
      // the end).
      earlier = true;
    } else if (static_cast<double>(GetCurrentFrame(s.info)) >
               static_cast<double>(targetFrame) + fps) {
      // The estimate landed more than a second of frames late. Step back, but
      // never before the start: there the start of the source is the answer.
      if (fraction - kStepBack <= 0.0) {
        RepositionInput(s, 0);
        *atStart = true;
        return true;
      }
      fraction -= kStepBack;
      continue;
    } else if (s.demux.audioPresent == kStreamPresent) {
      // Muxers put audio a little ahead of its video, so a jump close before
      // the chapter's keyframe can find only audio that is already past it.
      // While steps back are left, an earlier start (which reaches the
      // chapter's audio before its keyframe) beats taking a keyframe seconds
      // after the chapter.
      const bool stepsLeft = runOuts < kMaxRunOutStepBacks && fraction - kStepBack > 0.0;
      AlignResult aligned = AlignAudioWithVideo(s, !stepsLeft);
      if (aligned == kAudioRanOut) return false;
      // The audio found after the estimate runs past every keyframe left:
      // an earlier start reaches the chapter's audio before its keyframe.
      earlier = aligned == kVideoRanOut || aligned == kAudioAhead;
    }
    if (!earlier) return true;
    // Try a little earlier, a few times, before giving up.
    if (fraction >= 1.0 || ++runOuts > kMaxRunOutStepBacks || fraction - kStepBack <= 0.0)
      return false;
    fraction -= kStepBack;
  }
}

}  // namespace

int32_t SeekChapter(ReaderState& s, int32_t chapterIndex) {
  const vorbis_comment& comments = s.demux.videoComment;
  const int first = FirstChapterComment(comments);
  // Only chapters that discovery counted have a time comment at
  // first + 2 x index; anything else leaves the source where it is.
  if (chapterIndex < 0 || chapterIndex >= s.info.chapterCount ||
      first + 2 * static_cast<int64_t>(chapterIndex) >= comments.comments)
    return RemainingAudioBytes(s);
  const double chapterFrame =
      s.info.framesPerSecond * ChapterSeconds(comments, first + 2 * chapterIndex);
  const int32_t targetFrame = TruncateToInt32(chapterFrame);
  const double fraction =
      s.info.frameCount > 0 ? chapterFrame / static_cast<double>(s.info.frameCount) : 0.0;

  // An input that runs out is tried once more (a network read may have
  // failed once); if it runs out again at the same place, the seek ends at
  // the start of the source rather than repeating for ever.
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool atStart = false;
    if (StepBackToChapter(s, fraction, targetFrame, &atStart)) {
      if (atStart) return EndAtStartOfSource(s);
      s.seeking = 0;
      return RemainingAudioBytes(s);
    }
  }
  RepositionInput(s, 0);
  return EndAtStartOfSource(s);
}
