// The UDP socket chores that the manager and the agent share, for IPv4 and IPv6: opening and
// binding a non-blocking datagram socket (one socket for both families on ::), turning socket
// errors into the numbers the service reports (10048 address in use, 10049 address not
// available, else errno with its text), the socket addresses of either family, sending one
// datagram without dropping it under a short burst of back-pressure, and the IP_PKTINFO and
// IPV6_PKTINFO control messages that say which local address a datagram came in on and which
// one it leaves from.
//
// An IPv4 peer of a socket bound to :: is ::ffff:a.b.c.d to the kernel; everything here that
// gives an address back gives it as the IPv4 address it is (IpAddress::Unmapped).
#ifndef TERVANE_SERVICE_SNMP_SOCKET_UTIL_H_
#define TERVANE_SERVICE_SNMP_SOCKET_UTIL_H_

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/status.h"
#include "service/snmp/ip_text.h"

namespace tervane::snmp {

// The Windows socket numbers that the service's start reports and its callers test for.
inline constexpr ErrorCode kErrorAddressInUse = WindowsCode(10048);
inline constexpr ErrorCode kErrorAddressNotAvailable = WindowsCode(10049);

// Status for the socket errno `err` raised while doing `what`: EADDRINUSE becomes 10048,
// EADDRNOTAVAIL 10049, anything else keeps its errno. The description carries `what` and
// the system's text.
Status SocketError(int err, const std::string& what);

// Parses dotted-decimal IPv4 text ("a.b.c.d") into *out (network byte order), by the codec's
// rule for IpAddress values, so that an address reads alike everywhere. Returns false,
// leaving *out unchanged, for anything else.
bool ParseIpv4(const std::string& text, in_addr* out);
// Whether `address` (IPv4 or IPv6 text) is an address of this machine: one a socket can be
// bound to, which includes every loopback address, ::1, 0.0.0.0 and ::. False for anything
// else.
bool IsLocalAddress(const std::string& address);

// Whether `address` is one that an interface of this machine has now (getifaddrs), or lies in
// a loopback interface's network (all of 127/8 is local on Linux), or is 0.0.0.0 or ::. A
// socket bound with IP_FREEBIND to an address that no interface has yet receives nothing
// until one has it, as a standby relay on a virtual address that another node holds. Where
// the interfaces cannot be listed (no netlink socket allowed), IsLocalAddress answers.
bool HasInterfaceAddress(const IpAddress& address);

// Dotted-decimal text of `address`.
std::string FormatIpv4(in_addr address);

// A socket address of either family, as the kernel fills it in and takes it: a peer, a
// destination, or what a socket is bound to. `any.sa_family` says which member holds it.
union SocketAddress {
  sockaddr any;
  sockaddr_in v4;
  sockaddr_in6 v6;
};
// `address` and `port` as a socket of `family` (AF_INET or AF_INET6) sends to them: an IPv4
// address for an AF_INET6 socket as ::ffff:a.b.c.d. False, leaving *out unchanged, when the
// family cannot carry the address (IPv6 for AF_INET) or `address` is none.
bool MakeSocketAddress(const IpAddress& address, uint16_t port, int family, SocketAddress* out);
// The length the kernel takes for `address` (by its family).
socklen_t SocketAddressLength(const SocketAddress& address);
// The address of `address`, unmapped; none for a family other than AF_INET and AF_INET6.
IpAddress AddressOf(const SocketAddress& address);
uint16_t PortOf(const SocketAddress& address);
// "ADDRESS:PORT" or "[IPV6]:PORT" (FormatEndpoint) of `address`, unmapped.
std::string EndpointText(const SocketAddress& address);

// Opens a non-blocking, close-on-exec UDP socket bound to `address` (empty: every local IPv4
// address, as 0.0.0.0) and `port` (0: an ephemeral port), without SO_REUSEADDR so that a port
// in use fails, and with IP_FREEBIND (IPV6_FREEBIND for IPv6) so that an address this machine
// does not have yet (a virtual address that a failover will move here) binds all the same and
// receives from the moment it arrives. An IPv4 address opens an AF_INET socket, an IPv6 one an
// AF_INET6 socket for IPv6 alone, and :: one AF_INET6 socket for both families (IPV6_V6ONLY
// off) unless `v6_only`; ::ffff:a.b.c.d is the IPv4 address it maps. `buffer_option`
// (SO_RCVBUF or SO_SNDBUF) is raised towards `buffer_bytes` as far as the kernel allows. An
// address that is no IPv4 or IPv6 address fails with 10049. On failure no socket is left open.
Result<int> OpenUdpSocket(const std::string& address, uint16_t port, int buffer_option,
                          int buffer_bytes, bool v6_only = false);

// The address and port that `fd` is bound to; 0.0.0.0 and port 0 (AF_INET) when it is
// unknown.
SocketAddress LocalName(int fd);
// Whether `fd` (AF_INET6) takes IPv4 peers as well: IPV6_V6ONLY is off.
bool TakesBothFamilies(int fd);

// The local address a datagram came in on, or is to leave from: none (the kernel's choice),
// an IPv4 address, or an IPv6 one, with its interface when it is link-local (a link-local
// address is only unique on its link).
struct LocalAddress {
  IpAddress address;
  uint32_t interface = 0;
};
// Room for the control messages of a datagram's local address (IP_PKTINFO and, on an IPv6
// socket, IPV6_PKTINFO), aligned for them: received datagrams carry the address they came in
// on, and a reply leaves from it.
struct alignas(cmsghdr) PktInfoControl {
  unsigned char bytes[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(in6_pktinfo))];
};
// Points `msg`'s control at `control`, holding the IP_PKTINFO (IPv4, also to an IPv4 peer of
// an IPv6 socket) or IPV6_PKTINFO that makes the datagram leave from the local address
// `from`; none or an any address leaves the choice to the kernel (no control).
void SetSourceAddress(msghdr* msg, PktInfoControl* control, const LocalAddress& from);
// The local address a datagram received with IP_PKTINFO or IPV6_RECVPKTINFO on came in on
// (the address it was sent to, or for an IPv4 broadcast the receiving interface's): IPv4 for
// an IPv4 datagram on either family's socket; none when `msg` says nothing.
LocalAddress ReceivedOn(const msghdr& msg);

