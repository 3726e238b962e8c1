// ogmmerge files (MPEG-4 video with MP3, and with Vorbis) damaged the ways
// files get damaged: cut short, bytes overwritten in header and data pages,
// pages lost or out of order, junk in front. The reader opens each or
// refuses it (0), never crashes or hangs, and delivers every intact frame
// that follows a damaged page, unchanged and in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "memory_input.h"
#include "ogg_edit.h"
#include "peer_files.h"
#include "reader/entries.h"
#include "state/reader_state.h"

namespace {

using ogmtest::Bytes;
using ogmtest::PageInfo;

constexpr double kSeconds = 10;
constexpr int kFps = 25;

struct Peer {
  std::string name;
  Bytes file;
  std::vector<Bytes> frames;  // what the undamaged file delivers
  int64_t audioBytes = 0;
};

struct Delivery {
  int32_t opened = 0;
  std::vector<Bytes> frames;
  int64_t audioBytes = 0;
  double seconds = 0;
};

// Opens bytes through the in-memory source and reads all video, then all
// audio (the audio path is the one that meets the damage second).
Delivery Read(const Bytes& file) {
  const auto start = std::chrono::steady_clock::now();
  Delivery d;
  ogmtest::MemoryInputReset(file);
  void* result = nullptr;
  d.opened = OpenWithInput(ogmtest::MemoryInput(), u"/media/damaged.ogm", 0, &result);
  if (d.opened == 1) {
    std::vector<uint8_t> buf(1 << 20);
    int32_t n;
    while ((n = NextVideoFrameEntry(buf.data())) >= 0)
      d.frames.emplace_back(buf.begin(), buf.begin() + n);
    while ((n = ReadAudioEntry(buf.data(), 4096)) > 0) d.audioBytes += n;
  }
  CloseEntry();
  d.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return d;
}

// How many of got appear in want in order (got must be a subsequence).
bool InOrderSubset(const std::vector<Bytes>& got, const std::vector<Bytes>& want) {
  size_t j = 0;
  for (const Bytes& f : got) {
    while (j < want.size() && want[j] != f) ++j;
    if (j == want.size()) return false;
    ++j;
  }
  return true;
}

// Overwrites bytes of a page and puts a matching CRC on it, so the damage
// reaches the demultiplexer instead of being dropped by the sync layer.
Bytes OverwriteKeepingCrc(const Bytes& file, const PageInfo& page, size_t offset,
                          const Bytes& bytes) {
  Bytes out = ogmtest::Overwrite(file, page.offset + offset, bytes);
  ogg_page og;
  og.header = out.data() + page.offset;
  og.header_len = 27 + out[page.offset + 26];
  og.body = og.header + og.header_len;
  og.body_len = static_cast<long>(page.size) - og.header_len;
  ogg_page_checksum_set(&og);
  return out;
}

// Index of the page of serial whose data lies nearest the middle of the file
// and that completes at least one packet.
size_t MiddlePage(const std::vector<PageInfo>& pages, int32_t serial, size_t fileSize) {
  size_t best = 0;
  size_t bestDistance = SIZE_MAX;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (pages[i].serial != serial || pages[i].packetsCompleted == 0 || (pages[i].flags & 2))
      continue;
    const size_t distance = pages[i].offset > fileSize / 2 ? pages[i].offset - fileSize / 2
                                                           : fileSize / 2 - pages[i].offset;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

class DamagedPeerFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!ogmtest::HaveFfmpeg() || !ogmtest::HaveOgmmerge()) return;
    dir_ = new ogmtest::TempDir("damaged");
    const std::string d = dir_->path();
    const std::string video = ogmtest::MakePeerAvi(d, kSeconds, kFps, kFps);
    const std::string mp3 = ogmtest::MakePeerMp3(d, kSeconds);
    const std::string vorbis = ogmtest::MakePeerVorbisOgg(d, kSeconds);
    for (const auto& [name, audio] :
         {std::pair<std::string, std::string>{"mp3", mp3}, {"vorbis", vorbis}}) {
      if (video.empty() || audio.empty()) continue;
      const std::string ogm = ogmtest::MakePeerOgm(d, name + ".ogm", {video, audio});
      if (ogm.empty()) continue;
      Peer p;
      p.name = name;
      p.file = ogmtest::ReadBytes(ogm);
      const Delivery whole = Read(p.file);
      if (whole.opened != 1) continue;
      p.frames = whole.frames;
      p.audioBytes = whole.audioBytes;
      peers_.push_back(p);
    }
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    if (!ogmtest::HaveFfmpeg() || !ogmtest::HaveOgmmerge())
      GTEST_SKIP() << "needs ffmpeg and ogmmerge";
    ASSERT_EQ(peers_.size(), 2u) << "the peer files could not be made or read";
  }

  static ogmtest::TempDir* dir_;
  static std::vector<Peer> peers_;
};
ogmtest::TempDir* DamagedPeerFiles::dir_ = nullptr;
std::vector<Peer> DamagedPeerFiles::peers_;

