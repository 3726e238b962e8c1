// nginx on 127.0.0.1 for the tests that read through URLs: started in the
// foreground as our child, stopped when the object goes.
#ifndef OGMDECAPS_TESTS_SUPPORT_NGINX_H
#define OGMDECAPS_TESTS_SUPPORT_NGINX_H

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "peer_files.h"

namespace ogmtest {

// 127.0.0.1:port (0: any free port, for bind).
sockaddr_in Loopback(int port);

// One request from the access log: its status, the body bytes nginx sent
// (also of a request abandoned by the client: what reached the socket),
// its Range header ("" when none) and the number of its connection.
struct ServedRequest {
  int status = 0;
  int64_t bytes = 0;
  std::string range;
  int64_t connection = 0;
};

// Serves root (empty: a www/ folder of its own, filled with Put) over http,
// or with tls over https with a fresh self-signed certificate for 127.0.0.1
// (its file is ca_file(), for CURL_CA_BUNDLE). /moved.bin answers with a
// redirect to /data.bin. Throws std::runtime_error when nginx does not start.
class Nginx {
 public:
  explicit Nginx(const std::string& root = "", bool tls = false);
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;
  // Writes a file into the served folder and returns its URL.
  std::string Put(const std::string& name, const std::string& data) const;
  std::string Url(const std::string& name) const;
  std::string ca_file() const { return dir_.File("cert.pem"); }
  // Every request logged so far, once the log has been still for a moment
  // (nginx logs a request when its answer is sent or given up).
  std::vector<ServedRequest> Requests() const;

 private:
  TempDir dir_{"ogm-nginx"};
  std::string root_;
  bool tls_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace ogmtest

#endif
