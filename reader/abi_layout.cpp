// The host reads StreamInfo in place and owns the function table, so their
// layouts are part of the interface: any change here fails the build.
#include <ogmdecaps/ogmdecaps.h>

#include <cstddef>
#include <type_traits>

static_assert(std::is_standard_layout_v<StreamInfo>);
static_assert(offsetof(StreamInfo, width) == 0);
static_assert(offsetof(StreamInfo, height) == 4);
static_assert(offsetof(StreamInfo, framesPerSecond) == 8);
static_assert(offsetof(StreamInfo, fourcc) == 16);
static_assert(offsetof(StreamInfo, reserved20) == 20);
static_assert(offsetof(StreamInfo, frameCount) == 24);
static_assert(offsetof(StreamInfo, currentFrame) == 32);
static_assert(offsetof(StreamInfo, audioFormat) == 40);
static_assert(offsetof(StreamInfo, audioParamA) == 44);
static_assert(offsetof(StreamInfo, audioParamB) == 48);
static_assert(offsetof(StreamInfo, audioBitrate) == 52);
static_assert(offsetof(StreamInfo, totalAudioBytes) == 56);
static_assert(offsetof(StreamInfo, chapterCount) == 68);
static_assert(offsetof(StreamInfo, chapterNames) == 72);
static_assert(sizeof(ChapterName) == 100);
static_assert(sizeof(StreamInfo) == 10072);
static_assert(alignof(StreamInfo) == 8);
static_assert(sizeof(ReaderFunctions) == 11 * sizeof(void*));
static_assert(offsetof(ReaderFunctions, open) == 0);
static_assert(offsetof(ReaderFunctions, readAudio) == 1 * sizeof(void*));
static_assert(offsetof(ReaderFunctions, nextVideoFrame) == 2 * sizeof(void*));
static_assert(offsetof(ReaderFunctions, seek) == 3 * sizeof(void*));
static_assert(offsetof(ReaderFunctions, reSeekAudio) == 4 * sizeof(void*));
static_assert(offsetof(ReaderFunctions, getProgress) == 5 * sizeof(void*));
static_assert(offsetof(ReaderFunctions, close) == 6 * sizeof(void*));
static_assert(offsetof(ReaderFunctions, alwaysTrue) == 7 * sizeof(void*));
static_assert(offsetof(ReaderFunctions, seekChapter) == 8 * sizeof(void*));
static_assert(offsetof(ReaderFunctions, reserved9) == 9 * sizeof(void*));
static_assert(offsetof(ReaderFunctions, closeIfStalled) == 10 * sizeof(void*));
