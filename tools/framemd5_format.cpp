#include "framemd5_format.h"

#include <cstdio>

#include "md5.h"
#include "stream_facts.h"

namespace cli {

std::string FrameMd5Header(const StreamInfo& info) {
  const Rational rate = FrameRateRational(info.framesPerSecond);
  std::string codec = FfmpegCodecName(FourccText(info));
  if (codec.empty()) codec = "none";
  char text[512];
  std::snprintf(text, sizeof text,
                "#format: frame checksums\n"
                "#version: 2\n"
                "#hash: MD5\n"
                "#tb 0: %u/%u\n"
                "#media_type 0: video\n"
                "#codec_id 0: %s\n"
                "#dimensions 0: %dx%d\n"
                "#sar 0: 0/1\n",
                rate.den, rate.num, codec.c_str(), info.width, info.height);
  return text;
}

std::string FrameMd5Columns() { return "#stream#, dts,        pts, duration,     size, hash\n"; }

std::string FrameMd5Line(int64_t frameNumber, const uint8_t* data, size_t size) {
  char text[160];
  std::snprintf(text, sizeof text, "0, %10lld, %10lld, %8d, %8zu, %s\n",
                static_cast<long long>(frameNumber), static_cast<long long>(frameNumber), 1, size,
                Md5::Hex(data, size).c_str());
  return text;
}

}  // namespace cli
