// The running service: the handlers of the service host's state requests and of the
// listener's trap event, and the four senders. It owns the module-wide state of the
// relay (settings, current trap, definition table) and the SNMP agent and manager.
//
// Everything runs on the event loop's one thread. Every handler catches its own failures
// and reports them to the event log as "[number] description (Module: name)"; none of
// them fails to its caller.
#ifndef TERVANE_SERVICE_TERVIX_SERVICE_H_
#define TERVANE_SERVICE_TERVIX_SERVICE_H_

#include <string>
#include <string_view>

#include "platform/status.h"
#include "service/host/service_host.h"
#include "service/relay/trap_state.h"
#include "service/snmp/agent.h"
#include "service/snmp/event_loop.h"
#include "service/snmp/manager.h"

namespace tervane {

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
  void StartRequest();
  void StopRequest();
  void ServiceOpen(const std::string& name, std::string& status);
  void ServiceClose(const std::string& name, std::string& status);
  void ReadSnmpTrapDB();
  void SendTrapWrapped();
  void SendTrapWrappedAndConvToV1();
  void SendTrapNotWrapped();
  void SendTrapNotWrappedAndConvToV1();

  void Wrapped(bool to_v1, const char* module);
  void NotWrapped(bool to_v1, const char* module);
  Status SetDestination();
  // The version that a sent trap's record names: "SNMPv1Trap" after conversion, else the
  // received trap's own.
  std::string_view RecordVersion(bool to_v1) const;
  void LogFailure(const Status& status, const char* module);
  Status AppendDebug(const std::string& record);
  std::string FolderPath(const char* name) const;

  std::string program_folder_;
  snmp::EventLoop& loop_;
  host::ServiceHost& host_;
  snmp::Agent snmpAgent_;
  snmp::Manager snmpManager_;

  relay::Settings settings_;
  // TrapForwIpAddr + ":" + TrapForwPort, made once when the settings are read.
  std::string forward_destination_;
  relay::CurrentTrap trap_;
  relay::DefinitionTable definitions_;
};

}  // namespace tervane

#endif  // TERVANE_SERVICE_TERVIX_SERVICE_H_
