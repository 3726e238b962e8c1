#include "demux/chapter_comments.h"

#include "platform/charset.h"

namespace {

bool IsChapterComment(const vorbis_comment& c, int index) {
  return c.comment_lengths[index] >= static_cast<int>(kChapterKeyLength) &&
         CompareNoCase(c.user_comments[index], "CHAPTER", kChapterKeyLength) == 0;
}

// Index of the first chapter comment, or the comment count when none.
int FirstChapterComment(const vorbis_comment& comments) {
  int j = 0;
  while (j < comments.comments && !IsChapterComment(comments, j)) ++j;
  return j;
}

// Reads the field of up to width digits at pos of a time comment as the C
// runtime's atoi would; characters past the comment's end count as absent.
int32_t TimeField(const char* text, int length, int pos, int width = 2) {
  char digits[4] = {0, 0, 0, 0};
  for (int i = 0; i < width && pos + i < length; ++i) digits[i] = text[pos + i];
  return DecimalToInt(digits);
}

}  // namespace

int32_t CollectChapterNames(const vorbis_comment& comments, StreamInfo& info) {
  const int n = comments.comments;
  int32_t count = 0;
  for (int k = FirstChapterComment(comments) + 1;
       k < n && count < kMaxChapters && IsChapterComment(comments, k); k += 2) {
    const int length = comments.comment_lengths[k];
    char16_t* slot = info.chapterNames[count].text;
    const size_t units = sizeof info.chapterNames[count].text / sizeof(char16_t);
    if (length > static_cast<int>(kChapterNameOffset)) {
      AnsiToUtf16(comments.user_comments[k] + kChapterNameOffset, length - kChapterNameOffset, slot,
                  units);
    } else {
      slot[0] = 0;
    }
    ++count;
  }
  return count;
}

bool ChapterSeconds(const vorbis_comment& comments, int32_t index, double* seconds) {
  const int64_t at = FirstChapterComment(comments) + 2 * static_cast<int64_t>(index);
  if (index < 0 || at >= comments.comments) return false;
  const char* text = comments.user_comments[at];
  const int length = comments.comment_lengths[at];
  const int32_t hours = TimeField(text, length, 10);
  const int32_t minutes = TimeField(text, length, 13);
  const int32_t secs = TimeField(text, length, 16);
  // Milliseconds count: a chapter at 2.999 s belongs next to the keyframe
  // at 3 s, not at 2 s.
  const int32_t ms = length > 19 && text[18] == '.' ? TimeField(text, length, 19, 3) : 0;
  *seconds = static_cast<double>(secs) + static_cast<double>(minutes) * 60.0 +
             static_cast<double>(hours) * 3600.0 + static_cast<double>(ms) / 1000.0;
  return true;
}
