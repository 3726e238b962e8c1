#include "avi_writer.h"

#include <cmath>

namespace cli {

namespace {

// Fixed layout of the header part (byte offsets in the file).
constexpr uint64_t kAvihTotalFrames = 48;
constexpr uint64_t kAvihMaxBytesPerSec = 36;
constexpr uint64_t kAvihSuggestedBuffer = 60;
constexpr uint64_t kStrhLength = 140;
constexpr uint64_t kStrhSuggestedBuffer = 144;
constexpr uint64_t kMoviSize = 216;
constexpr uint64_t kMoviCode = 220;  // 'movi': idx1 offsets count from here

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kAviifKeyframe = 0x10;

}  // namespace

bool AviWriter::Open(const std::string& path, const AviVideoFormat& format, uint64_t limit,
                     std::string* error) {
  format_ = format;
  limit_ = limit < kDefaultLimit * 4 ? limit : kDefaultLimit * 4;
  if (format.rate.num == 0 || format.rate.den == 0) {
    *error = "the frame rate is unknown";
    return false;
  }
  if (!file_.Open(path, error)) return false;
  const uint16_t width = static_cast<uint16_t>(format.width);
  const uint16_t height = static_cast<uint16_t>(format.height);
  RiffFile& f = file_;
  f.Start("AVI ");
  f.Fourcc("LIST");
  f.U32(192);
  f.Fourcc("hdrl");
  // avih
  f.Fourcc("avih");
  f.U32(56);
  f.U32(static_cast<uint32_t>(std::llround(1e6 * format.rate.den / format.rate.num)));
  f.U32(0);  // max bytes per second, patched
  f.U32(0);  // padding granularity
  f.U32(kAvifHasIndex | kAvifIsInterleaved);
  f.U32(0);  // total frames, patched
  f.U32(0);  // initial frames
  f.U32(1);  // streams
  f.U32(0);  // suggested buffer size, patched
  f.U32(static_cast<uint32_t>(format.width));
  f.U32(static_cast<uint32_t>(format.height));
  f.Zeros(16);
  f.Fourcc("LIST");
  f.U32(116);
  f.Fourcc("strl");
  // strh
  f.Fourcc("strh");
  f.U32(56);
  f.Fourcc("vids");
  f.Bytes(format.fourcc, 4);
  f.U32(0);  // flags
  f.U16(0);  // priority
  f.U16(0);  // language
  f.U32(0);  // initial frames
  f.U32(format.rate.den);
  f.U32(format.rate.num);
  f.U32(0);           // start
  f.U32(0);           // length, patched
  f.U32(0);           // suggested buffer size, patched
  f.U32(0xFFFFFFFF);  // quality: default
  f.U32(0);           // sample size: varies
  f.U16(0);
  f.U16(0);
  f.U16(width);
  f.U16(height);
  // strf: BITMAPINFOHEADER
  f.Fourcc("strf");
  f.U32(40);
  f.U32(40);
  f.U32(static_cast<uint32_t>(format.width));
  f.U32(static_cast<uint32_t>(format.height));
  f.U16(1);   // planes
  f.U16(24);  // bit count
  f.Bytes(format.fourcc, 4);
  f.U32(static_cast<uint32_t>(format.width) * static_cast<uint32_t>(format.height) * 3);
  f.Zeros(16);
  f.Fourcc("LIST");
  f.U32(0);  // patched
  f.Fourcc("movi");
  if (!f.ok() || f.size() != kMoviCode + 4) {
    *error = f.ok() ? "internal error: AVI header layout" : f.error();
    return false;
  }
  return true;
}

AviWriter::Added AviWriter::AddFrame(const uint8_t* data, size_t size, bool keyframe) {
  if (!file_.ok()) return Added::kError;
  const uint64_t padded = size + (size & 1);
  // What the file would hold with this frame and the whole index after it.
  const uint64_t after = file_.size() + 8 + padded + 8 + 16 * (index_.size() + 1);
  if (after > limit_ || size > UINT32_MAX) return Added::kFull;
  index_.push_back({keyframe ? kAviifKeyframe : 0, static_cast<uint32_t>(file_.size() - kMoviCode),
                    static_cast<uint32_t>(size)});
  file_.Fourcc("00dc");
  file_.U32(static_cast<uint32_t>(size));
  file_.Bytes(data, size);
  if (size & 1) file_.Zeros(1);
  if (keyframe) ++keyframes_;
  if (size > largest_) largest_ = static_cast<uint32_t>(size);
  payload_ += size;
  return file_.ok() ? Added::kOk : Added::kError;
}

bool AviWriter::Finish(std::string* error) {
  RiffFile& f = file_;
  const uint64_t moviEnd = f.size();
  f.Fourcc("idx1");
  f.U32(static_cast<uint32_t>(16 * index_.size()));
  for (const IndexEntry& e : index_) {
    f.Fourcc("00dc");
    f.U32(e.flags);
    f.U32(e.offset);
    f.U32(e.size);
  }
  const uint32_t frames = static_cast<uint32_t>(index_.size());
  const double seconds = frames * static_cast<double>(format_.rate.den) / format_.rate.num;
  const double perSecond = seconds > 0 ? std::ceil(payload_ / seconds) : 0;
  const uint32_t buffer = largest_ + 8;
  f.PatchRiffSize();
  f.PatchU32(kAvihMaxBytesPerSec,
             perSecond < UINT32_MAX ? static_cast<uint32_t>(perSecond) : UINT32_MAX);
  f.PatchU32(kAvihTotalFrames, frames);
  f.PatchU32(kAvihSuggestedBuffer, buffer);
  f.PatchU32(kStrhLength, frames);
  f.PatchU32(kStrhSuggestedBuffer, buffer);
  f.PatchU32(kMoviSize, static_cast<uint32_t>(moviEnd - kMoviSize - 4));
  if (!f.Close()) {
    *error = f.error();
    return false;
  }
  return true;
}

}  // namespace cli
