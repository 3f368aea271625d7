// TervixService: opening and closing the agent and the listener, waiting for a port in use,
// and the statuses that say how they are (the window's TrapRecvStatus, the service manager's
// status line, the debug records).
#include <chrono>
#include <ctime>
#include <string>
#include <utility>

#include "service/relay/debug_records.h"
#include "service/snmp/ip_text.h"
#include "service/snmp/socket_util.h"
#include "service/tervix_service.h"
#include "store/store.h"

namespace tervane {
namespace {

constexpr char kOpenModule[] = "ServiceOpen";

std::string Stamp() { return relay::TimeStamp(std::time(nullptr)); }

bool AddressHere(const std::string& address) {
  snmp::IpAddress a;
  return snmp::ParseAddressText(address, &a) != nullptr || snmp::HasInterfaceAddress(a);
}

}  // namespace

TervixService::Opening::Opening(snmp::BindRetry::Binder binder)
    : retry(std::move(binder), [] { return snmp::BindRetry::Clock::now(); }) {}

Status TervixService::Bind(bool manager) {
  const bool any = settings_.TrapRecvIpAddr == "0.0.0.0";
  const uint16_t port = settings_.TrapRecvPort;
  if (manager) {
    return any ? snmpManager_.Listen(port) : snmpManager_.Listen(port, settings_.TrapRecvIpAddr);
  }
  return any ? snmpAgent_.Start() : snmpAgent_.Start(0, settings_.TrapRecvIpAddr);
}

void TervixService::ServiceOpen(const std::string& name, std::string& status) {
  status.clear();
  const bool manager = name == kManager;
  if (!manager && name != kAgent) return;
  Opening& opening = OpeningOf(manager);
  CancelRetry(manager);
  opening.problem.clear();
  opening.waiting.clear();
  Status s = Bind(manager);
  if (s.ok()) {
    loop_.WaitWithEvents(500);
    if (manager) {
      settings_.TrapRecvIpAddr = snmpManager_.LocalAddress();
      address_here_ = AddressHere(settings_.TrapRecvIpAddr);
      status = ListeningStatusNow();
    } else {
      status = relay::StartedStatus(Stamp(), "SNMP Agent Started", snmpAgent_.LocalAddress(),
                                    snmpAgent_.LocalPort());
    }
    return;
  }
  const std::string cause = ReportOpenFailure(manager, s, &opening.problem);
  if (!snmp::BindRetry::Worth(s)) {
    status = relay::FailedStatus(Stamp(), cause);
    return;
  }
  opening.problem.clear();
  // The port is someone else's for now: wait for it, and say so meanwhile.
  opening.waiting =
      relay::PortInUseCause(settings_.TrapRecvIpAddr, manager ? settings_.TrapRecvPort : 0);
  status = manager ? relay::WaitingStatus(Stamp(), cause)
                   : relay::WaitingStatus(Stamp(), cause, "SNMP Agent Waiting to Start");
  opening.retry.Begin(s);
  ArmRetry(manager);
}

std::string TervixService::ReportOpenFailure(bool manager, const Status& failure,
                                             std::string* problem) {
  if (failure.error() == snmp::kErrorAddressInUse) {
    *problem = manager ? "SNMP Trap Port was in use" : "SNMP Agent Port was in use";
    host_.LogEvent(host::kEventError, 106, *problem);
    return "Port was in use";
  }
  if (failure.error() == snmp::kErrorAddressNotAvailable) {
    *problem = manager ? "SNMP Trap IP Address is not valid" : "SNMP Agent IP Address is not valid";
    host_.LogEvent(host::kEventError, 106, *problem);
    return "IP Address is not valid";
  }
  *problem = failure.description();
  LogFailure(failure, kOpenModule);
  return "";
}

void TervixService::ArmRetry(bool manager) {
  Opening& opening = OpeningOf(manager);
  opening.timer = loop_.After(opening.retry.MsUntilDue(), [this, manager] { OnRetryDue(manager); });
}

void TervixService::CancelRetry(bool manager) {
  Opening& opening = OpeningOf(manager);
  opening.retry.Stop();
  if (opening.timer != 0) loop_.Cancel(opening.timer);
  opening.timer = 0;
}

void TervixService::OnRetryDue(bool manager) {
  Opening& opening = OpeningOf(manager);
  opening.timer = 0;
  switch (opening.retry.Poll()) {
    case snmp::BindRetry::Outcome::kWaiting:
      return ArmRetry(manager);
    case snmp::BindRetry::Outcome::kBound:
      return OpenedAfterWaiting(manager);
    case snmp::BindRetry::Outcome::kGaveUp: {
      // Not worth waiting for any more: reported as a start that failed.
      const std::string cause =
          ReportOpenFailure(manager, opening.retry.failure(), &opening.problem);
      opening.waiting.clear();
      const std::string status = relay::FailedStatus(Stamp(), cause);
      if (settings_.DebugMode) {
        debug_.Append(kDebugFile, relay::StartStatusRecord(status), kOpenModule);
      }
      if (manager) StoreStatus(status, false, kOpenModule);
      return UpdateRunStatus();
    }
    case snmp::BindRetry::Outcome::kIdle:
      return;
  }
}

void TervixService::OpenedAfterWaiting(bool manager) {
  Opening& opening = OpeningOf(manager);
  opening.waiting.clear();
  const long long seconds =
      std::chrono::round<std::chrono::seconds>(opening.retry.waited()).count();
  std::string status;
  std::string event;
  if (manager) {
    settings_.TrapRecvIpAddr = snmpManager_.LocalAddress();
    address_here_ = AddressHere(settings_.TrapRecvIpAddr);
    status = ListeningStatusNow();
    event = relay::StartedAfterWaitingText("SNMP Trap Server", settings_.TrapRecvIpAddr,
                                           snmpManager_.LocalPort(), seconds);
    StoreStatus(status, true, kOpenModule);
  } else {
    WatchAgentErrors();
    status = relay::StartedStatus(Stamp(), "SNMP Agent Started", snmpAgent_.LocalAddress(),
                                  snmpAgent_.LocalPort());
    event = relay::StartedAfterWaitingText("SNMP Agent", snmpAgent_.LocalAddress(),
                                           snmpAgent_.LocalPort(), seconds);
  }
  if (settings_.DebugMode) debug_.Append(kDebugFile, relay::StartStatusRecord(status), kOpenModule);
  UpdateRunStatus();
  // Last, so that whoever watches for the event finds the statuses written.
  host_.LogEvent(host::kEventInformation, 107, event);
}

std::string TervixService::ListeningStatusNow() const {
  return relay::ListeningStatus(Stamp(), settings_.TrapRecvIpAddr, snmpManager_.LocalPort(),
                                address_here_);
}

void TervixService::StoreStatus(const std::string& status, bool address, const char* module) {
  Result<store::Store> db = store::Store::Open(program_folder_);
  if (!db.ok()) return LogFailure(db.status(), module);
  store::ColumnValues columns = {{"TrapRecvStatus", store::Value(status)}};
  if (address) columns.push_back({"TrapRecvIpAddr", store::Value(settings_.TrapRecvIpAddr)});
  if (Status s = db->WriteSettings(columns); !s.ok()) LogFailure(s, module);
}

void TervixService::UpdateRunStatus() {
  relay::RunStatus run;
  run.ip = settings_.TrapRecvIpAddr;
  run.port = snmpManager_.listening() ? snmpManager_.LocalPort() : settings_.TrapRecvPort;
  run.not_listening = manager_open_.problem;
  run.listen_wait = manager_open_.waiting;
  run.address_here = address_here_;
  run.not_sending = agent_open_.problem;
  run.send_wait = agent_open_.waiting;
  host_.SetStatusText(relay::RunStatusText(run));
}

void TervixService::CheckAddressHere() {
  if (!snmpManager_.listening()) return;
  const bool here = AddressHere(settings_.TrapRecvIpAddr);
  if (here == address_here_) return;
  address_here_ = here;
  StoreStatus(ListeningStatusNow(), false, "OnTick");
  UpdateRunStatus();
}

void TervixService::WatchAgentErrors() {
  if (!several_ || !snmpAgent_.started()) return;
  // Both sockets, when stations of both families need two.
  for (const int fd : snmpAgent_.fds()) {
    if (fd >= 0) loop_.Watch(fd, [this] { snmpAgent_.ReadErrors(); });
  }
}

void TervixService::ServiceClose(const std::string& name, std::string& status) {
  status.clear();
  if (name == kAgent) {
    CancelRetry(false);
    // Nothing queued is left behind: the responses first, as at the end of a batch.
    snmpManager_.FlushResponses();
    FlushTraps();
    if (several_ && snmpAgent_.started()) {
      // Refusals of the last traps are counted before the socket goes.
      loop_.RunOnce(0);
      snmpAgent_.ReadErrors();
      for (const int fd : snmpAgent_.fds()) {
        if (fd >= 0) loop_.Unwatch(fd);
      }
    }
    snmpAgent_.Stop();
  } else if (name == kManager) {
    CancelRetry(true);
    snmpManager_.Stop();
    status = "Not Started";
  } else {
    return;
  }
  loop_.RunOnce(0);
}

}  // namespace tervane
