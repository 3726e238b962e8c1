// ogm_fuzz_seeds OUT FILE.ogm...: turns OGM files into the four seed
// corpora (OUT/reader, OUT/seek, OUT/stream_header, OUT/take_frame), adding
// damaged copies of each file for the reader-level targets. Nothing made
// here is kept in the tree; scripts/fuzz and the replay tests run it.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ogg_edit.h"
#include "page_script.h"

using ogmtest::Bytes;

namespace {

std::string gOut;
int gWritten = 0;

void Put(const std::string& corpus, const std::string& name, const Bytes& bytes) {
  if (ogmtest::WriteBytes(gOut + "/" + corpus + "/" + name, bytes)) ++gWritten;
}

Bytes With(Bytes file, std::initializer_list<uint8_t> tail) {
  file.insert(file.end(), tail);
  return file;
}

// Seek commands: percent, reads, frame, chapter, re-seek, out-of-range
// targets of each kind, progress.
const std::vector<uint8_t> kCommands = {0, 78, 4, 3, 5, 3,   1,   63,  4, 1, 5,   1,  2, 3, 4,
                                        0, 3,  0, 7, 0, 0,   255, 4,   0, 1, 255, 4,  0, 1, 252,
                                        4, 0,  2, 0, 2, 250, 1,   254, 6, 0, 0,   28, 4, 15};

void ReaderSeeds(const std::string& name, const Bytes& file) {
  Put("reader", name + "-plain", With(file, {0x00, 0x00}));
  Put("reader", name + "-audio-first-url", With(file, {0x00, 0x05 | 0x40}));
  Put("reader", name + "-interleaved-short", With(file, {0x5a, 0x0a | 0xa0}));
  Bytes seek = file;
  seek.insert(seek.end(), kCommands.begin(), kCommands.end());
  Put("seek", name + "-file", With(seek, {0x00, static_cast<uint8_t>(kCommands.size())}));
  Put("seek", name + "-url-short", With(seek, {0x83, static_cast<uint8_t>(kCommands.size())}));
}

void PacketSeeds(const std::string& name, const Bytes& file) {
  for (const ogmtest::PacketInfo& p : ogmtest::ReadPackets(file)) {
    // The stream headers, the comment packets and one data packet.
    if (p.index <= 2)
      Put("stream_header", name + "-s" + std::to_string(p.serial) + "-p" + std::to_string(p.index),
          p.data);
  }
}

// The pages of serial 0 and 1 as page records, from the first header on.
void PageSeeds(const std::string& name, const Bytes& file) {
  const std::vector<ogmtest::PageInfo> pages = ogmtest::ListPages(file);
  for (int32_t serial = 0; serial < 2; ++serial) {
    Bytes out;
    fuzz::PutLe(out, serial == 0 ? 400000 : 10000000, 8);
    fuzz::PutLe(out, serial == 0 ? 1 : 44100, 8);
    fuzz::PutLe(out, 1, 4);
    int count = 0;
    for (const ogmtest::PageInfo& p : pages) {
      if (p.serial != serial || count == 24) continue;
      ++count;
      const uint8_t* page = file.data() + p.offset;
      out.push_back(page[5] & 7);
      out.insert(out.end(), page + 6, page + 14);
      out.insert(out.end(), page + 26, page + p.size);
    }
    if (count > 0) Put("take_frame", name + "-s" + std::to_string(serial), out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ogm_fuzz_seeds OUT FILE.ogm...\n");
    return 2;
  }
  gOut = argv[1];
  for (const char* corpus : {"reader", "seek", "stream_header", "take_frame"})
    std::filesystem::create_directories(gOut + "/" + corpus);
  for (int i = 2; i < argc; ++i) {
    const Bytes file = ogmtest::ReadBytes(argv[i]);
    if (file.empty()) {
      std::fprintf(stderr, "ogm_fuzz_seeds: cannot read %s\n", argv[i]);
      return 1;
    }
    const std::string name = std::filesystem::path(argv[i]).stem();
    ReaderSeeds(name, file);
    PacketSeeds(name, file);
    PageSeeds(name, file);
    // Damaged copies: the reader-level targets start from these too.
    const size_t pages = ogmtest::ListPages(file).size();
    if (pages > 6) {
      ReaderSeeds(name + "-crc", ogmtest::CorruptPageCrc(file, pages / 2));
      ReaderSeeds(name + "-drop", ogmtest::DropPage(file, 3));
      ReaderSeeds(name + "-swap", ogmtest::SwapPages(file, 2, 4));
    }
    ReaderSeeds(name + "-cut", ogmtest::Truncate(file, file.size() * 3 / 5));
    ReaderSeeds(name + "-junk", ogmtest::PrependJunk(file, 700));
  }
  std::printf("ogm_fuzz_seeds: %d seeds in %s\n", gWritten, gOut.c_str());
  return gWritten > 0 ? 0 : 1;
}
