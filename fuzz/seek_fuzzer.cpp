// Open, then a sequence of seeks and reads. The input is an OGM file, then
// up to 64 commands of two bytes (operation, argument), then a control byte
// (as the reader fuzzer's: bit 0 URL, bit 1 short reads, bits 4-7 raw audio
// request) and the number of command bytes.
#include <cmath>

#include "harness.h"

namespace {

constexpr uint32_t kRequests[16] = {4096, 1000,  1152,  2000,  64, 100, 333, 4097,
                                    8192, 10000, 33333, 65536, 7,  3,   2,   1};
constexpr size_t kMaxCommands = 64;

int32_t FramePosition(uint8_t arg, int32_t frameCount) {
  if (arg == 255) return INT32_MAX;
  if (arg == 254) return INT32_MIN;
  if (arg == 253) return frameCount - 1;
  if (arg == 252) return frameCount;
  // 0 .. about twice the frame count.
  return static_cast<int32_t>(static_cast<int64_t>(arg) * frameCount / 126);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  size_t commandBytes = data[size - 1];
  const uint8_t control = data[size - 2];
  if (commandBytes > size - 2) commandBytes = size - 2;
  commandBytes &= ~static_cast<size_t>(1);
  if (commandBytes > 2 * kMaxCommands) commandBytes = 2 * kMaxCommands;
  const size_t fileSize = size - 2 - commandBytes;
  const uint8_t* commands = data + fileSize;

  StreamInfo* info = fuzz::OpenAsControlled(data, fileSize, control);
  if (info == nullptr) return 0;
  fuzz::Buffers buffers(*info, fileSize, kRequests[control >> 4]);
  const bool hasAudio = gReader.demux.audioPresent == kStreamPresent;

  for (size_t i = 0; i + 1 < commandBytes; i += 2) {
    const uint8_t op = commands[i] & 7;
    const uint8_t arg = commands[i + 1];
    switch (op) {
      case 0: {
        const int32_t r = SeekEntry(static_cast<int32_t>(arg) - 28, 0);
        if (!hasAudio && r != 0) fuzz::Broken("seek without audio reports audio", r);
        break;
      }
      case 1: {
        const int32_t r = SeekEntry(FramePosition(arg, info->frameCount), 1);
        if (!hasAudio && r != 0) fuzz::Broken("frame seek without audio reports audio", r);
        break;
      }
      case 2: {
        const int32_t before = GetCurrentFrame(*info);
        const int32_t index = static_cast<int32_t>(arg) - 2;
        const int32_t r = SeekChapterEntry(index);
        if (!hasAudio && r != 0) fuzz::Broken("chapter seek without audio reports audio", r);
        if ((index < 0 || index >= info->chapterCount) && GetCurrentFrame(*info) != before)
          fuzz::Broken("chapter seek out of range moved", index);
        break;
      }
      case 3: {
        const int32_t r = ReSeekAudioEntry();
        if (!hasAudio && r != 0) fuzz::Broken("re-seek without audio reports audio", r);
        break;
      }
      case 4:
        for (int n = 0; n <= (arg & 15); ++n)
          if (buffers.Video() == -1) break;
        break;
      case 5:
        for (int n = 0; n <= (arg & 15); ++n)
          if (buffers.Audio() == 0) break;
        break;
      case 6:
        if (!std::isfinite(GetProgressEntry())) fuzz::Broken("progress", 0);
        break;
      default:
        buffers.Video();
        ReSeekAudioEntry();
        buffers.Audio();
        break;
    }
  }
  CloseEntry();
  fuzz::CheckClosed();
  return 0;
}
