#include "service/snmp/send_queue.h"

#include <cerrno>

namespace tervane::snmp {
namespace {

// The most a datagram's buffer keeps between batches.
constexpr size_t kKeptBufferBytes = 16384;

// Reports a failed tag once when the same tag fails again right after.
class FailureOnce {
 public:
  explicit FailureOnce(const SendQueue::FailureHandler& handler) : handler_(handler) {}
  void operator()(uint64_t tag, const Status& failure) {
    if (any_ && tag == last_) return;
    any_ = true;
    last_ = tag;
    if (handler_) handler_(tag, failure);
  }

 private:
  const SendQueue::FailureHandler& handler_;
  bool any_ = false;
  uint64_t last_ = 0;
};

}  // namespace

BerWriter& SendQueue::Next() {
  if (next_added_) {
    ++in_use_;
    next_added_ = false;
  }
  if (in_use_ == writers_.size()) writers_.push_back(std::make_unique<BerWriter>());
  BerWriter& writer = *writers_[in_use_];
  writer.Clear();
  return writer;
}

void SendQueue::Add(const SocketAddress& to, uint64_t tag, const LocalAddress& from,
                    uint8_t socket) {
  entries_.push_back(Entry{writers_[in_use_]->data(), to, from, tag, socket, false});
  next_added_ = true;
}

void SendQueue::Add(std::span<const uint8_t> datagram, const SocketAddress& to, uint64_t tag,
                    uint8_t socket) {
  Next().PutBytes(datagram);
  Add(to, tag, {}, socket);
}

void SendQueue::Clear() {
  entries_.clear();
  // A buffer that a large datagram grew is given back: one burst of them should not keep
  // the memory of the whole batch. Traps of ordinary size reuse their buffers for good.
  for (size_t i = 0; i <= in_use_ && i < writers_.size(); ++i) {
    if (writers_[i]->capacity() > kKeptBufferBytes) writers_[i] = std::make_unique<BerWriter>();
  }
  in_use_ = 0;
  next_added_ = false;
}

void SendQueue::Cancel(uint64_t first, uint64_t last,
                       const std::function<void(uint64_t tag)>& cancelled) {
  for (Entry& e : entries_) {
    if (e.cancelled || e.tag < first || e.tag > last) continue;
    e.cancelled = true;
    if (cancelled) cancelled(e.tag);
  }
}

void SendQueue::Send(std::array<int, 2> fds, const FailureHandler& on_failure,
                     const Status& unopened) {
  FailureOnce report(on_failure);
  // The headers point into iov_, control_ and entries_, which do not move from here on.
  headers_.clear();
  iov_.clear();
  sent_index_.clear();
  iov_.reserve(entries_.size());
  if (control_.size() < entries_.size()) control_.resize(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) {
    Entry& e = entries_[i];
    if (e.cancelled) continue;
    if (e.socket > 1 || fds[e.socket] < 0) {
      report(e.tag, unopened);
      continue;
    }
    iov_.push_back(iovec{const_cast<uint8_t*>(e.datagram.data()), e.datagram.size()});
    mmsghdr header{};
    header.msg_hdr.msg_name = &e.to.any;
    header.msg_hdr.msg_namelen = SocketAddressLength(e.to);
    header.msg_hdr.msg_iov = &iov_.back();
    header.msg_hdr.msg_iovlen = 1;
    SetSourceAddress(&header.msg_hdr, &control_[headers_.size()], e.from);
    headers_.push_back(header);
    sent_index_.push_back(i);
  }

  const size_t n = headers_.size();
  size_t done = 0;
  SendRetry retry;  // the rules of the datagram at `done`
  while (done < n) {
    // The run of datagrams from here that leave the same socket.
    const uint8_t socket = entries_[sent_index_[done]].socket;
    size_t end = done + 1;
    while (end < n && entries_[sent_index_[end]].socket == socket) ++end;
    const int fd = fds[socket];
    const int sent =
        sendmmsg(fd, headers_.data() + done, static_cast<unsigned>(end - done), MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<size_t>(sent);
      retry = SendRetry();
      continue;
    }
    // Nothing left: the first datagram of the run failed, and errno says why.
    const int err = sent < 0 ? errno : EAGAIN;
    if (retry.Again(fd, err)) continue;
    const Entry& failed = entries_[sent_index_[done]];
    report(failed.tag, SendFailure(err, failed.to));
    ++done;
    retry = SendRetry();
  }
  Clear();
}

void SendQueue::Fail(const Status& failure, const FailureHandler& on_failure) {
  FailureOnce report(on_failure);
  for (const Entry& e : entries_) {
    if (!e.cancelled) report(e.tag, failure);
  }
  Clear();
}

}  // namespace tervane::snmp
