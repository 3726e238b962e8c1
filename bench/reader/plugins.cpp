// Plug-ins: sequential read throughput of Ravel, RavelCache and RavelHTTP in
// the reader's 4096-byte pieces, beside `cat FILE > /dev/null` on the same
// file. Each figure is the best of three passes over a file the first pass
// left in the page cache.
//
//   ogm_bench_plugins --file F [--url U]
//
// F is created (200 MB of pseudo-random bytes) when missing; U, when given,
// must serve the same bytes (bench/run.sh serves them with nginx).
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"

using namespace bench;

namespace {

constexpr int64_t kCreateSize = 200 * 1000 * 1000;
constexpr int kPasses = 3;

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
  const std::u16string name16 = Utf16(name);
  char buffer[4096];
  double best = -1;
  for (int pass = 0; pass < kPasses; ++pass) {
    const double start = WallMs();
    // The reader's second open: 4 MB read-ahead, the host's default time-out.
    if (open(name16.c_str(), 0, 0, 4000000, 0) != size) return -1;
    int64_t total = 0;
    while (int32_t got = read(buffer, sizeof buffer)) total += got;
    close();
    const double ms = WallMs() - start;
    if (total != size) return -1;
    best = std::max(best, size / 1e3 / ms);
  }
  return best;
}

double CatRate(const std::string& path, int64_t size) {
  double best = -1;
  for (int pass = 0; pass < kPasses; ++pass) {
    const ChildResult r = RunChild({"cat", path});
    if (r.exitCode != 0) return -1;
    best = std::max(best, size / 1e3 / r.wallMs);
  }
  return best;
}

std::string Rate(double mbPerSecond) {
  return mbPerSecond < 0 ? "failed" : Fmt("%.0f MB/s", mbPerSecond);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = Arg(argc, argv, "--file");
  const std::string url = Arg(argc, argv, "--url");
  if (file.empty()) {
    std::fprintf(stderr, "usage: ogm_bench_plugins --file F [--url U]\n");
    return 2;
  }
  if (FileSize(file) < 0) CreateFile(file);
  const int64_t size = FileSize(file);
  const std::string note =
      Fmt("%s file, best of %d", Bytes(static_cast<double>(size)).c_str(), kPasses);
  Row("plugins", "cat > /dev/null", Rate(CatRate(file, size)), "", "", note);
  Row("plugins", "Ravel", Rate(PluginRate("Ravel", file, size)), "", "", "reads of 4096 bytes");
  Row("plugins", "RavelCache", Rate(PluginRate("RavelCache", file, size)), "", "",
      "reads of 4096 bytes");
  if (!url.empty())
    Row("plugins", "RavelHTTP", Rate(PluginRate("RavelHTTP", url, size)), "", "",
        "reads of 4096 bytes, nginx on 127.0.0.1");
  return 0;
}
