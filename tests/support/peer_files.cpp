#include "peer_files.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "ogg_edit.h"
#include "test_paths.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace ogmtest {

// Windows: RunCommand and TempDir are in process_win32.cpp.
#ifndef _WIN32
CommandResult RunCommand(const std::vector<std::string>& argv) {
  CommandResult result;
  if (argv.empty() || argv[0].empty()) return result;
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0) return result;
  if (pipe(errPipe) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&fa, outPipe[0]);
  posix_spawn_file_actions_addclose(&fa, errPipe[0]);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  const int rc = posix_spawn(&pid, argv[0].c_str(), &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc == 0) {
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buf[65536];
    while (open > 0) {
      if (poll(fds, 2, -1) < 0) break;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = read(fds[i].fd, buf, sizeof buf);
        if (n > 0) {
          sinks[i]->append(buf, static_cast<size_t>(n));
        } else {
          fds[i].fd = -1;
          --open;
        }
      }
    }
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  }
  close(outPipe[0]);
  close(errPipe[0]);
  return result;
}

TempDir::TempDir(const std::string& tag) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + tag + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data())) path_ = buf.data();
}

TempDir::~TempDir() {
  if (path_.empty() || std::getenv("OGMTEST_KEEP_TEMP")) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}
#endif

namespace {

#ifdef _WIN32
bool Exists(const char* path) { return path[0] != '\0' && _access(path, 0) == 0; }
#else
bool Exists(const char* path) { return path[0] != '\0' && access(path, X_OK) == 0; }
#endif

// Runs ffmpeg with the given arguments writing out; out on success.
std::string Ffmpeg(const std::vector<std::string>& args, const std::string& out) {
  if (!HaveFfmpeg()) return "";
  std::vector<std::string> argv = {OGM_FFMPEG,  "-hide_banner", "-nostdin",
                                   "-loglevel", "error",        "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(out);
  const CommandResult r = RunCommand(argv);
  return r.exitCode == 0 ? out : "";
}

std::string Num(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

}  // namespace

bool HaveFfmpeg() { return Exists(OGM_FFMPEG) && Exists(OGM_FFPROBE); }
bool HaveOgmmerge() { return Exists(OGM_OGMMERGE); }

bool HaveFfmpegEncoder(const std::string& name) {
  if (!HaveFfmpeg()) return false;
  const CommandResult r = RunCommand({OGM_FFMPEG, "-hide_banner", "-encoders"});
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string flags, encoder;
    if (words >> flags >> encoder && encoder == name) return true;
  }
  return false;
}

std::string MakePeerAvi(const std::string& dir, double seconds, int fps, int gop,
                        const std::string& size, const std::string& fourcc,
                        const std::string& name) {
  return Ffmpeg(
      {"-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=" + std::to_string(fps), "-t",
       Num(seconds), "-c:v", "mpeg4", "-vtag", fourcc, "-g", std::to_string(gop), "-bf", "0"},
      dir + "/" + name);
}

std::string MakePeerNoisyAvi(const std::string& dir, double seconds, int fps, int gop,
                             const std::string& size, int kbps, const std::string& name) {
  return Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=" + std::to_string(fps), "-t",
                 Num(seconds), "-vf", "noise=alls=60:allf=t", "-c:v", "mpeg4", "-vtag", "XVID",
                 "-b:v", std::to_string(kbps) + "k", "-g", std::to_string(gop), "-bf", "0"},
                dir + "/" + name);
}

std::string MakePeerMp3(const std::string& dir, double seconds, int rate, int channels, int kbps,
                        const std::string& name) {
  if (!HaveFfmpegEncoder("libmp3lame")) return "";
  return Ffmpeg(
      {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=" + std::to_string(rate), "-t",
       Num(seconds), "-ac", std::to_string(channels), "-c:a", "libmp3lame", "-b:a",
       std::to_string(kbps) + "k", "-write_xing", "0", "-id3v2_version", "0", "-f", "mp3"},
      dir + "/" + name);
}

std::string MakePeerAc3(const std::string& dir, double seconds, int rate, int channels, int kbps,
                        const std::string& name) {
  return Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=" + std::to_string(rate),
                 "-t", Num(seconds), "-ac", std::to_string(channels), "-c:a", "ac3", "-b:a",
                 std::to_string(kbps) + "k", "-f", "ac3"},
                dir + "/" + name);
}

std::string MakePeerWav(const std::string& dir, double seconds, int rate, int channels,
                        const std::string& name) {
  return Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=" + std::to_string(rate),
                 "-t", Num(seconds), "-ac", std::to_string(channels), "-c:a", "pcm_s16le",
                 "-bitexact", "-f", "wav"},
                dir + "/" + name);
}

