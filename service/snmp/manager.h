// The SNMP manager: the listener that receives SNMPv1 traps, SNMPv2c traps and informs on
// one UDP/IPv4 socket, raises the trap event for each, and answers informs.
//
// Datagrams that are not well-formed messages of a handled kind are dropped and counted;
// the listener never stops because of its input, and re-arms after any socket error.
#ifndef TERVANE_SERVICE_SNMP_MANAGER_H_
#define TERVANE_SERVICE_SNMP_MANAGER_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/status.h"
#include "service/snmp/event_loop.h"
#include "service/snmp/message.h"

namespace tervane::snmp {

class Manager {
 public:
  explicit Manager(EventLoop& loop);
  ~Manager();
  Manager(const Manager&) = delete;
  Manager& operator=(const Manager&) = delete;

  // Binds `port` on `address`, or on every local address when `address` is empty, and
  // starts delivering trap events. Fails with code 10048 when the address and port are in
  // use, 10049 when the address is not available on this machine, else with errno and its
  // text. On failure nothing is bound.
  Status Listen(uint16_t port, const std::string& address = "");
  // Releases the port. Does nothing when not listening.
  void Stop();
  bool listening() const { return fd_ >= 0; }

  // The address and port actually bound, after a successful Listen.
  std::string LocalAddress() const;
  uint16_t LocalPort() const;

  // Called once per received SNMPv1 trap, SNMPv2c trap, inform or response.
  void SetTrapHandler(std::function<void()> handler) { on_trap_ = std::move(handler); }

  // The message that raised the current trap event, and the address it came from.
  Message& CurrentMessage() { return current_; }
  const std::string& SourceAddress() const { return source_address_; }
  uint16_t SourcePort() const { return source_port_; }

  // Sends the current message, as it now stands, from the listening socket back to the
  // address and port it came from. Used to acknowledge an inform after its kind was set
  // to kKindResponse.
  Status SendResponse();

  // Datagrams received, and datagrams dropped as malformed or of an unhandled kind.
  uint64_t received() const { return received_; }
  uint64_t dropped() const { return dropped_; }

 private:
  void OnReadable();

  EventLoop& loop_;
  int fd_ = -1;
  std::function<void()> on_trap_;
  Message current_;
  std::string source_address_;
  uint16_t source_port_ = 0;
  uint32_t source_ip_ = 0;  // network byte order
  uint64_t received_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_MANAGER_H_
