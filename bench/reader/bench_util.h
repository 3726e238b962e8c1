// Helpers shared by the reader benchmarks: clocks, medians, child processes
// (peers such as ffmpeg, or this program again under strace), byte counts,
// reading a source as a player does, and the result rows that bench/run.sh
// gathers into one table.
#ifndef OGMDECAPS_BENCH_READER_BENCH_UTIL_H
#define OGMDECAPS_BENCH_READER_BENCH_UTIL_H

#include <ogmdecaps/ogmdecaps.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

double WallMs();      // monotonic clock, milliseconds
double CpuSeconds();  // CPU time of this process (user + system, all threads)

double Median(std::vector<double> values);
double Worst(const std::vector<double>& values);

std::u16string Utf16(const std::string& s);
int64_t FileSize(const std::string& path);
// rchar of /proc/self/io: bytes this process got from read()-like calls.
int64_t ProcessReadBytes();
std::string SelfExe();
// The named program on PATH, "" when there is none.
std::string FindProgram(const std::string& name);

struct ChildResult {
  int exitCode = -1;  // -1: could not run, or died on a signal
  double wallMs = 0;
  double cpuSeconds = 0;  // user + system of the child and its waited-for children
  long maxRssKb = 0;
  std::string out;  // stdout, when captured
};
// Runs argv (argv[0] searched on PATH) with stdin from /dev/null and stderr
// discarded; stdout captured when captureOut, else discarded.
ChildResult RunChild(const std::vector<std::string>& argv, bool captureOut = false);

// Wall and CPU time of repeated passes, one entry per pass.
struct Times {
  std::vector<double> wallMs, cpuS;
  template <class Pass>
  auto Time(Pass pass) {
    const double w = WallMs(), c = CpuSeconds();
    auto result = pass();
    cpuS.push_back(CpuSeconds() - c);
    wallMs.push_back(WallMs() - w);
    return result;
  }
  void Add(const ChildResult& r) {
    wallMs.push_back(r.wallMs);
    cpuS.push_back(r.cpuSeconds);
  }
};

// Runs argv under strace and returns the bytes its read-like calls got from
// descriptors open on path (or, when path starts with "socket:", from any
// socket). -1 when strace is missing or failed.
int64_t StraceBytesRead(const std::vector<std::string>& argv, const std::string& path);

// Instructions executed by argv under callgrind (extra: more valgrind
// options, e.g. --toggle-collect=NAME). -1 without valgrind or on failure.
double CallgrindInstructions(const std::vector<std::string>& argv,
                             const std::vector<std::string>& extra = {});

// An nginx access log in bench/run.sh's format ("URI status body-bytes
// bytes"): its size, and the requests and body bytes logged after offset,
// read once the log has stayed still for a moment (a dropped transfer is
// logged only when nginx notices the closed connection).
struct Served {
  int64_t bytes = 0;
  int requests = 0;
};
int64_t LogSize(const std::string& log);
Served ServedSince(const std::string& log, int64_t offset);

// One result row: area, subject, up to three figures and a note. bench/run.sh
// aligns the rows of every program into one table.
void Row(const std::string& area, const std::string& subject, const std::string& a,
         const std::string& b = "", const std::string& c = "", const std::string& note = "");
std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Bytes(double bytes);  // "512 B", "12.3 KB", "4.56 MB" (1000-based)

// Command-line values "--name value"; the default when absent.
std::string Arg(int argc, char** argv, const std::string& name, const std::string& fallback = "");
bool Flag(int argc, char** argv, const std::string& name);

// Reading a source through the public entry points as a player would.
struct ReadTotals {
  int64_t frames = 0;
  int64_t videoBytes = 0;
  int64_t audioBytes = 0;
  int64_t audioCalls = 0;
};

// Bytes of audio per second of the open source, from its description.
double AudioBytesPerSecond(const StreamInfo& info);

// Largest Vorbis batch: 2000 bytes plus channels x long block (8192) x 2.
constexpr int32_t kAudioBufferBytes = 1 << 20;
constexpr int32_t kVideoBufferBytes = 8 << 20;
constexpr int32_t kRawAudioRequest = 4096;

// A buffer left uninitialised, so only the pages written become resident
// and the memory figures show the reader, not the host's spare room.
inline uint8_t* HostBuffer(size_t bytes) { return new uint8_t[bytes]; }

// Video frames in order with the audio kept within a second of the video;
// withAudio false: video only (the audio pages then pile up in the reader).
ReadTotals ReadAll(const StreamInfo& info, bool withVideo, bool withAudio);

}  // namespace bench

#endif
