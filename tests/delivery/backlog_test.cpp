// Hosts that read one stream far ahead of the other, or only one: the other
// stream's backlog stays bounded, and nothing it held back is lost, since
// its pages are read again from the source when its reader asks.
#include <algorithm>
#include <vector>

#include "reader_fixture.h"

namespace {

enum class Order { kVideoThenAudio, kAudioThenVideo, kAudioAhead };

struct Row {
  const char* name;
  Order order;
  int frames;
  size_t maxFrameBytes;
  bool noSeeks;  // an input that refuses to go back: every page is kept
};

class Backlog : public ReaderTest, public ::testing::WithParamInterface<Row> {
 protected:
  // Reads every frame, checking each against the file, and tracks the
  // largest backlog either slot held.
  void ReadVideo(const ogmtest::SimpleOgmOptions& o, int from, int to) {
    std::vector<uint8_t> frame(1 << 16);
    for (int i = from; i < to; ++i) {
      const int32_t n = NextVideoFrameEntry(frame.data());
      ASSERT_GE(n, 0) << "frame " << i;
      ASSERT_EQ(ogmtest::Bytes(frame.begin(), frame.begin() + n), ogmtest::FramePayload(o, i))
          << "frame " << i;
      NotePeak();
    }
  }
  void ReadAudio(uint64_t upTo) {
    std::vector<uint8_t> buf(4000);
    while (audio_ < upTo) {
      const int32_t n = ReadAudioEntry(buf.data(), static_cast<int32_t>(buf.size()));
      if (n <= 0) return;
      ASSERT_EQ(ogmtest::Bytes(buf.begin(), buf.begin() + n), ogmtest::RawAudio(audio_, n))
          << "audio byte " << audio_;
      audio_ += static_cast<uint64_t>(n);
      NotePeak();
    }
  }
  void NotePeak() {
    for (int i = 0; i < kSlotCount; ++i)
      peak_[i] = std::max(peak_[i], gReader.demux.slots[i].streamState.body_storage);
  }

  uint64_t audio_ = 0;
  long peak_[kSlotCount] = {};
};

TEST_P(Backlog, EveryFrameAndEveryAudioByteInAnyReadOrder) {
  const Row& row = GetParam();
  ogmtest::SimpleOgmOptions o;
  o.frames = row.frames;
  o.gop = 250;
  o.minFrameBytes = 8;
  o.maxFrameBytes = row.maxFrameBytes;
  o.audio = ogmtest::AudioKind::kRaw;  // 16000 bytes/s
  const ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(o);
  ogmtest::MemoryInputConfig config;
  config.seekable = !row.noSeeks;
  ASSERT_EQ(OpenBytes(f.bytes, config), 1);
  switch (row.order) {
    case Order::kVideoThenAudio:
      ReadVideo(o, 0, o.frames);
      ReadAudio(f.rawAudioBytes);
      break;
    case Order::kAudioThenVideo:
      ReadAudio(f.rawAudioBytes);
      ReadVideo(o, 0, o.frames);
      break;
    case Order::kAudioAhead:
      // A minute of audio ahead of the video, in steps.
      for (int i = 0; i < o.frames; i += 250) {
        ReadAudio(static_cast<uint64_t>((i / 25 + 60) * 16000));
        ReadVideo(o, i, std::min(i + 250, o.frames));
      }
      ReadAudio(f.rawAudioBytes);
      break;
  }
  std::vector<uint8_t> frame(1 << 16);
  EXPECT_LT(NextVideoFrameEntry(frame.data()), 0);
  EXPECT_EQ(audio_, f.rawAudioBytes);
  if (!row.noSeeks) {
    // A page more than the bound, plus libogg's rounding of its buffer.
    for (int i = 0; i < kSlotCount; ++i)
      EXPECT_LE(peak_[i], kBacklogBound[i] + 2 * kMaxPageBytes) << "slot " << i;
  }
}

// Frames of 8..24 bytes: the audio is most of the file; of 8..8000 bytes:
// the video is, so it reaches its bound too.
INSTANTIATE_TEST_SUITE_P(
    Orders, Backlog,
    ::testing::Values(Row{"VideoThenAudio", Order::kVideoThenAudio, 25 * 600, 24, false},
                      Row{"AudioThenVideo", Order::kAudioThenVideo, 25 * 120, 8000, false},
                      Row{"AudioAMinuteAhead", Order::kAudioAhead, 25 * 300, 8000, false},
                      Row{"VideoThenAudioFromAnInputThatCannotGoBack", Order::kVideoThenAudio,
                          25 * 120, 24, true}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
