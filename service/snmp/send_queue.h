// A queue of datagrams that leave one socket together: the listener's inform responses, or
// the agent's traps, gathered while one batch of received datagrams is handled and sent with
// sendmmsg when it ends, in the order they were queued.
//
// Each datagram keeps the rules of a single send (see SendDatagram): a full socket buffer is
// waited out for a short while, and a refusal left over from an earlier datagram (an ICMP
// port unreachable reported late) is skipped once. sendmmsg only says how many datagrams
// left; when one fails, its failure is reported under its tag and the queue goes on from the
// next one. Nothing is ever sent twice. A datagram may name the local address it leaves from
// (an inform's answer leaves from the address the inform was sent to), carried as IP_PKTINFO
// or IPV6_PKTINFO. A queue may feed two sockets (the agent's for each address family): each
// datagram names its socket, and each run of datagrams for one socket is one sendmmsg.
#ifndef TERVANE_SERVICE_SNMP_SEND_QUEUE_H_
#define TERVANE_SERVICE_SNMP_SEND_QUEUE_H_

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/status.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/socket_util.h"

namespace tervane::snmp {

class SendQueue {
 public:
  // Called for each datagram that could not be sent, with the tag it was queued under.
  using FailureHandler = std::function<void(uint64_t tag, const Status& failure)>;

  SendQueue() = default;
  SendQueue(const SendQueue&) = delete;
  SendQueue& operator=(const SendQueue&) = delete;

  // The datagrams are written into the queue's own buffers, so that none is copied: Next
  // gives the buffer of the next datagram, emptied, and Add queues what it holds for `to`,
  // under `tag` (once per destination of the same datagram), from the local address `from`
  // (none: the kernel's choice), on socket `socket` (0 or 1, see Send). A buffer left without
  // an Add is given out again. The queue has no limit of its own: what one batch of received
  // datagrams produces bounds it, and its memory is kept for the next batch.
  BerWriter& Next();
  void Add(const SocketAddress& to, uint64_t tag, const LocalAddress& from = {},
           uint8_t socket = 0);
  // Appends a copy of `datagram` for `to`, under `tag`.
  void Add(std::span<const uint8_t> datagram, const SocketAddress& to, uint64_t tag,
           uint8_t socket = 0);

  // Drops the datagrams queued under the tags `first` to `last`: they are neither sent nor
  // reported as failed; `cancelled`, when set, is told the tag of each one dropped.
  void Cancel(uint64_t first, uint64_t last,
              const std::function<void(uint64_t tag)>& cancelled = {});

  // Sends every queued datagram from the non-blocking `fd`, in order, and empties the queue.
  // A tag that cannot be sent is reported to `on_failure` (which must not touch the queue),
  // once: datagrams queued one after the other under one tag (a message for several
  // destinations) fail as one, as their first failure.
  void Send(int fd, const FailureHandler& on_failure) { Send({fd, -1}, on_failure, Status::Ok()); }
  // The same with the datagrams of socket i sent from `fds[i]`; where that is -1 (a socket
  // that could not be opened) its datagrams fail with `unopened`.
  void Send(std::array<int, 2> fds, const FailureHandler& on_failure, const Status& unopened);
  // Empties the queue without sending, reporting every tag not cancelled as `failure`.
  void Fail(const Status& failure, const FailureHandler& on_failure);

  bool empty() const { return entries_.empty(); }

 private:
  struct Entry {
    std::span<const uint8_t> datagram;  // in one of writers_
    SocketAddress to;
    LocalAddress from;
    uint64_t tag;
    uint8_t socket;
    bool cancelled;
  };
  // Forgets the datagrams; the buffers are kept.
  void Clear();

  std::vector<std::unique_ptr<BerWriter>> writers_;
  size_t in_use_ = 0;        // writers_[0, in_use_) hold queued datagrams
  bool next_added_ = false;  // writers_[in_use_] holds one too, queued by Add
  std::vector<Entry> entries_;
  // The headers of one sendmmsg, rebuilt for each run of datagrams; kept for their memory.
  std::vector<mmsghdr> headers_;
  std::vector<iovec> iov_;
  std::vector<PktInfoControl> control_;  // the source addresses of headers_
  std::vector<size_t> sent_index_;       // headers_[k] is entries_[sent_index_[k]]
};

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_SEND_QUEUE_H_