// What a damage case may lead to.
enum class Expect {
  kRefused,       // open must return 0
  kOpenOrRefuse,  // either, cleanly
  kPrefix,        // opens; the frames are the first ones of the file
  kLosesPages,    // opens; loses at most the frames of the damaged pages, + 1 each
  kReordered,     // as kLosesPages, but the frames come in file order, not time order
  kAllVideo,      // opens; every frame, and at most the damaged page's audio is lost
};

struct Damage {
  std::string name;
  Expect expect;
  // Makes the damaged file; sets *lost to the frames the damage may cost
  // (kPrefix: the frames that must still come).
  std::function<Bytes(const Peer&, const std::vector<PageInfo>&, size_t* lost)> make;
};

// Frames completed on pages that end at or before offset.
size_t FramesBefore(const std::vector<PageInfo>& pages, size_t offset) {
  size_t n = 0;
  for (const PageInfo& p : pages)
    if (p.serial == 0 && p.offset + p.size <= offset && !(p.flags & 2)) n += p.packetsCompleted;
  return n;
}

std::vector<Damage> Damages() {
  std::vector<Damage> list;
  auto cut = [](double share) {
    return [share](const Peer& p, const std::vector<PageInfo>& pages, size_t* keep) {
      const size_t at = static_cast<size_t>(p.file.size() * share);
      // The comment packet is counted but is no frame; one frame more may
      // be lost where the cut falls.
      const size_t before = FramesBefore(pages, at);
      *keep = before > 2 ? before - 2 : 0;
      return ogmtest::Truncate(p.file, at);
    };
  };
  list.push_back({"cut inside the first page", Expect::kRefused,
                  [](const Peer& p, const std::vector<PageInfo>&, size_t*) {
                    return ogmtest::Truncate(p.file, 40);
                  }});
  list.push_back({"cut after the first pages", Expect::kOpenOrRefuse,
                  [](const Peer& p, const std::vector<PageInfo>& pages, size_t*) {
                    return ogmtest::Truncate(p.file, pages[3].offset + pages[3].size / 2);
                  }});
  for (const auto& [name, share] :
       {std::pair<const char*, double>{"10%", 0.1}, {"50%", 0.5}, {"90%", 0.9}, {"99.9%", 0.999}})
    list.push_back({std::string("cut at ") + name, Expect::kPrefix, cut(share)});
  list.push_back({"video header bytes overwritten", Expect::kRefused,
                  [](const Peer& p, const std::vector<PageInfo>& pages, size_t*) {
                    return ogmtest::Overwrite(p.file, pages[0].offset + 30, Bytes(8, 0xFF));
                  }});
  list.push_back({"video header fields overwritten, CRC kept", Expect::kOpenOrRefuse,
                  [](const Peer& p, const std::vector<PageInfo>& pages, size_t*) {
                    // Time unit, samples per unit and default length.
                    return OverwriteKeepingCrc(p.file, pages[0], 28 + 17, Bytes(20, 0xFF));
                  }});
  list.push_back({"audio header bytes overwritten", Expect::kOpenOrRefuse,
                  [](const Peer& p, const std::vector<PageInfo>& pages, size_t*) {
                    return ogmtest::Overwrite(p.file, pages[1].offset + 30, Bytes(8, 0xFF));
                  }});
  list.push_back({"comment pages overwritten", Expect::kOpenOrRefuse,
                  [](const Peer& p, const std::vector<PageInfo>& pages, size_t*) {
                    Bytes out = p.file;
                    for (size_t i = 2; i < 4 && i < pages.size(); ++i)
                      out = ogmtest::Overwrite(out, pages[i].offset + 28, Bytes(12, 0x00));
                    return out;
                  }});
  list.push_back({"comment packet garbled, CRC kept", Expect::kOpenOrRefuse,
                  [](const Peer& p, const std::vector<PageInfo>& pages, size_t*) {
                    for (size_t i = 2; i < pages.size(); ++i)
                      if (pages[i].serial == 0)
                        return OverwriteKeepingCrc(p.file, pages[i], 28 + 8, Bytes(8, 0xEE));
                    return p.file;
                  }});
  list.push_back({"video data page CRC broken", Expect::kLosesPages,
                  [](const Peer& p, const std::vector<PageInfo>& pages, size_t* lost) {
                    const size_t i = MiddlePage(pages, 0, p.file.size());
                    *lost = pages[i].packetsCompleted + 1;
                    return ogmtest::CorruptPageCrc(p.file, i);
                  }});
  list.push_back({"video data bytes overwritten, CRC kept", Expect::kLosesPages,
                  [](const Peer& p, const std::vector<PageInfo>& pages, size_t* lost) {
                    const size_t i = MiddlePage(pages, 0, p.file.size());
                    *lost = pages[i].packetsCompleted + 1;
                    // Lacing values and the start of the body.
                    const size_t at = 27 + std::min<size_t>(3, p.file[pages[i].offset + 26]);
                    return OverwriteKeepingCrc(p.file, pages[i], at, Bytes(24, 0xC3));
                  }});
  list.push_back({"video data page dropped", Expect::kLosesPages,
                  [](const Peer& p, const std::vector<PageInfo>& pages, size_t* lost) {
                    const size_t i = MiddlePage(pages, 0, p.file.size());
                    *lost = pages[i].packetsCompleted + 1;
                    return ogmtest::DropPage(p.file, i);
                  }});
  list.push_back({"two video pages swapped", Expect::kReordered,
                  [](const Peer& p, const std::vector<PageInfo>& pages, size_t* lost) {
                    const size_t i = MiddlePage(pages, 0, p.file.size());
                    size_t j = i + 1;
                    while (j < pages.size() && pages[j].serial != 0) ++j;
                    *lost = pages[i].packetsCompleted + pages[j].packetsCompleted + 2;
                    return ogmtest::SwapPages(p.file, i, j);
                  }});
  // The audio a damaged audio page may cost: its own span, and a request.
  auto audioSpan = [](const Peer& p, const std::vector<PageInfo>& pages, size_t i) -> size_t {
    if (p.name != "vorbis") return pages[i].size + 4096;
    int64_t previous = 0;
    for (size_t j = 0; j < i; ++j)
      if (pages[j].serial == 1 && pages[j].granule > 0) previous = pages[j].granule;
    return static_cast<size_t>(pages[i].granule - previous) * 4 + 16384;  // 16-bit stereo
  };
  list.push_back({"audio data page CRC broken", Expect::kAllVideo,
                  [audioSpan](const Peer& p, const std::vector<PageInfo>& pages, size_t* lost) {
                    const size_t i = MiddlePage(pages, 1, p.file.size());
                    *lost = audioSpan(p, pages, i);
                    return ogmtest::CorruptPageCrc(p.file, i);
                  }});
  list.push_back({"audio data bytes overwritten, CRC kept", Expect::kAllVideo,
                  [audioSpan](const Peer& p, const std::vector<PageInfo>& pages, size_t* lost) {
                    const size_t i = MiddlePage(pages, 1, p.file.size());
                    *lost = audioSpan(p, pages, i);
                    return OverwriteKeepingCrc(p.file, pages[i], 27 + pages[i].size / 3,
                                               Bytes(64, 0x5A));
                  }});
  for (size_t junk : {1000u, 70000u})
    list.push_back({std::to_string(junk) + " junk bytes in front", Expect::kOpenOrRefuse,
                    [junk](const Peer& p, const std::vector<PageInfo>&, size_t*) {
                      return ogmtest::PrependJunk(p.file, junk);
                    }});
  return list;
}

