#include <cmath>

#include "demux/chapter_comments.h"
#include "demux/mul_div_round.h"
#include "positioning/positioning.h"

int32_t SeekChapter(ReaderState& s, int32_t chapterIndex) {
  // Only chapters that discovery counted have a time; anything else leaves
  // the source where it is.
  double seconds = 0.0;
  if (chapterIndex < 0 || chapterIndex >= s.info.chapterCount ||
      !ChapterSeconds(s.demux.videoComment, chapterIndex, &seconds))
    return RemainingAudioBytes(s);
  const double chapterFrame = s.info.framesPerSecond * seconds;
  // A chapter inside a frame belongs to the next frame.
  const int32_t targetFrame = TruncateToInt32(std::ceil(chapterFrame - 1e-6));
  const double fraction =
      s.info.frameCount > 0 ? chapterFrame / static_cast<double>(s.info.frameCount) : 0.0;
  if (targetFrame > 0 && fraction > 0.0 &&
      LandOnKeyframe(s,
                     static_cast<int64_t>(static_cast<double>(s.demux.sourceLength) *
                                          (fraction < 1.0 ? fraction : 1.0)),
                     targetFrame)) {
    s.seeking = 0;
    return RemainingAudioBytes(s);
  }
  // A chapter at the start, or nothing to land on.
  RepositionInput(s, 0);
  return EndAtStartOfSource(s);
}
