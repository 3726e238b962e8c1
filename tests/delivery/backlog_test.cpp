// A host that reads only one stream: the other stream's pages may not pile
// up without bound.
#include <vector>

#include "reader_fixture.h"

namespace {

TEST_F(ReaderTest, VideoOnlyReadingKeepsTheAudioBacklogBounded) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 25 * 3600;  // one hour
  o.gop = 250;
  o.minFrameBytes = 8;
  o.maxFrameBytes = 24;
  o.audio = ogmtest::AudioKind::kRaw;  // 16000 bytes/s: about 58 MB of audio
  const ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(o);
  ASSERT_GT(f.rawAudioBytes, 50u << 20);
  ASSERT_EQ(OpenBytes(f.bytes), 1);
  std::vector<uint8_t> frame(1 << 16);
  long peak = 0;
  int frames = 0;
  while (NextVideoFrameEntry(frame.data()) >= 0) {
    ++frames;
    peak = std::max(peak, StreamSlotHeldBytes(gReader.demux.slots[1]));
    peak = std::max(peak, gReader.demux.slots[1].streamState.body_storage);
  }
  EXPECT_EQ(frames, o.frames);
  EXPECT_LE(peak, kIdleBacklogLimit + kMaxPageBytes);
  // The audio that was kept is still whole packets of the stream.
  std::vector<uint8_t> buf(1000);
  ASSERT_EQ(ReadAudioEntry(buf.data(), 1000), 1000);
}

TEST_F(ReaderTest, NormalInterleavedPlaybackNeverDropsAudio) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 25 * 600;
  o.minFrameBytes = 8;
  o.maxFrameBytes = 24;
  o.audio = ogmtest::AudioKind::kRaw;
  const ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(o);
  ASSERT_EQ(OpenBytes(f.bytes), 1);
  // Audio a few seconds ahead of the video, as a player buffers it.
  std::vector<uint8_t> frame(1 << 16), buf(4000);
  uint64_t audio = 0;
  bool audioEnded = false;
  while (NextVideoFrameEntry(frame.data()) >= 0) {
    const double videoSeconds = (info_->currentFrame + 1) / 25.0;
    while (!audioEnded && audio < (videoSeconds + 3) * 16000) {
      if (ReadAudioEntry(buf.data(), 4000) != 4000) {
        audioEnded = true;
        break;
      }
      ASSERT_EQ(buf, ogmtest::RawAudio(audio, buf.size())) << audio;
      audio += 4000;
    }
  }
  EXPECT_GE(audio + 4000, f.rawAudioBytes);
}

}  // namespace
