#include "ogm_writer.h"

#include <ogg/ogg.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <type_traits>

namespace ogmtest {

void PutLe(Bytes& b, size_t offset, uint64_t value, int bytes) {
  if (b.size() < offset + bytes) b.resize(offset + bytes, 0);
  for (int i = 0; i < bytes; ++i) b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const Bytes& b, size_t offset, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes && offset + i < b.size(); ++i) v |= uint64_t{b[offset + i]} << (8 * i);
  return v;
}

namespace {

void PutText(Bytes& b, size_t offset, const std::string& text, size_t width) {
  if (b.size() < offset + width) b.resize(offset + width, 0);
  for (size_t i = 0; i < width; ++i)
    b[offset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
}

const char kLegacyMagic[] = "Direct Show Samples embedded in Ogg";  // 35 chars

Bytes LegacyBase(size_t size, int32_t bufferSize, uint32_t formatId) {
  Bytes b(size, 0);
  b[0] = 0x01;
  PutText(b, 1, kLegacyMagic, 35);
  PutLe(b, 40, static_cast<uint32_t>(bufferSize), 4);
  PutLe(b, 96, formatId, 4);
  return b;
}

// Calls field(packet offset, bytes, value) for each number of a direct
// header; audio and video read bytes 45..52 differently.
template <class Fields, class F>
void ForEachNumber(Fields& f, F&& field) {
  field(13, 4, f.size);
  field(17, 8, f.timeUnit);
  field(25, 8, f.samplesPerUnit);
  field(33, 4, f.defaultLength);
  field(37, 4, f.bufferSize);
  field(41, 2, f.bitsPerSample);
  if (f.streamType == "audio") {
    field(45, 2, f.channels);
    field(47, 2, f.blockAlign);
    field(49, 4, f.avgBytesPerSecond);
  } else {
    field(45, 4, f.width);
    field(49, 4, f.height);
  }
}

std::string TextAt(const Bytes& b, size_t offset, size_t width) {
  std::string s(b.begin() + offset, b.begin() + offset + width);
  return s.substr(0, s.find('\0'));
}

}  // namespace

Bytes DirectHeader(const StreamHeaderFields& f, size_t packetSize, uint8_t typeByte) {
  Bytes b(57, 0);
  b[0] = typeByte;
  PutText(b, 1, f.streamType, 8);
  PutText(b, 9, f.subtype, 4);
  ForEachNumber(f, [&b](size_t offset, int bytes, auto value) {
    PutLe(b, offset, static_cast<uint64_t>(value), bytes);
  });
  b.resize(packetSize, 0);
  return b;
}

bool ReadDirectHeader(const Bytes& packet, StreamHeaderFields* out) {
  if (packet.size() < 53) return false;
  out->streamType = TextAt(packet, 1, 8);
  out->subtype = TextAt(packet, 9, 4);
  ForEachNumber(*out, [&packet](size_t offset, int bytes, auto& value) {
    value = static_cast<std::remove_reference_t<decltype(value)>>(GetLe(packet, offset, bytes));
  });
  return true;
}

Bytes DirectVideoHeader(const std::string& fourcc, int64_t timeUnit, int32_t width, int32_t height,
                        size_t packetSize) {
  StreamHeaderFields f;
  f.subtype = fourcc;
  f.timeUnit = timeUnit;
  f.width = width;
  f.height = height;
  return DirectHeader(f, packetSize);
}

Bytes DirectAudioHeader(const std::string& formatTagHex, int64_t samplesPerUnit, int16_t channels,
                        int32_t avgBytesPerSecond, int16_t blockAlign, int16_t bitsPerSample,
                        size_t packetSize) {
  StreamHeaderFields f;
  f.streamType = "audio";
  f.subtype = formatTagHex;
  f.timeUnit = 10000000;
  f.samplesPerUnit = samplesPerUnit;
  f.bufferSize = static_cast<int32_t>(samplesPerUnit);
  f.bitsPerSample = bitsPerSample;
  f.channels = channels;
  f.blockAlign = blockAlign;
  f.avgBytesPerSecond = avgBytesPerSecond;
  return DirectHeader(f, packetSize);
}

Bytes DirectTextHeader(size_t packetSize) {
  StreamHeaderFields f;
  f.streamType = "text";
  f.subtype = "";
  f.timeUnit = 10000;  // milliseconds
  f.bitsPerSample = 0;
  f.width = 0;
  f.height = 0;
  return DirectHeader(f, packetSize);
}

Bytes LegacyVideoHeader(const std::string& fourcc, int64_t timePerFrame, int32_t width,
                        int32_t height, int32_t bufferSize) {
  Bytes b = LegacyBase(184, bufferSize, 0x05589F80);
  PutText(b, 68, fourcc, 4);
  PutLe(b, 164, static_cast<uint64_t>(timePerFrame), 8);
  PutLe(b, 176, static_cast<uint32_t>(width), 4);
  PutLe(b, 180, static_cast<uint32_t>(height), 4);
  return b;
}

Bytes LegacyAudioHeader(uint16_t formatTag, int16_t channels, int32_t samplesPerSecond,
                        int32_t avgBytesPerSecond, int16_t blockAlign, int16_t bitsPerSample,
                        const Bytes& extra, int32_t bufferSize) {
  Bytes b = LegacyBase(142, bufferSize, 0x05589F81);
  PutLe(b, 124, formatTag, 2);
  PutLe(b, 126, static_cast<uint16_t>(channels), 2);
  PutLe(b, 128, static_cast<uint32_t>(samplesPerSecond), 4);
  PutLe(b, 132, static_cast<uint32_t>(avgBytesPerSecond), 4);
  PutLe(b, 136, static_cast<uint16_t>(blockAlign), 2);
  PutLe(b, 138, static_cast<uint16_t>(bitsPerSample), 2);
  PutLe(b, 140, static_cast<uint16_t>(extra.size()), 2);
  b.insert(b.end(), extra.begin(), extra.end());
  return b;
}

Bytes CommentPacket(const std::string& vendor, const std::vector<std::string>& comments,
                    uint8_t typeByte) {
  Bytes b{typeByte, 'v', 'o', 'r', 'b', 'i', 's'};
  auto put = [&b](const std::string& s) {
    PutLe(b, b.size(), s.size(), 4);
    b.insert(b.end(), s.begin(), s.end());
  };
  put(vendor);
  PutLe(b, b.size(), comments.size(), 4);
  for (const auto& c : comments) put(c);
  b.push_back(0x01);
  return b;
}

namespace {

std::string ChapterTime(int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld",
                static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return buf;
}

}  // namespace

std::vector<std::string> ChapterComments(const std::vector<Chapter>& chapters) {
  std::vector<std::string> out;
  for (size_t i = 0; i < chapters.size(); ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "CHAPTER%02zu", i + 1);
    out.push_back(std::string(key) + "=" + ChapterTime(chapters[i].startMs));
    out.push_back(std::string(key) + "NAME=" + chapters[i].name);
  }
  return out;
}

