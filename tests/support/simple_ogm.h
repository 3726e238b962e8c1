// Whole OGM files from a few options, with a record of what went in, so a
// test can compare what the reader delivers with what was written.
#ifndef OGMDECAPS_TESTS_SUPPORT_SIMPLE_OGM_H
#define OGMDECAPS_TESTS_SUPPORT_SIMPLE_OGM_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "ogg_edit.h"
#include "ogm_writer.h"

namespace ogmtest {

enum class HeaderForm { kDirect, kLegacy };
enum class AudioKind { kNone, kRaw, kVorbis };

struct SimpleOgmOptions {
  // Video (serial 0).
  int frames = 50;
  int64_t timeUnit = 400000;  // 100 ns units per frame: 25 fps
  int gop = 12;               // keyframe every gop frames (frame 0 always)
  int32_t width = 320;
  int32_t height = 240;
  std::string fourcc = "XVID";
  HeaderForm header = HeaderForm::kDirect;
  size_t minFrameBytes = 40;  // frame sizes vary deterministically in [min, max]
  size_t maxFrameBytes = 400;
  std::set<int> largeFrames;  // these frames get largeFrameBytes (+ index % 7)
  size_t largeFrameBytes = 60000;
  std::set<int> emptyFrames;  // packets of only the header byte
  int framesPerPage = 0;      // 0: libogg ends pages; else a page every N frames
  bool granuleIsEnd =
      false;  // false: packet granule = its frame number (ogmmerge); true: number + 1

  // Audio (serial 1).
  AudioKind audio = AudioKind::kNone;
  // Raw audio: opaque deterministic bytes (see RawAudio) in packets of
  // samplesPerPacket samples with 2 length bytes, sized to give
  // avgBytesPerSecond. Defaults are MP3-like ("0055", 1152 samples,
  // 128 kbit/s; block align 1152 as ogmmerge writes it).
  std::string audioTag = "0055";
  int32_t audioRate = 44100;
  int16_t audioChannels = 2;
  int32_t audioAvgBytesPerSecond = 16000;
  int audioSamplesPerPacket = 1152;
  double audioSeconds = -1;  // -1: as long as the video
  // Vorbis: an Ogg Vorbis file (from ogm_vorbis_encode), remuxed as it is.
  std::string vorbisFile;
  // > 0: Vorbis pages of this many packets whatever the source's pages, each
  // with the granule of the source page that holds its last packet, as
  // ogmmerge writes them (so they run ahead of the packets).
  int vorbisPacketsPerPage = 0;
  bool audioFirst = false;  // audio header pages before the video's (broken order)

  // Comments of the video stream.
  std::string vendor = "ogmtools v1.5";
  std::vector<Chapter> chapters;
  std::vector<std::string> extraComments;
  bool eos = true;
};

struct FrameRecord {
  size_t size = 0;  // payload bytes (what the reader delivers)
  bool keyframe = false;
  int64_t granule = 0;  // packet granule
};

struct AudioPacketRecord {
  uint64_t byteOffset = 0;  // in the raw audio byte stream
  size_t size = 0;
  int64_t startSample = 0;
};

struct SimpleOgm {
  Bytes bytes;
  std::vector<FrameRecord> frames;
  std::vector<AudioPacketRecord> audioPackets;  // raw audio only
  uint64_t rawAudioBytes = 0;                   // raw audio only
  int64_t audioSamples = 0;                     // raw: packets x samples; Vorbis: last granule
  int vorbisRate = 0;
  int vorbisChannels = 0;
};

// The payload of frame index under opts: starts with the index (4 bytes LE)
// and 'K' or 'P', then a pattern; distinct per frame.
Bytes FramePayload(const SimpleOgmOptions& opts, int index);
size_t FrameSize(const SimpleOgmOptions& opts, int index);
bool IsKeyframe(const SimpleOgmOptions& opts, int index);
// The index of the frame whose payload the n bytes at p are exactly (a
// delivered frame is one whole frame of the file), or -1.
int WrittenFrameIndex(const SimpleOgmOptions& opts, const uint8_t* p, int64_t n);
// The count bytes of the raw audio stream from offset on.
Bytes RawAudio(uint64_t offset, size_t count);

// Builds the file. Throws std::runtime_error when the Vorbis file cannot be
// read.
SimpleOgm MakeSimpleOgm(const SimpleOgmOptions& opts);

// opts.frames video frames (payloads and keyframes as above, a page each)
// and an MP3-like audio stream of nothing but audioPages pages of 255 empty
// packets (no body bytes), all between frames 1 and 2: the shape that grows
// libogg's lacing tables, not its page bodies. Other options are not used.
Bytes MakeEmptyAudioPagesOgm(const SimpleOgmOptions& opts, int audioPages);

}  // namespace ogmtest

#endif
