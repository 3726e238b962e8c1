#include "http_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

using ogmtest::Loopback;

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
  if (pipe(stop_) != 0) throw std::runtime_error("pipe failed");
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener_, 16) != 0)
    throw std::runtime_error("listen failed");
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  close(stop_[1]);  // every poll on stop_[0] now sees the end
  acceptor_.join();
  close(listener_);
  for (std::thread& connection : connections_) connection.join();
  close(stop_[0]);
}

std::string ScriptedServer::Url() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/file";
}

void ScriptedServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 || fds[1].revents != 0) return;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace_back([this, fd] {
      Serve(fd);
      close(fd);
    });
  }
}

void ScriptedServer::Serve(int fd) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 || fds[1].revents != 0) return;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    request.append(buffer, static_cast<size_t>(got));
  }
  ++requests_;
  if (script_.stallBeforeHead) return WaitForStop(fd);
  const int64_t total =
      script_.claimLength >= 0 ? script_.claimLength : static_cast<int64_t>(script_.body.size());
  int64_t from = 0;
  const size_t range = request.find("Range: bytes=");
  std::string head;
  if (script_.status != 0) {
    head = "HTTP/1.1 " + std::to_string(script_.status) + " Nope\r\nContent-Length: 0\r\n";
  } else if (script_.ranges && range != std::string::npos) {
    from = std::atoll(request.c_str() + range + 13);
    head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
           std::to_string(total - 1) + "/" + std::to_string(total) + "\r\n";
    if (script_.announceLength) head += "Content-Length: " + std::to_string(total - from) + "\r\n";
  } else {
    head = "HTTP/1.1 200 OK\r\n";
    if (script_.announceLength) head += "Content-Length: " + std::to_string(total) + "\r\n";
  }
  head += "Connection: close\r\n\r\n";
  if (!SendAll(fd, head.data(), head.size()) || script_.status != 0) return;
  size_t end = std::min<size_t>(script_.body.size(), static_cast<size_t>(total));
  size_t begin = std::min<size_t>(static_cast<size_t>(from), end);
  if (script_.dropAfter != 0 && drops_++ < script_.drops)
    end = std::min(end, begin + script_.dropAfter);
  bool stall = script_.stallAfter < end - begin;
  if (stall) end = begin + script_.stallAfter;
  if (script_.stallAt < end) {
    end = std::max(begin, script_.stallAt);
    stall = true;
  }
  if (SendAll(fd, script_.body.data() + begin, end - begin) && stall) WaitForStop(fd);
}

bool ScriptedServer::SendAll(int fd, const char* data, size_t size) const {
  while (size > 0) {
    pollfd fds[2] = {{fd, POLLOUT, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 || fds[1].revents != 0) return false;
    const ssize_t sent = send(fd, data, std::min<size_t>(size, 65536), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// Holds the connection open without sending until the client leaves or the
// server stops.
void ScriptedServer::WaitForStop(int fd) const {
  char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 || fds[1].revents != 0) return;
    if (recv(fd, buffer, sizeof buffer, 0) <= 0) return;
  }
}
