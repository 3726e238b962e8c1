// Files written by other programs, made at test run time: AVI/MP3/AC-3/
// Vorbis sources from ffmpeg, OGM files from ogmmerge, Vorbis from our own
// encoder tool; and ffprobe/ffmpeg as oracles for what a file holds.
//
// What ogmmerge 1.5 writes (seen on its output):
//  - serial numbers count from 0 in the order of the input files on its
//    command line (an audio file named first becomes serial 0 and comes
//    first), so video must be named first for the reader's 0/1 layout;
//  - every stream's header packet on a page of its own, all BOS pages
//    first, then the comment packets ("ogmtools v1.5", no comments), each
//    on its own page; for Vorbis the setup header page only follows the
//    first video data page;
//  - direct 57-byte stream headers;
//  - video frames without length bytes (header byte 0x08 key / 0x00),
//    MP3/AC-3 packets with 2 length bytes (0x88 + duration);
//  - page granule = the start position of the last packet completed on the
//    page (frame number for video, first sample for MP3/AC-3), libogg's
//    ~4 kB pages, e_o_s on each stream's last page.
#ifndef OGMDECAPS_TESTS_SUPPORT_PEER_FILES_H
#define OGMDECAPS_TESTS_SUPPORT_PEER_FILES_H

#include <cstdint>
#include <string>
#include <vector>

#include "ogm_writer.h"

namespace ogmtest {

struct CommandResult {
  int exitCode = -1;  // -1 when it could not be run or died on a signal
  std::string out;
  std::string err;
};
// Runs argv[0] (a path) without a shell, stdin from /dev/null.
CommandResult RunCommand(const std::vector<std::string>& argv);

// A fresh directory under $TMPDIR (or /tmp), removed with its contents on
// destruction unless OGMTEST_KEEP_TEMP is set in the environment.
class TempDir {
 public:
  explicit TempDir(const std::string& tag = "ogmtest");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool HaveFfmpeg();  // ffmpeg and ffprobe
bool HaveOgmmerge();
bool HaveFfmpegEncoder(const std::string& name);  // from `ffmpeg -encoders`

// Each returns the path of the file made in dir, or "" on failure.
// MPEG-4 part 2 test pattern (-vtag fourcc), keyframe every gop frames.
std::string MakePeerAvi(const std::string& dir, double seconds, int fps, int gop,
                        const std::string& size = "160x120", const std::string& fourcc = "XVID",
                        const std::string& name = "v.avi");
// The same picture under strong noise at kbps (-b:v): frames as large as a
// film's, where the test pattern alone compresses to almost nothing.
std::string MakePeerNoisyAvi(const std::string& dir, double seconds, int fps, int gop,
                             const std::string& size = "320x240", int kbps = 1500,
                             const std::string& name = "v.avi");
// Plain MP3 frames (no ID3 tag, no Xing frame): the file's bytes are exactly
// what ogmmerge puts in the audio packets.
std::string MakePeerMp3(const std::string& dir, double seconds, int rate = 44100, int channels = 2,
                        int kbps = 128, const std::string& name = "a.mp3");
std::string MakePeerAc3(const std::string& dir, double seconds, int rate = 48000, int channels = 2,
                        int kbps = 192, const std::string& name = "a.ac3");
// 16-bit PCM in a WAV file with the plain 44-byte header ogmmerge reads
// (ffmpeg's LIST chunk, which ogmmerge refuses, left out).
std::string MakePeerWav(const std::string& dir, double seconds, int rate = 44100, int channels = 2,
                        const std::string& name = "a.wav");
// Ogg Vorbis from ffmpeg's libvorbis.
std::string MakePeerVorbisOgg(const std::string& dir, double seconds, int rate = 44100,
                              int channels = 2, const std::string& name = "a.ogg");
// ogmmerge -o dir/name inputs... (video first, see above).
std::string MakePeerOgm(const std::string& dir, const std::string& name,
                        const std::vector<std::string>& inputs);

// Our encoder tool (ogm_vorbis_encode); packetsPerPage 0 lets libogg page.
std::string EncodeVorbis(const std::string& dir, const std::string& name, int rate, int channels,
                         double seconds, double quality = 0.3, const std::string& signal = "sine",
                         int packetsPerPage = 0);
struct DecodedPcm {
  bool ok = false;
  int channels = 0;
  int rate = 0;
  int64_t samples = 0;  // per channel
  Bytes pcm;            // s16le interleaved
};
// Our reference decoder (ogm_vorbis_decode) on the Vorbis stream of serial
// (-1: the first stream) of any Ogg file; trim cuts to the final granule.
DecodedPcm DecodeVorbis(const std::string& path, int serial = -1, bool trim = true);

// ffprobe -show_streams -count_packets, one record per stream.
struct ProbeStream {
  int index = -1;
  std::string codecType;  // "video", "audio", ...
  std::string codecName;
  std::string codecTag;  // codec_tag_string
  int width = 0;
  int height = 0;
  std::string rFrameRate;  // "25/1"
  int64_t packets = -1;    // nb_read_packets
  int channels = 0;
  int sampleRate = 0;
  double FrameRate() const;  // r_frame_rate as a number (0 when unknown)
};
std::vector<ProbeStream> Probe(const std::string& path);

// `ffmpeg -i path -map map -c copy -f framemd5 -`, the lines without the
// '#' comment lines.
std::vector<std::string> FrameMd5Lines(const std::string& path, const std::string& map = "0:v");

}  // namespace ogmtest

#endif
