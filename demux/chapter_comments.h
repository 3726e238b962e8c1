// Chapters from the video stream's comments, in ogmmerge's pairs from the
// first comment whose key begins with "CHAPTER" (any letter case): the time
// "CHAPTERxx=HH:MM:SS.mmm", then the name "CHAPTERxxNAME=text". Names are
// read at open, times when a chapter is sought; both read the pairs here.
#ifndef OGMDECAPS_DEMUX_CHAPTER_COMMENTS_H
#define OGMDECAPS_DEMUX_CHAPTER_COMMENTS_H

#include <ogmdecaps/ogmdecaps.h>
#include <tremor/ivorbiscodec.h>

#include <cstddef>
#include <cstdint>

constexpr int kMaxChapters = 100;
constexpr size_t kChapterKeyLength = 7;    // "CHAPTER", any letter case
constexpr size_t kChapterNameOffset = 14;  // text after "CHAPTERxxNAME="

// Fills info.chapterNames from the comments and returns how many there are.
int32_t CollectChapterNames(const vorbis_comment& comments, StreamInfo& info);

// Seconds of chapter index's time comment, milliseconds included; false
// when the comments hold no time for that index (nothing is written).
bool ChapterSeconds(const vorbis_comment& comments, int32_t index, double* seconds);

#endif
