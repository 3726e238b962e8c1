// Open: time and bytes read to open the large local file (plain and caching
// plug-in) and the same file over HTTP, beside ffprobe on the same sources.
//
//   ogm_bench_open --file F [--url U --access-log NGINX_LOG] [--runs N]
//   ogm_bench_open --once F [--cache]      (one open, for strace)
#include <ogmdecaps/ogmdecaps.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"

using namespace bench;

namespace {

struct OpenTimes {
  std::vector<double> ms;
  bool ok = true;
};

OpenTimes TimeOurOpen(const std::string& name, int useCache, int runs) {
  OpenTimes t;
  const std::u16string n = Utf16(name);
  for (int i = 0; i < runs; ++i) {
    void* info = nullptr;
    const double start = WallMs();
    const int32_t r = AVIDecaps_Open(n.c_str(), useCache, 0, &info);
    t.ms.push_back(WallMs() - start);
    AVIDecaps_Close();
    if (r != 1) t.ok = false;
  }
  return t;
}

std::vector<double> TimeChild(const std::vector<std::string>& argv, int runs, bool* ok) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const ChildResult r = RunChild(argv);
    if (r.exitCode != 0) *ok = false;
    ms.push_back(r.wallMs);
  }
  return ms;
}

std::string MsCell(const std::vector<double>& ms) {
  return Fmt("%.1f ms (worst %.1f)", Median(ms), Worst(ms));
}

}  // namespace

int main(int argc, char** argv) {
  if (Flag(argc, argv, "--once")) {
    const std::u16string n = Utf16(Arg(argc, argv, "--once"));
    void* info = nullptr;
    const int32_t r = AVIDecaps_Open(n.c_str(), Flag(argc, argv, "--cache") ? 1 : 0, 0, &info);
    AVIDecaps_Close();
    return r == 1 ? 0 : 1;
  }
  const std::string file = Arg(argc, argv, "--file");
  const std::string url = Arg(argc, argv, "--url");
  const std::string log = Arg(argc, argv, "--access-log");
  const int runs = std::atoi(Arg(argc, argv, "--runs", "5").c_str());
  if (file.empty()) {
    std::fprintf(stderr, "usage: ogm_bench_open --file F [--url U --access-log LOG] [--runs N]\n");
    return 2;
  }
  const int64_t size = FileSize(file);
  const std::string what = Fmt("%s file", Bytes(static_cast<double>(size)).c_str());
  std::fprintf(stderr, "open: %s (%s)\n", file.c_str(), what.c_str());

  // Local, through each file plug-in.
  for (int cache = 0; cache <= 1; ++cache) {
    const OpenTimes t = TimeOurOpen(file, cache, runs);
    std::vector<std::string> once = {SelfExe(), "--once", file};
    if (cache) once.push_back("--cache");
    const int64_t bytes = StraceBytesRead(once, file);
    Row("open", cache ? "ours, local (RavelCache)" : "ours, local (Ravel)", MsCell(t.ms),
        Bytes(static_cast<double>(bytes)) + " read", "",
        (t.ok ? what : "OPEN FAILED") + ", bytes by strace");
  }
  const std::vector<std::string> probe = {"ffprobe", "-v", "error", "-show_format",
                                          "-show_streams"};
  {
    bool ok = true;
    std::vector<std::string> cmd = probe;
    cmd.push_back(file);
    const std::vector<double> ms = TimeChild(cmd, runs, &ok);
    const int64_t bytes = StraceBytesRead(cmd, file);
    Row("open", "ffprobe, local", MsCell(ms), Bytes(static_cast<double>(bytes)) + " read", "",
        ok ? "whole process, bytes by strace" : "FFPROBE FAILED");
    bool vok = true;
    const std::vector<double> start = TimeChild({"ffprobe", "-version"}, runs, &vok);
    Row("open", "ffprobe process start", MsCell(start), "", "", "ffprobe -version, for reference");
  }

  if (url.empty() || log.empty()) return 0;
  {
    const OpenTimes t = TimeOurOpen(url, 0, runs);
    const int64_t before = LogSize(log);
    void* info = nullptr;
    const std::u16string n = Utf16(url);
    const int32_t r = AVIDecaps_Open(n.c_str(), 0, 0, &info);
    AVIDecaps_Close();
    const Served s = ServedSince(log, before);
    const int64_t received = StraceBytesRead({SelfExe(), "--once", url}, "socket:");
    Row("open", "ours, HTTP (RavelHTTP)", MsCell(t.ms),
        Bytes(static_cast<double>(received)) + " received",
        Fmt("%s sent in %d request(s)", Bytes(static_cast<double>(s.bytes)).c_str(), s.requests),
        (t.ok && r == 1 ? std::string("nginx on 127.0.0.1; received by strace, sent from its log")
                        : std::string("OPEN FAILED")));
  }
  {
    bool ok = true;
    std::vector<std::string> cmd = probe;
    cmd.push_back(url);
    const std::vector<double> ms = TimeChild(cmd, runs, &ok);
    const int64_t before = LogSize(log);
    RunChild(cmd);
    const Served s = ServedSince(log, before);
    const int64_t received = StraceBytesRead(cmd, "socket:");
    Row("open", "ffprobe, HTTP", MsCell(ms), Bytes(static_cast<double>(received)) + " received",
        Fmt("%s sent in %d request(s)", Bytes(static_cast<double>(s.bytes)).c_str(), s.requests),
        ok ? "whole process" : "FFPROBE FAILED");
  }
  return 0;
}
