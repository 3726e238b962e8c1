#include "ogg_edit.h"

#include <ogg/ogg.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace ogmtest {

namespace {

// Checks the page at offset: whole, with a CRC computed over it.
bool PageAt(const Bytes& f, size_t off, PageInfo* info) {
  if (off + 27 > f.size() || std::memcmp(&f[off], "OggS", 4) != 0) return false;
  const size_t nseg = f[off + 26];
  if (off + 27 + nseg > f.size()) return false;
  size_t body = 0;
  for (size_t i = 0; i < nseg; ++i) body += f[off + 27 + i];
  const size_t size = 27 + nseg + body;
  if (off + size > f.size()) return false;
  info->offset = off;
  info->size = size;
  info->flags = f[off + 5];
  info->granule = static_cast<int64_t>(GetLe(f, off + 6, 8));
  info->serial = static_cast<int32_t>(GetLe(f, off + 14, 4));
  info->sequence = static_cast<uint32_t>(GetLe(f, off + 18, 4));
  info->packetsCompleted = 0;
  for (size_t i = 0; i < nseg; ++i)
    if (f[off + 27 + i] < 255) ++info->packetsCompleted;
  info->lastPacketOpen = nseg > 0 && f[off + 27 + nseg - 1] == 255;
  Bytes copy(f.begin() + off, f.begin() + off + size);
  ogg_page og;
  og.header = copy.data();
  og.header_len = static_cast<long>(27 + nseg);
  og.body = copy.data() + 27 + nseg;
  og.body_len = static_cast<long>(body);
  ogg_page_checksum_set(&og);
  info->crcOk = std::memcmp(copy.data() + 22, &f[off + 22], 4) == 0;
  return true;
}

size_t FirstCapture(const Bytes& f) {
  for (size_t i = 0; i + 4 <= f.size(); ++i)
    if (std::memcmp(&f[i], "OggS", 4) == 0) return i;
  return f.size();
}

// All packets through libogg, in the order their pages come.
template <typename Fn>
void ForEachPage(const Bytes& file, Fn&& onPage) {
  ogg_sync_state oy;
  ogg_sync_init(&oy);
  const size_t chunk = 65536;
  size_t pos = 0;
  ogg_page og;
  for (;;) {
    const int r = ogg_sync_pageout(&oy, &og);
    if (r == 1) {
      onPage(og);
      continue;
    }
    if (r < 0) continue;  // skipped bytes (junk, bad CRC)
    if (pos >= file.size()) break;
    const size_t n = std::min(chunk, file.size() - pos);
    char* buf = ogg_sync_buffer(&oy, static_cast<long>(n));
    std::memcpy(buf, &file[pos], n);
    ogg_sync_wrote(&oy, static_cast<long>(n));
    pos += n;
  }
  ogg_sync_clear(&oy);
}

struct StreamReader {
  explicit StreamReader(int serial) { ogg_stream_init(&os, serial); }
  ~StreamReader() { ogg_stream_clear(&os); }
  ogg_stream_state os;
  int64_t count = 0;
};

}  // namespace

std::vector<PageInfo> ListPages(const Bytes& file) {
  std::vector<PageInfo> pages;
  size_t off = FirstCapture(file);
  PageInfo info;
  while (PageAt(file, off, &info)) {
    pages.push_back(info);
    off += info.size;
  }
  return pages;
}

std::vector<PacketInfo> ReadPackets(const Bytes& file) {
  std::vector<PacketInfo> out;
  std::map<int32_t, std::unique_ptr<StreamReader>> streams;
  size_t pageIndex = 0;
  ForEachPage(file, [&](ogg_page& og) {
    const int32_t serial = ogg_page_serialno(&og);
    auto& s = streams[serial];
    if (!s) s = std::make_unique<StreamReader>(serial);
    ogg_stream_pagein(&s->os, &og);
    ogg_packet op;
    int r;
    while ((r = ogg_stream_packetout(&s->os, &op)) != 0) {
      if (r < 0) continue;  // gap in the stream
      PacketInfo p;
      p.serial = serial;
      p.index = s->count++;
      p.granule = op.granulepos;
      p.bos = op.b_o_s != 0;
      p.eos = op.e_o_s != 0;
      p.page = pageIndex;
      p.data.assign(op.packet, op.packet + op.bytes);
      out.push_back(std::move(p));
    }
    ++pageIndex;
  });
  return out;
}

