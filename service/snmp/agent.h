// The SNMP agent: the sending side. The service fills its outgoing message and sends it as
// one UDP datagram to each destination, IPv4 or IPv6.
//
// The agent's socket is bound to the address it is started on, and its family sends to
// destinations of that family (a socket of :: to both). Destinations of the other family
// leave a second socket, bound to that family's any address on an ephemeral port, which is
// opened only while there are such destinations; should it fail to open, sends to them fail
// with its reason and the others go on.
//
// Sending never drops a trap for a full socket buffer: the socket has a large send buffer,
// and a send that meets a full one waits briefly for room (see SendDatagram).
//
// A message is sent at once (Send) or queued (Queue) to leave with the others in one system
// call (Flush); the service queues the traps it makes while handling one batch of received
// datagrams and flushes them when the batch ends.
#ifndef TERVANE_SERVICE_SNMP_AGENT_H_
#define TERVANE_SERVICE_SNMP_AGENT_H_

#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/status.h"
#include "service/snmp/ip_text.h"
#include "service/snmp/message.h"
#include "service/snmp/send_queue.h"
#include "service/snmp/socket_util.h"

namespace tervane::snmp {

class Agent {
 public:
  Agent();
  ~Agent();
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;

  // Opens the sending socket on an ephemeral port of every local address. A socket
  // already open is closed first. On failure no socket is open.
  Status Start();
  // Opens the sending socket on `port` (0: ephemeral) of `address` (IPv4 or IPv6; empty:
  // every local IPv4 address), and the second socket when a destination needs it. An address
  // that no interface has yet binds as for Manager::Listen; sends from it fail until one has
  // it. Fails with 10048 or 10049 as Manager::Listen does. On failure no socket is open.
  Status Start(uint16_t port, const std::string& address);
  // Closes the socket; destinations and the outgoing message are kept.
  void Stop();
  bool started() const { return fds_[0] >= 0; }

  // What the (first) socket is bound to; "0.0.0.0" and 0 when not started.
  std::string LocalAddress() const;
  uint16_t LocalPort() const;

  void ClearDestinations() { destinations_.clear(); }
  // Adds a destination given as "a.b.c.d:port" or "[x:x::x]:port" (decimal port 1 to 65535;
  // [::ffff:a.b.c.d] is a.b.c.d). `flags` is reserved and must be 0. Refuses any other text
  // with a description naming it (code kErrorInvalidArgument), leaving the destinations
  // unchanged. Once started, a destination of a family new to the agent opens its socket.
  Status AddDestination(const std::string& address_and_port, int flags = 0);
  size_t destination_count() const { return destinations_.size(); }

  Message& Outgoing() { return outgoing_; }

  // Encodes the outgoing message and sends it to every destination. Fails without sending
  // anything when the agent is not started, when the message cannot be encoded or when
  // there is no destination. A destination that cannot be sent to does not keep the
  // others from theirs; the first such failure is returned.
  Status Send();
  // The same for `message` in place of the outgoing message.
  Status Send(const MessageView& message);

  // Encodes `message` and queues it for every destination under `tag`, to be sent by the
  // next Flush. Fails, queuing nothing, as Send does before sending.
  Status Queue(const MessageView& message, uint64_t tag);
  // Sends the queued messages in the order they were queued; each one that cannot be sent
  // is reported to `on_failure` with its tag (once per message, for its first destination
  // that failed). Without a socket every queued message fails.
  void Flush(const SendQueue::FailureHandler& on_failure);
  // Drops the queued messages of the tags `first` to `last` unsent, telling `cancelled` (when
  // set) the tag of each.
  void Cancel(uint64_t first, uint64_t last,
              const std::function<void(uint64_t tag)>& cancelled = {}) {
    queue_.Cancel(first, last, cancelled);
  }

  // Sending to some of the destinations, by their index in the order they were added; bit i
  // of `destinations` selects destination i (at most 32). EncodeForSend encodes `message` once,
  // after the checks of Send, into a buffer of the calling thread's that the datagram views
  // until the thread's next encode; SendTo sends it to one destination.
  Status EncodeForSend(const MessageView& message, std::span<const uint8_t>* datagram) const {
    return Prepare(message, datagram);
  }
  Status SendTo(std::span<const uint8_t> datagram, size_t destination) const;
  // Encodes `message` once and queues it for each selected destination i under
  // `first_tag` + i. Fails, queuing nothing, as Send does before sending.
  Status Queue(const MessageView& message, uint32_t destinations, uint64_t first_tag);

  // A destination's refusal (an ICMP port or host unreachable) reaches the socket after the
  // datagram has left, and Linux then fails whatever is sent next, wherever it goes. With a
  // refusal handler set before Start, the socket keeps each refusal in its error queue
  // (IP_RECVERR) and ReadErrors, called whenever the socket reports an error, hands each one
  // to the handler with the destination that refused; datagrams that arrive on the sending
  // socket are read and thrown away. fd() is the socket to watch for that (-1 when stopped).
  using RefusalHandler = std::function<void(size_t destination, const Status& failure)>;
  void SetRefusalHandler(RefusalHandler handler) { on_refusal_ = std::move(handler); }
  void ReadErrors();
  int fd() const { return fds_[0]; }
  std::array<int, 2> fds() const { return fds_; }

 private:
  struct Destination {
    IpAddress address;  // unmapped
    uint16_t port = 0;
    // Where and on which socket it goes; set once the agent is started.
    SocketAddress to{};
    uint8_t socket = 0;
  };
  // Picks the socket of `d` and the address it takes, opening the second socket when `d`
  // needs it (started only).
  void Route(Destination* d);
  // Opens the socket for `family` as the second one; its failure is kept in other_failure_.
  void OpenOther(int family);
  // Closes socket `i`.
  void Close(size_t i);
  // Encodes `message` for sending, after the checks that come before any send.
  Status Prepare(const MessageView& message, std::span<const uint8_t>* datagram) const;

  // [0]: bound to the start's address; [1]: the other family's, when a destination needs it.
  std::array<int, 2> fds_ = {-1, -1};
  std::array<int, 2> families_ = {AF_UNSPEC, AF_UNSPEC};
  bool both_families_ = false;  // fds_[0] is the socket of ::, which sends to both
  // Why the second socket could not be opened; sends to its destinations fail with it.
  Status other_failure_;
  std::vector<Destination> destinations_;
  // The last destination text that AddDestination accepted, and what it parsed it into.
  std::string last_destination_text_;
  Destination last_destination_{};
  Message outgoing_;
  std::vector<VariableView> outgoing_variables_;  // the view of outgoing_'s bindings
  SendQueue queue_;
  RefusalHandler on_refusal_;
};

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_AGENT_H_
