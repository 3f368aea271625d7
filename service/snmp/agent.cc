#include "service/snmp/agent.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/ip.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "service/snmp/codec.h"
#include "service/snmp/socket_util.h"
#include "service/snmp/value_text.h"

namespace tervane::snmp {

namespace {

// Kernel send buffer to ask for, so that bursts of forwarded traps queue instead of
// meeting a full buffer.
constexpr int kSendBufferBytes = 4 << 20;

Status BadDestination(const std::string& text, const std::string& why) {
  return Status::Error(kErrorInvalidArgument, "'" + text + "' is not a valid destination (" + why +
                                                  "; expected a.b.c.d:port or [x:x::x]:port)");
}

// Keeps the refusals of `fd`'s datagrams in its error queue: IP_RECVERR for IPv4 (also for
// IPv4 peers of an AF_INET6 socket), and IPV6_RECVERR on an AF_INET6 socket.
Status KeepRefusals(int fd, int family) {
  const int on = 1;
  if (setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) {
    return SocketError(errno, "setsockopt IP_RECVERR");
  }
  if (family == AF_INET6 && setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on) != 0) {
    return SocketError(errno, "setsockopt IPV6_RECVERR");
  }
  return Status::Ok();
}

}  // namespace

Agent::Agent() = default;

Agent::~Agent() { Stop(); }

Status Agent::Start() { return Start(0, ""); }

Status Agent::Start(uint16_t port, const std::string& address) {
  Stop();
  Result<int> fd = OpenUdpSocket(address, port, SO_SNDBUF, kSendBufferBytes);
  if (!fd.ok()) return fd.status();
  fds_[0] = *fd;
  families_[0] = LocalName(*fd).any.sa_family;
  both_families_ = TakesBothFamilies(*fd);
  if (on_refusal_) {
    if (Status kept = KeepRefusals(fds_[0], families_[0]); !kept.ok()) {
      Stop();
      return kept;
    }
  }
  for (Destination& d : destinations_) Route(&d);
  if (!last_destination_text_.empty()) Route(&last_destination_);
  return Status::Ok();
}

void Agent::Close(size_t i) {
  if (fds_[i] >= 0) close(fds_[i]);
  fds_[i] = -1;
  families_[i] = AF_UNSPEC;
}

void Agent::Stop() {
  Close(0);
  Close(1);
  both_families_ = false;
  other_failure_ = Status::Ok();
}

void Agent::OpenOther(int family) {
  if (fds_[1] >= 0 || !other_failure_.ok()) return;
  // The other family's any address, for that family alone, on a port of the kernel's choice.
  Result<int> fd = OpenUdpSocket(family == AF_INET ? "0.0.0.0" : "::", 0, SO_SNDBUF,
                                 kSendBufferBytes, /*v6_only=*/true);
  Status kept = fd.ok() && on_refusal_ ? KeepRefusals(*fd, family) : Status::Ok();
  if (fd.ok() && !kept.ok()) close(*fd);
  if (!fd.ok() || !kept.ok()) {
    other_failure_ = fd.ok() ? kept : fd.status();
    return;
  }
  fds_[1] = *fd;
  families_[1] = family;
}

void Agent::Route(Destination* d) {
  if (fds_[0] < 0) return;
  const int family = d->address.is_v4() ? AF_INET : AF_INET6;
  if (family == families_[0] || both_families_) {
    d->socket = 0;
    (void)MakeSocketAddress(d->address, d->port, families_[0], &d->to);
    return;
  }
  OpenOther(family);
  d->socket = 1;
  (void)MakeSocketAddress(d->address, d->port, family, &d->to);
}

std::string Agent::LocalAddress() const { return FormatAddress(AddressOf(LocalName(fds_[0]))); }

uint16_t Agent::LocalPort() const { return PortOf(LocalName(fds_[0])); }

Status Agent::AddDestination(const std::string& address_and_port, int flags) {
  if (flags != 0) {
    return Status::Error(kErrorInvalidArgument,
                         "destination flags must be 0, not " + std::to_string(flags));
  }
  // The service sets the same destination before every send: a text parsed before is
  // taken as it was parsed then.
  if (!last_destination_text_.empty() && address_and_port == last_destination_text_) {
    destinations_.push_back(last_destination_);
    return Status::Ok();
  }
  // "[IPv6]:port", else "IPv4:port": an IPv6 address holds colons of its own, so only the
  // brackets say where it ends.
  std::string address;
  std::string port_text;
  Destination d;
  if (!address_and_port.empty() && address_and_port[0] == '[') {
    const size_t close = address_and_port.find("]:");
    if (close == std::string::npos) return BadDestination(address_and_port, "no port");
    address = address_and_port.substr(1, close - 1);
    port_text = address_and_port.substr(close + 2);
    if (ParseAddressText(address, &d.address) != nullptr || !d.address.is_v6()) {
      return BadDestination(address_and_port, "the address in brackets is not IPv6");
    }
    d.address = d.address.Unmapped();
  } else {
    const size_t colon = address_and_port.rfind(':');
    if (colon == std::string::npos) return BadDestination(address_and_port, "no port");
    address = address_and_port.substr(0, colon);
    port_text = address_and_port.substr(colon + 1);
    uint8_t octets[4];
    if (ParseIpText(address, octets) != nullptr) {
      return BadDestination(address_and_port, address.find(':') != std::string::npos
                                                  ? "an IPv6 address goes in brackets"
                                                  : "the address is not dotted IPv4");
    }
    d.address = IpAddress::V4(octets);
  }
  // Decimal digits only: no sign, blank, second colon or suffix; at most five of them so
  // the value cannot overflow before the range check.
  if (port_text.empty() || port_text.size() > 5 ||
      port_text.find_first_not_of("0123456789") != std::string::npos) {
    return BadDestination(address_and_port, "the port is not a decimal number");
  }
  unsigned port = 0;
  std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
  if (port < 1 || port > 65535) {
    return BadDestination(address_and_port, "the port is not between 1 and 65535");
  }
  d.port = static_cast<uint16_t>(port);
  Route(&d);
  destinations_.push_back(d);
  last_destination_text_ = address_and_port;
  last_destination_ = d;
  return Status::Ok();
}

