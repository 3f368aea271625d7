#include "service/snmp/socket_util.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/sys_error.h"
#include "service/snmp/value_text.h"

namespace tervane::snmp {

namespace {

std::string Endpoint(const std::string& address, uint16_t port) {
  return (address.empty() ? std::string("0.0.0.0") : address) + ":" + std::to_string(port);
}

std::string Endpoint(const sockaddr_in& sa) {
  return Endpoint(FormatIpv4(sa.sin_addr), ntohs(sa.sin_port));
}

}  // namespace

Status SocketError(int err, const std::string& what) {
  Status sys = SysError(err, what);
  switch (err) {
    case EADDRINUSE:
      return Status::Error(kErrorAddressInUse, sys.description());
    case EADDRNOTAVAIL:
      return Status::Error(kErrorAddressNotAvailable, sys.description());
    default:
      return sys;
  }
}

bool ParseIpv4(const std::string& text, in_addr* out) {
  uint8_t octets[4];
  if (ParseIpText(text, octets) != nullptr) return false;
  std::memcpy(&out->s_addr, octets, sizeof octets);  // the octets are in network order
  return true;
}

bool IsLocalAddress(const std::string& address) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (!ParseIpv4(address, &sa.sin_addr)) return false;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
  close(fd);
  return bound;
}

bool HasInterfaceAddress(in_addr address) {
  if (address.s_addr == htonl(INADDR_ANY)) return true;
  ifaddrs* list = nullptr;
  // A sandbox without netlink sockets (systemd's RestrictAddressFamilies) has no interface
  // list: whether a plain bind takes the address says the same.
  if (getifaddrs(&list) != 0) return IsLocalAddress(FormatIpv4(address));
  bool found = false;
  for (const ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    in_addr own{};
    std::memcpy(&own, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, sizeof own);
    if (own.s_addr == address.s_addr) {
      found = true;
    } else if ((i->ifa_flags & IFF_LOOPBACK) != 0 && i->ifa_netmask != nullptr) {
      in_addr mask{};
      std::memcpy(&mask, &reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr,
                  sizeof mask);
      found = (own.s_addr & mask.s_addr) == (address.s_addr & mask.s_addr);
    }
  }
  freeifaddrs(list);
  return found;
}

std::string FormatIpv4(in_addr address) {
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return "0.0.0.0";
  return text;
}

Result<int> OpenUdpSocket(const std::string& address, uint16_t port, int buffer_option,
                          int buffer_bytes) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!address.empty() && !ParseIpv4(address, &sa.sin_addr)) {
    return Status::Error(kErrorAddressNotAvailable,
                         "'" + address + "' is not a valid IPv4 address (expected a.b.c.d)");
  }

  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return SocketError(errno, "socket");

  // Bursts of traps must queue in the kernel rather than be lost while a handler runs;
  // the kernel caps the size at its own limit, which is good enough, so no failure here.
  (void)setsockopt(fd, SOL_SOCKET, buffer_option, &buffer_bytes, sizeof buffer_bytes);
  const int on = 1;
  if (setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on) != 0) {
    const int err = errno;
    close(fd);
    return SocketError(err, "setsockopt IP_FREEBIND");
  }

  if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int err = errno;
    close(fd);
    return SocketError(err, "bind " + Endpoint(address, port));
  }
  return fd;
}

sockaddr_in LocalName(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      sa.sin_family != AF_INET) {
    sa = sockaddr_in{};
    sa.sin_family = AF_INET;
  }
  return sa;
}

bool SendRetry::Again(int fd, int err) {
  using Clock = std::chrono::steady_clock;
  if (++rounds_ > 1000) return false;
  if (err == EINTR) return true;
  if (err == ECONNREFUSED && !refusal_skipped_) {
    // The refusal belongs to an earlier datagram (an ICMP port unreachable); reading it
    // cleared it, so this datagram deserves its own try.
    refusal_skipped_ = true;
    return true;
  }
  if (err != EAGAIN && err != EWOULDBLOCK && err != ENOBUFS) return false;
  if (!waiting_) {
    deadline_ = Clock::now() + std::chrono::milliseconds(kSendPatienceMs);
    waiting_ = true;
  }
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
  if (left <= 0) return false;
  if (err == ENOBUFS) {
    // Out of buffer memory in the stack, not in the socket: poll would report room at
    // once, so give the stack a moment instead.
    poll(nullptr, 0, 1);
  } else {
    pollfd room{fd, POLLOUT, 0};
    poll(&room, 1, static_cast<int>(left));
  }
  return true;
}

Status SendFailure(int err, const sockaddr_in& to) {
  return SocketError(err, "send to " + Endpoint(to));
}

void SetSourceAddress(msghdr* msg, PktInfoControl* control, in_addr from) {
  if (from.s_addr == htonl(INADDR_ANY)) {
    msg->msg_control = nullptr;
    msg->msg_controllen = 0;
    return;
  }
  *control = PktInfoControl{};
  msg->msg_control = control->bytes;
  msg->msg_controllen = sizeof control->bytes;
  cmsghdr* c = CMSG_FIRSTHDR(msg);
  c->cmsg_level = IPPROTO_IP;
  c->cmsg_type = IP_PKTINFO;
  c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  in_pktinfo info{};
  // No interface: the route to the peer picks it, as for any other datagram.
  info.ipi_spec_dst = from;
  std::memcpy(CMSG_DATA(c), &info, sizeof info);
}

in_addr ReceivedOn(const msghdr& msg) {
  in_addr on{};
  if (msg.msg_control == nullptr) return on;
  // CMSG_NXTHDR takes a non-const header; nothing is written through it.
  auto* m = const_cast<msghdr*>(&msg);
  for (cmsghdr* c = CMSG_FIRSTHDR(m); c != nullptr; c = CMSG_NXTHDR(m, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO ||
        c->cmsg_len < CMSG_LEN(sizeof(in_pktinfo))) {
      continue;
    }
    in_pktinfo info{};
    std::memcpy(&info, CMSG_DATA(c), sizeof info);
    on = info.ipi_spec_dst;
  }
  return on;
}

Status SendDatagram(int fd, std::span<const uint8_t> datagram, const sockaddr_in& to,
                    in_addr from) {
  PktInfoControl control;
  iovec iov{const_cast<uint8_t*>(datagram.data()), datagram.size()};
  msghdr msg{};
  msg.msg_name = const_cast<sockaddr_in*>(&to);
  msg.msg_namelen = sizeof to;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  SetSourceAddress(&msg, &control, from);
  SendRetry retry;
  for (;;) {
    const ssize_t sent = sendmsg(fd, &msg, MSG_NOSIGNAL);
    if (sent >= 0) return Status::Ok();
    const int err = errno;
    if (!retry.Again(fd, err)) return SendFailure(err, to);
  }
}

}  // namespace tervane::snmp
