#include <cmath>
#include <cstring>

#include "demux/discovery.h"
#include "demux/mul_div_round.h"
#include "platform/charset.h"
#include "positioning/positioning.h"

namespace {

// Reads the field of up to width digits at pos of a time comment
// "CHAPTERxx=HH:MM:SS.mmm" as the C runtime's atoi would; characters past
// the comment's end count as absent.
int32_t TimeField(const char* text, int length, int pos, int width = 2) {
  char digits[4] = {0, 0, 0, 0};
  for (int i = 0; i < width && pos + i < length; ++i) digits[i] = text[pos + i];
  return DecimalToInt(digits);
}

// Seconds of the chapter's time comment, milliseconds included (a chapter
// at 2.999 s belongs next to the keyframe at 3 s, not at 2 s).
double ChapterSeconds(const vorbis_comment& comments, int index) {
  const char* text = comments.user_comments[index];
  const int length = comments.comment_lengths[index];
  const int32_t hours = TimeField(text, length, 10);
  const int32_t minutes = TimeField(text, length, 13);
  const int32_t seconds = TimeField(text, length, 16);
  const int32_t ms = length > 19 && text[18] == '.' ? TimeField(text, length, 19, 3) : 0;
  return static_cast<double>(seconds) + static_cast<double>(minutes) * 60.0 +
         static_cast<double>(hours) * 3600.0 + static_cast<double>(ms) / 1000.0;
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