std::vector<PacketInfo> ReadPackets(const Bytes& file, int32_t serial) {
  auto all = ReadPackets(file);
  std::vector<PacketInfo> out;
  for (auto& p : all)
    if (p.serial == serial) out.push_back(std::move(p));
  return out;
}

bool LoadVorbisOgg(const Bytes& file, VorbisPages* out) {
  const auto pages = ListPages(file);
  if (pages.empty()) return false;
  const auto packets = ReadPackets(file, pages[0].serial);
  if (packets.size() < 3) return false;
  for (int i = 0; i < 3; ++i) {
    const Bytes& p = packets[i].data;
    if (p.size() < 7 || p[0] != 2 * i + 1 || std::memcmp(&p[1], "vorbis", 6) != 0) return false;
  }
  const Bytes& id = packets[0].data;
  if (id.size() < 16) return false;
  *out = VorbisPages{};
  out->channels = id[11];
  out->rate = static_cast<int>(GetLe(id, 12, 4));
  for (int i = 0; i < 3; ++i) out->headers.push_back(packets[i].data);
  for (size_t i = 3; i < packets.size(); ++i) {
    if (out->pages.empty() || packets[i].page != packets[i - 1].page || i == 3)
      out->pages.push_back({});
    out->pages.back().packets.push_back(packets[i].data);
    out->pages.back().granule = packets[i].granule;
  }
  return true;
}

Bytes PrependJunk(const Bytes& file, size_t count, uint8_t seed) {
  Bytes out;
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < count; ++i) {
    x = x * 1103515245u + 12345u;
    uint8_t c = static_cast<uint8_t>(x >> 16);
    if (c == 'O') c = 'o';  // never start a capture pattern by accident
    out.push_back(c);
  }
  out.insert(out.end(), file.begin(), file.end());
  return out;
}

Bytes DropPage(const Bytes& file, size_t pageIndex) {
  const auto pages = ListPages(file);
  const PageInfo& p = pages.at(pageIndex);
  Bytes out(file.begin(), file.begin() + p.offset);
  out.insert(out.end(), file.begin() + p.offset + p.size, file.end());
  return out;
}

Bytes Truncate(const Bytes& file, size_t size) {
  return Bytes(file.begin(), file.begin() + std::min(size, file.size()));
}

Bytes InsertForeignPage(const Bytes& file, size_t pageIndex, int32_t serial, bool bos,
                        size_t payloadSize) {
  const auto pages = ListPages(file);
  const size_t offset = pageIndex < pages.size() ? pages[pageIndex].offset
                        : pages.empty()          ? file.size()
                                                 : pages.back().offset + pages.back().size;
  PageFields fields;
  fields.serial = serial;
  fields.bos = bos;
  fields.granule = bos ? 0 : 1;
  Bytes payload(payloadSize);
  for (size_t i = 0; i < payloadSize; ++i) payload[i] = static_cast<uint8_t>(i * 13 + serial);
  if (bos && payloadSize >= 7)
    std::memcpy(payload.data(),
                "\x01"
                "foreign",
                7);
  fields.packets.push_back(payload);
  const Bytes page = BuildPage(fields);
  Bytes out(file);
  out.insert(out.begin() + std::min(offset, out.size()), page.begin(), page.end());
  return out;
}

Bytes CorruptPageCrc(const Bytes& file, size_t pageIndex) {
  const auto pages = ListPages(file);
  const PageInfo& p = pages.at(pageIndex);
  Bytes out(file);
  const size_t header = 27 + file[p.offset + 26];
  // A body byte when there is one, else a CRC byte.
  const size_t at = p.size > header ? p.offset + header + (p.size - header) / 2 : p.offset + 22;
  out[at] ^= 0xA5;
  return out;
}

Bytes Overwrite(const Bytes& file, size_t offset, const Bytes& bytes) {
  Bytes out(file);
  if (out.size() < offset + bytes.size()) out.resize(offset + bytes.size(), 0);
  std::memcpy(&out[offset], bytes.data(), bytes.size());
  return out;
}

