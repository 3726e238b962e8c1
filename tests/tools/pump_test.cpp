// The pulling logic against a stand-in reader: raw audio must come out
// whole even though a raw request the stream cannot fill returns 0 and
// drops what it had, and the two streams must be taken in time order.
#include "pump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "reader_library.h"

namespace {

using namespace cli;

// The stand-in reader: one raw audio byte stream and numbered video frames,
// with the library's result conventions.
struct FakeReader {
  StreamInfo info{};
  std::string audio;
  size_t audioPos = 0;
  int frames = 0;
  int framesTaken = 0;
  long audioCalls = 0;
};
FakeReader* gFake = nullptr;

int32_t FakeOpen(const char16_t*, int32_t, int32_t, void** result) {
  *result = &gFake->info;
  return 1;
}
int32_t FakeReadAudio(void* buffer, int32_t n) {
  ++gFake->audioCalls;
  if (n <= 0) return 0;
  if (gFake->audioPos + static_cast<size_t>(n) > gFake->audio.size()) {
    gFake->audioPos = gFake->audio.size();  // what was left is lost
    return 0;
  }
  std::memcpy(buffer, gFake->audio.data() + gFake->audioPos, static_cast<size_t>(n));
  gFake->audioPos += static_cast<size_t>(n);
  return n;
}
int32_t FakeNextVideoFrame(void* dest, int32_t) {
  if (gFake->framesTaken >= gFake->frames) return -1;
  const int32_t index = gFake->framesTaken++;
  std::memcpy(dest, &index, 4);
  gFake->info.currentFrame = index;
  return 4;
}
double FakeProgress() { return 0; }
int32_t FakeClose() { return 1; }

ReaderApi FakeApi() {
  ReaderApi api;
  api.open = FakeOpen;
  api.readAudio = FakeReadAudio;
  api.nextVideoFrame = FakeNextVideoFrame;
  api.getProgress = FakeProgress;
  api.close = FakeClose;
  return api;
}

// seconds of video at 25 fps and MP3-like audio (format 0x55, 16000 B/s)
// whose real length differs from what totalAudioBytes claims.
void Prepare(FakeReader& fake, int seconds, size_t audioBytes, int32_t claimedTotal) {
  fake.info.framesPerSecond = 25;
  fake.info.frameCount = seconds * 25;
  fake.frames = seconds * 25;
  fake.info.audioFormat = 0x55;
  fake.info.audioParamA = 44100;
  fake.info.audioParamB = 2;
  fake.info.totalAudioBytes = claimedTotal;
  fake.audio.resize(audioBytes);
  for (size_t i = 0; i < audioBytes; ++i) fake.audio[i] = static_cast<char>(i * 131 + (i >> 9));
}

std::string PumpAudio(FakeReader& fake, bool exact) {
  gFake = &fake;
  const ReaderApi api = FakeApi();
  OpenSource source(api);
  EXPECT_TRUE(source.Open("fake", false, 0));
  Pump pump(source, exact);
  std::string got;
  pump.onAudio = [&](const uint8_t* data, size_t size) {
    got.append(reinterpret_cast<const char*>(data), size);
    return true;
  };
  EXPECT_TRUE(pump.Run(true));
  EXPECT_EQ(pump.stats().frames, fake.frames);
  return got;
}

TEST(AudioTail, RawAudioComesOutWholeWhenTheTotalIsCloseEnough) {
  // 100 s at 16000 B/s: the claimed total exact, 3% short, 3% long, and the
  // stream not a multiple of the request size in any case.
  const size_t real = 1600000 + 1234;
  for (int32_t claimed : {static_cast<int32_t>(real), static_cast<int32_t>(real * 0.97),
                          static_cast<int32_t>(real * 1.03)}) {
    FakeReader fake;
    Prepare(fake, 100, real, claimed);
    const std::string got = PumpAudio(fake, true);
    EXPECT_EQ(got.size(), real) << claimed;
    EXPECT_TRUE(got == fake.audio) << claimed;
    // Large requests until near the end: far fewer calls than bytes.
    EXPECT_LT(fake.audioCalls, static_cast<long>(real / 2)) << claimed;
  }
}

TEST(AudioTail, WithoutExactTailOnlyTheLastPartialRequestIsLost) {
  FakeReader fake;
  Prepare(fake, 100, 1600000 + 1234, 1600000);
  const std::string got = PumpAudio(fake, false);
  EXPECT_EQ(got.size() % 4096, 0u);
  EXPECT_GT(got.size(), fake.audio.size() - 4096);
  EXPECT_TRUE(fake.audio.compare(0, got.size(), got) == 0);
}

TEST(AudioTail, AudioAfterTheVideoEndsIsTakenBytewise) {
  // The claimed total is far too small (a wrong average rate), but the
  // video ends before the audio does, which is the cue to go bytewise.
  FakeReader fake;
  Prepare(fake, 20, 20 * 16000 + 777, 100000);
  fake.frames = 10 * 25;  // the video stops at half the audio
  const std::string got = PumpAudio(fake, true);
  EXPECT_TRUE(got == fake.audio);
}

TEST(PumpOrder, StreamsAreTakenInTimeOrder) {
  FakeReader fake;
  Prepare(fake, 40, 40 * 16000, 40 * 16000);
  gFake = &fake;
  const ReaderApi api = FakeApi();
  OpenSource source(api);
  ASSERT_TRUE(source.Open("fake", false, 0));
  Pump pump(source, false);
  uint64_t audioBytes = 0;
  double worst = 0;
  int framesSeen = 0;
  pump.onVideo = [&](const uint8_t* data, size_t size) {
    int32_t index;
    EXPECT_EQ(size, 4u);
    std::memcpy(&index, data, 4);
    EXPECT_EQ(index, framesSeen);
    ++framesSeen;
    worst = std::max(worst, std::fabs(index / 25.0 - audioBytes / 16000.0));
    return true;
  };
  pump.onAudio = [&](const uint8_t*, size_t size) {
    audioBytes += size;
    return true;
  };
  ASSERT_TRUE(pump.Run(true));
  EXPECT_EQ(framesSeen, 1000);
  EXPECT_EQ(audioBytes, 40u * 16000 / 4096 * 4096);  // the last partial request is lost
  // One audio request is 4096 bytes (0.256 s); a frame 0.04 s.
  EXPECT_LE(worst, 4096 / 16000.0 + 1 / 25.0);

  // A stop from a handler ends the run; a frame limit is honoured.
  FakeReader again;
  Prepare(again, 4, 4 * 16000, 4 * 16000);
  gFake = &again;
  OpenSource second(api);
  ASSERT_TRUE(second.Open("fake", false, 0));
  Pump limited(second, false);
  EXPECT_TRUE(limited.Run(false, 7));
  EXPECT_EQ(limited.stats().frames, 7);
  EXPECT_EQ(again.audioCalls, 0);  // the video alone: the audio is left unread
  Pump stopped(second, false);
  stopped.onVideo = [](const uint8_t*, size_t) { return false; };
  EXPECT_FALSE(stopped.Run(false));
  EXPECT_EQ(stopped.stats().frames, 1);
}

}  // namespace
