#include "keyframes.h"

#include "stream_facts.h"

namespace cli {

Mpeg4Frame ClassifyMpeg4Frame(const uint8_t* data, size_t size) {
  bool headers = false;
  for (size_t i = 0; i + 3 < size; ++i) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
    const uint8_t code = data[i + 3];
    if (code == 0xB6) {
      if (i + 4 >= size) return Mpeg4Frame::kUnknown;
      return (data[i + 4] >> 6) == 0 ? Mpeg4Frame::kIntra : Mpeg4Frame::kPredicted;
    }
    // visual_object_sequence (B0), visual_object (B5), video_object (00..1F),
    // video_object_layer (20..2F), group_of_vop (B3). User data alone is
    // not a header.
    if (code == 0xB0 || code == 0xB5 || code <= 0x2F || code == 0xB3) headers = true;
    i += 3;
  }
  return headers ? Mpeg4Frame::kHeadersOnly : Mpeg4Frame::kUnknown;
}

KeyframeDetector::KeyframeDetector(const std::string& fourcc) : mpeg4_(IsMpeg4Visual(fourcc)) {}

bool KeyframeDetector::IsKeyframe(const uint8_t* data, size_t size) const {
  if (!mpeg4_) return true;
  const Mpeg4Frame kind = ClassifyMpeg4Frame(data, size);
  return kind == Mpeg4Frame::kIntra || kind == Mpeg4Frame::kHeadersOnly;
}

}  // namespace cli
