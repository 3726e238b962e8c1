// Sequential read throughput of Ravel, RavelCache and RavelHTTP in the
// reader's 4096-byte pieces, beside `cat FILE > /dev/null` on the same file.
//
//   bench_plugins FILE [URL]
//
// FILE is created (200 MB of pseudo-random bytes) when missing. URL, when
// given, must serve the same bytes (run.sh starts nginx for it). Each figure
// is the best of three passes over a file the first pass left in the page
// cache.
#include <dlfcn.h>
#include <ogmdecaps/ogmdecaps.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/charset.h"

namespace {

constexpr int64_t kCreateSize = 200 * 1000 * 1000;
constexpr int kPasses = 3;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int64_t FileSize(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  return file ? static_cast<int64_t>(file.tellg()) : -1;
}

void CreateFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937_64 random(1);
  std::vector<uint64_t> block(1 << 17);
  for (int64_t done = 0; done < kCreateSize; done += static_cast<int64_t>(block.size() * 8)) {
    for (uint64_t& word : block) word = random();
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(block.size() * 8), kCreateSize - done);
    out.write(reinterpret_cast<const char*>(block.data()), n);
  }
}

// Best MB/s of the passes; -1 when a pass did not deliver size bytes.
double PluginRate(const char* plugin, const std::string& name, int64_t size) {
  const std::string path = std::string(PLUGIN_DIR) + "/" + plugin + ".so";
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return -1;
  auto open = reinterpret_cast<RavelOpenFn>(dlsym(library, "RavelOpen"));
  auto read = reinterpret_cast<RavelReadFn>(dlsym(library, "RavelRead"));
  auto close = reinterpret_cast<RavelCloseFn>(dlsym(library, "RavelClose"));
  const std::u16string name16 = Utf8ToUtf16(name);
  char buffer[4096];
  double best = -1;
  for (int pass = 0; pass < kPasses; ++pass) {
    const auto start = Clock::now();
    // The reader's second open: 4 MB read-ahead, the host's default time-out.
    if (open(name16.c_str(), 0, 0, 4000000, 0) != size) return -1;
    int64_t total = 0;
    while (int32_t got = read(buffer, sizeof buffer)) total += got;
    close();
    const double seconds = Seconds(start);
    if (total != size) return -1;
    best = std::max(best, size / 1e6 / seconds);
  }
  return best;
}

double CatRate(const std::string& path, int64_t size) {
  const std::string command = "cat '" + path + "' > /dev/null";
  double best = -1;
  for (int pass = 0; pass < kPasses; ++pass) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    best = std::max(best, size / 1e6 / Seconds(start));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [URL]\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  if (FileSize(path) < 0) CreateFile(path);
  const int64_t size = FileSize(path);
  std::printf("file: %s, %.1f MB, reads of 4096 bytes, best of %d\n", path.c_str(), size / 1e6,
              kPasses);
  struct Row {
    const char* what;
    double rate;
  } rows[] = {{"cat > /dev/null", CatRate(path, size)},
              {"Ravel", PluginRate("Ravel", path, size)},
              {"RavelCache", PluginRate("RavelCache", path, size)},
              {"RavelHTTP", argc > 2 ? PluginRate("RavelHTTP", argv[2], size) : -1}};
  int failed = 0;
  for (const Row& row : rows) {
    if (row.rate < 0 && (argc > 2 || std::string(row.what) != "RavelHTTP")) ++failed;
    if (row.rate < 0)
      std::printf("%-16s %10s\n", row.what, "failed/skipped");
    else
      std::printf("%-16s %10.0f MB/s\n", row.what, row.rate);
  }
  return failed == 0 ? 0 : 1;
}
