// Ravel and RavelCache through their exported entries.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <random>

#include "plugin_harness.h"

// Every pread of this process, the plug-ins' included: the executable's
// definition comes first in the dynamic linker's search, and forwards.
static std::atomic<int> g_preads{0};
extern "C" ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  using Next = ssize_t (*)(int, void*, size_t, off_t);
  // With 64-bit file offsets on a 32-bit target the headers bind pread to
  // the C library's pread64, and so this definition too.
#if defined(_FILE_OFFSET_BITS) && _FILE_OFFSET_BITS == 64 && !defined(__LP64__)
  static const Next next = reinterpret_cast<Next>(dlsym(RTLD_NEXT, "pread64"));
#else
  static const Next next = reinterpret_cast<Next>(dlsym(RTLD_NEXT, "pread"));
#endif
  ++g_preads;
  return next(fd, buffer, size, offset);
}

class FilePlugin : public ::testing::TestWithParam<const char*> {
 protected:
  void TearDown() override { plugin.close(); }
  bool cached() const { return std::string(GetParam()) == "RavelCache"; }

  Plugin plugin{GetParam()};
  TempDir dir;
  std::string data = RandomBytes((3 << 20) + 123, 11);
  std::string path = dir.Write("data.bin", data);
  int32_t length = static_cast<int32_t>(data.size());
};

INSTANTIATE_TEST_SUITE_P(Plugins, FilePlugin, ::testing::Values("Ravel", "RavelCache"));

TEST_P(FilePlugin, FullReadEqualsTheFile) {
  struct Case {
    int32_t c, chunk;
  } cases[] = {{-1, 4096}, {65536, 4095}, {65536, 65537}, {4000000, (1 << 20) + 3}, {0, 7 << 20}};
  for (const Case& c : cases) {
    ASSERT_EQ(plugin.Open(path, c.c, 1000000), length);
    EXPECT_TRUE(plugin.ReadAll(c.chunk) == data) << c.c << " " << c.chunk;
  }
}

TEST_P(FilePlugin, SeeksReadTheRightBytes) {
  ASSERT_EQ(plugin.Open(path, 65536), length);
  std::mt19937 random(5);
  int64_t position = 0;
  for (int i = 0; i < 400; ++i) {
    const int32_t origin = static_cast<int32_t>(random() % 3);
    const int64_t target = random() % static_cast<uint32_t>(length + 1);
    const int64_t base = origin == 0 ? 0 : origin == 1 ? position : length;
    ASSERT_EQ(plugin.seek(static_cast<int32_t>(target - base), origin), 1);
    std::string got(random() % 20000 + 1, '\0');
    const int32_t n = plugin.read(got.data(), static_cast<int32_t>(got.size()));
    ASSERT_EQ(n, std::min<int64_t>(got.size(), length - target));
    ASSERT_TRUE(got.substr(0, n) == data.substr(target, n)) << target;
    position = target + n;
  }
  // offset, origin, accepted; each from position 10.
  struct Case {
    int32_t offset, origin, accepted;
  } cases[] = {{-1, 0, 0}, {length, 0, 1}, {length + 1, 0, 0}, {-11, 1, 0}, {-10, 1, 1},
               {0, 2, 1},  {1, 2, 0},      {-length, 2, 1},    {5, 3, 0},   {5, -1, 0}};
  for (const Case& c : cases) {
    ASSERT_EQ(plugin.seek(10, 0), 1);
    EXPECT_EQ(plugin.seek(c.offset, c.origin), c.accepted) << c.offset << " " << c.origin;
  }
}

TEST_P(FilePlugin, ReadsAtTheEndReturnZero) {
  ASSERT_EQ(plugin.Open(path), length);
  char buffer[4096];
  ASSERT_EQ(plugin.seek(length - 10, 0), 1);
  EXPECT_EQ(plugin.read(buffer, sizeof buffer), 10);
  EXPECT_EQ(plugin.read(buffer, sizeof buffer), 0);
  EXPECT_EQ(plugin.read(buffer, sizeof buffer), 0);
  EXPECT_EQ(plugin.read(nullptr, 10), 0);
  ASSERT_EQ(plugin.seek(0, 0), 1);
  EXPECT_EQ(plugin.read(buffer, 0), 0);
  EXPECT_EQ(plugin.read(buffer, -5), 0);
}

TEST_P(FilePlugin, RefusesWhatItCannotServe) {
  const std::string empty = dir.Write("empty.bin", "");
  // A FIFO without a writer: refused at once, not waited on.
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name :
       {dir.path() + "/missing.bin", dir.path(), empty, fifo, std::string()}) {
    EXPECT_EQ(plugin.Open(name), 0) << name;
    char byte;
    EXPECT_EQ(plugin.read(&byte, 1), 0);
    EXPECT_EQ(plugin.seek(0, 0), 0);
  }
  EXPECT_EQ(plugin.open(nullptr, 0, 0, -1, 0), 0);
}

TEST_P(FilePlugin, OpensNonAsciiPaths) {
  const std::string other = RandomBytes(5000, 2);
  const std::string name = dir.Write(
      "donn\xC3\xA9"
      "es-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.ogm",
      other);
  ASSERT_EQ(plugin.Open(name), 5000);
  EXPECT_TRUE(plugin.ReadAll() == other);
}

TEST_P(FilePlugin, OpenWhileOpenAndCloseTwice) {
  const std::string other = RandomBytes(9000, 3);
  const std::string otherPath = dir.Write("other.bin", other);
  ASSERT_EQ(plugin.Open(path), length);
  EXPECT_EQ(plugin.ReadAt(1000, 100), data.substr(1000, 100));
  ASSERT_EQ(plugin.Open(otherPath), 9000);
  EXPECT_TRUE(plugin.ReadAll() == other);
  EXPECT_EQ(plugin.close(), 1);
  EXPECT_EQ(plugin.close(), 1);
  char byte;
  EXPECT_EQ(plugin.read(&byte, 1), 0);
  EXPECT_EQ(plugin.seek(0, 0), 0);
  ASSERT_EQ(plugin.Open(path), length);
  EXPECT_EQ(plugin.ReadAt(0, 10), data.substr(0, 10));
}

// The host reads 4096 bytes at a time and seeks back a little to
// re-synchronise: inside RavelCache's window that must not reach the file.
TEST_P(FilePlugin, CacheWindowSparesFileReads) {
  ASSERT_EQ(plugin.Open(path, 1 << 20), length);
  const int before = g_preads.load();
  std::string got;
  for (int i = 0; i < 256; ++i) got += plugin.ReadAt(i * 4096 - (i % 2) * 100, 4096);
  ASSERT_EQ(got.size(), 256u * 4096);
  EXPECT_EQ(g_preads.load() - before, cached() ? 1 : 256);
  EXPECT_EQ(plugin.ReadAt(2 << 20, 4096), data.substr(2 << 20, 4096));
  EXPECT_EQ(g_preads.load() - before, cached() ? 2 : 257);
}
