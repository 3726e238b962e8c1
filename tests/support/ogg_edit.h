// Reading Ogg files back (pages and packets, through libogg) and editing
// them: damage for robustness tests, re-paging with replaced packets.
#ifndef OGMDECAPS_TESTS_SUPPORT_OGG_EDIT_H
#define OGMDECAPS_TESTS_SUPPORT_OGG_EDIT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "ogm_writer.h"

namespace ogmtest {

// One page as found in the file.
struct PageInfo {
  size_t offset = 0;  // of "OggS"
  size_t size = 0;    // header + lacing + body
  int32_t serial = 0;
  uint32_t sequence = 0;
  int64_t granule = 0;
  uint8_t flags = 0;  // 1 continued, 2 bos, 4 eos
  int packetsCompleted = 0;
  bool lastPacketOpen = false;
  bool crcOk = true;
};

// Pages laid end to end from the first "OggS" on; stops at the first place
// that is not a whole page (junk, truncation). Does not resync.
std::vector<PageInfo> ListPages(const Bytes& file);

// One packet as libogg hands it out (bad-CRC pages are skipped by libogg).
struct PacketInfo {
  int32_t serial = 0;
  int64_t index = 0;  // packet number within its stream, from 0
  int64_t granule =
      -1;  // libogg's granulepos: the page granule on the last packet completed on a page
  bool bos = false;
  bool eos = false;
  size_t page =
      0;  // index (in file order, among pages libogg accepted) of the page that completed it
  Bytes data;
};
std::vector<PacketInfo> ReadPackets(const Bytes& file);
// The packets of one serial only.
std::vector<PacketInfo> ReadPackets(const Bytes& file, int32_t serial);

// An Ogg Vorbis file split for remuxing: the three header packets, then the
// data packets grouped by the source page that completed them, with that
// page's granule (the sample position at the end of its last packet).
struct VorbisPages {
  int channels = 0;
  int rate = 0;
  std::vector<Bytes> headers;
  struct Page {
    std::vector<Bytes> packets;
    int64_t granule = -1;
  };
  std::vector<Page> pages;
};
// False when the file's first stream is not Vorbis.
bool LoadVorbisOgg(const Bytes& file, VorbisPages* out);

// --- damage ----------------------------------------------------------------
Bytes PrependJunk(const Bytes& file, size_t count, uint8_t seed = 0x5a);
Bytes DropPage(const Bytes& file, size_t pageIndex);
Bytes Truncate(const Bytes& file, size_t size);
// Inserts a page of another logical stream (BOS when bos) before page
// pageIndex (ListPages index; past the end appends).
Bytes InsertForeignPage(const Bytes& file, size_t pageIndex, int32_t serial, bool bos,
                        size_t payloadSize = 100);
// Flips a body byte of the page (its CRC no longer matches).
Bytes CorruptPageCrc(const Bytes& file, size_t pageIndex);
Bytes Overwrite(const Bytes& file, size_t offset, const Bytes& bytes);
Bytes SwapPages(const Bytes& file, size_t a, size_t b);

// --- re-paging ----------------------------------------------------------------
// Reads every packet and writes it out again through libogg. Each source page
// becomes a flush point, the granule of the last packet completed on a
// source page is kept, so the page layout stays the same except that a
// packet spanning pages is written where it completes. Packets can be
// replaced in place by editPacket.
using PacketEdit = std::function<void(int32_t serial, int64_t index, Bytes& packet)>;
Bytes Remux(const Bytes& file, const PacketEdit& editPacket = {});

// Rewrites the comment packet (second packet) of the given serial: its
// vendor and non-chapter comments stay, the chapters replace any CHAPTERxx.
Bytes SetChapters(const Bytes& file, const std::vector<Chapter>& chapters, int32_t serial = 0);

// Parses a comment packet (any type byte); false when it is malformed.
bool ParseCommentPacket(const Bytes& packet, std::string* vendor,
                        std::vector<std::string>* comments);

}  // namespace ogmtest

#endif
