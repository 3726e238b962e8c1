// HTTP servers on 127.0.0.1 for the RavelHTTP tests: a real nginx (from the
// test support), and a small scripted server that misbehaves on purpose.
#ifndef OGMDECAPS_TESTS_PLUGINS_HTTP_SERVERS_H
#define OGMDECAPS_TESTS_PLUGINS_HTTP_SERVERS_H

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "nginx.h"
#include "plugin_harness.h"

using ogmtest::Nginx;

struct Script {
  std::string body;
  bool ranges = true;            // answer Range with 206
  int64_t claimLength = -1;      // announced length, when not body.size()
  int status = 0;                // answer this status, no body
  bool announceLength = true;    // send Content-Length
  size_t dropAfter = 0;          // close an answer after this many bytes (0: never)
  int drops = INT32_MAX;         // ... only the first drops answers
  size_t stallAfter = SIZE_MAX;  // send this many bytes, then nothing more
  size_t stallAt = SIZE_MAX;     // ... nor any byte from this offset on
  bool stallBeforeHead = false;  // accept, read the request, answer nothing
};

class ScriptedServer {
 public:
  explicit ScriptedServer(Script script);
  ~ScriptedServer();
  std::string Url() const;
  int requests() const { return requests_.load(); }

 private:
  void AcceptLoop();
  void Serve(int fd);
  bool SendAll(int fd, const char* data, size_t size) const;
  void WaitForStop(int fd) const;

  const Script script_;
  int listener_ = -1;
  int port_ = 0;
  int stop_[2] = {-1, -1};
  std::atomic<int> requests_{0};
  std::atomic<int> drops_{0};
  std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

#endif
