// Reading a source through the public entry points as a player would:
// video frames in order, audio kept within a second of the video.
#ifndef OGMDECAPS_BENCH_READER_READER_LOOP_H
#define OGMDECAPS_BENCH_READER_READER_LOOP_H

#include <ogmdecaps/ogmdecaps.h>

#include <cstddef>
#include <cstdint>

namespace bench {

struct ReadTotals {
  int64_t frames = 0;
  int64_t videoBytes = 0;
  int64_t audioBytes = 0;
  int64_t audioCalls = 0;
};

// Bytes of audio per second of the open source, from its description.
inline double AudioBytesPerSecond(const StreamInfo& info) {
  if (info.audioFormat == 0) return 2.0 * info.audioParamA * info.audioParamB;
  const double seconds = info.frameCount / info.framesPerSecond;
  return seconds > 0 ? info.totalAudioBytes / seconds : 0;
}

// Largest Vorbis batch: 2000 bytes plus channels x long block (8192) x 2.
constexpr int32_t kAudioBufferBytes = 1 << 20;
constexpr int32_t kVideoBufferBytes = 8 << 20;
constexpr int32_t kRawAudioRequest = 4096;

// A buffer left uninitialised, so only the pages written become resident
// and the memory figures show the reader, not the host's spare room.
inline uint8_t* HostBuffer(size_t bytes) { return new uint8_t[bytes]; }

// withAudio false: video only (the audio pages then pile up in the reader).
inline ReadTotals ReadAll(const StreamInfo& info, bool withVideo, bool withAudio) {
  static uint8_t* const video = HostBuffer(kVideoBufferBytes);
  static uint8_t* const audio = HostBuffer(kAudioBufferBytes);
  ReadTotals t;
  const double fps = info.framesPerSecond;
  const double audioRate = AudioBytesPerSecond(info);
  bool videoDone = !withVideo, audioDone = !withAudio || audioRate <= 0;
  while (!videoDone || !audioDone) {
    if (!videoDone) {
      const int32_t n = AVIDecaps_NextVideoFrame(video, 0);
      if (n < 0) {
        videoDone = true;
      } else {
        ++t.frames;
        t.videoBytes += n;
      }
    }
    // Audio up to a second past the video's time (all of it once the video
    // is over).
    const double videoSeconds = t.frames / fps;
    while (!audioDone && (videoDone || t.audioBytes / audioRate < videoSeconds + 1.0)) {
      const int32_t n = AVIDecaps_ReadAudio(audio, kRawAudioRequest);
      ++t.audioCalls;
      if (n <= 0)
        audioDone = true;
      else
        t.audioBytes += n;
    }
  }
  return t;
}

}  // namespace bench

#endif
