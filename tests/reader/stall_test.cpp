// Closing a source while another thread is stuck inside the reader.
#include <atomic>
#include <chrono>
#include <thread>

#include "reader_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

ogmtest::Bytes SmallFile() {
  ogmtest::SimpleOgmOptions o;
  o.frames = 20;
  return ogmtest::MakeSimpleOgm(o).bytes;
}

TEST_F(ReaderTest, CloseIfStalledLeavesAnIdleSourceOpen) {
  ASSERT_EQ(OpenBytes(SmallFile()), 1);
  CloseIfStalledEntry();
  uint8_t buf[4096];
  EXPECT_GT(NextVideoFrameEntry(buf), 0);
  EXPECT_TRUE(ogmtest::MemoryInputStats().open);
}

TEST_F(ReaderTest, CloseIfStalledUnblocksAThreadInARead) {
  const ogmtest::Bytes file = SmallFile();
  ASSERT_EQ(OpenBytes(file), 1);
  // From here on every read hangs until the source is closed, the way a
  // network read hangs on a server that stopped answering.
  ogmtest::MemoryInputConfig stall;
  stall.readBlockMs = 60000;
  ogmtest::MemoryInputConfigure(stall);

  std::atomic<int> videoResult{1};
  std::atomic<bool> done{false};
  std::thread reader([&] {
    static uint8_t frame[1 << 16];
    int32_t r;
    while ((r = NextVideoFrameEntry(frame)) >= 0) {
    }
    videoResult = r;
    done = true;
  });
  // Let the reader drain what is buffered and block in a read.
  const auto start = Clock::now();
  while (ogmtest::MemoryInputStats().reads == 0 && Clock::now() - start < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  CloseIfStalledEntry();
  const auto took = Clock::now() - start;
  reader.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(videoResult, -1);
  EXPECT_LT(took, std::chrono::seconds(30));  // not the read's 60 s
  EXPECT_FALSE(ogmtest::MemoryInputStats().open);
  EXPECT_EQ(gReader.sourceOpen, 0);
  EXPECT_EQ(gReader.demux.headers[0], nullptr);

  // Every entry point now answers as with nothing open, and a new open works.
  uint8_t buf[64];
  EXPECT_EQ(NextVideoFrameEntry(buf), -1);
  EXPECT_EQ(ReadAudioEntry(buf, 10), 0);
  EXPECT_EQ(OpenBytes(file), 1);
  static uint8_t frame[1 << 16];
  EXPECT_GT(NextVideoFrameEntry(frame), 0);
}

// A plug-in whose read a close cannot interrupt: CloseIfStalled returns
// while that read still blocks, and the thread inside closes the source when
// the read returns; then the next open works.
TEST_F(ReaderTest, CloseIfStalledDoesNotWaitForAReadThatCannotBeInterrupted) {
  const ogmtest::Bytes file = SmallFile();
  ASSERT_EQ(OpenBytes(file), 1);
  ogmtest::MemoryInputConfig stall;
  stall.readBlockMs = 600000;  // until the test changes the config
  stall.closeInterrupts = false;
  ogmtest::MemoryInputConfigure(stall);
  const int64_t readsBefore = ogmtest::MemoryInputStats().reads;
  std::atomic<bool> done{false};
  std::atomic<int32_t> videoResult{1};
  std::thread reader([&] {
    static uint8_t frame[1 << 16];
    int32_t r;
    while ((r = NextVideoFrameEntry(frame)) >= 0) {
    }
    videoResult = r;
    done = true;
  });
  // Every read blocks from here on: the first one holds the reader.
  while (ogmtest::MemoryInputStats().reads == readsBefore) std::this_thread::yield();
  EXPECT_EQ(CloseIfStalledEntry(), 1);
  EXPECT_FALSE(done);  // returned with the read still blocked
  EXPECT_EQ(CloseEntry(), 1);
  EXPECT_FALSE(done);
  ogmtest::MemoryInputConfigure({});  // the read returns
  reader.join();
  EXPECT_EQ(videoResult, -1);  // closed, not a read failure
  EXPECT_EQ(gReader.sourceOpen, 0);
  EXPECT_EQ(ogmtest::MemoryInputStats().open, false);
  EXPECT_EQ(OpenBytes(file), 1);
  static uint8_t frame[1 << 16];
  EXPECT_GT(NextVideoFrameEntry(frame), 0);
}

}  // namespace
