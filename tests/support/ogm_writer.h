// Test-side OGM writer: builds Ogg Media files byte by byte through libogg,
// so every fixture of the reader's tests is made at run time. Besides whole
// files it builds the individual packets (stream headers, comment packets,
// data packets) and single hand-made pages.
#ifndef OGMDECAPS_TESTS_SUPPORT_OGM_WRITER_H
#define OGMDECAPS_TESTS_SUPPORT_OGM_WRITER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ogmtest {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Packet builders
// ---------------------------------------------------------------------------

// Every field of the 56-byte stream header record that follows the type byte
// of a direct stream header. Video uses width/height, audio uses
// channels/blockAlign/avgBytesPerSecond (same bytes, other meaning).
struct StreamHeaderFields {
  std::string streamType = "video";  // at most 8 chars, zero padded
  std::string subtype = "XVID";      // 4 chars (fourcc or hex format tag)
  int32_t size = 56;
  int64_t timeUnit = 400000;  // 100 ns units per time unit
  int64_t samplesPerUnit = 1;
  int32_t defaultLength = 1;
  int32_t bufferSize = 65536;
  int16_t bitsPerSample = 24;
  int32_t width = 320;  // video
  int32_t height = 240;
  int16_t channels = 0;  // audio (overlays width)
  int16_t blockAlign = 0;
  int32_t avgBytesPerSecond = 0;  // audio (overlays height)
};

// Type byte + the 56-byte record, zero-padded to packetSize bytes (57 is
// what ogmmerge writes; smaller values cut the record short).
Bytes DirectHeader(const StreamHeaderFields& fields, size_t packetSize = 57,
                   uint8_t typeByte = 0x01);
// The fields of a direct header (of any type byte); false when the packet
// is shorter than its fields.
bool ReadDirectHeader(const Bytes& packet, StreamHeaderFields* out);
Bytes DirectVideoHeader(const std::string& fourcc, int64_t timeUnit, int32_t width, int32_t height,
                        size_t packetSize = 57);
// formatTagHex: four lowercase hex digits, e.g. "0055" (MP3), "2000" (AC-3).
Bytes DirectAudioHeader(const std::string& formatTagHex, int64_t samplesPerUnit, int16_t channels,
                        int32_t avgBytesPerSecond, int16_t blockAlign = 0,
                        int16_t bitsPerSample = 0, size_t packetSize = 57);
Bytes DirectTextHeader(size_t packetSize = 57);

// "Direct Show Samples embedded in Ogg" headers (184 bytes for video,
// 142 + extra for audio).
Bytes LegacyVideoHeader(const std::string& fourcc, int64_t timePerFrame, int32_t width,
                        int32_t height, int32_t bufferSize = 65536);
Bytes LegacyAudioHeader(uint16_t formatTag, int16_t channels, int32_t samplesPerSecond,
                        int32_t avgBytesPerSecond, int16_t blockAlign, int16_t bitsPerSample,
                        const Bytes& extra = {}, int32_t bufferSize = 65536);

// typeByte + "vorbis" + vendor + comments + framing bit 1.
Bytes CommentPacket(const std::string& vendor, const std::vector<std::string>& comments,
                    uint8_t typeByte = 0x03);

struct Chapter {
  int64_t startMs = 0;
  std::string name;
};
// "CHAPTER01=00:01:02.500", "CHAPTER01NAME=Intro", ... in order (times
// as HH:MM:SS.mmm).
std::vector<std::string> ChapterComments(const std::vector<Chapter>& chapters);

// Header byte of a data packet: bit 3 keyframe, n (0..7) spread over bits
// 6, 7 and 1.
uint8_t DataHeaderByte(bool keyframe, int lengthBytes);
// headerByte as given (it is not made consistent with lengthBytes, so
// broken combinations can be built), then lengthBytes little-endian bytes
// of duration, then the payload.
Bytes DataPacket(uint8_t headerByte, int lengthBytes, uint64_t duration, const Bytes& payload);
// A video frame without length bytes (duration = the header's defaultLength).
Bytes FramePacket(bool keyframe, const Bytes& payload);

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

enum PacketFlags : unsigned {
  kAutoPage = 0,   // libogg decides where the page ends
  kFlushPage = 1,  // the page ends after this packet
  kEndOfStream = 2,
};

// Writes logical streams into one physical stream. Pages go to the output
// in the order they are completed, so interleaving follows the order of the
// Packet() calls. Stream headers must be written with kFlushPage to get a
// page of their own (the first packet of a stream is its BOS page).
class OgmWriter {
 public:
  OgmWriter();
  ~OgmWriter();
  OgmWriter(const OgmWriter&) = delete;
  OgmWriter& operator=(const OgmWriter&) = delete;

  // Returns the stream index used by the other calls.
  int AddStream(int32_t serial);

  // granule -1 = none (a page whose last completed packet has none gets -1).
  void Packet(int stream, const Bytes& data, int64_t granule, unsigned flags = kAutoPage);
  // Appends raw bytes (a hand-made page, junk) to the output as is.
  void RawBytes(const Bytes& bytes);

  // Number of pages written so far (RawBytes not counted).
  size_t pages() const { return pages_; }
  // Flushes all streams (in index order) and returns the file.
  const Bytes& Finish();
  const Bytes& bytes() const { return out_; }

 private:
  struct Stream;
  void Drain(Stream& s, bool flush);
  std::vector<std::unique_ptr<Stream>> streams_;
  Bytes out_;
  size_t pages_ = 0;
};

// ---------------------------------------------------------------------------
// Hand-made pages
// ---------------------------------------------------------------------------

struct PageFields {
  int32_t serial = 0;
  int64_t granule = -1;
  uint32_t sequence = 0;
  bool bos = false;
  bool eos = false;
  bool continued = false;  // first segment continues a packet of the previous page
  std::vector<Bytes> packets;
  bool lastPacketOpen = false;  // the last packet continues on the next page
};
// One page with correct lacing and CRC (ogg_page_checksum_set). Packets must
// fit in 255 lacing values.
Bytes BuildPage(const PageFields& fields);
// The same from lacing values and a body as given (fields.packets is not
// used), so broken lacing can be built too.
Bytes BuildPageFromLacing(const PageFields& fields, const Bytes& lacing, const Bytes& body);

// Writes bytes to a file; false on failure.
bool WriteBytes(const std::string& path, const Bytes& bytes);
// Reads a whole file; empty on failure.
Bytes ReadBytes(const std::string& path);

// Little-endian helpers.
void PutLe(Bytes& b, size_t offset, uint64_t value, int bytes);
uint64_t GetLe(const Bytes& b, size_t offset, int bytes);

}  // namespace ogmtest

#endif
