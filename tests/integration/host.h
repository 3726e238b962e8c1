// What the integration tests share: the peer files of the process (an AVI
// from ffmpeg, audio from ffmpeg, OGM files from ogmmerge with chapters
// written into them) together with what the peers say they hold, and a few
// helpers that drive the reader through its exported C entries the way a
// host does.
#ifndef OGMDECAPS_TESTS_INTEGRATION_HOST_H
#define OGMDECAPS_TESTS_INTEGRATION_HOST_H

#include <gtest/gtest.h>
#include <ogmdecaps/ogmdecaps.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "ogg_edit.h"
#include "ogm_writer.h"
#include "peer_files.h"

namespace integ {

using ogmtest::Bytes;

// ---------------------------------------------------------------------------
// The peer files
// ---------------------------------------------------------------------------

// One frame of the source AVI as ffmpeg and ffprobe see it.
struct SourceFrame {
  size_t size = 0;
  std::string md5;
  bool key = false;
};

struct PeerVideo {
  std::string avi;
  int fps = 0;
  int gop = 0;
  double seconds = 0;
  std::vector<SourceFrame> frames;
  size_t largestFrame = 0;
  // Number of the first keyframe at or after frame (frames.size() if none).
  int KeyframeAtOrAfter(int frame) const;
  // Number of the last keyframe at or before frame.
  int KeyframeAtOrBefore(int frame) const;
};

enum class AudioKind { kNone, kMp3, kAc3, kVorbis };
const char* KindName(AudioKind kind);
inline void PrintTo(AudioKind kind, std::ostream* os) { *os << KindName(kind); }

// One audio packet of the OGM, placed in the source's byte stream.
struct AudioPacket {
  size_t offset = 0;  // in RawAudio::bytes
  size_t size = 0;
  int64_t startSample = 0;  // sum of the durations of the packets before it
};

struct RawAudio {
  Bytes bytes;  // the source file (.mp3/.ac3): what the packets hold, in order
  std::vector<AudioPacket> packets;
  size_t largestPacket = 0;
  int rate = 0;
  // Index of the packet that starts at byte offset, or -1.
  int PacketStartingAt(size_t offset) const;
};

struct PeerFile {
  AudioKind audio = AudioKind::kNone;
  std::string path;         // the OGM, chapters written in
  std::string audioSource;  // what went into ogmmerge besides the AVI
  std::vector<ogmtest::Chapter> chapters;
  std::vector<ogmtest::ProbeStream> probe;  // ffprobe of the OGM
  // Raw audio.
  int32_t avgBytesPerSecond = 0;  // from the OGM's audio stream header
  RawAudio raw;
  // Vorbis.
  ogmtest::DecodedPcm reference;  // the source track decoded (Vorbis)
  int vorbisLongBlock = 0;        // samples
  int32_t vorbisNominalBitrate = 0;
  // How far (samples) the page granules of the OGM's Vorbis stream lie past
  // the end of the last packet completed on their page, at most. ogmmerge
  // writes granules that run ahead; a reader that times the audio by them
  // can only be as exact as this.
  int64_t vorbisGranuleLead = 0;
};

// Empty when ffmpeg, ffprobe and ogmmerge (and the needed encoders) are
// here; otherwise why the peer files cannot be made.
std::string PeerToolsMissing();

// The files of this process, made on first use and kept until it ends.
// A failure to make them is a test failure (reported through gtest).
const PeerVideo& Video();
const PeerFile& Peer(AudioKind kind);

// The chapters written into every peer OGM: whole seconds, names in several
// scripts, one name longer than a chapter slot, one whose cut falls inside
// a surrogate pair.
std::vector<ogmtest::Chapter> TestChapters();

// ---------------------------------------------------------------------------
// Driving the reader
// ---------------------------------------------------------------------------

std::u16string Utf16(const std::string& utf8);

// One open source; closes it on destruction.
class Session {
 public:
  Session() = default;
  ~Session() { Close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  bool Open(const std::string& name, int32_t useCache = 0, int32_t openArg = 0);
  void Close();
  // The open source's description (an empty one when nothing is open, so a
  // failed open fails its test instead of crashing it).
  StreamInfo& info() const { return info_ != nullptr ? *info_ : empty_; }

 private:
  StreamInfo* info_ = nullptr;
  mutable StreamInfo empty_ = {};
};

const ReaderFunctions& Table();

// A frame buffer exactly as large as the largest source frame, so a write
// past it is caught by the address sanitizer.
std::vector<uint8_t> FrameBuffer();

// The frame the reader delivered (n bytes at data) is source frame number.
::testing::AssertionResult IsSourceFrame(const uint8_t* data, int32_t n, int number);

// Reads frames until -1; each entry is (size, md5, currentFrame after it).
struct DeliveredFrame {
  int32_t size = 0;
  std::string md5;
  int32_t currentFrame = 0;
};
std::vector<DeliveredFrame> ReadAllFrames(const StreamInfo& info, size_t limit = 1000000);

// Vorbis: a buffer of exactly the size the reader may fill in one call.
size_t PcmBufferBytes(const PeerFile& peer);

// ---------------------------------------------------------------------------
// Comparing PCM
// ---------------------------------------------------------------------------

// Signal-to-noise ratio of got against ref over n interleaved samples, dB
// (infinite when equal).
double SnrDb(const int16_t* ref, const int16_t* got, size_t n);

// The sample frame k of ref at which got (frames, channels interleaved)
// matches best: a window of got starting at frame probe is compared with ref
// at k + probe for every k in [from, to]. -1 when the range is empty.
int64_t BestOffset(const ogmtest::DecodedPcm& ref, const int16_t* got, size_t gotFrames,
                   size_t probe, int64_t from, int64_t to);

}  // namespace integ

#endif
