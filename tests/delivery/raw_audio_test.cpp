// Raw audio: one continuous byte stream in exactly the sizes asked for.
#include <cstring>
#include <vector>

#include "reader_fixture.h"

using ogmtest::Bytes;

namespace {

ogmtest::SimpleOgmOptions RawFile(int frames) {
  ogmtest::SimpleOgmOptions o;
  o.frames = frames;
  o.audio = ogmtest::AudioKind::kRaw;
  return o;
}

TEST_F(ReaderTest, RawAudioIsTheStreamInAnyRequestSize) {
  ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(RawFile(250));
  ASSERT_GT(f.rawAudioBytes, 100000u);
  for (int32_t request : {4096, 1000, 1, 777, 70000}) {
    SCOPED_TRACE(request);
    ASSERT_EQ(OpenBytes(f.bytes), 1);
    std::vector<uint8_t> buf(static_cast<size_t>(request));
    uint64_t offset = 0;
    int32_t n;
    while ((n = ReadAudioEntry(buf.data(), request)) > 0) {
      // Only the stream's tail may come out short.
      ASSERT_TRUE(n == request || offset + static_cast<uint64_t>(n) == f.rawAudioBytes) << offset;
      ASSERT_EQ(Bytes(buf.begin(), buf.begin() + n), ogmtest::RawAudio(offset, n)) << offset;
      offset += static_cast<uint64_t>(n);
    }
    EXPECT_EQ(offset, f.rawAudioBytes);
    EXPECT_EQ(ReadAudioEntry(buf.data(), request), 0);
    CloseEntry();
  }
}

TEST_F(ReaderTest, AudioThatEndsEarlyStopsReadingAndLeavesTheVideoWhole) {
  ogmtest::SimpleOgmOptions o = RawFile(500);
  o.audioSeconds = 2;
  const ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(o);
  ASSERT_EQ(OpenBytes(f.bytes), 1);
  std::vector<uint8_t> frame(1 << 16), buf(4096);
  uint64_t audio = 0;
  int32_t n;
  while ((n = ReadAudioEntry(buf.data(), 4096)) > 0) audio += static_cast<uint64_t>(n);
  EXPECT_EQ(audio, f.rawAudioBytes);
  // The audio stream is over: later calls read nothing more.
  const int64_t reads = ogmtest::MemoryInputStats().reads;
  EXPECT_EQ(ReadAudioEntry(buf.data(), 4096), 0);
  EXPECT_EQ(ogmtest::MemoryInputStats().reads, reads);
  int frames = 0;
  while (NextVideoFrameEntry(frame.data()) >= 0) {
    ASSERT_EQ(info_->currentFrame, frames);
    ++frames;
    EXPECT_EQ(ReadAudioEntry(buf.data(), 4096), 0);
  }
  EXPECT_EQ(frames, o.frames);
}

TEST_F(ReaderTest, ZeroByteRequestReturnsAtOnce) {
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(RawFile(10)).bytes), 1);
  uint8_t buf[8];
  const int64_t reads = ogmtest::MemoryInputStats().reads;
  EXPECT_EQ(ReadAudioEntry(buf, 0), 0);
  EXPECT_EQ(ReadAudioEntry(buf, -5), 0);
  EXPECT_EQ(ogmtest::MemoryInputStats().reads, reads);
  EXPECT_EQ(ReadAudioEntry(buf, 8), 8);
  EXPECT_EQ(0, std::memcmp(buf, ogmtest::RawAudio(0, 8).data(), 8));
}

// A file whose audio packets have the given payload sizes, back to back.
Bytes AudioPackets(const std::vector<size_t>& sizes) {
  ogmtest::OgmWriter w;
  const int v = w.AddStream(0);
  const int a = w.AddStream(1);
  w.Packet(v, ogmtest::DirectVideoHeader("XVID", 400000, 16, 16), 0, ogmtest::kFlushPage);
  w.Packet(a, ogmtest::DirectAudioHeader("0055", 44100, 2, 16000), 0, ogmtest::kFlushPage);
  w.Packet(v, ogmtest::CommentPacket("t", {}), 0, ogmtest::kFlushPage);
  w.Packet(a, ogmtest::CommentPacket("t", {}), 0, ogmtest::kFlushPage);
  uint64_t offset = 0;
  for (size_t i = 0; i < sizes.size(); ++i) {
    w.Packet(a, ogmtest::DataPacket(0x88, 2, 1152, ogmtest::RawAudio(offset, sizes[i])),
             static_cast<int64_t>(i) * 1152, ogmtest::kFlushPage);
    offset += sizes[i];
  }
  w.Packet(v, ogmtest::FramePacket(true, Bytes(10, 1)), 0, ogmtest::kFlushPage);
  return w.Finish();
}

TEST_F(ReaderTest, CarryHoldsWhatDidNotFit) {
  ASSERT_EQ(OpenBytes(AudioPackets({600, 700, 900, 20000, 50})), 1);
  std::vector<uint8_t> buf(1000);
  // 600 + 400 of the second packet; 300 wait in the carry.
  ASSERT_EQ(ReadAudioEntry(buf.data(), 1000), 1000);
  EXPECT_EQ(buf, ogmtest::RawAudio(0, 1000));
  EXPECT_EQ(gReader.audioCarryBytes, 300);
  // A request smaller than the carry: it shrinks from the front.
  ASSERT_EQ(ReadAudioEntry(buf.data(), 100), 100);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 100), ogmtest::RawAudio(1000, 100));
  EXPECT_EQ(gReader.audioCarryBytes, 200);
  // The carry exactly fills a request: the call ends there.
  ASSERT_EQ(ReadAudioEntry(buf.data(), 200), 200);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 200), ogmtest::RawAudio(1100, 200));
  EXPECT_EQ(gReader.audioCarryBytes, 0);
  // A remainder far larger than the 4096-byte carry is kept in full.
  ASSERT_EQ(ReadAudioEntry(buf.data(), 1000), 1000);
  EXPECT_EQ(buf, ogmtest::RawAudio(1300, 1000));
  EXPECT_EQ(gReader.audioCarryBytes, 19900);
  std::vector<uint8_t> rest(19950);
  ASSERT_EQ(ReadAudioEntry(rest.data(), 19950), 19950);
  EXPECT_EQ(rest, ogmtest::RawAudio(2300, 19950));
  EXPECT_EQ(gReader.audioCarry.heap, nullptr);  // back to the fixed buffer
}

TEST_F(ReaderTest, AudioCallWithoutAudioStreamReadsNothing) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 400;
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  const int64_t before = ogmtest::MemoryInputStats().bytesRead;
  uint8_t buf[4096];
  EXPECT_EQ(ReadAudioEntry(buf, 4096), 0);
  EXPECT_EQ(ReSeekAudioEntry(), 0);
  EXPECT_EQ(ogmtest::MemoryInputStats().bytesRead, before);
}

}  // namespace
