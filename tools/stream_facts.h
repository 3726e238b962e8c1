// What the host derives from a StreamInfo: names, durations, rates, and the
// audio arithmetic the record leaves to the host.
#ifndef OGMDECAPS_TOOLS_STREAM_FACTS_H
#define OGMDECAPS_TOOLS_STREAM_FACTS_H

#include <ogmdecaps/ogmdecaps.h>

#include <cstdint>
#include <string>

namespace cli {

// A frame rate as the integer pair AVI and ffmpeg use: rate / scale frames
// per second, reduced.
struct Rational {
  uint32_t num = 0;
  uint32_t den = 1;
};

// The OGM stores a frame duration in 100 ns units, so framesPerSecond is
// 10000000 / unit. A whole rate n gives n/1 and an NTSC rate n*1000/1001
// (30000/1001) its fraction, when that rate accounts for the unit (to within
// the muxer's rounding); anything else is 10000000/unit exactly, reduced.
Rational FrameRateRational(double framesPerSecond);

// "hh:mm:ss.mmm" (hours grow past 99 as needed); negative values print as 0.
std::string ClockTime(double seconds);

// The fourcc as text up to the first zero byte, non-printable bytes as '?'.
std::string FourccText(const StreamInfo& info);

// ffmpeg's codec name for the common video fourccs ("mpeg4", "h264",
// "mjpeg", ...), "" when not known.
std::string FfmpegCodecName(const std::string& fourcc);

// True for the fourccs of MPEG-4 Visual (ASP) video (XVID, DIVX, DX50, FMP4, ...).
bool IsMpeg4Visual(const std::string& fourcc);

// The audio of a source as the host sees it.
struct AudioFacts {
  bool present = false;
  bool vorbis = false;  // delivered as s16le PCM
  int32_t formatTag = 0;
  int32_t channels = 0;
  int32_t rate = 0;  // samples per second (raw: the header's samples per unit)
  // Bytes the reader delivers per second of audio: exact for Vorbis
  // (2 x channels x rate); for raw audio the record has no such field, so it
  // is totalAudioBytes / duration (0 when either is unknown).
  double bytesPerSecond = 0;
  std::string name;  // "Vorbis (PCM)", "MP3", ..., or "0x1234"
};
AudioFacts DescribeAudio(const StreamInfo& info);

// Name of a WAVE format tag; 0 means Vorbis as the reader delivers it.
std::string AudioFormatName(int32_t formatTag);

double DurationSeconds(const StreamInfo& info);

}  // namespace cli

#endif
