// A UDP port of 127.0.0.1 (or of ::1) for a test peer or a test's settings, shared by the
// tests and the screenshot program.
#ifndef TERVANE_TESTS_FREE_PORT_H_
#define TERVANE_TESTS_FREE_PORT_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

// A port of 127.0.0.1 that was free a moment ago: bound to port 0, read back, released.
// 0 when none could be found.
inline uint16_t FreeUdpPort() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
    port = ntohs(sa.sin_port);
  }
  close(fd);
  return port;
}

// The same on ::1; 0 when none could be found (or the machine has no ::1).
inline uint16_t FreeUdp6Port() {
  const int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  sa.sin6_addr = in6addr_loopback;
  socklen_t len = sizeof sa;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
    port = ntohs(sa.sin6_port);
  }
  close(fd);
  return port;
}

#endif  // TERVANE_TESTS_FREE_PORT_H_
