// The rules of `tervane-svc check`, the health check that keepalived's vrrp_script runs on each
// relay of an active/standby pair: pure functions over the kernel's socket table and the
// counters' stamps, so that every verdict can be tested without a service, a socket or a
// clock. check_command.cc gathers their inputs.
//
// A relay is healthy when its service runs, a UDP socket is bound to its receive endpoint, and
// it wrote its counters lately: the service writes them every 10 s from its one loop, so a
// loop that is wedged (and keeps its socket) shows as counters that grow old.
#ifndef TERVANE_ADMIN_HEALTH_CHECK_H_
#define TERVANE_ADMIN_HEALTH_CHECK_H_

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/snmp/ip_text.h"

namespace tervane::svc {

// One row of /proc/net/udp or /proc/net/udp6: the socket's local address and port, its state
// and its inode.
struct UdpSocket {
  snmp::IpAddress address;  // IPv4 from the udp table, IPv6 from udp6
  uint16_t port = 0;
  int state = 0;
  uint64_t inode = 0;
  friend bool operator==(const UdpSocket&, const UdpSocket&) = default;
};

// The state of a UDP socket that has no peer (TCP_CLOSE in the kernel's numbering): one bound
// to receive from anyone. A connected socket (1, TCP_ESTABLISHED) takes datagrams from its
// peer only.
inline constexpr int kUdpUnconnected = 7;

// The sockets listed in the text of /proc/net/udp or udp6 (or /proc/PID/net/...), in their
// order. The kernel prints an IPv4 address as the hexadecimal number of its four octets as they
// lie in memory, in the host's byte order `order` ("0100007F" is 127.0.0.1 on a little-endian
// host), an IPv6 address as four such numbers of four octets each, 32 digits
// ("00000000000000000000000001000000" is ::1), and a port as a hexadecimal number ("00A2" is
// 162). The heading and lines that are not such a row are skipped.
std::vector<UdpSocket> ParseUdpTable(std::string_view text,
                                     std::endian order = std::endian::native);

// The sockets of `table` that receive on `address`:`port`: unconnected, bound to that port and
// to that address or to every address of its family (0.0.0.0, ::). The service binds the
// family that is configured, so a socket of the other family is none of its listeners.
std::vector<UdpSocket> ListenersOn(const std::vector<UdpSocket>& table,
                                   const snmp::IpAddress& address, uint16_t port);

// The inode of a descriptor's link text "socket:[12345]"; nothing for other links.
std::optional<uint64_t> SocketInode(std::string_view link);

// How old the counters may grow before the relay counts as wedged: three of the service's
// 10-second rounds, so that a round skipped while the window was storing does not fail it.
inline constexpr int64_t kCountersMaxAgeSeconds = 30;

// Why the counters say that the service's loop is not running, or nothing when they say it
// is. `now` and `written` (the latest Written stamp, nothing when there are no counters) are
// Unix seconds; `service_age` is how long the service's process has run, when known. Counters
// written within kCountersMaxAgeSeconds of `now` are fresh; a stamp ahead of `now` counts as
// just written (the clock was set back; the next round writes a stamp of the new clock). A
// service that started less than kCountersMaxAgeSeconds ago may not have written yet: it is
// given that long, whatever the stamps of an earlier run say.
//
//   "counters last written 47 s ago"
//   "no counters written in the 35 s since the service started"
//   "no counters written"
std::optional<std::string> CountersProblem(int64_t now, std::optional<int64_t> written,
                                           std::optional<int64_t> service_age);

// "10.0.0.100:162", "[2001:db8::7]:162".
std::string EndpointText(const snmp::IpAddress& address, uint16_t port);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_HEALTH_CHECK_H_