std::string MakePeerVorbisOgg(const std::string& dir, double seconds, int rate, int channels,
                              const std::string& name) {
  if (!HaveFfmpegEncoder("libvorbis")) return "";
  return Ffmpeg(
      {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=" + std::to_string(rate), "-t",
       Num(seconds), "-ac", std::to_string(channels), "-c:a", "libvorbis", "-f", "ogg"},
      dir + "/" + name);
}

std::string MakePeerOgm(const std::string& dir, const std::string& name,
                        const std::vector<std::string>& inputs) {
  if (!HaveOgmmerge()) return "";
  const std::string out = dir + "/" + name;
  // Its -c (comment) option corrupts memory; chapters go in with SetChapters.
  std::vector<std::string> argv = {OGM_OGMMERGE, "-q", "-o", out};
  argv.insert(argv.end(), inputs.begin(), inputs.end());
  const CommandResult r = RunCommand(argv);
  return r.exitCode == 0 && !ReadBytes(out).empty() ? out : "";
}

std::string EncodeVorbis(const std::string& dir, const std::string& name, int rate, int channels,
                         double seconds, double quality, const std::string& signal,
                         int packetsPerPage) {
  const std::string out = dir + "/" + name;
  const CommandResult r =
      RunCommand({OGM_VORBIS_ENCODE, "--rate", std::to_string(rate), "--channels",
                  std::to_string(channels), "--seconds", Num(seconds), "--quality", Num(quality),
                  "--signal", signal, "--packets-per-page", std::to_string(packetsPerPage), out});
  return r.exitCode == 0 ? out : "";
}

DecodedPcm DecodeVorbis(const std::string& path, int serial, bool trim) {
  DecodedPcm d;
  TempDir tmp("ogmdec");
  const std::string out = tmp.File("out.pcm");
  std::vector<std::string> argv = {OGM_VORBIS_DECODE, "--serial", std::to_string(serial)};
  if (serial < 0) argv.resize(1);
  if (!trim) argv.push_back("--no-trim");
  argv.push_back(path);
  argv.push_back(out);
  const CommandResult r = RunCommand(argv);
  long long samples = 0;
  if (r.exitCode != 0 || std::sscanf(r.out.c_str(), "channels=%d rate=%d samples=%lld", &d.channels,
                                     &d.rate, &samples) != 3)
    return d;
  d.samples = samples;
  d.pcm = ReadBytes(out);
  d.ok = true;
  return d;
}

std::vector<ProbeStream> Probe(const std::string& path) {
  std::vector<ProbeStream> streams;
  if (!HaveFfmpeg()) return streams;
  const CommandResult r = RunCommand(
      {OGM_FFPROBE, "-v", "error", "-show_streams", "-count_packets", "-of", "default", path});
  if (r.exitCode != 0) return streams;
  std::istringstream lines(r.out);
  std::string line;
  ProbeStream* s = nullptr;
  while (std::getline(lines, line)) {
    if (line == "[STREAM]") {
      streams.emplace_back();
      s = &streams.back();
      continue;
    }
    if (line == "[/STREAM]") {
      s = nullptr;
      continue;
    }
    const size_t eq = line.find('=');
    if (!s || eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    auto num = [&value] { return std::atoll(value.c_str()); };
    if (key == "index")
      s->index = static_cast<int>(num());
    else if (key == "codec_type")
      s->codecType = value;
    else if (key == "codec_name")
      s->codecName = value;
    else if (key == "codec_tag_string")
      s->codecTag = value;
    else if (key == "width")
      s->width = static_cast<int>(num());
    else if (key == "height")
      s->height = static_cast<int>(num());
    else if (key == "r_frame_rate")
      s->rFrameRate = value;
    else if (key == "nb_read_packets")
      s->packets = value == "N/A" ? -1 : num();
    else if (key == "channels")
      s->channels = static_cast<int>(num());
    else if (key == "sample_rate")
      s->sampleRate = static_cast<int>(num());
  }
  return streams;
}

double ProbeStream::FrameRate() const {
  long long n = 0, d = 0;
  if (std::sscanf(rFrameRate.c_str(), "%lld/%lld", &n, &d) != 2 || d == 0) return 0;
  return static_cast<double>(n) / static_cast<double>(d);
}

std::vector<std::string> FrameMd5Lines(const std::string& path, const std::string& map) {
  std::vector<std::string> out;
  if (!HaveFfmpeg()) return out;
  const CommandResult r =
      RunCommand({OGM_FFMPEG, "-hide_banner", "-nostdin", "-loglevel", "error", "-i", path, "-map",
                  map, "-c", "copy", "-f", "framemd5", "-"});
  if (r.exitCode != 0) return out;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty() && line[0] != '#') out.push_back(line);
  return out;
}

}  // namespace ogmtest
