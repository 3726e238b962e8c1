// Open, then read all video and all audio. The input is an OGM file followed
// by two bytes: a pattern byte (which stream each call of the interleaved
// orders reads, bit by bit) and a control byte:
//   bit 0     open as a URL (no duration scan, no reopen)
//   bit 1     the source hands out at most 61 bytes per read
//   bits 2-3  order: video then audio, audio then video, by pattern, alternating
//   bits 4-7  raw audio request size (index into kRequests)
#include <cmath>

#include "harness.h"

namespace {

// Small requests cost many calls per file: few of them.
constexpr uint32_t kRequests[16] = {4096, 1000,  1152,  2000,  64, 100, 333, 4097,
                                    8192, 10000, 33333, 65536, 7,  3,   2,   1};

// Reads one stream to its end; false when a read call was needed past the cap.
template <typename Call>
bool Drain(Call call, int32_t end, long long& calls, long long cap) {
  while (calls < cap) {
    ++calls;
    if (call() == end) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t control = data[size - 1];
  const uint8_t pattern = data[size - 2];
  const size_t fileSize = size - 2;

  StreamInfo* info = fuzz::OpenAsControlled(data, fileSize, control);
  if (info == nullptr) return 0;
  if (!(info->framesPerSecond > 0) || !std::isfinite(info->framesPerSecond))
    fuzz::Broken("frame rate", 0);
  if (gReader.demux.audioPresent != kStreamPresent && info->totalAudioBytes != 0)
    fuzz::Broken("audio bytes for a source without audio", info->totalAudioBytes);
  if (info->chapterCount < 0 || info->chapterCount > 100)
    fuzz::Broken("chapter count", info->chapterCount);

  fuzz::Buffers buffers(*info, fileSize, kRequests[control >> 4]);
  // Every call takes at least one packet or byte of the source.
  const long long cap = 4 * static_cast<long long>(fileSize) + 1000;
  long long calls = 0;
  auto video = [&] { return buffers.Video(); };
  auto audio = [&] { return buffers.Audio(); };
  bool bounded = true;
  switch ((control >> 2) & 3) {
    case 0:
      bounded = Drain(video, -1, calls, cap) && Drain(audio, 0, calls, cap);
      break;
    case 1:
      bounded = Drain(audio, 0, calls, cap) && Drain(video, -1, calls, cap);
      break;
    default: {
      bool videoDone = false, audioDone = false;
      for (unsigned i = 0; !(videoDone && audioDone); ++i) {
        if (++calls > cap) {
          bounded = false;
          break;
        }
        const bool takeAudio =
            ((control >> 2) & 3) == 2 ? ((pattern >> (i % 8)) & 1) != 0 : (i & 1) != 0;
        if ((takeAudio && !audioDone) || videoDone)
          audioDone = audioDone || buffers.Audio() == 0;
        else
          videoDone = buffers.Video() == -1;
      }
    }
  }
  if (!bounded) fuzz::Broken("more read calls than the source can feed", calls);
  const double progress = GetProgressEntry();
  if (!std::isfinite(progress)) fuzz::Broken("progress", 0);

  CloseEntry();
  fuzz::CheckClosed();
  return 0;
}
