// Seeking by percent and by frame, the rewinds, and audio re-alignment.
#include <functional>

#include "peer_files.h"
#include "seek_helpers.h"

using ogmtest::Bytes;

namespace {

// The raw audio of RawFile: 16000 bytes a second at 25 frames a second.
constexpr int32_t kAudioBytesPerFrame = 640;

ogmtest::SimpleOgmOptions RawFile() {
  ogmtest::SimpleOgmOptions o;
  o.frames = 750;  // 30 s
  o.gop = 50;
  o.minFrameBytes = 200;
  o.maxFrameBytes = 900;
  o.audio = ogmtest::AudioKind::kRaw;
  return o;
}

// A file with Vorbis from the test encoder (44.1 kHz, one keyframe a
// second), its frame count matching the audio's length.
ogmtest::SimpleOgmOptions VorbisFile(const ogmtest::TempDir& dir, int channels, double seconds,
                                     double quality, const char* signal, int packetsPerPage) {
  ogmtest::SimpleOgmOptions o = RawFile();
  o.frames = static_cast<int>(seconds * 25);
  o.gop = 25;
  o.audio = ogmtest::AudioKind::kVorbis;
  o.vorbisFile = ogmtest::EncodeVorbis(dir.path(), "a.ogg", 44100, channels, seconds, quality,
                                       signal, packetsPerPage);
  return o;
}

class SeekTest : public ReaderTest {
 protected:
  void SetUp() override {
    file_ = ogmtest::MakeSimpleOgm(options_);
    ASSERT_EQ(OpenBytes(file_.bytes), 1);
  }

  // After a seek, raw audio continues at a packet boundary at or after the
  // keyframe's time.
  void ExpectAudioAligned() {
    EXPECT_GE(gReader.audioTime, gReader.videoTime);
    std::vector<uint8_t> buf(64);
    ASSERT_EQ(ReadAudioEntry(buf.data(), 64), 64);
    bool found = false;
    for (const auto& p : file_.audioPackets) {
      if (buf == ogmtest::RawAudio(p.byteOffset, 64)) {
        found = true;
        // At or after the keyframe, by less than one packet.
        const int64_t start = p.startSample * 10000000LL / options_.audioRate;
        EXPECT_GE(start, gReader.videoTime - 10000000 / 25);
        EXPECT_LT(start, gReader.videoTime +
                             options_.audioSamplesPerPacket * 10000000LL / options_.audioRate);
        break;
      }
    }
    EXPECT_TRUE(found) << "audio after the seek does not start a packet";
  }