TEST_F(DamagedPeerFiles, OpenOrRefuseCleanlyAndKeepEveryIntactFrame) {
  std::string table = "| file | damage | open | frames | audio bytes |\n|---|---|---|---|---|\n";
  for (const Peer& peer : peers_) {
    const std::vector<PageInfo> pages = ogmtest::ListPages(peer.file);
    ASSERT_GT(pages.size(), 10u);
    const size_t total = peer.frames.size();
    for (const Damage& damage : Damages()) {
      SCOPED_TRACE(peer.name + ": " + damage.name);
      size_t bound = 0;
      const Delivery d = Read(damage.make(peer, pages, &bound));
      EXPECT_LT(d.seconds, 30.0);
      EXPECT_TRUE(d.opened == 0 || d.opened == 1);
      if (damage.expect == Expect::kReordered) {
        for (const Bytes& f : d.frames)
          EXPECT_NE(std::find(peer.frames.begin(), peer.frames.end(), f), peer.frames.end())
              << "a changed frame";
      } else {
        EXPECT_TRUE(InOrderSubset(d.frames, peer.frames))
            << "a frame came out changed or out of order";
      }
      switch (damage.expect) {
        case Expect::kRefused:
          EXPECT_EQ(d.opened, 0);
          break;
        case Expect::kOpenOrRefuse:
          break;
        case Expect::kPrefix:
          ASSERT_EQ(d.opened, 1);
          EXPECT_GE(d.frames.size(), bound);
          EXPECT_LE(d.frames.size(), total);
          for (size_t i = 0; i < d.frames.size() && i < total; ++i)
            ASSERT_EQ(d.frames[i], peer.frames[i]) << "frame " << i;
          break;
        case Expect::kLosesPages:
        case Expect::kReordered:
          ASSERT_EQ(d.opened, 1);
          EXPECT_GE(d.frames.size() + bound, total);
          break;
        case Expect::kAllVideo:
          ASSERT_EQ(d.opened, 1);
          EXPECT_EQ(d.frames.size(), total);
          EXPECT_LE(d.audioBytes, peer.audioBytes);
          EXPECT_GE(d.audioBytes + static_cast<int64_t>(bound), peer.audioBytes);
          break;
      }
      char line[256];
      std::snprintf(line, sizeof line, "| %s | %s | %d | %zu/%zu | %lld/%lld |\n",
                    peer.name.c_str(), damage.name.c_str(), d.opened, d.frames.size(), total,
                    static_cast<long long>(d.audioBytes), static_cast<long long>(peer.audioBytes));
      table += line;
    }
  }
  std::printf("%s", table.c_str());
}

}  // namespace