Bytes SwapPages(const Bytes& file, size_t a, size_t b) {
  if (a == b) return file;
  if (a > b) std::swap(a, b);
  const auto pages = ListPages(file);
  const PageInfo& pa = pages.at(a);
  const PageInfo& pb = pages.at(b);
  Bytes out(file.begin(), file.begin() + pa.offset);
  out.insert(out.end(), file.begin() + pb.offset, file.begin() + pb.offset + pb.size);
  out.insert(out.end(), file.begin() + pa.offset + pa.size, file.begin() + pb.offset);
  out.insert(out.end(), file.begin() + pa.offset, file.begin() + pa.offset + pa.size);
  out.insert(out.end(), file.begin() + pb.offset + pb.size, file.end());
  return out;
}

Bytes Remux(const Bytes& file, const PacketEdit& editPacket) {
  struct Out {
    Out(int32_t serial) { ogg_stream_init(&os, serial); }
    ~Out() { ogg_stream_clear(&os); }
    ogg_stream_state os;
  };
  std::map<int32_t, std::unique_ptr<StreamReader>> in;
  std::map<int32_t, std::unique_ptr<Out>> outs;
  Bytes result;
  auto emit = [&result](ogg_stream_state& os) {
    ogg_page og;
    while (ogg_stream_flush(&os, &og)) {
      result.insert(result.end(), og.header, og.header + og.header_len);
      result.insert(result.end(), og.body, og.body + og.body_len);
    }
  };
  ForEachPage(file, [&](ogg_page& og) {
    const int32_t serial = ogg_page_serialno(&og);
    auto& s = in[serial];
    if (!s) s = std::make_unique<StreamReader>(serial);
    auto& o = outs[serial];
    if (!o) o = std::make_unique<Out>(serial);
    ogg_stream_pagein(&s->os, &og);
    ogg_packet op;
    int r;
    while ((r = ogg_stream_packetout(&s->os, &op)) != 0) {
      if (r < 0) continue;
      Bytes data(op.packet, op.packet + op.bytes);
      if (editPacket) editPacket(serial, s->count, data);
      ++s->count;
      static const unsigned char kEmpty = 0;
      op.packet = data.empty() ? const_cast<unsigned char*>(&kEmpty) : data.data();
      op.bytes = static_cast<long>(data.size());
      if (ogg_stream_packetin(&o->os, &op) != 0)
        throw std::runtime_error("ogg_stream_packetin failed");
    }
    emit(o->os);
  });
  for (auto& [serial, o] : outs) emit(o->os);
  return result;
}

bool ParseCommentPacket(const Bytes& p, std::string* vendor, std::vector<std::string>* comments) {
  if (p.size() < 7 + 4 + 4 + 1 || std::memcmp(&p[1], "vorbis", 6) != 0) return false;
  size_t pos = 7;
  auto str = [&p, &pos](std::string* s) {
    if (pos + 4 > p.size()) return false;
    const uint64_t n = GetLe(p, pos, 4);
    pos += 4;
    if (n > p.size() - pos) return false;
    s->assign(p.begin() + pos, p.begin() + pos + n);
    pos += n;
    return true;
  };
  if (!str(vendor)) return false;
  if (pos + 4 > p.size()) return false;
  const uint64_t count = GetLe(p, pos, 4);
  pos += 4;
  comments->clear();
  for (uint64_t i = 0; i < count; ++i) {
    std::string c;
    if (!str(&c)) return false;
    comments->push_back(c);
  }
  return pos < p.size() && (p[pos] & 1);
}

Bytes SetChapters(const Bytes& file, const std::vector<Chapter>& chapters, int32_t serial) {
  return Remux(file, [&](int32_t s, int64_t index, Bytes& packet) {
    if (s != serial || index != 1) return;
    std::string vendor;
    std::vector<std::string> comments;
    if (!ParseCommentPacket(packet, &vendor, &comments)) vendor = "ogmdecaps tests";
    std::vector<std::string> kept;
    for (const auto& c : comments)
      if (c.compare(0, 7, "CHAPTER") != 0) kept.push_back(c);
    for (const auto& c : ChapterComments(chapters)) kept.push_back(c);
    packet = CommentPacket(vendor, kept, packet.empty() ? 0x03 : packet[0]);
  });
}

}  // namespace ogmtest
