// Lines in the layout of ffmpeg's "-f framemd5" output for one video stream,
// so that a diff against ffmpeg run on the source AVI shows only real
// differences.
//
// Header choices: #tb is the frame rate as AVI stores it (1/25,
// 1001/30000, ...); #codec_id is ffmpeg's name for the fourcc ("none" when
// not known); #sar is 0/1, ffmpeg's "unknown", because an OGM carries no
// aspect ratio (ffmpeg prints what it finds in the AVI or the bitstream, so
// this line may differ); there is no #extradata line since the reader hands
// out no codec private data. Frame lines match ffmpeg's byte for byte.
#ifndef OGMDECAPS_TOOLS_FRAMEMD5_FORMAT_H
#define OGMDECAPS_TOOLS_FRAMEMD5_FORMAT_H

#include <ogmdecaps/ogmdecaps.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

// "#format: ..." through "#sar 0: ...", each line ending in '\n'.
std::string FrameMd5Header(const StreamInfo& info);
// "#stream#, dts,        pts, duration,     size, hash\n"
std::string FrameMd5Columns();
// "0,          5,          5,        1,     1234, <md5>\n"; the frame number
// is both dts and pts, in units of one frame.
std::string FrameMd5Line(int64_t frameNumber, const uint8_t* data, size_t size);

}  // namespace cli

#endif
