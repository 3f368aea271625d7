// The running service: the handlers of the service host's state requests and of the
// listener's trap event, and the four senders. It owns the module-wide state of the
// relay (settings, current trap, definition table) and the SNMP agent and manager.
//
// Everything runs on the event loop's one thread. Every handler catches its own failures
// and reports them to the event log as "[number] description (Module: name)"; none of
// them fails to its caller. A start request that cannot start the listener ends the
// process (see StartRequest).
//
// With debug mode off, what the service sends for one batch of received datagrams leaves
// together when the batch ends: first the inform responses from the listener's socket,
// then the traps from the agent's, each in the order it was made. A send that fails then is
// reported as it would have been at once; a trap whose inform could not be answered is not
// sent, as when the answer fails at once. With debug mode on every send leaves at once, so
// that the debug files follow the sends record by record.
#ifndef TERVANE_SERVICE_TERVIX_SERVICE_H_
#define TERVANE_SERVICE_TERVIX_SERVICE_H_

#include <string>

#include "platform/status.h"
#include "service/debug_files.h"
#include "service/host/service_host.h"
#include "service/relay/outgoing.h"
#include "service/relay/trap_state.h"
#include "service/snmp/agent.h"
#include "service/snmp/event_loop.h"
#include "service/snmp/manager.h"

namespace tervane {

namespace store {
class Store;
}

// Exit statuses of a service process that ends on its own: a database that cannot be
// opened now may open later (a mount not ready), a configuration that cannot work will not.
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadConfiguration = 4;

class TervixService {
 public:
  TervixService(std::string program_folder, snmp::EventLoop& loop, host::ServiceHost& host);
  TervixService(const TervixService&) = delete;
  TervixService& operator=(const TervixService&) = delete;

  // State-change handler: start, stop, pause or resume by the host's requested state.
  void svcHost_State();
  // The host's own error event; nothing to do.
  void svcHost_Error(const std::string&) {}
  // Trap-received handler of the listener.
  void snmpManager_Trap();

  const relay::Settings& settings() const { return settings_; }
  const snmp::Manager& manager() const { return snmpManager_; }

 private:
  // Reads the settings, opens the agent and the listener, stores the listener's status and
  // loads the definitions. A database that cannot be read, a setting that cannot be
  // converted or a forward endpoint that is the listener's own fail the start before any
  // socket is opened: the failure is logged and stored as the status text where the database
  // can be written, and the process ends with kExitFailed or kExitBadConfiguration.
  void StartRequest();
  void StopRequest();
  // Ends a start that failed before the listener opened; `db` is the open database or null.
  void FailStart(const Status& failure, store::Store* db, int exit_status);
  void ServiceOpen(const std::string& name, std::string& status);
  void ServiceClose(const std::string& name, std::string& status);
  void ReadSnmpTrapDB();
  void SendTrapWrapped();
  void SendTrapWrappedAndConvToV1();
  void SendTrapNotWrapped();
  void SendTrapNotWrappedAndConvToV1();

  // The senders' bodies. `sender` is one of the kSender* codes, which also name the module.
  void Wrapped(int sender);
  void NotWrapped(int sender);
  // Sends the trap built in outgoing_ at once, or queues it for the batch's end under the
  // current trap's tag.
  Status SendOutgoing(int sender);
  // The end of a batch of received datagrams: the queued traps leave.
  void FlushTraps();
  void OnTrapNotSent(uint64_t tag, const Status& failure);
  void OnResponseNotSent(uint64_t tag, const Status& failure);
  void LogFailure(const Status& status, const char* module);

  std::string program_folder_;
  snmp::EventLoop& loop_;
  host::ServiceHost& host_;
  DebugFiles debug_;
  snmp::Agent snmpAgent_;
  snmp::Manager snmpManager_;

  // Set by the first start request: later ones do nothing.
  bool start_handled_ = false;
  relay::Settings settings_;
  // Why the agent and the listener could not open at the start (the event's text), or empty.
  std::string agent_problem_;
  std::string manager_problem_;
  // The outcome of setting the agent's destination to TrapForwIpAddr:TrapForwPort, done
  // once when the settings are read: every trap goes there, and a destination that could
  // not be set fails every send alike.
  Status destination_;
  // Sends wait for the end of their batch (debug mode off).
  bool batch_sends_ = false;
  // Numbers the relayed messages; a queued send's tag is the number times kTagsPerTrap
  // plus its sender.
  uint64_t sequence_ = 0;
  snmp::SendQueue::FailureHandler on_trap_not_sent_;
  relay::CurrentTrap trap_;
  // The trap that a sender builds and sends, in place of the agent's outgoing message.
  relay::OutgoingTrap outgoing_;
  relay::DefinitionTable definitions_;
};

}  // namespace tervane

#endif  // TERVANE_SERVICE_TERVIX_SERVICE_H_
