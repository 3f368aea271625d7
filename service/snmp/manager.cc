#include "service/snmp/manager.h"

#include <arpa/inet.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <span>
#include <utility>

#include "service/snmp/codec.h"
#include "service/snmp/socket_util.h"
#include "service/snmp/value_text.h"

namespace tervane::snmp {

namespace {

// Datagrams read per recvmmsg, and the room for each. A slot holds the largest UDP/IPv4
// payload, and anything cut short is flagged MSG_TRUNC and dropped. The slots are one
// mapping of 64 x 64 KiB that costs memory only where datagrams were written: a small trap
// touches one page of its slot. A batch that brought large datagrams gives their pages back
// when it is over, so that one burst of them does not keep the memory.
constexpr size_t kBatchSlots = 64;
constexpr size_t kSlotBytes = 65536;
static_assert(kSlotBytes > kMaxDatagram);
// The part of a slot kept after a large datagram.
constexpr size_t kKeptSlotBytes = 8192;

// Kernel receive buffer to ask for, so that a burst queues while a handler runs.
constexpr int kReceiveBufferBytes = 4 << 20;

}  // namespace

struct Manager::Batch {
  Batch() {
    void* mapped = mmap(nullptr, kBatchSlots * kSlotBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    // Without the mapping the listener has nowhere to read to; the process cannot go on.
    if (mapped == MAP_FAILED) std::abort();
    data = static_cast<uint8_t*>(mapped);
    for (size_t i = 0; i < kBatchSlots; ++i) {
      iov[i].iov_base = data + i * kSlotBytes;
      iov[i].iov_len = kSlotBytes;
      headers[i].msg_hdr.msg_name = &from[i].any;
      headers[i].msg_hdr.msg_iov = &iov[i];
      headers[i].msg_hdr.msg_iovlen = 1;
      headers[i].msg_hdr.msg_control = control[i].bytes;
    }
  }
  ~Batch() { munmap(data, kBatchSlots * kSlotBytes); }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  // Readies the headers for a fresh recvmmsg: the kernel overwrites the address and control
  // lengths and the flags, nothing else. The pages that large datagrams of the last batch took
  // beyond kKeptSlotBytes are given back.
  void Prepare() {
    for (size_t i = 0; i < count; ++i) {
      if (headers[i].msg_len > kKeptSlotBytes) {
        (void)madvise(data + i * kSlotBytes + kKeptSlotBytes, kSlotBytes - kKeptSlotBytes,
                      MADV_DONTNEED);
      }
    }
    for (size_t i = 0; i < kBatchSlots; ++i) {
      headers[i].msg_hdr.msg_namelen = sizeof from[i];
      headers[i].msg_hdr.msg_controllen = sizeof control[i].bytes;
      headers[i].msg_len = 0;
    }
  }

  uint8_t* data = nullptr;
  std::array<iovec, kBatchSlots> iov{};
  std::array<SocketAddress, kBatchSlots> from{};
  // Each datagram's IP_PKTINFO or IPV6_PKTINFO: the local address it came in on.
  std::array<PktInfoControl, kBatchSlots> control{};
  std::array<mmsghdr, kBatchSlots> headers{};
  size_t count = 0;  // datagrams in the queue
  size_t next = 0;   // the next one to deliver
};

Manager::Manager(EventLoop& loop) : loop_(loop) {}

Manager::~Manager() { Stop(); }

Status Manager::Listen(uint16_t port, const std::string& address) {
  Stop();
  Result<int> fd = OpenUdpSocket(address, port, SO_RCVBUF, kReceiveBufferBytes);
  if (!fd.ok()) return fd.status();
  // Each datagram says which local address it was sent to, so that an answer leaves from
  // that address even when the listener is bound to every address: a device that checks
  // where the answer comes from drops one from another address of this machine.
  // An IPv6 socket is told both: IPv4 datagrams on the socket of :: carry IP_PKTINFO too,
  // which names the local address also for a broadcast.
  const int on = 1;
  const bool v6 = LocalName(*fd).any.sa_family == AF_INET6;
  if (setsockopt(*fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
      (v6 && setsockopt(*fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) != 0)) {
    const int err = errno;
    close(*fd);
    return SocketError(err, v6 ? "setsockopt IPV6_RECVPKTINFO" : "setsockopt IP_PKTINFO");
  }
  if (!batch_) batch_ = std::make_unique<Batch>();
  fd_ = *fd;
  ++epoch_;
  batch_->count = batch_->next = 0;
  loop_.Watch(fd_, [this] { OnReadable(); });
  return Status::Ok();
}

void Manager::Stop() {
  if (fd_ < 0) return;
  FlushResponses();
  loop_.Unwatch(fd_);
  close(fd_);
  fd_ = -1;
  ++epoch_;
  batch_->count = batch_->next = 0;
}

std::string Manager::LocalAddress() const { return FormatAddress(AddressOf(LocalName(fd_))); }

uint16_t Manager::LocalPort() const { return PortOf(LocalName(fd_)); }

void Manager::OnReadable() {
  const uint64_t epoch = epoch_;
  bool refilled = false;
  // The trap handler, held by value so that a handler which replaces itself finishes its
  // run; taken again only when it was replaced, not for every datagram.
  std::shared_ptr<std::function<void()>> handler = on_trap_;
  // The queue is emptied before returning (nested calls empty it too), because poll
  // cannot report what has already been read; at most one fresh batch is read per call,
  // so a flood cannot keep the loop from its other fds.
  for (;;) {
    if (batch_->next == batch_->count) {
      // A batch is over (or none was under way): what it queued leaves now.
      EndBatch();
      if (epoch != epoch_ || refilled || !Refill()) return;
      refilled = true;
    }
    if (handler != on_trap_) handler = on_trap_;
    Deliver(batch_->next++, handler.get());
    if (epoch != epoch_) {  // the handler closed or replaced the socket
      EndBatch();
      return;
    }
  }
}

void Manager::EndBatch() {
  FlushResponses();
  // Held by value so that a handler which replaces itself finishes its run.
  if (on_batch_end_) {
    const std::function<void()> handler = on_batch_end_;
    handler();
  }
}

void Manager::FlushResponses() {
  if (responses_.empty()) return;
  if (fd_ < 0) {
    responses_.Fail(SocketError(ENOTCONN, "send response: the listener is not started"),
                    on_response_failure_);
    return;
  }
  responses_.Send(fd_, on_response_failure_);
}

bool Manager::Refill() {
  batch_->Prepare();
  int n;
  do {
    n = recvmmsg(fd_, batch_->headers.data(), kBatchSlots, MSG_DONTWAIT, nullptr);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    // EAGAIN: a nested call took the datagrams. Anything else (a pending ICMP error,
    // say) was consumed by this call; count it and let poll report the socket again.
    if (errno != EAGAIN && errno != EWOULDBLOCK) ++socket_errors_;
    return false;
  }
  batch_->count = static_cast<size_t>(n);
  batch_->next = 0;
  return n > 0;
}

void Manager::Deliver(size_t slot, const std::function<void()>* handler) {
  ++received_;
  const mmsghdr& header = batch_->headers[slot];
  const SocketAddress& from = batch_->from[slot];
  if ((header.msg_hdr.msg_flags & MSG_TRUNC) != 0 || header.msg_len > kMaxDatagram ||
      (from.any.sa_family != AF_INET && from.any.sa_family != AF_INET6) ||
      header.msg_hdr.msg_namelen != SocketAddressLength(from)) {
    ++dropped_;
    return;
  }
  const std::span<uint8_t> datagram(batch_->data + slot * kSlotBytes, header.msg_len);
  // Decoding reuses the memory of its target.
  if (IsV3(datagram)) {
    if (!ReceiveV3(datagram, header, from)) return;
  } else if (!Decode(datagram, &scratch_, texts_).ok()) {
    ++dropped_;
    return;
  }
  std::swap(current_, scratch_);
  has_current_ = true;
  copied_ = false;
  // A stream comes from one sender: its address is formatted when it changes, into the
  // string in place (the codec's formatter for IPv4; inet_ntop, through printf, for IPv6).
  const IpAddress ip = AddressOf(from);
  if (source_address_.empty() || ip != source_ip_) {
    source_ip_ = ip;
    if (ip.is_v4()) {
      FormatIp(std::span<const uint8_t, 4>(ip.octets.data(), 4), &source_address_);
    } else {
      char text[INET6_ADDRSTRLEN] = "::";
      (void)inet_ntop(AF_INET6, ip.octets.data(), text, sizeof text);
      source_address_.assign(text);
    }
  }
  source_ = from;
  source_port_ = PortOf(from);
  received_on_ = ReceivedOn(header.msg_hdr);

  if (handler != nullptr && *handler) (*handler)();
}

bool Manager::ReceiveV3(std::span<uint8_t> datagram, const mmsghdr& header,
                        const SocketAddress& from) {
  if (security_ == nullptr) {
    ++dropped_;
    return false;
  }
  const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
  const usm::UserSecurity::Outcome outcome =
      security_->Receive(datagram, now_ms, &scratch_, texts_);
  if (!outcome.report.empty() &&
      SendDatagram(fd_, outcome.report, from, ReceivedOn(header.msg_hdr)).ok()) {
    ++reports_sent_;
  }
  if (outcome.accepted) return true;
  // The security counted what it refused; anything else was no message at all.
  if (!outcome.counted) {
    ++dropped_;
  } else if (!outcome.discovery && on_security_drop_) {
    on_security_drop_(outcome.drop, outcome.user_name, AddressOf(from));
  }
  return false;
}

Message& Manager::CurrentMessage() {
  if (has_current_ && !copied_) {
    ToMessage(current_.view(), &copy_);
    copied_ = true;
  }
  return copy_;
}

void Manager::ClearCurrentVariables() {
  current_.ClearVariables();
  copy_.variables.clear();
}

Status Manager::Response(MessageView* response) const {
  if (fd_ < 0) return SocketError(ENOTCONN, "send response: the listener is not started");
  if (!has_current_) {
    return Status::Error(kErrorInvalidArgument, "send response: no message has arrived");
  }
  *response = current_.view();
  response->kind = kKindResponse;
  return Status::Ok();
}

Status Manager::EncodeResponse(const MessageView& response, BerWriter* writer) {
  if (!response.snmpv3) return Encode(response, writer);
  if (security_ == nullptr) {
    return Status::Error(kErrorInvalidArgument, "send response: SNMPv3 is not set up");
  }
  const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
  return security_->EncodeResponse(response, now_ms, writer);
}

Status Manager::SendResponse() {
  MessageView response;
  if (Status s = Response(&response); !s.ok()) return s;
  if (Status s = EncodeResponse(response, &response_writer_); !s.ok()) return s;
  return SendDatagram(fd_, response_writer_.data(), source_, received_on_);
}

Status Manager::QueueResponse(uint64_t tag) {
  MessageView response;
  if (Status s = Response(&response); !s.ok()) return s;
  // Encoded straight into the queue's buffer.
  if (Status s = EncodeResponse(response, &responses_.Next()); !s.ok()) return s;
  responses_.Add(source_, tag, received_on_);
  return Status::Ok();
}

}  // namespace tervane::snmp
