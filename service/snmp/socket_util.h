// The UDP/IPv4 socket chores that the manager and the agent share: opening and binding a
// non-blocking datagram socket, turning socket errors into the numbers the service reports
// (10048 address in use, 10049 address not available, else errno with its text), parsing
// and printing dotted IPv4 addresses, sending one datagram without dropping it under a short
// burst of back-pressure, and the IP_PKTINFO control messages that say which local address a
// datagram came in on and which one it leaves from.
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
// Whether `address` (dotted IPv4) is an address of this machine: one a socket can be bound
// to, which includes every loopback address and 0.0.0.0. False for anything else.
bool IsLocalAddress(const std::string& address);

// Whether `address` is one that an interface of this machine has now (getifaddrs), or lies in
// a loopback interface's network (all of 127/8 is local on Linux), or is 0.0.0.0. A socket
// bound with IP_FREEBIND to an address that no interface has yet receives nothing until one
// has it, as a standby relay on a virtual address that another node holds. Where the
// interfaces cannot be listed (no netlink socket allowed), IsLocalAddress answers.
bool HasInterfaceAddress(in_addr address);

// Dotted-decimal text of `address`.
std::string FormatIpv4(in_addr address);

// Opens a non-blocking, close-on-exec UDP/IPv4 socket bound to `address` (empty: every
// local address) and `port` (0: an ephemeral port), without SO_REUSEADDR so that a port in
// use fails, and with IP_FREEBIND so that an address this machine does not have yet (a
// virtual address that a failover will move here) binds all the same and receives from the
// moment it arrives. `buffer_option` (SO_RCVBUF or SO_SNDBUF) is raised towards
// `buffer_bytes` as far as the kernel allows. An address that is not dotted IPv4 fails with
// 10049. On failure no socket is left open.
Result<int> OpenUdpSocket(const std::string& address, uint16_t port, int buffer_option,
                          int buffer_bytes);

// The address and port that `fd` is bound to; a zero address and port when it is unknown.
sockaddr_in LocalName(int fd);

// Room for the one control message of a datagram's local address (IP_PKTINFO), aligned for
// it: received datagrams carry the address they came in on, and a reply leaves from it.
struct alignas(cmsghdr) PktInfoControl {
  unsigned char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
};
// Points `msg`'s control at `control`, holding the IP_PKTINFO that makes the datagram leave
// from the local address `from`; a zero `from` leaves the choice to the kernel (no control).
void SetSourceAddress(msghdr* msg, PktInfoControl* control, in_addr from);
// The local address a datagram received with IP_PKTINFO on came in on (the address it was
// sent to, or for a broadcast the receiving interface's): zero when `msg` says nothing.
in_addr ReceivedOn(const msghdr& msg);

// Sends `datagram` from the non-blocking `fd` to `to`, from the local address `from` when it
// is not zero (IP_PKTINFO). When the socket's buffer is full (EAGAIN, ENOBUFS) it waits for
// room, for at most about kSendPatienceMs in all, and tries again rather than dropping the
// datagram. On failure nothing was sent.
inline constexpr int kSendPatienceMs = 100;
Status SendDatagram(int fd, std::span<const uint8_t> datagram, const sockaddr_in& to,
                    in_addr from = {});

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
Status SendFailure(int err, const sockaddr_in& to);

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_SOCKET_UTIL_H_
