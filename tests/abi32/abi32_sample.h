/* The sample file of abi32_test: video at serial 0 (every frame a
 * keyframe), MP3-tagged raw audio at serial 1, two chapters. Written by the
 * test support's OGM writer; the test itself stays C. */
#ifndef OGMDECAPS_TESTS_ABI32_SAMPLE_H
#define OGMDECAPS_TESTS_ABI32_SAMPLE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { kFrames = 50, kFps = 25, kWidth = 176, kHeight = 144, kChapters = 2 };
enum { kAudioTag = 0x55, kAudioRate = 44100, kAudioChannels = 2, kAudioBytesPerSecond = 16000 };

/* Chapter names, and start times in milliseconds. */
extern const char* const kChapterNames[kChapters];
extern const int kChapterStartMs[kChapters];

/* Writes the sample to path; 1 when written. */
int WriteAbiSample(const char* path);
/* Bytes of frame i as the reader delivers it; its first byte is i. */
size_t AbiSampleFrameBytes(int i);

#ifdef __cplusplus
}
#endif

#endif
