#include "nginx.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <stdexcept>

extern char** environ;

namespace ogmtest {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

namespace {

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(port);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

}  // namespace

Nginx::Nginx(const std::string& root, bool tls)
    : root_(root.empty() ? dir_.File("www") : root), tls_(tls) {
  const std::string& d = dir_.path();
  if (tls && std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
                          " -addext subjectAltName=IP:127.0.0.1 -keyout " +
                          d + "/key.pem -out " + d + "/cert.pem 2>/dev/null")
                             .c_str()) != 0)
    throw std::runtime_error("openssl could not make a certificate");
  if (root.empty()) std::filesystem::create_directory(root_);
  // A port taken between FreePort and nginx's bind makes nginx exit: retry.
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = FreePort();
    std::ofstream(d + "/nginx.conf")
        << "daemon off; master_process off; worker_processes 1; pid " << d << "/nginx.pid;\n"
        << "error_log " << d << "/error.log; events { worker_connections 64; }\n"
        << "http { log_format costs '$status $body_bytes_sent \"$http_range\" $connection';\n"
        << " access_log " << d << "/access.log costs; client_body_temp_path " << d
        << "; proxy_temp_path " << d << "; fastcgi_temp_path " << d << "; uwsgi_temp_path " << d
        << "; scgi_temp_path " << d << ";\n server { listen 127.0.0.1:" << port_
        << (tls ? " ssl" : "") << "; root " << root_
        << ";\n location = /moved.bin { return 302 /data.bin; }\n"
        << (tls ? " ssl_certificate " + d + "/cert.pem; ssl_certificate_key " + d + "/key.pem;\n"
                : "")
        << "} }\n";
    const std::string conf = d + "/nginx.conf", err = d + "/error.log";
    const char* argv[] = {"nginx", "-e", err.c_str(), "-p", d.c_str(), "-c", conf.c_str(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "nginx", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      throw std::runtime_error("nginx not found");
    bool exited = false;
    for (int wait = 0; wait < 150 && !Accepts(port_); ++wait) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) {
        exited = true;
        break;
      }
      usleep(20000);
    }
    if (!exited && Accepts(port_)) {
      pid_ = pid;
    } else if (!exited) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  if (pid_ < 0) throw std::runtime_error("nginx did not start");
}

Nginx::~Nginx() {
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::vector<ServedRequest> Nginx::Requests() const {
  const std::string log = dir_.File("access.log");
  auto size = [&log] {
    std::error_code error;
    const auto n = std::filesystem::file_size(log, error);
    return error ? uintmax_t{0} : n;
  };
  for (int still = 0, waits = 0; still < 3 && waits < 100; ++waits) {
    const uintmax_t before = size();
    usleep(50000);
    still = size() == before ? still + 1 : 0;
  }
  std::vector<ServedRequest> requests;
  std::ifstream in(log);
  ServedRequest r;
  while (in >> r.status >> r.bytes >> std::quoted(r.range) >> r.connection) {
    if (r.range == "-") r.range.clear();
    requests.push_back(r);
  }
  return requests;
}

std::string Nginx::Put(const std::string& name, const std::string& data) const {
  std::ofstream(root_ + "/" + name, std::ios::binary)
      .write(data.data(), static_cast<std::streamsize>(data.size()));
  return Url(name);
}

std::string Nginx::Url(const std::string& name) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + "/" +
         name;
}

}  // namespace ogmtest
