// A video thread, an audio thread and a third thread at once: the readers'
// output equals sequential reading, and seeks from the third thread leave
// the readers working. Run under ThreadSanitizer as well.
#include <atomic>
#include <thread>
#include <vector>

#include "reader_fixture.h"

using ogmtest::Bytes;

namespace {

ogmtest::SimpleOgmOptions Options() {
  ogmtest::SimpleOgmOptions o;
  o.frames = 300;
  o.gop = 25;
  o.audio = ogmtest::AudioKind::kRaw;
  return o;
}

TEST_F(ReaderTest, ConcurrentReadersSeeWhatSequentialReadingSees) {
  const ogmtest::SimpleOgmOptions o = Options();
  const ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(o);
  ogmtest::MemoryInputConfig config;
  config.maxBytesPerRead = 1000;  // more page intakes, more interleaving
  ASSERT_EQ(OpenBytes(f.bytes, config), 1);

  std::vector<Bytes> frames;
  Bytes audio;
  std::atomic<bool> readersDone{false};
  std::thread video([&] {
    std::vector<uint8_t> buf(1 << 16);
    int32_t n;
    while ((n = NextVideoFrameEntry(buf.data())) >= 0)
      frames.emplace_back(buf.begin(), buf.begin() + n);
  });
  std::thread sound([&] {
    std::vector<uint8_t> buf(1000);
    while (ReadAudioEntry(buf.data(), 1000) == 1000)
      audio.insert(audio.end(), buf.begin(), buf.end());
  });
  std::thread watcher([&] {
    // What a player's UI thread does meanwhile.
    while (!readersDone) {
      CloseIfStalledEntry();
      const double p = GetProgressEntry();
      EXPECT_GE(p, 0.0);
      EXPECT_LE(p, 100.0);
      EXPECT_EQ(FrameRateEntry(), 25.0);
    }
  });
  video.join();
  sound.join();
  readersDone = true;
  watcher.join();

  ASSERT_EQ(frames.size(), static_cast<size_t>(o.frames));
  for (int i = 0; i < o.frames; ++i) ASSERT_EQ(frames[i], ogmtest::FramePayload(o, i)) << i;
  EXPECT_EQ(audio, ogmtest::RawAudio(0, audio.size()));
  EXPECT_LT(f.rawAudioBytes - audio.size(), 1000u);
}

TEST_F(ReaderTest, SeeksFromAThirdThreadWhileBothRead) {
  const ogmtest::SimpleOgmOptions o = Options();
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  std::atomic<bool> stop{false};
  std::atomic<int> badFrames{0}, outOfOrder{0}, wrongNumber{0};
  std::atomic<int> videoCalls{0};
  std::atomic<int> seeksStarted{0}, seeksDone{0};
  std::thread video([&] {
    std::vector<uint8_t> buf(1 << 16);
    int previous = -1;
    while (!stop) {
      const int before = seeksStarted, doneBefore = seeksDone;
      const int32_t n = NextVideoFrameEntry(buf.data());
      const int32_t current = GetCurrentFrame(gReader.info);
      const bool quiet = seeksDone == doneBefore && seeksStarted == before && before == doneBefore;
      ++videoCalls;
      if (n < 0) continue;  // at the end until the next seek moves back
      // Whatever the interleaving, a frame is always one whole frame...
      const int i = ogmtest::WrittenFrameIndex(o, buf.data(), n);
      if (i < 0) {
        ++badFrames;
        continue;
      }
      // ... the next one in order or the keyframe a seek landed on, and
      // numbered as it is (unless a seek ran meanwhile).
      if (i != previous + 1 && !ogmtest::IsKeyframe(o, i)) ++outOfOrder;
      if (quiet && current != i) ++wrongNumber;
      previous = i;
    }
  });
  std::thread sound([&] {
    std::vector<uint8_t> buf(1000);
    while (!stop) ReadAudioEntry(buf.data(), 1000);
  });
  for (int k = 0; k < 60; ++k) {
    ++seeksStarted;
    const int32_t remaining = k % 3 == 2 ? SeekEntry(k * 37 % 300, 1) : SeekEntry(k * 13 % 100, 0);
    ++seeksDone;
    EXPECT_GE(remaining, 0);
    EXPECT_LE(remaining, info_->totalAudioBytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  stop = true;
  video.join();
  sound.join();
  EXPECT_EQ(badFrames, 0);
  EXPECT_EQ(outOfOrder, 0);
  EXPECT_EQ(wrongNumber, 0);
  EXPECT_GT(videoCalls, 0);
}

}  // namespace
