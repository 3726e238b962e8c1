#include "bench_util.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace bench {

double WallMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Worst(const std::vector<double>& v) {
  return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

std::u16string Utf16(const std::string& s) {
  // Paths and URLs here are ASCII.
  return std::u16string(s.begin(), s.end());
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

int64_t ProcessReadBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

std::string SelfExe() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

ChildResult RunChild(const std::vector<std::string>& argv, bool captureOut) {
  ChildResult result;
  if (argv.empty()) return result;
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) return result;
  char outName[] = "/tmp/ogm-bench-out-XXXXXX";
  int outFd = -1;
  if (captureOut) {
    outFd = mkstemp(outName);
    if (outFd < 0) return result;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (captureOut)
    posix_spawn_file_actions_adddup2(&fa, outFd, 1);
  else
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  const double start = WallMs();
  const int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc == 0) {
    int status = 0;
    rusage usage = {};
    if (wait4(pid, &status, 0, &usage) == pid) {
      result.wallMs = WallMs() - start;
      result.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                          usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
      result.maxRssKb = usage.ru_maxrss;
      if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    }
  }
  if (captureOut) {
    std::ifstream in(outName);
    std::stringstream text;
    text << in.rdbuf();
    result.out = text.str();
    close(outFd);
    unlink(outName);
  }
  return result;
}

namespace {

// "read(3</path/f.ogm>, " -> "/path/f.ogm"; "" when the line names none.
std::string DescriptorPath(const std::string& line, size_t open) {
  const size_t lt = line.find('<', open);
  if (lt == std::string::npos) return "";
  const size_t gt = line.find(">,", lt);
  if (gt == std::string::npos) return "";
  return line.substr(lt + 1, gt - lt - 1);
}

bool Matches(const std::string& fdPath, const std::string& path) {
  if (path.rfind("socket:", 0) == 0)
    return fdPath.find("socket:") != std::string::npos || fdPath.find("TCP:") != std::string::npos;
  return fdPath == path;
}

}  // namespace

int64_t StraceBytesRead(const std::vector<std::string>& argv, const std::string& name) {
  if (FindProgram("strace").empty()) return -1;
  // strace -y prints the absolute path of each descriptor.
  char resolved[PATH_MAX];
  const std::string path =
      name.rfind("socket:", 0) != 0 && realpath(name.c_str(), resolved) ? resolved : name;
  char logName[] = "/tmp/ogm-bench-strace-XXXXXX";
  const int logFd = mkstemp(logName);
  if (logFd < 0) return -1;
  close(logFd);
  std::vector<std::string> cmd = {
      "strace", "-f",          "-qq", "-y",
      "-s",     "0",           "-e",  "trace=read,pread64,readv,preadv,preadv2,recvfrom,recvmsg",
      "-e",     "signal=none", "-o",  logName};
  cmd.insert(cmd.end(), argv.begin(), argv.end());
  const ChildResult r = RunChild(cmd);
  int64_t total = -1;
  if (r.exitCode == 0) {
    total = 0;
    std::ifstream log(logName);
    std::string line;
    std::map<std::string, bool> pending;  // pid -> the unfinished call is on path
    while (std::getline(log, line)) {
      const size_t space = line.find(' ');
      const std::string pid = space == std::string::npos ? "" : line.substr(0, space);
      bool counted;
      if (line.find("resumed>") != std::string::npos) {
        counted = pending[pid];
      } else {
        const size_t open = line.find('(');
        if (open == std::string::npos) continue;
        counted = Matches(DescriptorPath(line, open), path);
        if (line.find("<unfinished") != std::string::npos) {
          pending[pid] = counted;
          continue;
        }
      }
      const size_t eq = line.rfind(") = ");
      if (!counted || eq == std::string::npos) continue;
      const long long n = std::atoll(line.c_str() + eq + 4);
      if (n > 0) total += n;
    }
  }
  unlink(logName);
  return total;
}

double CallgrindInstructions(const std::vector<std::string>& argv,
                             const std::vector<std::string>& extra) {
  if (FindProgram("valgrind").empty()) return -1;
  char out[] = "/tmp/ogm-bench-callgrind-XXXXXX";
  const int fd = mkstemp(out);
  if (fd < 0) return -1;
  close(fd);
  std::vector<std::string> cmd = {"valgrind", "--tool=callgrind",
                                  std::string("--callgrind-out-file=") + out};
  cmd.insert(cmd.end(), extra.begin(), extra.end());
  cmd.insert(cmd.end(), argv.begin(), argv.end());
  const ChildResult r = RunChild(cmd);
  double total = -1;
  std::ifstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("totals:", 0) == 0 || line.rfind("summary:", 0) == 0)
      total = std::atof(line.c_str() + line.find(':') + 1);
  }
  unlink(out);
  return r.exitCode == 0 ? total : -1;
}

