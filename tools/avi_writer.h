// Writes one video stream into an AVI 1.0 file: hdrl (avih, strh, strf with
// a BITMAPINFOHEADER), movi with one 00dc chunk per frame, idx1 with the
// keyframe flags. Frames go to the file as they come; only the 16-byte index
// entries stay in memory until the end.
//
// AVI 1.0 keeps every offset and size in 32 bits and many players stop at
// 1 GiB, so the file is capped (1 GiB by default). A frame that would pass
// the cap is refused and the file closed as a valid AVI of the frames before
// it; OpenDML (AVI 2.0) is not written.
#ifndef OGMDECAPS_TOOLS_AVI_WRITER_H
#define OGMDECAPS_TOOLS_AVI_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "riff_file.h"
#include "stream_facts.h"

namespace cli {

struct AviVideoFormat {
  int32_t width = 0;
  int32_t height = 0;
  char fourcc[4] = {'X', 'V', 'I', 'D'};
  Rational rate{25, 1};
};

class AviWriter {
 public:
  static constexpr uint64_t kDefaultLimit = uint64_t{1} << 30;

  bool Open(const std::string& path, const AviVideoFormat& format, uint64_t limit,
            std::string* error);

  enum class Added { kOk, kFull, kError };
  Added AddFrame(const uint8_t* data, size_t size, bool keyframe);

  // Writes the index and the final sizes; false on a write error.
  bool Finish(std::string* error);

  uint32_t frames() const { return static_cast<uint32_t>(index_.size()); }
  uint32_t keyframes() const { return keyframes_; }
  uint64_t bytes() const { return file_.size(); }

 private:
  struct IndexEntry {
    uint32_t flags;
    uint32_t offset;  // of the chunk header, from the 'movi' code
    uint32_t size;
  };
  RiffFile file_;
  AviVideoFormat format_;
  uint64_t limit_ = kDefaultLimit;
  std::vector<IndexEntry> index_;
  uint32_t keyframes_ = 0;
  uint32_t largest_ = 0;
  uint64_t payload_ = 0;
};

}  // namespace cli

#endif
