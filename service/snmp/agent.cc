#include "service/snmp/agent.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

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

void Agent::Flush(const SendQueue::FailureHandler& on_failure) {
  if (queue_.empty()) return;
  if (fd_ < 0) {
    queue_.Fail(SocketError(ENOTCONN, "send: the agent is not started"), on_failure);
    return;
  }
  queue_.Send(fd_, on_failure);
}

}  // namespace tervane::snmp