  ogmtest::SimpleOgmOptions options_ = RawFile();
  ogmtest::SimpleOgm file_;
};

TEST_F(SeekTest, PercentSeeksLandOnKeyframes) {
  for (int p = 10; p <= 90; p += 10) {
    SCOPED_TRACE(p);
    const int32_t remaining = SeekEntry(p, 0);
    EXPECT_EQ(remaining, (750 - info_->currentFrame) * kAudioBytesPerFrame);
    ExpectAudioAligned();
    ExpectKeyframeThenOrder(options_, 60);
  }
}

TEST_F(SeekTest, FrameSeeksLandOnTheFirstKeyframeAtOrAfterTheFrame) {
  // Keyframes every 50 frames, the last at 700 of 750.
  for (int n : {1, 100, 120, 333, 500, 650, 651, 699, 700, 701, 749}) {
    SCOPED_TRACE(n);
    SeekEntry(n, 1);
    EXPECT_EQ(info_->currentFrame, n > 700 ? 700 : (n + 49) / 50 * 50);
    ExpectAudioAligned();
    ExpectKeyframeThenOrder(options_, 30);
  }
}

TEST_F(SeekTest, FirstSeekOffsetIsThePercentOfTheLength) {
  ASSERT_EQ(file_.bytes.size(), 909871u);  // RawFile as the writer makes it
  SeekEntry(50, 0);
  EXPECT_EQ(ogmtest::MemoryInputStats().lastSeekOffset, 454935);  // half, rounded down
}

TEST_F(SeekTest, StartRewindsAndTheEndLandsOnTheLastKeyframe) {
  struct {
    int32_t position, byFrame, frame;
  } cases[] = {{0, 0, 0},     {0, 1, 0},     {-20, 0, 0},    {-3, 1, 0},
               {100, 0, 700}, {750, 1, 700}, {5000, 1, 700}, {250, 0, 700}};
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << c.position << "/" << c.byFrame);
    SeekEntry(40, 0);  // somewhere else first
    const int32_t r = SeekEntry(c.position, c.byFrame);
    EXPECT_EQ(info_->currentFrame, c.frame);
    if (c.frame != 0) {
      ExpectAudioAligned();
      ExpectKeyframeThenOrder(options_, 10);
      continue;
    }
    EXPECT_EQ(r, info_->totalAudioBytes);
    EXPECT_EQ(gReader.pendingVideoBytes, 0);
    EXPECT_EQ(gReader.videoTime, 0);
    EXPECT_EQ(gReader.audioTime, 0);
    EXPECT_EQ(ogmtest::MemoryInputStats().lastSeekOffset, 0);
    ExpectKeyframeThenOrder(options_, 3);
    // The audio starts again from its first byte.
    std::vector<uint8_t> buf(100);
    ASSERT_EQ(ReadAudioEntry(buf.data(), 100), 100);
  }
}

TEST_F(SeekTest, ReSeekAudioCatchesUpWithTheVideo) {
  std::vector<uint8_t> frame(1 << 16);
  for (int i = 0; i < 300; ++i) ASSERT_GT(NextVideoFrameEntry(frame.data()), 0);
  const int32_t remaining = ReSeekAudioEntry();
  EXPECT_GE(gReader.audioTime, gReader.videoTime);
  EXPECT_EQ(remaining, (750 - 299) * kAudioBytesPerFrame);  // from currentFrame 299 on
  // The video goes on where it was.
  ASSERT_GT(NextVideoFrameEntry(frame.data()), 0);
  EXPECT_EQ(info_->currentFrame, 300);
  // Already aligned: nothing more is read.
  const int64_t reads = ogmtest::MemoryInputStats().reads;
  EXPECT_GT(ReSeekAudioEntry(), 0);
  EXPECT_EQ(ogmtest::MemoryInputStats().reads, reads);
}

TEST_F(ReaderTest, SeekWithoutAudioReadsNoAudio) {
  ogmtest::SimpleOgmOptions o = RawFile();
  o.audio = ogmtest::AudioKind::kNone;
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  EXPECT_EQ(SeekEntry(50, 0), 0);
  EXPECT_EQ(gReader.audioTime, -1);
  ExpectKeyframeThenOrder(o, 10);
}

TEST_F(ReaderTest, SeeksPastTheAudiosEndLandAsWithoutAudio) {
  ogmtest::SimpleOgmOptions o = RawFile();
  o.audioSeconds = 5;  // the audio stops long before the video
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  std::vector<uint8_t> buf(64);
  for (const auto& [position, byFrame] : {std::pair{70, 0}, {300, 1}, {500, 1}}) {
    SCOPED_TRACE(position);
    SeekEntry(position, byFrame);
    const int32_t landing = info_->currentFrame;
    EXPECT_GT(landing, 125);
    if (byFrame != 0) {
      EXPECT_EQ(landing, (position + o.gop - 1) / o.gop * o.gop);
    }
    EXPECT_EQ(ReadAudioEntry(buf.data(), 64), 0);
    ExpectKeyframeThenOrder(o, 60);
    EXPECT_EQ(info_->currentFrame, landing + 59);
    EXPECT_EQ(ReSeekAudioEntry(), 0);
  }
}

