// RavelClose from another thread while a RavelRead runs or blocks: the read
// returns 0 promptly, nothing is used after it is freed, and the plug-in can
// open again afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "http_servers.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Reads in a loop (rewinding at the end) until a read after close returns 0.
int64_t ReadUntilClosed(const Plugin& plugin, const std::atomic<bool>& closed) {
  std::string buffer(4096, '\0');
  int64_t total = 0;
  for (;;) {
    const bool wasClosed = closed.load();
    const int32_t got = plugin.read(buffer.data(), 4096);
    total += got;
    if (got == 0 && wasClosed) return total;
    if (got == 0) plugin.seek(0, 0);
  }
}

TEST(CloseRace, FilePluginsSurviveCloseDuringReads) {
  TempDir dir;
  const std::string data = RandomBytes(1 << 20, 12);
  const std::string path = dir.Write("data.bin", data);
  for (const char* name : {"Ravel", "RavelCache"}) {
    Plugin plugin(name);
    for (int delay : {0, 1, 5, 20}) {
      ASSERT_EQ(plugin.Open(path, 65536), 1 << 20);
      std::atomic<bool> closed{false};
      std::thread reader([&] { ReadUntilClosed(plugin, closed); });
      std::this_thread::sleep_for(milliseconds(delay));
      plugin.close();
      closed = true;
      reader.join();
      ASSERT_EQ(plugin.Open(path), 1 << 20) << name;
      EXPECT_EQ(plugin.ReadAt(4096, 100), data.substr(4096, 100));
      plugin.close();
    }
  }
}

TEST(CloseRace, HttpCloseUnblocksAStalledRead) {
  Script script;
  script.body = RandomBytes(1 << 20, 13);
  script.stallAfter = 10000;
  ScriptedServer stalled(script);
  Plugin plugin("RavelHTTP");
  ASSERT_EQ(plugin.Open(stalled.Url(), -1, 30000), 1 << 20);
  std::atomic<bool> closed{false};
  std::atomic<int64_t> got{-1};
  std::thread reader([&] { got = ReadUntilClosed(plugin, closed); });
  std::this_thread::sleep_for(milliseconds(500));
  EXPECT_EQ(got.load(), -1);  // still blocked, well inside the 30 s time-out
  const auto start = Clock::now();
  closed = true;
  plugin.close();
  reader.join();
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
  EXPECT_EQ(got.load(), 10000);

  script.stallAfter = SIZE_MAX;
  ScriptedServer healthy(script);
  ASSERT_EQ(plugin.Open(healthy.Url()), 1 << 20);
  EXPECT_TRUE(plugin.ReadAll() == script.body);
  plugin.close();
}

TEST(CloseRace, HttpCloseDuringAFlowingTransfer) {
  Script script;
  script.body = RandomBytes(4 << 20, 14);
  ScriptedServer server(script);
  Plugin plugin("RavelHTTP");
  for (int delay : {0, 2, 10, 40}) {
    ASSERT_EQ(plugin.Open(server.Url(), 65536, 5000), 4 << 20);
    std::atomic<bool> closed{false};
    std::thread reader([&] { ReadUntilClosed(plugin, closed); });
    std::this_thread::sleep_for(milliseconds(delay));
    closed = true;
    plugin.close();
    reader.join();
  }
  ASSERT_EQ(plugin.Open(server.Url()), 4 << 20);
  EXPECT_EQ(plugin.ReadAt(3 << 20, 1000), script.body.substr(3 << 20, 1000));
  plugin.close();
}

}  // namespace