uint8_t DataHeaderByte(bool keyframe, int lengthBytes) {
  uint8_t h = keyframe ? 0x08 : 0x00;
  h |= static_cast<uint8_t>((lengthBytes & 3) << 6);
  h |= static_cast<uint8_t>((lengthBytes & 4) >> 1);
  return h;
}

Bytes DataPacket(uint8_t headerByte, int lengthBytes, uint64_t duration, const Bytes& payload) {
  // Sized once and filled in place (growing a one-byte vector by insert
  // trips GCC's bounds warning at -O3).
  Bytes b(1 + static_cast<size_t>(lengthBytes > 0 ? lengthBytes : 0) + payload.size());
  b[0] = headerByte;
  if (lengthBytes > 0) PutLe(b, 1, duration, lengthBytes);
  std::copy(payload.begin(), payload.end(), b.end() - static_cast<std::ptrdiff_t>(payload.size()));
  return b;
}

Bytes FramePacket(bool keyframe, const Bytes& payload) {
  return DataPacket(DataHeaderByte(keyframe, 0), 0, 0, payload);
}

// ---------------------------------------------------------------------------

struct OgmWriter::Stream {
  explicit Stream(int32_t serial) { ogg_stream_init(&os, serial); }
  ~Stream() { ogg_stream_clear(&os); }
  ogg_stream_state os;
};