TEST_F(ReaderTest, PercentSeeksIntoAnAudioTailLandOnTheLastKeyframe) {
  ogmtest::SimpleOgmOptions o = RawFile();
  o.audioSeconds = 60;  // half of the file is audio after the video's end
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  int32_t previous = 0;
  for (int p = 10; p <= 90; p += 10) {
    SCOPED_TRACE(p);
    SeekEntry(p, 0);
    EXPECT_GE(info_->currentFrame, previous);
    previous = info_->currentFrame;
    if (p >= 60) {
      EXPECT_EQ(info_->currentFrame, 700);
    }
    ExpectKeyframeThenOrder(o, 10);
  }
}

TEST_F(ReaderTest, HeldKeyframeLargerThanTheFixedBuffer) {
  ogmtest::SimpleOgmOptions o = RawFile();
  o.audio = ogmtest::AudioKind::kNone;
  o.largeFrames = {400, 450};  // keyframes of more than 48000 bytes
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  SeekEntry(390, 1);
  // 400, or 450 if 400 was not the last frame completed on its page.
  EXPECT_TRUE(info_->currentFrame == 400 || info_->currentFrame == 450) << info_->currentFrame;
  EXPECT_GT(gReader.pendingVideoBytes, kPendingFrameBytes);
  ExpectKeyframeThenOrder(o, 5);
  EXPECT_EQ(gReader.pendingVideoFrame.heap, nullptr);  // returned once handed out
  // Also when a seek ends at the start before the frame was handed out.
  SeekEntry(390, 1);
  ASSERT_NE(gReader.pendingVideoFrame.heap, nullptr);
  SeekEntry(0, 0);
  EXPECT_EQ(gReader.pendingVideoFrame.heap, nullptr);
}

int32_t ReadFramesThenReSeek(int32_t frame, int frames) {
  SeekEntry(frame, 1);
  std::vector<uint8_t> buf(1 << 20);
  for (int i = 0; i < frames; ++i) NextVideoFrameEntry(buf.data());
  return ReSeekAudioEntry();
}

// Rows: a usual stereo stream, and 12 channels of noise at the highest
// quality, whose packets are larger than the reader's fixed copy of one.
TEST_F(ReaderTest, VorbisAfterASeekEqualsAContinuousDecode) {
  struct {
    int channels;
    double quality;
    const char* signal;
  } rows[] = {{2, 0.4, "chirp"}, {12, 1.0, "noise"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.signal);
    ogmtest::TempDir dir;
    ogmtest::SimpleOgmOptions o = VorbisFile(dir, row.channels, 10.0, row.quality, row.signal, 6);
    ASSERT_FALSE(o.vorbisFile.empty());
    o.chapters = {{0, "a"}, {4321, "b"}};
    const Bytes file = ogmtest::MakeSimpleOgm(o).bytes;
    if (row.channels == 12) {
      size_t largest = 0;
      for (const auto& p : ogmtest::ReadPackets(file, 1))
        largest = std::max(largest, p.data.size());
      ASSERT_GT(largest, static_cast<size_t>(kAudioScratchBytes));
    }
    ASSERT_EQ(OpenBytes(file), 1);
    const size_t frameBytes = 2 * static_cast<size_t>(row.channels);
    std::vector<uint8_t> buf(1 << 17);
    Bytes whole;
    for (int32_t n; (n = ReadAudioEntry(buf.data(), 4096 * row.channels)) > 0;)
      whole.insert(whole.end(), buf.begin(), buf.begin() + n);
    const std::function<int32_t()> seeks[] = {
        [] { return SeekEntry(30, 0); }, [] { return SeekEntry(77, 0); },
        [] { return SeekEntry(100, 1); }, [] { return SeekEntry(131, 1); },
        [] { return SeekEntry(249, 1); }, [] { return SeekChapterEntry(1); },
        // The video read on ahead, the audio brought to it: far (packets
        // skipped) and near (within the packet the decoder holds).
        [] { return ReadFramesThenReSeek(50, 60); }, [] { return ReadFramesThenReSeek(150, 1); }};
    for (size_t k = 0; k < std::size(seeks); ++k) {
      SCOPED_TRACE(k);
      seeks[k]();
      // The next sample is the keyframe's (25 fps: 1764 samples a frame);
      // past the last keyframe (seek 4) the audio found may start up to a
      // short block after it...
      const int64_t at = gReader.audioGranule;
      const int64_t key = gReader.info.currentFrame * 1764LL;
      EXPECT_GE(at, key);
      EXPECT_LE(at, key + (k == 4 ? 1024 : 0));
      // ... and what follows equals the continuous decode, bit for bit.
      Bytes got;
      while (got.size() < 20000 * frameBytes) {
        const int32_t n = ReadAudioEntry(buf.data(), 2048 * row.channels);
        if (n <= 0) break;
        got.insert(got.end(), buf.begin(), buf.begin() + n);
      }
      const size_t from = static_cast<size_t>(at) * frameBytes;
      ASSERT_LE(from + got.size(), whole.size());
      ASSERT_GT(got.size(), 2000 * frameBytes);
      EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin() + static_cast<long>(from)));
    }
    CloseEntry();
  }
}

}  // namespace

