// The SNMP manager: the listener that receives SNMPv1 traps, SNMPv2c traps and informs on
// one UDP socket (IPv4, IPv6, or both families on ::), raises the trap event for each, and
// answers informs. An IPv4 sender reaching the socket of :: is known by its IPv4 address.
//
// Datagrams that are not well-formed messages of a handled kind are dropped and counted;
// the listener never stops because of its input, and re-arms after any socket error.
//
// Datagrams are read in batches and delivered one at a time from a queue. A trap handler
// may process events itself (EventLoop::WaitWithEvents); the nested deliveries then go on
// with the next queued datagram, so every datagram is delivered exactly once and in order,
// and the current message is the one that the innermost running event delivered. Each
// readable event reads at most one batch from the socket before the loop polls again.
//
// When every datagram of a batch has been delivered, the batch ends: the inform responses
// queued meanwhile (QueueResponse) leave the listening socket together, in order, and then
// the batch-end handler runs, so that whatever the service queued elsewhere for the batch
// leaves after its responses.
#ifndef TERVANE_SERVICE_SNMP_MANAGER_H_
#define TERVANE_SERVICE_SNMP_MANAGER_H_

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/status.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/codec.h"
#include "service/snmp/event_loop.h"
#include "service/snmp/ip_text.h"
#include "service/snmp/message.h"
#include "service/snmp/send_queue.h"
#include "service/snmp/socket_util.h"
#include "service/snmp/usm.h"

namespace tervane::snmp {

class Manager {
 public:
  explicit Manager(EventLoop& loop);
  ~Manager();
  Manager(const Manager&) = delete;
  Manager& operator=(const Manager&) = delete;

  // Binds `port` on `address` (IPv4 or IPv6; :: for every address of both families), or on
  // every local IPv4 address when `address` is empty, and starts delivering trap events; a
  // listener already open is closed first. An address that no interface has yet binds all
  // the same (IP_FREEBIND) and receives once one has it. Fails with code 10048 when the
  // address and port are in use, 10049 when the address is no IPv4 or IPv6 address (or,
  // should the kernel still refuse it, not available), else with errno and its text. On
  // failure nothing is bound.
  Status Listen(uint16_t port, const std::string& address = "");
  // Releases the port and forgets the datagrams read but not yet delivered. Safe inside
  // the trap handler. Does nothing when not listening.
  void Stop();
  bool listening() const { return fd_ >= 0; }

  // The address ("0.0.0.0" or "::" when bound to every address; IPv6 in the RFC 5952 form)
  // and port actually bound, after a successful Listen; "0.0.0.0" and 0 when not listening.
  std::string LocalAddress() const;
  uint16_t LocalPort() const;

  // Called once per received SNMPv1 trap, SNMPv2c trap, inform or response. May be
  // replaced at any time, also from inside the handler.
  void SetTrapHandler(std::function<void()> handler) {
    on_trap_ = std::make_shared<std::function<void()>>(std::move(handler));
  }

  // The message that raised the current trap event, and the address it came from. The view
  // is valid until the handler returns; its texts view the datagram and what decoding it
  // wrote, and the bindings that arrived in the encoder's own form carry their encoding, so
  // a stream of traps is received and relayed without a copy or an allocation. The Message
  // is a copy of the same, made on its first use for the datagram.
  const MessageView& CurrentView() const { return current_.view(); }
  Message& CurrentMessage();
  // Which texts CurrentView has (see Texts): all of them, as by default, or only those that
  // a relay reads (Texts::kOnDemand), the others made when wanted.
  void SetTexts(Texts texts) { texts_ = texts; }
  // Empties the current message's binding list, as a handler does once it is done with the
  // message.
  void ClearCurrentVariables();
  // The sender's address as text (dotted IPv4, IPv6 in the RFC 5952 form; an IPv4 sender on
  // the socket of :: as its IPv4 address) and port.
  const std::string& SourceAddress() const { return source_address_; }
  const IpAddress& SourceIp() const { return source_ip_; }
  uint16_t SourcePort() const { return source_port_; }

  // The local address that the current message was sent to (for a broadcast, the receiving
  // interface's address); "0.0.0.0" when unknown.
  std::string ReceivedOnAddress() const {
    return received_on_.address.family == IpAddress::Family::kNone
               ? std::string("0.0.0.0")
               : FormatAddress(received_on_.address);
  }

