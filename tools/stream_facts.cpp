#include "stream_facts.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace cli {

Rational FrameRateRational(double fps) {
  if (!(fps > 0) || !std::isfinite(fps)) return {0, 1};
  const double unit = std::round(10000000.0 / fps);
  if (unit < 1 || unit > 4e9) return {0, 1};
  // A candidate num/den fits when a muxer writing it would have stored this
  // unit (rounded or truncated: within one of 10000000 x den / num).
  auto fits = [unit](double num, double den) {
    return num >= 1 && std::fabs(unit - 1e7 * den / num) < 1;
  };
  const double whole = std::round(fps);
  if (fits(whole, 1)) return {static_cast<uint32_t>(whole), 1};
  const double ntsc = std::round(fps * 1.001);
  if (fits(ntsc * 1000, 1001)) {
    const uint64_t num = static_cast<uint64_t>(ntsc) * 1000;
    const uint64_t g = std::gcd(num, uint64_t{1001});
    return {static_cast<uint32_t>(num / g), static_cast<uint32_t>(1001 / g)};
  }
  const uint64_t den = static_cast<uint64_t>(unit);
  const uint64_t g = std::gcd(uint64_t{10000000}, den);
  return {static_cast<uint32_t>(10000000 / g), static_cast<uint32_t>(den / g)};
}

std::string ClockTime(double seconds) {
  if (!(seconds > 0) || !std::isfinite(seconds)) seconds = 0;
  const long long ms = std::llround(seconds * 1000);
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return text;
}

std::string FourccText(const StreamInfo& info) {
  std::string s;
  for (char c : info.fourcc) {
    if (c == 0) break;
    s += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
  }
  return s;
}

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool OneOf(const std::string& s, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (s == n) return true;
  return false;
}

}  // namespace

bool IsMpeg4Visual(const std::string& fourcc) {
  return OneOf(Upper(fourcc), {"XVID", "XVIX", "DIVX", "DX50", "FMP4", "MP4V", "M4S2", "MP4S",
                               "3IV2", "RMP4", "SEDG", "DM4V", "UMP4", "WV1F", "BLZ0", "DXGM",
                               "DIGI", "EPHV", "HDX4", "SMP4", "SN40", "EM4A", "M4CC", "WAWV"});
}

std::string FfmpegCodecName(const std::string& fourcc) {
  const std::string f = Upper(fourcc);
  if (IsMpeg4Visual(f)) return "mpeg4";
  if (OneOf(f, {"H264", "AVC1", "X264", "DAVC", "VSSH"})) return "h264";
  if (OneOf(f, {"HEVC", "H265", "HVC1", "X265"})) return "hevc";
  if (OneOf(f, {"MJPG", "AVRN", "LJPG", "JPGL", "DMB1"})) return "mjpeg";
  if (OneOf(f, {"DIV3", "DIV4", "MP43", "DIV5", "DIV6", "AP41", "COL1"})) return "msmpeg4v3";
  if (OneOf(f, {"MP42", "DIV2"})) return "msmpeg4v2";
  if (OneOf(f, {"MPG4", "DIV1"})) return "msmpeg4v1";
  if (f == "WMV1") return "wmv1";
  if (f == "WMV2") return "wmv2";
  if (f == "WMV3") return "wmv3";
  if (f == "WVC1") return "vc1";
  if (f == "VP80") return "vp8";
  if (f == "VP90") return "vp9";
  if (f == "FFV1") return "ffv1";
  if (OneOf(f, {"MPG1", "PIM1"})) return "mpeg1video";
  if (OneOf(f, {"MPG2", "MPEG", "MMES"})) return "mpeg2video";
  if (f == "H263" || f == "U263") return "h263";
  if (f == "THEO") return "theora";
  return "";
}

std::string AudioFormatName(int32_t tag) {
  switch (tag) {
    case 0:
      return "Vorbis (PCM)";
    case 0x0001:
      return "PCM";
    case 0x0050:
      return "MPEG audio";
    case 0x0055:
      return "MP3";
    case 0x00FF:
      return "AAC";
    case 0x2000:
      return "AC3";
    case 0x2001:
      return "DTS";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(tag) & 0xFFFFu);
      return text;
    }
  }
}

double DurationSeconds(const StreamInfo& info) {
  return info.framesPerSecond > 0 ? info.frameCount / info.framesPerSecond : 0.0;
}

AudioFacts DescribeAudio(const StreamInfo& info) {
  AudioFacts a;
  a.formatTag = info.audioFormat;
  a.vorbis = info.audioFormat == 0;
  if (a.vorbis) {
    a.channels = info.audioParamA;
    a.rate = info.audioParamB;
    a.present = a.channels > 0 && a.rate > 0;
    a.bytesPerSecond = a.present ? 2.0 * a.channels * a.rate : 0.0;
  } else {
    a.rate = info.audioParamA;
    a.channels = info.audioParamB;
    a.present = true;
    const double duration = DurationSeconds(info);
    a.bytesPerSecond =
        duration > 0 && info.totalAudioBytes > 0 ? info.totalAudioBytes / duration : 0.0;
  }
  if (!a.present) a.vorbis = false;
  a.name = AudioFormatName(info.audioFormat);
  return a;
}

}  // namespace cli
