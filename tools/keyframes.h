// Which compressed frames are keyframes. The reader hands out frames without
// their keyframe flag, so the host finds out from the bitstream where it can.
#ifndef OGMDECAPS_TOOLS_KEYFRAMES_H
#define OGMDECAPS_TOOLS_KEYFRAMES_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

enum class Mpeg4Frame {
  kIntra,        // the first VOP is an I-VOP
  kPredicted,    // the first VOP is a P-, B- or S-VOP
  kHeadersOnly,  // VOS/VO/VOL headers but no VOP (a configuration frame)
  kUnknown,      // no start code found (empty or dropped frame, damage)
};

// Looks at the first VOP start code (00 00 01 B6): the two bits after it are
// vop_coding_type, 0 meaning intra. Headers before the VOP are skipped.
Mpeg4Frame ClassifyMpeg4Frame(const uint8_t* data, size_t size);

// Decides the keyframe flag of each frame of one stream.
class KeyframeDetector {
 public:
  explicit KeyframeDetector(const std::string& fourcc);
  // False when the fourcc has no parser here: every frame then counts as a
  // keyframe.
  bool understood() const { return mpeg4_; }
  // Intra VOPs and header-only frames are keyframes; so is every frame of a
  // stream this class cannot parse.
  bool IsKeyframe(const uint8_t* data, size_t size) const;

 private:
  bool mpeg4_;
};

}  // namespace cli

#endif