void Row(const std::string& area, const std::string& subject, const std::string& a,
         const std::string& b, const std::string& c, const std::string& note) {
  std::printf("ROW\t%s\t%s\t%s\t%s\t%s\t%s\n", area.c_str(), subject.c_str(),
              a.empty() ? "-" : a.c_str(), b.empty() ? "-" : b.c_str(), c.empty() ? "-" : c.c_str(),
              note.c_str());
  std::fflush(stdout);
}

std::string Fmt(const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

std::string Bytes(double b) {
  if (b < 1000) return Fmt("%.0f B", b);
  if (b < 1e6) return Fmt("%.1f KB", b / 1e3);
  if (b < 1e9) return Fmt("%.2f MB", b / 1e6);
  return Fmt("%.2f GB", b / 1e9);
}

std::string Arg(int argc, char** argv, const std::string& name, const std::string& fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (name == argv[i]) return argv[i + 1];
  return fallback;
}

bool Flag(int argc, char** argv, const std::string& name) {
  for (int i = 1; i < argc; ++i)
    if (name == argv[i]) return true;
  return false;
}

int64_t LogSize(const std::string& log) {
  const int64_t n = FileSize(log);
  return n < 0 ? 0 : n;
}

Served ServedSince(const std::string& log, int64_t offset) {
  int64_t size = LogSize(log);
  for (int quiet = 0, waited = 0; quiet < 3 && waited < 50; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int64_t now = LogSize(log);
    quiet = now == size ? quiet + 1 : 0;
    size = now;
  }
  Served s;
  std::ifstream in(log);
  in.seekg(offset);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string uri, status;
    long long body = 0;
    if (fields >> uri >> status >> body) {
      s.bytes += body;
      ++s.requests;
    }
  }
  return s;
}

double AudioBytesPerSecond(const StreamInfo& info) {
  if (info.audioFormat == 0) return 2.0 * info.audioParamA * info.audioParamB;
  const double seconds = info.frameCount / info.framesPerSecond;
  return seconds > 0 ? info.totalAudioBytes / seconds : 0;
}

ReadTotals ReadAll(const StreamInfo& info, bool withVideo, bool withAudio) {
  static uint8_t* const video = HostBuffer(kVideoBufferBytes);
  static uint8_t* const audio = HostBuffer(kAudioBufferBytes);
  ReadTotals t;
  const double fps = info.framesPerSecond;
  const double audioRate = AudioBytesPerSecond(info);
  bool videoDone = !withVideo, audioDone = !withAudio || audioRate <= 0;
  while (!videoDone || !audioDone) {
    if (!videoDone) {
      const int32_t n = AVIDecaps_NextVideoFrame(video, 0);
      if (n < 0) {
        videoDone = true;
      } else {
        ++t.frames;
        t.videoBytes += n;
      }
    }
    // Audio up to a second past the video's time (all of it once the video
    // is over).
    const double videoSeconds = t.frames / fps;
    while (!audioDone && (videoDone || t.audioBytes / audioRate < videoSeconds + 1.0)) {
      const int32_t n = AVIDecaps_ReadAudio(audio, kRawAudioRequest);
      ++t.audioCalls;
      if (n <= 0)
        audioDone = true;
      else
        t.audioBytes += n;
    }
  }
  return t;
}

}  // namespace bench