namespace {

// Where in the continuous decode the audio after a seek truly starts (in
// sample frames), found by its bytes; -1 when nowhere near.
int64_t TrueStart(const Bytes& whole, const Bytes& got, size_t frameBytes, int64_t near,
                  int64_t span) {
  const size_t probe = std::min<size_t>(got.size(), 4096 * frameBytes);
  for (int64_t at = std::max<int64_t>(0, near - span); at <= near + span; ++at) {
    const size_t from = static_cast<size_t>(at) * frameBytes;
    if (from + probe > whole.size()) break;
    if (std::memcmp(whole.data() + from, got.data(), probe) == 0) return at;
  }
  return -1;
}

// Granules as ogmmerge writes them: pages of a few packets, each with the
// granule of the source page (about a second) that holds its last packet.
// Rows: packets per source page, packets per page.
TEST_F(ReaderTest, VorbisWithGranulesAheadResumesWithinLipSync) {
  struct {
    int sourcePage, page;
  } rows[] = {{43, 40}, {41, 37}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.page);
    ogmtest::TempDir dir;
    ogmtest::SimpleOgmOptions o = VorbisFile(dir, 2, 20.0, 0.4, "chirp", row.sourcePage);
    ASSERT_FALSE(o.vorbisFile.empty());
    o.vorbisPacketsPerPage = row.page;
    const Bytes file = ogmtest::MakeSimpleOgm(o).bytes;
    ASSERT_EQ(OpenBytes(file), 1);
    std::vector<uint8_t> buf(1 << 17);
    Bytes whole;
    for (int32_t n; (n = ReadAudioEntry(buf.data(), 8192)) > 0;)
      whole.insert(whole.end(), buf.begin(), buf.begin() + n);
    CloseEntry();
    // A new open: nothing was played, so the count comes from the granules.
    for (int p = 10; p <= 90; p += 10) {
      ASSERT_EQ(OpenBytes(file), 1);
      SeekEntry(p, 0);
      Bytes got;
      while (got.size() < 8192 * 4) {
        const int32_t n = ReadAudioEntry(buf.data(), 8192);
        if (n <= 0) break;
        got.insert(got.end(), buf.begin(), buf.begin() + n);
      }
      const int64_t key = info_->currentFrame * 1764LL;
      const int64_t at = TrueStart(whole, got, 4, key, 44100);
      ASSERT_GE(at, 0) << p << "%";
      EXPECT_GE(at - key, -60 * 441 / 10) << p << "%";
      EXPECT_LE(at - key, 40 * 441 / 10) << p << "%";
      CloseEntry();
    }
  }
}

}  // namespace