// Sends `datagram` from the non-blocking `fd` to `to`, from the local address `from` when it
// is not zero (IP_PKTINFO). When the socket's buffer is full (EAGAIN, ENOBUFS) it waits for
// room, for at most about kSendPatienceMs in all, and tries again rather than dropping the
// datagram. On failure nothing was sent.
inline constexpr int kSendPatienceMs = 100;
Status SendDatagram(int fd, std::span<const uint8_t> datagram, const SocketAddress& to,
                    const LocalAddress& from = {});

// The rules of one datagram's send, shared by SendDatagram and the batched sends: after a
// failed attempt with `err`, Again says whether to try the same datagram once more, having
// waited for room where that helps. A signal is tried again at once; a refusal (an ICMP port
// unreachable that an earlier datagram caused, reported late) is skipped once; a full buffer
// is waited out for at most kSendPatienceMs from the first wait; anything else fails. A fresh
// SendRetry belongs to each datagram.
class SendRetry {
 public:
  bool Again(int fd, int err);

 private:
  std::chrono::steady_clock::time_point deadline_{};
  bool waiting_ = false;  // deadline_ is set; a send that goes through at once reads no clock
  bool refusal_skipped_ = false;
  int rounds_ = 0;  // guards against a socket that keeps reporting room it does not have
};

// The failure of a send of `err` to `to`, as SendDatagram reports it.
Status SendFailure(int err, const SocketAddress& to);

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_SOCKET_UTIL_H_
