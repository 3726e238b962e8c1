#include "pump.h"

#include <algorithm>

namespace cli {

AudioPuller::AudioPuller(const ReaderApi& api, const StreamInfo& info, bool exactTail,
                         int32_t rawChunk)
    : api_(api), facts_(DescribeAudio(info)), exactTail_(exactTail), rawChunk_(rawChunk) {
  const uint64_t total = info.totalAudioBytes > 0 ? static_cast<uint64_t>(info.totalAudioBytes) : 0;
  // totalAudioBytes is the header's average rate times the video length: the
  // real stream may be a little longer or shorter.
  const uint64_t margin = std::max<uint64_t>(total / 32, 256u << 10);
  tailStart_ = total > margin ? total - margin : 0;
  buffer_.resize(facts_.vorbis ? kAudioBufferBytes : static_cast<size_t>(std::max(rawChunk, 1)));
}

int32_t AudioPuller::Read() {
  if (!facts_.present) return 0;
  int32_t n;
  if (facts_.vorbis) {
    n = api_.readAudio(buffer_.data(), static_cast<int32_t>(buffer_.size()));
  } else {
    const bool small = exactTail_ && (nearEnd_ || delivered_ >= tailStart_);
    n = api_.readAudio(buffer_.data(), small ? 1 : rawChunk_);
  }
  if (n > 0) delivered_ += static_cast<uint64_t>(n);
  if (n == OGMDECAPS_READ_ERROR) readFailed_ = true;
  return n > 0 ? n : 0;
}

Pump::Pump(const OpenSource& source, bool exactAudio)
    : source_(source),
      audio_(DescribeAudio(source.info())),
      puller_(source.api(), source.info(), exactAudio),
      video_(kVideoBufferBytes) {}

bool Pump::Run(bool wantAudio, int64_t maxFrames) {
  const ReaderApi& api = source_.api();
  const double fps = source_.info().framesPerSecond;
  stats_.audioEnded = stats_.audioEnded || !audio_.present;
  bool lastWasVideo = false;
  for (;;) {
    if (maxFrames >= 0 && stats_.frames >= maxFrames) return true;
    // The source cannot be read on: each further read would wait out the
    // time-out again.
    if (stats_.readFailed) return true;
    if (stats_.videoEnded && (stats_.audioEnded || !wantAudio)) return true;
    bool takeVideo;
    if (stats_.videoEnded) {
      takeVideo = false;
    } else if (stats_.audioEnded || !wantAudio) {
      takeVideo = true;
    } else if (audio_.bytesPerSecond > 0 && fps > 0) {
      takeVideo = stats_.frames / fps <= stats_.audioBytes / audio_.bytesPerSecond;
    } else {
      // No audio rate known: alternate.
      takeVideo = !lastWasVideo;
    }
    lastWasVideo = takeVideo;
    if (takeVideo) {
      const int32_t n = api.nextVideoFrame(video_.data(), 0);
      if (n < 0) {
        stats_.videoEnded = true;
        if (n == OGMDECAPS_READ_ERROR) stats_.readFailed = true;
        puller_.NearEnd();
      } else {
        ++stats_.frames;
        stats_.videoBytes += static_cast<uint64_t>(n);
        if (onVideo && !onVideo(video_.data(), static_cast<size_t>(n))) return false;
      }
    } else {
      const int32_t n = puller_.Read();
      if (n == 0) {
        stats_.audioEnded = true;
        if (puller_.readFailed()) stats_.readFailed = true;
      } else {
        stats_.audioBytes += static_cast<uint64_t>(n);
        if (onAudio && !onAudio(puller_.buffer(), static_cast<size_t>(n))) return false;
      }
    }
    if (onProgress) onProgress(api.getProgress());
  }
}

}  // namespace cli
