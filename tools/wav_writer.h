// Writes PCM into a RIFF WAVE file (fmt with WAVE_FORMAT_PCM, then data),
// streaming; the sizes are filled in at the end. WAV sizes are 32-bit: data
// past 4 GiB - 1 KiB is refused and the file closed valid.
#ifndef OGMDECAPS_TOOLS_WAV_WRITER_H
#define OGMDECAPS_TOOLS_WAV_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "riff_file.h"

namespace cli {

struct WavFormat {
  uint16_t channels = 2;
  uint32_t rate = 44100;
  uint16_t bitsPerSample = 16;
};

class WavWriter {
 public:
  static constexpr uint64_t kMaxData = 0xFFFFFFFFull - 1024;

  bool Open(const std::string& path, const WavFormat& format, std::string* error);
  enum class Added { kOk, kFull, kError };
  // Bytes past kMaxData are dropped (kFull).
  Added Write(const uint8_t* data, size_t size);
  bool Finish(std::string* error);
  uint64_t dataBytes() const { return data_; }

 private:
  RiffFile file_;
  WavFormat format_;
  uint64_t data_ = 0;
};

}  // namespace cli

#endif
