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

namespace tervane::snmp {

namespace {

// Kernel send buffer to ask for, so that bursts of forwarded traps queue instead of
// meeting a full buffer.
constexpr int kSendBufferBytes = 4 << 20;

Status BadDestination(const std::string& text, const std::string& why) {
  return Status::Error(kErrorInvalidArgument, "'" + text + "' is not a valid destination (" + why +
                                                  "; expected a.b.c.d:port)");
}

}  // namespace

Agent::Agent() = default;

Agent::~Agent() { Stop(); }

Status Agent::Start() { return Start(0, ""); }

Status Agent::Start(uint16_t port, const std::string& address) {
  Stop();
  Result<int> fd = OpenUdpSocket(address, port, SO_SNDBUF, kSendBufferBytes);
  if (!fd.ok()) return fd.status();
  fd_ = *fd;
  if (on_refusal_) {
    const int on = 1;
    if (setsockopt(fd_, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) {
      const int err = errno;
      Stop();
      return SocketError(err, "setsockopt IP_RECVERR");
    }
  }
  return Status::Ok();
}

void Agent::Stop() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}

std::string Agent::LocalAddress() const { return FormatIpv4(LocalName(fd_).sin_addr); }

uint16_t Agent::LocalPort() const { return ntohs(LocalName(fd_).sin_port); }

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
  const size_t colon = address_and_port.find(':');
  if (colon == std::string::npos) return BadDestination(address_and_port, "no port");
  const std::string address = address_and_port.substr(0, colon);
  const std::string port_text = address_and_port.substr(colon + 1);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  if (!ParseIpv4(address, &to.sin_addr)) {
    return BadDestination(address_and_port, "the address is not dotted IPv4");
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
  to.sin_port = htons(static_cast<uint16_t>(port));
  destinations_.push_back(to);
  last_destination_text_ = address_and_port;
  last_destination_ = to;
  return Status::Ok();
}

Status Agent::Prepare(const MessageView& message, std::span<const uint8_t>* datagram) const {
  if (fd_ < 0) return SocketError(ENOTCONN, "send: the agent is not started");
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
  for (const sockaddr_in& to : destinations_) {
    Status sent = SendDatagram(fd_, datagram, to);
    if (!sent.ok() && first_failure.ok()) first_failure = std::move(sent);
  }
  return first_failure;
}

Status Agent::Queue(const MessageView& message, uint64_t tag) {
  if (fd_ < 0) return SocketError(ENOTCONN, "send: the agent is not started");
  if (destinations_.empty()) {
    return Status::Error(kErrorInvalidArgument, "send: no destination");
  }
  // Encoded straight into the queue's buffer.
  if (Status s = Encode(message, &queue_.Next()); !s.ok()) return s;
  for (const sockaddr_in& to : destinations_) queue_.Add(to, tag);
  return Status::Ok();
}

Status Agent::SendTo(std::span<const uint8_t> datagram, size_t destination) const {
  if (destination >= destinations_.size()) {
    return Status::Error(kErrorInvalidArgument, "send: no destination");
  }
  return SendDatagram(fd_, datagram, destinations_[destination]);
}

Status Agent::Queue(const MessageView& message, uint32_t destinations, uint64_t first_tag) {
  if (fd_ < 0) return SocketError(ENOTCONN, "send: the agent is not started");
  if (destinations_.empty()) {
    return Status::Error(kErrorInvalidArgument, "send: no destination");
  }
  if (Status s = snmp::Encode(message, &queue_.Next()); !s.ok()) return s;
  for (size_t i = 0; i < destinations_.size() && i < 32; ++i) {
    if ((destinations >> i & 1U) != 0) queue_.Add(destinations_[i], first_tag + i);
  }
  return Status::Ok();
}

void Agent::ReadErrors() {
  if (fd_ < 0) return;
  // Bounded, so that a flood of refusals cannot hold the loop; what is left makes the
  // socket report again.
  for (int round = 0; round < 256; ++round) {
    sockaddr_in to{};
    uint8_t payload[64];
    iovec iov{payload, sizeof payload};
    alignas(cmsghdr) char control[512];
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (recvmsg(fd_, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) break;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
      sock_extended_err ee{};
      std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
      if (ee.ee_origin != SO_EE_ORIGIN_ICMP || !on_refusal_) continue;
      // msg_name is the refused datagram's own destination; the ICMP's sender (the
      // offender) may be a router on the way.
      for (size_t i = 0; i < destinations_.size(); ++i) {
        if (destinations_[i].sin_addr.s_addr == to.sin_addr.s_addr &&
            destinations_[i].sin_port == to.sin_port) {
          on_refusal_(i, SendFailure(static_cast<int>(ee.ee_errno), to));
          break;
        }
      }
    }
  }
  // Nothing is ever sent to this socket on purpose; whatever arrives is thrown away.
  uint8_t discard[512];
  for (int round = 0; round < 256; ++round) {
    if (recv(fd_, discard, sizeof discard, MSG_DONTWAIT) < 0) break;
  }
}

void Agent::Flush(const SendQueue::FailureHandler& on_failure) {
  if (queue_.empty()) return;
  if (fd_ < 0) {
    queue_.Fail(SocketError(ENOTCONN, "send: the agent is not started"), on_failure);
    return;
  }
  queue_.Send(fd_, on_failure);
}

}  // namespace tervane::snmp