Status Agent::Prepare(const MessageView& message, std::span<const uint8_t>* datagram) const {
  if (fds_[0] < 0) return SocketError(ENOTCONN, "send: the agent is not started");
  if (destinations_.empty()) {
    return Status::Error(kErrorInvalidArgument, "send: no destination");
  }
  return EncodeInPlace(message, datagram);
}

Status Agent::Send() { return Send(ViewOf(outgoing_, &outgoing_variables_)); }

Status Agent::Send(const MessageView& message) {
  std::span<const uint8_t> datagram;
  if (Status s = Prepare(message, &datagram); !s.ok()) return s;
  Status first_failure;
  for (size_t i = 0; i < destinations_.size(); ++i) {
    Status sent = SendTo(datagram, i);
    if (!sent.ok() && first_failure.ok()) first_failure = std::move(sent);
  }
  return first_failure;
}

Status Agent::Queue(const MessageView& message, uint64_t tag) {
  if (fds_[0] < 0) return SocketError(ENOTCONN, "send: the agent is not started");
  if (destinations_.empty()) {
    return Status::Error(kErrorInvalidArgument, "send: no destination");
  }
  // Encoded straight into the queue's buffer.
  if (Status s = Encode(message, &queue_.Next()); !s.ok()) return s;
  for (const Destination& d : destinations_) queue_.Add(d.to, tag, {}, d.socket);
  return Status::Ok();
}

Status Agent::SendTo(std::span<const uint8_t> datagram, size_t destination) const {
  if (destination >= destinations_.size()) {
    return Status::Error(kErrorInvalidArgument, "send: no destination");
  }
  const Destination& d = destinations_[destination];
  if (fds_[d.socket] < 0) return other_failure_;
  return SendDatagram(fds_[d.socket], datagram, d.to);
}

Status Agent::Queue(const MessageView& message, uint32_t destinations, uint64_t first_tag) {
  if (fds_[0] < 0) return SocketError(ENOTCONN, "send: the agent is not started");
  if (destinations_.empty()) {
    return Status::Error(kErrorInvalidArgument, "send: no destination");
  }
  if (Status s = snmp::Encode(message, &queue_.Next()); !s.ok()) return s;
  for (size_t i = 0; i < destinations_.size() && i < 32; ++i) {
    if ((destinations >> i & 1U) != 0) {
      queue_.Add(destinations_[i].to, first_tag + i, {}, destinations_[i].socket);
    }
  }
  return Status::Ok();
}

void Agent::ReadErrors() {
  for (size_t socket = 0; socket < fds_.size(); ++socket) {
    const int fd = fds_[socket];
    if (fd < 0) continue;
    // Bounded, so that a flood of refusals cannot hold the loop; what is left makes the
    // socket report again.
    for (int round = 0; round < 256; ++round) {
      SocketAddress to{};
      uint8_t payload[64];
      iovec iov{payload, sizeof payload};
      alignas(cmsghdr) char control[512];
      msghdr msg{};
      msg.msg_name = &to.any;
      msg.msg_namelen = sizeof to;
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      if (recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) break;
      for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        // An AF_INET6 socket reports IPv4 refusals too, as IPV6_RECVERR.
        const bool error = (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                           (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR);
        if (!error || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
        sock_extended_err ee{};
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        const bool icmp = ee.ee_origin == SO_EE_ORIGIN_ICMP || ee.ee_origin == SO_EE_ORIGIN_ICMP6;
        if (!icmp || !on_refusal_) continue;
        // msg_name is the refused datagram's own destination; the ICMP's sender (the
        // offender) may be a router on the way.
        const IpAddress refused = AddressOf(to);
        const uint16_t port = PortOf(to);
        for (size_t i = 0; i < destinations_.size(); ++i) {
          const Destination& d = destinations_[i];
          if (d.socket == socket && d.address == refused && d.port == port) {
            on_refusal_(i, SendFailure(static_cast<int>(ee.ee_errno), d.to));
            break;
          }
        }
      }
    }
    // Nothing is ever sent to these sockets on purpose; whatever arrives is thrown away.
    uint8_t discard[512];
    for (int round = 0; round < 256; ++round) {
      if (recv(fd, discard, sizeof discard, MSG_DONTWAIT) < 0) break;
    }
  }
}

void Agent::Flush(const SendQueue::FailureHandler& on_failure) {
  if (queue_.empty()) return;
  if (fds_[0] < 0) {
    queue_.Fail(SocketError(ENOTCONN, "send: the agent is not started"), on_failure);
    return;
  }
  queue_.Send(fds_, on_failure, other_failure_);
}

}  // namespace tervane::snmp
