// The in-memory source behaves like a plug-in and reports what it was asked.
#include "memory_input.h"

#include <gtest/gtest.h>

#include <thread>

using namespace ogmtest;

namespace {

std::vector<uint8_t> Data(size_t n) {
  std::vector<uint8_t> d(n);
  for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(i * 7 + 3);
  return d;
}

// Reads everything through the binding until a read returns 0.
std::vector<uint8_t> Drain(const InputSource& in, int32_t chunk) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buf(chunk);
  int32_t n;
  while ((n = in.read(buf.data(), chunk)) > 0) out.insert(out.end(), buf.begin(), buf.begin() + n);
  return out;
}

}  // namespace

TEST(MemoryInput, ServesTheBytesAndCountsCalls) {
  MemoryInputReset(Data(1000));
  const InputSource in = MemoryInput();
  EXPECT_EQ(in.library, nullptr);
  EXPECT_EQ(in.open(u"clip.ogm", 0, 0, -1, 2500), 1000);
  EXPECT_EQ(Drain(in, 300), Data(1000));
  EXPECT_EQ(in.seek(990, 0), 1);
  uint8_t b[20];
  EXPECT_EQ(in.read(b, 20), 10);
  EXPECT_EQ(b[0], Data(1000)[990]);
  EXPECT_EQ(in.seek(1001, 0), 0);  // past the end: refused, position kept
  EXPECT_EQ(in.read(b, 20), 0);
  EXPECT_EQ(in.close(), 1);

  const MemoryInputCounters k = MemoryInputStats();
  EXPECT_EQ(k.opens, 1);
  EXPECT_EQ(k.closes, 1);
  EXPECT_EQ(k.reads, 7);  // 4 + 1 (the zero) + 2
  EXPECT_EQ(k.bytesRead, 1010);
  EXPECT_EQ(k.seeks, 2);
  EXPECT_EQ(k.lastSeekOffset, 1001);
  EXPECT_EQ(k.lastOpenArgs[3], 2500);
  EXPECT_FALSE(k.open);
}

TEST(MemoryInput, ShortReadsAndEarlyEnds) {
  const InputSource in = MemoryInput();
  MemoryInputConfig c;
  c.maxBytesPerRead = 1;
  MemoryInputReset(Data(50), c);
  ASSERT_EQ(in.open(u"x", 0, 0, 0, 0), 50);
  EXPECT_EQ(Drain(in, 16), Data(50));
  EXPECT_EQ(MemoryInputStats().reads, 51);

  c = {};
  c.endAtOffset = 30;
  MemoryInputReset(Data(50), c);
  ASSERT_EQ(in.open(u"x", 0, 0, 0, 0), 50);  // the length still says 50
  EXPECT_EQ(Drain(in, 16).size(), 30u);
  ASSERT_EQ(in.seek(40, 0), 1);
  uint8_t b[8];
  EXPECT_EQ(in.read(b, 8), 0);

  c = {};
  c.endAfterBytesRead = 25;
  MemoryInputReset(Data(50), c);
  ASSERT_EQ(in.open(u"x", 0, 0, 0, 0), 50);
  EXPECT_EQ(Drain(in, 10).size(), 25u);
  ASSERT_EQ(in.seek(0, 0), 1);
  EXPECT_EQ(in.read(b, 8), 0);  // the budget is spent wherever the position is
}

TEST(MemoryInput, RefusedOpensAndReadsWhileClosed) {
  const InputSource in = MemoryInput();
  MemoryInputConfig c;
  c.openSucceeds = false;
  MemoryInputReset(Data(10), c);
  EXPECT_EQ(in.open(u"x", 0, 0, 0, 0), 0);
  MemoryInputReset({});
  EXPECT_EQ(in.open(u"x", 0, 0, 0, 0), 0);  // an empty source cannot be opened
  uint8_t b[4];
  EXPECT_EQ(in.read(b, 4), 0);
}

TEST(MemoryInput, CloseFromAnotherThreadEndsABlockedRead) {
  const InputSource in = MemoryInput();
  MemoryInputConfig c;
  c.readBlockMs = 10000;
  MemoryInputReset(Data(100), c);
  ASSERT_EQ(in.open(u"x", 0, 0, 0, 0), 100);
  const auto start = std::chrono::steady_clock::now();
  std::thread closer([&in] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    in.close();
  });
  uint8_t b[4];
  EXPECT_EQ(in.read(b, 4), 0);
  closer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(MemoryInputDeathTest, NegativeSeekIsAReaderBug) {
  MemoryInputReset(Data(10));
  const InputSource in = MemoryInput();
  in.open(u"x", 0, 0, 0, 0);
  EXPECT_DEATH(in.seek(-1, 0), "negative seek offset");
  EXPECT_DEATH(in.seek(0, 1), "origin");
}
