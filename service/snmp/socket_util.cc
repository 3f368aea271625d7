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

// The IPv4 address of `a` (is_v4), in network order.
uint32_t AddressV4(const IpAddress& a) {
  uint32_t v = 0;
  std::memcpy(&v, a.octets.data(), sizeof v);
  return v;
}

std::string Endpoint(const std::string& address, uint16_t port) {
  return FormatEndpoint(address.empty() ? std::string("0.0.0.0") : address, port);
}

// Link-local IPv6 (fe80::/10): unique only on its link, so it needs an interface.
bool LinkLocal(const IpAddress& a) {
  return a.is_v6() && a.octets[0] == 0xFE && (a.octets[1] & 0xC0) == 0x80;
}

// Whether a plain bind (no IP_FREEBIND) takes `address`.
bool Bindable(const IpAddress& address) {
  SocketAddress sa{};
  const int family = address.is_v4() ? AF_INET : AF_INET6;
  if (!MakeSocketAddress(address, 0, family, &sa)) return false;
  const int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool bound = bind(fd, &sa.any, SocketAddressLength(sa)) == 0;
  close(fd);
  return bound;
}

// Whether the interface entry `i` has `address`, or is a loopback whose network holds it.
bool InterfaceHas(const ifaddrs& i, const IpAddress& address) {
  if (i.ifa_addr == nullptr) return false;
  SocketAddress own{};
  SocketAddress mask{};
  const int family = i.ifa_addr->sa_family;
  if (family != AF_INET && family != AF_INET6) return false;
  const size_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  std::memcpy(&own, i.ifa_addr, length);
  const IpAddress here = AddressOf(own);
  if (here == address) return true;
  if ((i.ifa_flags & IFF_LOOPBACK) == 0 || i.ifa_netmask == nullptr || !here.is_v4() ||
      !address.is_v4()) {
    return false;
  }
  std::memcpy(&mask, i.ifa_netmask, sizeof(sockaddr_in));
  const uint32_t m = mask.v4.sin_addr.s_addr;
  return (own.v4.sin_addr.s_addr & m) == (AddressV4(address) & m);
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
  IpAddress parsed;
  if (ParseAddressText(address, &parsed) != nullptr) return false;
  return Bindable(parsed.Unmapped());
}

bool HasInterfaceAddress(const IpAddress& address) {
  const IpAddress wanted = address.Unmapped();
  if (wanted.IsAny()) return true;
  if (wanted.family == IpAddress::Family::kNone) return false;
  ifaddrs* list = nullptr;
  // A sandbox without netlink sockets (systemd's RestrictAddressFamilies) has no interface
  // list: whether a plain bind takes the address says the same.
  if (getifaddrs(&list) != 0) return Bindable(wanted);
  bool found = false;
  for (const ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next) {
    found = InterfaceHas(*i, wanted);
  }
  freeifaddrs(list);
  return found;
}

std::string FormatIpv4(in_addr address) {
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return "0.0.0.0";
  return text;
}

bool MakeSocketAddress(const IpAddress& address, uint16_t port, int family, SocketAddress* out) {
  const IpAddress a = address.Unmapped();
  SocketAddress sa{};
  if (family == AF_INET && a.is_v4()) {
    sa.v4.sin_family = AF_INET;
    sa.v4.sin_port = htons(port);
    std::memcpy(&sa.v4.sin_addr, a.octets.data(), 4);
  } else if (family == AF_INET6 && (a.is_v4() || a.is_v6())) {
    sa.v6.sin6_family = AF_INET6;
    sa.v6.sin6_port = htons(port);
    if (a.is_v4()) {
      // ::ffff:a.b.c.d, the form in which an AF_INET6 socket reaches an IPv4 peer.
      sa.v6.sin6_addr.s6_addr[10] = 0xFF;
      sa.v6.sin6_addr.s6_addr[11] = 0xFF;
      std::memcpy(sa.v6.sin6_addr.s6_addr + 12, a.octets.data(), 4);
    } else {
      std::memcpy(sa.v6.sin6_addr.s6_addr, a.octets.data(), 16);
    }
  } else {
    return false;
  }
  *out = sa;
  return true;
}

