// Peers of the tests of TervixSrv's start: a holder that keeps a UDP port of 127.0.0.1 busy
// until it lets go, and the socket systemd passes in NOTIFY_SOCKET, with what the service
// tells it.
#ifndef TERVANE_TESTS_LISTEN_PEERS_H_
#define TERVANE_TESTS_LISTEN_PEERS_H_

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tervane::testing {

// A UDP socket on 127.0.0.1 and a port of the kernel's choice, closed when it goes or lets go.
class HeldPort {
 public:
  HeldPort() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
      port_ = ntohs(sa.sin_port);
    }
  }
  ~HeldPort() { Release(); }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;
  uint16_t port() const { return port_; }
  // The port is free from now on.
  void Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// The socket systemd passes in NOTIFY_SOCKET, and the datagrams TervixSrv sends to it.
class NotifySocket {
 public:
  explicit NotifySocket(std::string path) : path_(std::move(path)) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (fd_ >= 0 && path_.size() < sizeof addr.sun_path) {
      std::memcpy(addr.sun_path, path_.data(), path_.size());
      bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
  }
  ~NotifySocket() {
    if (fd_ >= 0) close(fd_);
  }
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  bool ok() const { return bound_; }
  std::string Variable() const { return "NOTIFY_SOCKET=" + path_; }
  // Every datagram so far, in the order they came.
  const std::vector<std::string>& Messages() {
    char buf[4096];
    ssize_t n = 0;
    while ((n = recv(fd_, buf, sizeof buf, 0)) > 0)
      messages_.emplace_back(buf, static_cast<size_t>(n));
    return messages_;
  }
  bool Received(const std::string& message) {
    const std::vector<std::string>& all = Messages();
    return std::find(all.begin(), all.end(), message) != all.end();
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
  std::vector<std::string> messages_;
};

}  // namespace tervane::testing

#endif  // TERVANE_TESTS_LISTEN_PEERS_H_
