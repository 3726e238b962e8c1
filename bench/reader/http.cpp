// What reading over HTTP costs the network: requests and bytes nginx sent
// (from its access log) beside the bytes the reader read from the same file
// on disk (rchar), for an open, one percent seek, ten mixed seeks and a whole
// read; then the time of an open + seek through a proxy that delays every
// request and every new connection by --delay-ms, beside ffmpeg -ss through
// the same proxy and ffmpeg's requests and bytes for the same seek.
//
//   ogm_bench_http --file F --url U --access-log NGINX_LOG [--delay-ms 50] [--runs N]
//
// The log's lines start with "$request_uri $status $body_bytes_sent", as
// bench/run.sh writes them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <ogmdecaps/ogmdecaps.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"

using namespace bench;

namespace {

// One scenario of reader calls on an open source.
using Steps = std::function<void(const StreamInfo&)>;

std::vector<uint8_t>& FrameBuffer() {
  static std::vector<uint8_t> buffer(8 << 20);
  return buffer;
}

void FirstFrameAndAudio() {
  static std::vector<uint8_t> pcm(1 << 17);
  AVIDecaps_NextVideoFrame(FrameBuffer().data(), 0);
  AVIDecaps_ReadAudio(pcm.data(), 4096);
}

ReaderFunctions& Table() {
  static ReaderFunctions table;
  static bool filled = InitializeReader(&table) != nullptr;
  (void)filled;
  return table;
}

void TenSeeks(const StreamInfo& info) {
  for (int p : {50, 13, 77, 31}) {
    AVIDecaps_Seek(p, 0);
    FirstFrameAndAudio();
  }
  for (int f : {1234, 9000, 4321}) {
    AVIDecaps_Seek(f < info.frameCount ? f : info.frameCount / 3, 1);
    FirstFrameAndAudio();
  }
  for (int c : {2, 7, 4}) {
    Table().seekChapter(c < info.chapterCount ? c : 0);
    FirstFrameAndAudio();
  }
}

struct Cost {
  int64_t consumed = 0;  // bytes the reader read from the local file
  Served served;         // what nginx sent for the same calls over HTTP
  double ms = 0;         // wall time of the HTTP run
  bool ok = true;
};

Cost Measure(const std::string& file, const std::string& url, const std::string& log,
             const Steps& steps) {
  Cost cost;
  void* info = nullptr;
  const int64_t before = ProcessReadBytes();
  if (AVIDecaps_Open(Utf16(file).c_str(), 0, 0, &info) != 1) cost.ok = false;
  if (cost.ok) steps(*static_cast<StreamInfo*>(info));
  AVIDecaps_Close();
  cost.consumed = ProcessReadBytes() - before;
  const int64_t offset = LogSize(log);
  const double start = WallMs();
  if (AVIDecaps_Open(Utf16(url).c_str(), 0, 0, &info) != 1) cost.ok = false;
  if (cost.ok) steps(*static_cast<StreamInfo*>(info));
  AVIDecaps_Close();
  cost.ms = WallMs() - start;
  cost.served = ServedSince(log, offset);
  return cost;
}

// A TCP relay on 127.0.0.1 to the server's port that holds every new
// connection and every piece of a request for delayMs before passing it on:
// a link with that much latency per request, whatever the bandwidth.
class DelayProxy {
 public:
  DelayProxy(int upstreamPort, int delayMs) : upstream_(upstreamPort), delay_(delayMs) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Address(0);
    socklen_t size = sizeof a;
    bind(listener_, reinterpret_cast<sockaddr*>(&a), size);
    listen(listener_, 16);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~DelayProxy() {
    stop_ = true;
    acceptor_.join();
    close(listener_);
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::thread& t : relays_) t.join();
  }
  int port() const { return port_; }