OgmWriter::OgmWriter() = default;
OgmWriter::~OgmWriter() = default;

int OgmWriter::AddStream(int32_t serial) {
  streams_.push_back(std::make_unique<Stream>(serial));
  return static_cast<int>(streams_.size()) - 1;
}

void OgmWriter::Drain(Stream& s, bool flush) {
  ogg_page og;
  for (;;) {
    if (!(flush ? ogg_stream_flush(&s.os, &og) : ogg_stream_pageout(&s.os, &og))) break;
    out_.insert(out_.end(), og.header, og.header + og.header_len);
    out_.insert(out_.end(), og.body, og.body + og.body_len);
    ++pages_;
  }
}

void OgmWriter::Packet(int stream, const Bytes& data, int64_t granule, unsigned flags) {
  Stream& s = *streams_.at(stream);
  ogg_packet op{};
  op.packet = const_cast<unsigned char*>(data.data());
  op.bytes = static_cast<long>(data.size());
  op.b_o_s = s.os.packetno == 0 && s.os.pageno == 0 ? 1 : 0;
  op.e_o_s = (flags & kEndOfStream) ? 1 : 0;
  op.granulepos = granule;
  op.packetno = s.os.packetno;
  static const unsigned char kEmpty = 0;
  if (data.empty()) op.packet = const_cast<unsigned char*>(&kEmpty);
  if (ogg_stream_packetin(&s.os, &op) != 0) throw std::runtime_error("ogg_stream_packetin failed");
  Drain(s, (flags & (kFlushPage | kEndOfStream)) != 0);
}

void OgmWriter::RawBytes(const Bytes& bytes) {
  out_.insert(out_.end(), bytes.begin(), bytes.end());
}

const Bytes& OgmWriter::Finish() {
  for (auto& s : streams_) Drain(*s, true);
  return out_;
}

// ---------------------------------------------------------------------------

Bytes BuildPage(const PageFields& fields) {
  Bytes lacing;
  Bytes body;
  for (size_t i = 0; i < fields.packets.size(); ++i) {
    const Bytes& p = fields.packets[i];
    size_t n = p.size();
    while (n >= 255) {
      lacing.push_back(255);
      n -= 255;
    }
    const bool open = fields.lastPacketOpen && i + 1 == fields.packets.size();
    if (!open)
      lacing.push_back(static_cast<uint8_t>(n));
    else if (n != 0)
      throw std::invalid_argument("an open last packet must be a multiple of 255 bytes");
    body.insert(body.end(), p.begin(), p.end());
  }
  if (lacing.size() > 255) throw std::invalid_argument("page holds more than 255 lacing values");
  return BuildPageFromLacing(fields, lacing, body);
}

Bytes BuildPageFromLacing(const PageFields& fields, const Bytes& lacing, const Bytes& body) {
  Bytes h(27 + lacing.size() + body.size(), 0);
  std::memcpy(h.data(), "OggS", 4);
  h[5] = static_cast<uint8_t>((fields.continued ? 1 : 0) | (fields.bos ? 2 : 0) |
                              (fields.eos ? 4 : 0));
  PutLe(h, 6, static_cast<uint64_t>(fields.granule), 8);
  PutLe(h, 14, static_cast<uint32_t>(fields.serial), 4);
  PutLe(h, 18, fields.sequence, 4);
  h[26] = static_cast<uint8_t>(lacing.size());
  std::copy(lacing.begin(), lacing.end(), h.begin() + 27);
  const size_t headerBytes = 27 + lacing.size();
  std::copy(body.begin(), body.end(), h.begin() + static_cast<std::ptrdiff_t>(headerBytes));
  ogg_page og;
  og.header = h.data();
  og.header_len = static_cast<long>(headerBytes);
  og.body = h.data() + headerBytes;
  og.body_len = static_cast<long>(body.size());
  ogg_page_checksum_set(&og);
  return h;
}

// Paths are UTF-8 (u8path: Windows opens the file by its UTF-16 name).
bool WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream f(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream f(std::filesystem::u8path(path), std::ios::binary);
  if (!f) return {};
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace ogmtest
