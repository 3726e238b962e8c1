// A host that calls every entry before it ever opened a source (this
// program opens nothing before): each answers as with nothing open, twice.
#include "host_library.h"

namespace {

TEST(FreshProcess, EveryEntryBeforeAnyOpen) {
  HostLibrary lib;
  ASSERT_NE(lib.handle, nullptr);
  const ReaderFunctions& t = lib.t;
  uint8_t buf[256] = {};
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(t.nextVideoFrame(buf, 0), -1);
    EXPECT_EQ(t.nextVideoFrame(nullptr, 0), -1);
    EXPECT_EQ(t.readAudio(buf, 100), 0);
    EXPECT_EQ(t.readAudio(nullptr, 100), 0);
    EXPECT_EQ(t.seek(50, 0), 0);
    EXPECT_EQ(t.seek(10, 1), 0);
    EXPECT_EQ(t.reSeekAudio(), 0);
    EXPECT_EQ(t.seekChapter(0), 0);
    EXPECT_EQ(t.getProgress(), 0.0);
    EXPECT_EQ(lib.frameRate(), 0.0);
    // No lock exists yet: the stalled close must return without waiting on one.
    t.closeIfStalled();
    EXPECT_EQ(t.close(), 1);
  }
  // A failed open leaves the same state.
  void* result = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(t.open(u"/nonexistent/file.ogm", 0, 0, &result), 0);
  EXPECT_EQ(result, reinterpret_cast<void*>(0x1));
  EXPECT_EQ(t.open(nullptr, 0, 0, &result), 0);
  EXPECT_EQ(t.nextVideoFrame(buf, 0), -1);
  t.closeIfStalled();
}

}  // namespace