 private:
  static sockaddr_in Address(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
  }
  void Accept() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      const int client = accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      relays_.emplace_back([this, client] { Relay(client); });
    }
  }
  void Relay(int client) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_));  // the handshake
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Address(upstream_);
    if (connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(client);
      close(server);
      return;
    }
    std::vector<char> buffer(1 << 16);
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    while (!stop_) {
      if (poll(p, 2, 100) <= 0) continue;
      if (p[0].revents != 0) {
        const ssize_t n = recv(client, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_));
        if (send(server, buffer.data(), static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
      }
      if (p[1].revents != 0) {
        const ssize_t n = recv(server, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        for (ssize_t sent = 0; sent < n;) {
          const ssize_t m =
              send(client, buffer.data() + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
          if (m <= 0) break;
          sent += m;
        }
      }
    }
    close(client);
    close(server);
  }

  int upstream_;
  int delay_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::thread> relays_;
  std::thread acceptor_;
};

std::string Through(const std::string& url, int port) {
  const size_t host = url.find("://") + 3;
  const size_t path = url.find('/', host);
  return url.substr(0, host) + "127.0.0.1:" + std::to_string(port) + url.substr(path);
}

int PortOf(const std::string& url) {
  const size_t colon = url.find(':', url.find("://") + 3);
  return colon == std::string::npos ? 80 : std::atoi(url.c_str() + colon + 1);
}

std::vector<std::string> FfmpegSeek(const std::string& url, double seconds) {
  return {
      "ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-ss", Fmt("%.3f", seconds), "-i",
      url,      "-frames:v",    "1",        "-f",        "null",  "-"};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = Arg(argc, argv, "--file");
  const std::string url = Arg(argc, argv, "--url");
  const std::string log = Arg(argc, argv, "--access-log");
  const int delayMs = std::atoi(Arg(argc, argv, "--delay-ms", "50").c_str());
  const int runs = std::atoi(Arg(argc, argv, "--runs", "5").c_str());
  if (file.empty() || url.empty() || log.empty()) {
    std::fprintf(stderr,
                 "usage: ogm_bench_http --file F --url U --access-log LOG [--delay-ms 50] "
                 "[--runs N]\n");
    return 2;
  }
  std::fprintf(stderr, "http: %s (%s) as %s\n", file.c_str(),
               Bytes(static_cast<double>(FileSize(file))).c_str(), url.c_str());

  const Cost open = Measure(file, url, log, [](const StreamInfo&) {});
  const Cost one = Measure(file, url, log, [](const StreamInfo&) {
    AVIDecaps_Seek(50, 0);
    FirstFrameAndAudio();
  });
  const Cost ten = Measure(file, url, log, TenSeeks);
  const Cost whole = Measure(file, url, log, [](const StreamInfo&) {
    while (AVIDecaps_NextVideoFrame(FrameBuffer().data(), 0) >= 0) {
    }
  });
  auto row = [](const std::string& what, const Cost& c, const Cost* base, int seeks) {
    const int64_t sent = c.served.bytes - (base ? base->served.bytes : 0);
    const int64_t used = c.consumed - (base ? base->consumed : 0);
    const int requests = c.served.requests - (base ? base->served.requests : 0);
    Row("http", what, Fmt("%d request(s)", requests),
        Fmt("%s sent", Bytes(static_cast<double>(sent)).c_str()),
        Fmt("%s read", Bytes(static_cast<double>(used)).c_str()),
        Fmt("sent/read %.2f%s%s", used > 0 ? static_cast<double>(sent) / used : 0.0,
            seeks > 0 ? Fmt(", %.1f request(s) per seek", double(requests) / seeks).c_str() : "",
            c.ok ? "" : ", FAILED"));
  };
  row("ours: open", open, nullptr, 0);
  row("ours: open + seek 50%, first frame (the seek alone)", one, &open, 1);
  row("ours: open + 10 seeks (percent, frame, chapter)", ten, nullptr, 0);
  row("ours: open + 10 seeks (the seeks alone)", ten, &open, 10);
  row("ours: open + every video frame", whole, nullptr, 0);

  // ffmpeg on the same seek: what it asks the server for.
  void* info = nullptr;
  double seconds = 300;
  if (AVIDecaps_Open(Utf16(file).c_str(), 0, 0, &info) == 1) {
    const StreamInfo* si = static_cast<StreamInfo*>(info);
    seconds = si->frameCount / si->framesPerSecond / 2;
  }
  AVIDecaps_Close();
  {
    const int64_t offset = LogSize(log);
    const ChildResult r = RunChild(FfmpegSeek(url, seconds));
    const Served s = ServedSince(log, offset);
    Row("http", Fmt("ffmpeg -ss %.0f -frames:v 1 (open + seek)", seconds),
        Fmt("%d request(s)", s.requests),
        Fmt("%s sent", Bytes(static_cast<double>(s.bytes)).c_str()), "",
        r.exitCode == 0 ? "" : "FFMPEG FAILED");
  }

  // Open + seek with latency per request, beside ffmpeg through the same
  // proxy.
  DelayProxy proxy(PortOf(url), delayMs);
  const std::string slow = Through(url, proxy.port());
  std::vector<double> ours, theirs;
  bool ok = true;
  for (int i = 0; i < runs; ++i) {
    const double start = WallMs();
    if (AVIDecaps_Open(Utf16(slow).c_str(), 0, 0, &info) != 1) ok = false;
    AVIDecaps_Seek(50, 0);
    FirstFrameAndAudio();
    AVIDecaps_Close();
    ours.push_back(WallMs() - start);
    const ChildResult r = RunChild(FfmpegSeek(slow, seconds));
    if (r.exitCode != 0) ok = false;
    theirs.push_back(r.wallMs);
  }
  Row("http", Fmt("ours: open + seek 50%%, %d ms per request", delayMs),
      Fmt("%.0f ms (worst %.0f)", Median(ours), Worst(ours)), "", "", ok ? "" : "FAILED");
  Row("http", Fmt("ffmpeg -ss %.0f -frames:v 1, %d ms per request", seconds, delayMs),
      Fmt("%.0f ms (worst %.0f)", Median(theirs), Worst(theirs)), "", "",
      "whole process, ffmpeg also decodes the frame");
  return 0;
}
