#include <cstring>

#include "demux/mul_div_round.h"
#include "state/reader_state.h"

namespace {

// The audio format tag is stored as four hexadecimal characters; reading
// stops at the first non-digit, and no digit gives 0.
int32_t ReadFormatTag(const char subtype[4]) {
  int32_t tag = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = subtype[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    tag = tag * 16 + digit;
  }
  return tag;
}

}  // namespace

void DescribeStreams(ReaderState& s) {
  StreamInfo& info = s.info;
  const DemuxState& d = s.demux;
  const StreamHeader& video = *d.headers[0];
  // The audio words are written only when the source has audio (the bitrate
  // only for Vorbis): hosts tell a source without audio by totalAudioBytes 0.
  info.totalAudioBytes = 0;
  std::memset(info.fourcc, 0, sizeof info.fourcc);
  for (int i = 0; i < 4 && video.subtype[i] != 0; ++i) info.fourcc[i] = video.subtype[i];
  info.width = video.width;
  info.height = video.height;
  info.framesPerSecond = 10000000.0 / static_cast<double>(video.timeUnit);
  if (d.audioPresent <= 0) return;
  const double seconds = static_cast<double>(info.frameCount) / info.framesPerSecond;
  if (d.headers[1] == nullptr) {
    info.audioFormat = 0;
    info.audioParamA = d.vorbisInfo.channels;
    info.audioParamB = static_cast<int32_t>(d.vorbisInfo.rate);
    info.audioBitrate = static_cast<int32_t>(d.vorbisInfo.bitrate_nominal);
    info.totalAudioBytes = TruncateToInt32(seconds * static_cast<double>(d.vorbisInfo.rate) *
                                           static_cast<double>(d.vorbisInfo.channels) * 2.0);
  } else {
    const StreamHeader& audio = *d.headers[1];
    info.audioFormat = ReadFormatTag(audio.subtype);
    info.audioParamA = static_cast<int32_t>(audio.samplesPerUnit);
    info.audioParamB = audio.channels;
    info.totalAudioBytes = TruncateToInt32(seconds * static_cast<double>(audio.avgBytesPerSecond));
  }
}