  // Answers the current message: sends it, as it was received but with the kind
  // kKindResponse, from the listening socket back to the address and port it came from, as
  // an inform is acknowledged. It leaves from the local address the message was sent to. Fails,
  // sending nothing, when not listening, when no message has arrived yet, or when the message
  // cannot be encoded; a send failure is errno's.
  Status SendResponse();
  // As SendResponse, but queued under `tag` to leave when the batch ends (or at the next
  // FlushResponses). Fails, queuing nothing, where SendResponse fails before sending.
  Status QueueResponse(uint64_t tag);
  // Sends the queued responses now; each that cannot be sent is reported to the response
  // failure handler. Stop sends them too, before the socket closes.
  void FlushResponses();

  // Called with the tag of each queued response that could not be sent.
  void SetResponseFailureHandler(SendQueue::FailureHandler handler) {
    on_response_failure_ = std::move(handler);
  }
  // Called at the end of every batch, after its responses were sent.
  void SetBatchEndHandler(std::function<void()> handler) { on_batch_end_ = std::move(handler); }

  // SNMPv3: the security that checks each SNMPv3 message, answers it with a Report where it
  // asks for one, and encodes the Responses to its informs. Without it SNMPv3 messages are
  // dropped as malformed. Not owned; set before Listen.
  void SetSecurity(usm::UserSecurity* security) { security_ = security; }
  // Called for each SNMPv3 message that the security dropped, with the reason, the user name
  // that the message named and its sender's address.
  using SecurityDropHandler =
      std::function<void(usm::Drop drop, std::string_view user_name, const IpAddress& from)>;
  void SetSecurityDropHandler(SecurityDropHandler handler) {
    on_security_drop_ = std::move(handler);
  }
  // Reports sent in answer to SNMPv3 messages.
  uint64_t reports_sent() const { return reports_sent_; }

  // Datagrams received; datagrams dropped as truncated, malformed or of an unhandled
  // kind (not the SNMPv3 messages that the security refused: it counts them); and socket errors met
  // while reading (each one is skipped, the loop goes on).
  uint64_t received() const { return received_; }
  uint64_t dropped() const { return dropped_; }
  uint64_t socket_errors() const { return socket_errors_; }

 private:
  struct Batch;  // the receive queue: buffers and headers for one recvmmsg

  void OnReadable();
  // Reads the next batch from the socket into the empty queue; false when nothing came.
  bool Refill();
  // Decodes the datagram in `slot` and raises the trap event with `handler`.
  void Deliver(size_t slot, const std::function<void()>* handler);
  // The batch's deliveries are over: its responses, then the batch-end handler.
  void EndBatch();
  // The current message as its response; fails where SendResponse fails before encoding.
  Status Response(MessageView* response) const;
  // Encodes that response into *writer, as the version it came in asks.
  Status EncodeResponse(const MessageView& response, BerWriter* writer);
  // Checks and decodes the SNMPv3 datagram in `datagram` into scratch_; false when dropped,
  // which counts in dropped() unless the security counted it.
  bool ReceiveV3(std::span<uint8_t> datagram, const mmsghdr& header, const SocketAddress& from);

  EventLoop& loop_;
  int fd_ = -1;
  // Changes whenever the socket is closed or replaced, so that a delivery loop notices
  // a Stop or Listen made by the handler it called.
  uint64_t epoch_ = 0;
  std::unique_ptr<Batch> batch_;
  std::shared_ptr<std::function<void()>> on_trap_;
  DecodedMessage current_;
  DecodedMessage scratch_;  // decode target; a refused datagram never disturbs current_
  Message copy_;            // CurrentMessage(), when made for the current datagram
  bool copied_ = false;
  bool has_current_ = false;
  Texts texts_ = Texts::kAll;
  SocketAddress source_{};
  IpAddress source_ip_;  // what source_address_ is the text of
  std::string source_address_;
  uint16_t source_port_ = 0;
  snmp::LocalAddress received_on_;  // the local address of the current message
  SendQueue responses_;
  SendQueue::FailureHandler on_response_failure_;
  std::function<void()> on_batch_end_;
  usm::UserSecurity* security_ = nullptr;
  SecurityDropHandler on_security_drop_;
  BerWriter response_writer_;  // SendResponse's datagram
  uint64_t reports_sent_ = 0;
  uint64_t received_ = 0;
  uint64_t dropped_ = 0;
  uint64_t socket_errors_ = 0;
};

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_MANAGER_H_
