// Shared by the reader-level fuzzers: the input's file part is served by the
// in-memory source and opened through the reader's own open path; buffers
// are sized exactly as the public header promises, so AddressSanitizer sees
// any write past what a host was told to provide.
#ifndef OGMDECAPS_FUZZ_HARNESS_H
#define OGMDECAPS_FUZZ_HARNESS_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "memory_input.h"
#include "reader/entries.h"
#include "state/reader_state.h"

namespace fuzz {

// Stops the run with a message: an outcome the public header rules out.
[[noreturn]] inline void Broken(const char* what, long long value) {
  std::fprintf(stderr, "fuzz: %s (%lld)\n", what, value);
  std::abort();
}

// Control bits of the reader-level fuzzers.
struct OpenChoice {
  bool network = false;         // open as a URL: no duration scan, no reopen
  int32_t maxBytesPerRead = 0;  // short reads from the source
};

// Opens file through the in-memory source; the StreamInfo or nullptr.
inline StreamInfo* OpenFile(const uint8_t* data, size_t size, const OpenChoice& choice) {
  ogmtest::MemoryInputConfig config;
  config.maxBytesPerRead = choice.maxBytesPerRead;
  ogmtest::MemoryInputReset(std::vector<uint8_t>(data, data + size), config);
  void* result = nullptr;
  const char16_t* name = choice.network ? u"http://127.0.0.1/fuzz.ogm" : u"/fuzz/input.ogm";
  const int32_t r = OpenWithInput(ogmtest::MemoryInput(), name, 0, &result);
  if (r != 0 && r != 1) Broken("open result", r);
  if (r == 0 && gReader.sourceOpen != 0) Broken("failed open left the source open", 0);
  if (r == 0 && ogmtest::MemoryInputStats().open) Broken("failed open left the input open", 0);
  return r == 1 ? static_cast<StreamInfo*>(result) : nullptr;
}

// The buffers a host must provide for the open source.
class Buffers {
 public:
  Buffers(const StreamInfo& info, size_t fileSize, uint32_t rawRequest)
      : vorbis_(AudioIsVorbis(gReader.demux)), rawRequest_(rawRequest == 0 ? 1 : rawRequest) {
    // No frame can be larger than the source it came from.
    video_.resize(fileSize == 0 ? 1 : fileSize);
    // Vorbis: the bound every call keeps, whatever the channel count (no
    // size is given, so only the bound protects this buffer). Raw: exactly
    // the request.
    if (vorbis_ && info.audioParamA != gReader.demux.vorbisInfo.channels)
      Broken("channels described", info.audioParamA);
    audio_.resize(vorbis_ ? 2000 + 8 * 8192 : rawRequest_);
  }

  // One video frame; checks the result against the buffer.
  int32_t Video() {
    const int32_t r = NextVideoFrameEntry(video_.data());
    if (r < -1 || r > static_cast<int64_t>(video_.size())) Broken("video frame size", r);
    return r;
  }
  // One audio call; checks the result against the documented values.
  int32_t Audio() {
    const int32_t r =
        ReadAudioEntry(audio_.data(), vorbis_ ? 0 : static_cast<int32_t>(rawRequest_));
    if (r < 0 || r > static_cast<int64_t>(audio_.size())) Broken("audio result", r);
    return r;
  }

 private:
  bool vorbis_;
  uint32_t rawRequest_;
  std::vector<uint8_t> video_;
  std::vector<uint8_t> audio_;
};

// After a close every entry answers as with nothing open.
inline void CheckClosed() {
  uint8_t buf[16];
  if (NextVideoFrameEntry(buf) != -1) Broken("video after close", 0);
  if (ReadAudioEntry(buf, 16) != 0) Broken("audio after close", 0);
  if (SeekEntry(50, 0) != 0) Broken("seek after close", 0);
  if (ReSeekAudioEntry() != 0) Broken("re-seek after close", 0);
  if (SeekChapterEntry(0) != 0) Broken("chapter seek after close", 0);
  if (ogmtest::MemoryInputStats().open) Broken("close left the input open", 0);
}

// Opens file as the control byte asks (bit 0: as a URL, bit 1: short reads).
// On a failed open, checks that nothing stays open and returns nullptr.
inline StreamInfo* OpenAsControlled(const uint8_t* data, size_t size, uint8_t control) {
  OpenChoice choice;
  choice.network = (control & 1) != 0;
  choice.maxBytesPerRead = (control & 2) != 0 ? 61 : 0;
  StreamInfo* info = OpenFile(data, size, choice);
  if (info == nullptr) CheckClosed();
  return info;
}

}  // namespace fuzz

#endif