socklen_t SocketAddressLength(const SocketAddress& address) {
  return address.any.sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

IpAddress AddressOf(const SocketAddress& address) {
  if (address.any.sa_family == AF_INET) {
    return IpAddress::V4(reinterpret_cast<const uint8_t*>(&address.v4.sin_addr));
  }
  if (address.any.sa_family == AF_INET6) {
    return IpAddress::V6(address.v6.sin6_addr.s6_addr).Unmapped();
  }
  return {};
}

uint16_t PortOf(const SocketAddress& address) {
  if (address.any.sa_family == AF_INET) return ntohs(address.v4.sin_port);
  if (address.any.sa_family == AF_INET6) return ntohs(address.v6.sin6_port);
  return 0;
}

std::string EndpointText(const SocketAddress& address) {
  return FormatEndpoint(FormatAddress(AddressOf(address)), PortOf(address));
}

Result<int> OpenUdpSocket(const std::string& address, uint16_t port, int buffer_option,
                          int buffer_bytes, bool v6_only) {
  IpAddress parsed;
  if (address.empty()) {
    const uint8_t any[4] = {0, 0, 0, 0};
    parsed = IpAddress::V4(any);
  } else if (ParseAddressText(address, &parsed) != nullptr) {
    return Status::Error(kErrorAddressNotAvailable,
                         "'" + address + "' is not a valid IPv4 or IPv6 address");
  }
  parsed = parsed.Unmapped();
  const int family = parsed.is_v4() ? AF_INET : AF_INET6;
  SocketAddress sa{};
  (void)MakeSocketAddress(parsed, port, family, &sa);

  const int fd = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return SocketError(errno, "socket");
  auto fail = [fd](const char* what) -> Status {
    const int err = errno;
    close(fd);
    return SocketError(err, what);
  };

  // Bursts of traps must queue in the kernel rather than be lost while a handler runs;
  // the kernel caps the size at its own limit, which is good enough, so no failure here.
  (void)setsockopt(fd, SOL_SOCKET, buffer_option, &buffer_bytes, sizeof buffer_bytes);
  const int on = 1;
  if (family == AF_INET) {
    if (setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on) != 0) {
      return fail("setsockopt IP_FREEBIND");
    }
  } else {
    // :: takes both families on one socket; any other IPv6 address is IPv6's alone.
    const int only = v6_only || !parsed.IsAny() ? 1 : 0;
    if (setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only) != 0) {
      return fail("setsockopt IPV6_V6ONLY");
    }
    // IPV6_FREEBIND and IP_FREEBIND set the same flag of the socket; the first came with
    // Linux 4.15, and the second is honoured for IPv6 binds on every kernel.
#ifdef IPV6_FREEBIND
    if (setsockopt(fd, IPPROTO_IPV6, IPV6_FREEBIND, &on, sizeof on) != 0 &&
        setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on) != 0) {
      return fail("setsockopt IPV6_FREEBIND");
    }
#else
    if (setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on) != 0) {
      return fail("setsockopt IP_FREEBIND");
    }
#endif
  }

  if (bind(fd, &sa.any, SocketAddressLength(sa)) != 0) {
    const int err = errno;
    close(fd);
    return SocketError(err, "bind " + Endpoint(address, port));
  }
  return fd;
}

SocketAddress LocalName(int fd) {
  SocketAddress sa{};
  socklen_t len = sizeof sa;
  if (fd < 0 || getsockname(fd, &sa.any, &len) != 0 ||
      (sa.any.sa_family != AF_INET && sa.any.sa_family != AF_INET6)) {
    sa = SocketAddress{};
    sa.v4.sin_family = AF_INET;
  }
  return sa;
}

bool TakesBothFamilies(int fd) {
  int only = 1;
  socklen_t len = sizeof only;
  return LocalName(fd).any.sa_family == AF_INET6 &&
         getsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, &len) == 0 && only == 0;
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

Status SendFailure(int err, const SocketAddress& to) {
  return SocketError(err, "send to " + EndpointText(to));
}

void SetSourceAddress(msghdr* msg, PktInfoControl* control, const LocalAddress& from) {
  const IpAddress source = from.address.Unmapped();
  if (source.family == IpAddress::Family::kNone || source.IsAny()) {
    msg->msg_control = nullptr;
    msg->msg_controllen = 0;
    return;
  }
  *control = PktInfoControl{};
  msg->msg_control = control->bytes;
  cmsghdr* c = reinterpret_cast<cmsghdr*>(control->bytes);
  if (source.is_v4()) {
    // Also on an AF_INET6 socket: its datagrams to an IPv4 peer go out by IPv4's rules.
    msg->msg_controllen = CMSG_SPACE(sizeof(in_pktinfo));
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    // No interface: the route to the peer picks it, as for any other datagram.
    std::memcpy(&info.ipi_spec_dst, source.octets.data(), 4);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    return;
  }
  msg->msg_controllen = CMSG_SPACE(sizeof(in6_pktinfo));
  c->cmsg_level = IPPROTO_IPV6;
  c->cmsg_type = IPV6_PKTINFO;
  c->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
  in6_pktinfo info{};
  std::memcpy(info.ipi6_addr.s6_addr, source.octets.data(), 16);
  // The route picks the interface, but a link-local address means one link.
  info.ipi6_ifindex = LinkLocal(source) ? from.interface : 0;
  std::memcpy(CMSG_DATA(c), &info, sizeof info);
}

LocalAddress ReceivedOn(const msghdr& msg) {
  LocalAddress v4;
  LocalAddress v6;
  if (msg.msg_control == nullptr) return v4;
  // CMSG_NXTHDR takes a non-const header; nothing is written through it.
  auto* m = const_cast<msghdr*>(&msg);
  for (cmsghdr* c = CMSG_FIRSTHDR(m); c != nullptr; c = CMSG_NXTHDR(m, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
        c->cmsg_len >= CMSG_LEN(sizeof(in_pktinfo))) {
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      v4.address = IpAddress::V4(reinterpret_cast<const uint8_t*>(&info.ipi_spec_dst));
    } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO &&
               c->cmsg_len >= CMSG_LEN(sizeof(in6_pktinfo))) {
      in6_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      v6.address = IpAddress::V6(info.ipi6_addr.s6_addr).Unmapped();
      v6.interface = info.ipi6_ifindex;
    }
  }
  // An IPv4 datagram on an AF_INET6 socket carries both: IP_PKTINFO's names the local
  // address also for a broadcast, where IPV6_PKTINFO has the broadcast address.
  if (v4.address.is_v4()) return v4;
  return v6;
}

Status SendDatagram(int fd, std::span<const uint8_t> datagram, const SocketAddress& to,
                    const LocalAddress& from) {
  PktInfoControl control;
  iovec iov{const_cast<uint8_t*>(datagram.data()), datagram.size()};
  msghdr msg{};
  msg.msg_name = const_cast<sockaddr*>(&to.any);
  msg.msg_namelen = SocketAddressLength(to);
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
