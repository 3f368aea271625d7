// The UDP/IPv4 socket chores that the manager and the agent share: opening and binding a
// non-blocking datagram socket, turning socket errors into the numbers the service reports
// (10048 address in use, 10049 address not available, else errno with its text), parsing
// and printing dotted IPv4 addresses, and sending one datagram without dropping it under
// a short burst of back-pressure.
#ifndef TERVANE_SERVICE_SNMP_SOCKET_UTIL_H_
#define TERVANE_SERVICE_SNMP_SOCKET_UTIL_H_

#include <netinet/in.h>

#include <chrono>
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

// Dotted-decimal text of `address`.
std::string FormatIpv4(in_addr address);

// Opens a non-blocking, close-on-exec UDP/IPv4 socket bound to `address` (empty: every
// local address) and `port` (0: an ephemeral port), without SO_REUSEADDR so that a port in
// use fails. `buffer_option` (SO_RCVBUF or SO_SNDBUF) is raised towards `buffer_bytes` as
// far as the kernel allows. An address that is not dotted IPv4 fails with 10049. On
// failure no socket is left open.
Result<int> OpenUdpSocket(const std::string& address, uint16_t port, int buffer_option,
                          int buffer_bytes);

// The address and port that `fd` is bound to; a zero address and port when it is unknown.
sockaddr_in LocalName(int fd);

// Sends `datagram` from the non-blocking `fd` to `to`. When the socket's buffer is full
// (EAGAIN, ENOBUFS) it waits for room, for at most about kSendPatienceMs in all, and tries
// again rather than dropping the datagram. On failure nothing was sent.
inline constexpr int kSendPatienceMs = 100;
Status SendDatagram(int fd, std::span<const uint8_t> datagram, const sockaddr_in& to);

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
