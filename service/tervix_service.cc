#include "service/tervix_service.h"

#include <string>
#include <string_view>
#include <utility>

#include "platform/program_folder.h"
#include "service/relay/debug_log.h"
#include "service/relay/debug_records.h"
#include "service/relay/definitions.h"
#include "service/relay/intake.h"
#include "service/relay/outgoing.h"
#include "service/snmp/socket_util.h"
#include "store/convert.h"
#include "store/store.h"

namespace tervane {
namespace {

constexpr char kAgent[] = "snmpAgent";
constexpr char kManager[] = "snmpManager";

}  // namespace

TervixService::TervixService(std::string program_folder, snmp::EventLoop& loop,
                             host::ServiceHost& host)
    : program_folder_(std::move(program_folder)), loop_(loop), host_(host), snmpManager_(loop) {
  snmpManager_.SetTrapHandler([this] { snmpManager_Trap(); });
}

std::string TervixService::FolderPath(const char* name) const {
  return JoinPath(program_folder_, name);
}

void TervixService::LogFailure(const Status& status, const char* module) {
  host_.LogEvent(host::kEventError, 106,
                 status.ToString() + " (Module: " + std::string(module) + ")");
}

Status TervixService::AppendDebug(const std::string& record) {
  return relay::AppendRecord(FolderPath(relay::kDebugFile), record);
}

void TervixService::svcHost_State() {
  switch (host_.RequestedState()) {
    case host::kRequestStart:
      StartRequest();
      break;
    case host::kRequestStop:
      StopRequest();
      break;
    case host::kRequestPause:
      host_.LogEvent(host::kEventWarning, 107, "Pause is not implemented.");
      break;
    case host::kRequestResume:
      host_.LogEvent(host::kEventWarning, 107, "Resume is not implemented.");
      break;
    default:
      break;
  }
}

void TervixService::StartRequest() {
  if (!settings_.ConnectString.empty()) return;  // handled before
  settings_.ConnectString = FolderPath("Tervix.mdb");

  // One step after the other; the first failure ends the request.
  auto run = [&]() -> Status {
    Result<store::Store> db = store::Store::Open(program_folder_);
    if (!db.ok()) return db.status();
    if (Status s = relay::DeleteIfExists(FolderPath(relay::kDebugFile)); !s.ok()) return s;
    if (Status s = relay::DeleteIfExists(FolderPath(relay::kDebugErrorFile)); !s.ok()) return s;

    Result<store::SettingsRow> row = db->ReadSettings();
    if (!row.ok()) return row.status();
    Result<bool> debug = store::ToBoolean(row->ByName("DebugMode"), "DebugMode");
    if (!debug.ok()) return debug.status();
    Result<std::string> recv_ip = store::ToText(row->ByName("TrapRecvIpAddr"), "TrapRecvIpAddr");
    if (!recv_ip.ok()) return recv_ip.status();
    Result<uint16_t> recv_port = store::ToPort(row->ByName("TrapRecvPort"), "TrapRecvPort");
    if (!recv_port.ok()) return recv_port.status();
    Result<std::string> forw_ip = store::ToText(row->ByName("TrapForwIpAddr"), "TrapForwIpAddr");
    if (!forw_ip.ok()) return forw_ip.status();
    Result<uint16_t> forw_port = store::ToPort(row->ByName("TrapForwPort"), "TrapForwPort");
    if (!forw_port.ok()) return forw_port.status();
    Result<bool> convert = store::ToBoolean(row->ByName("ConvV2ToV1"), "ConvV2ToV1");
    if (!convert.ok()) return convert.status();
    settings_.DebugMode = *debug;
    settings_.TrapRecvIpAddr = *recv_ip;
    settings_.TrapRecvPort = *recv_port;
    settings_.TrapForwIpAddr = *forw_ip;
    settings_.TrapForwPort = *forw_port;
    settings_.ConvV2ToV1 = *convert;
    forward_destination_ = settings_.TrapForwIpAddr + ":" + std::to_string(settings_.TrapForwPort);

    std::string status;
    ServiceOpen(kAgent, status);
    if (settings_.DebugMode) {
      if (Status s = AppendDebug(relay::StartStatusRecord(status)); !s.ok()) return s;
    }
    ServiceOpen(kManager, status);
    if (settings_.DebugMode) {
      if (Status s = AppendDebug(relay::StartStatusRecord(status)); !s.ok()) return s;
    }
    return db->WriteSettings({{"TrapRecvStatus", store::Value(status)},
                              {"TrapRecvIpAddr", store::Value(settings_.TrapRecvIpAddr)}});
  };
  if (Status s = run(); !s.ok()) {
    LogFailure(s, "svcHost_State");
    return;
  }
  ReadSnmpTrapDB();
  host_.LogEvent(host::kEventInformation, 101);
}

void TervixService::StopRequest() {
  Result<store::Store> db = settings_.ConnectString.empty()
                                ? Result<store::Store>(Status::Error(
                                      kErrorNotFound, "no database: the service was not started"))
                                : store::Store::Open(program_folder_);
  if (!db.ok()) {
    LogFailure(db.status(), "svcHost_State");
    return;
  }
  std::string status;
  ServiceClose(kAgent, status);
  loop_.WaitWithEvents(500);
  ServiceClose(kManager, status);
  loop_.WaitWithEvents(500);
  if (Status s = db->WriteSettings({{"TrapRecvStatus", store::Value(status)}}); !s.ok()) {
    LogFailure(s, "svcHost_State");
    return;
  }
  host_.LogEvent(host::kEventInformation, 102);
}

void TervixService::ServiceOpen(const std::string& name, std::string& status) {
  status.clear();
  const bool manager = name == kManager;
  if (!manager && name != kAgent) return;
  const bool any = settings_.TrapRecvIpAddr == "0.0.0.0";
  const auto port = static_cast<uint16_t>(settings_.TrapRecvPort);
  Status s = manager ? (any ? snmpManager_.Listen(port)
                            : snmpManager_.Listen(port, settings_.TrapRecvIpAddr))
                     : (any ? snmpAgent_.Start() : snmpAgent_.Start(0, settings_.TrapRecvIpAddr));
  if (s.ok()) {
    loop_.WaitWithEvents(500);
    if (manager) {
      settings_.TrapRecvIpAddr = snmpManager_.LocalAddress();
      status = relay::StartedStatus(relay::Now(), "Trap Server Started", settings_.TrapRecvIpAddr,
                                    snmpManager_.LocalPort());
    } else {
      status = relay::StartedStatus(relay::Now(), "SNMP Agent Started", snmpAgent_.LocalAddress(),
                                    snmpAgent_.LocalPort());
    }
    return;
  }
  std::string cause;
  if (s.error() == snmp::kErrorAddressInUse) {
    host_.LogEvent(host::kEventError, 106,
                   manager ? "SNMP Trap Port was in use" : "SNMP Agent Port was in use");
    cause = "Port was in use";
  } else if (s.error() == snmp::kErrorAddressNotAvailable) {
    host_.LogEvent(
        host::kEventError, 106,
        manager ? "SNMP Trap IP Address is not valid" : "SNMP Agent IP Address is not valid");
    cause = "IP Address is not valid";
  } else {
    LogFailure(s, "ServiceOpen");
  }
  status = relay::FailedStatus(relay::Now(), cause);
}

void TervixService::ServiceClose(const std::string& name, std::string& status) {
  status.clear();
  if (name == kAgent) {
    snmpAgent_.Stop();
  } else if (name == kManager) {
    snmpManager_.Stop();
    status = "Not Started";
  } else {
    return;
  }
  loop_.RunOnce(0);
}

void TervixService::ReadSnmpTrapDB() {
  Result<store::Store> db = store::Store::Open(program_folder_);
  if (!db.ok()) return LogFailure(db.status(), "ReadSnmpTrapDB");
  Result<std::vector<store::TrapRow>> rows = db->ReadTraps();
  if (!rows.ok()) return LogFailure(rows.status(), "ReadSnmpTrapDB");
  if (Status s = relay::LoadDefinitions(*rows, definitions_); !s.ok()) {
    return LogFailure(s, "ReadSnmpTrapDB");
  }
  if (settings_.DebugMode) {
    if (Status s = AppendDebug(relay::DefinitionListRecord(definitions_)); !s.ok()) {
      LogFailure(s, "ReadSnmpTrapDB");
    }
  }
}

void TervixService::snmpManager_Trap() {
  snmp::Message& message = snmpManager_.CurrentMessage();
  relay::Intake intake;
  Status filled = relay::FillCurrentTrap(message, snmpManager_.SourceAddress(), trap_, &intake);
  auto run = [&]() -> Status {
    if (!intake.null_list.empty()) {
      Status s = AppendDebug(relay::NullValuesRecord(relay::Now(), intake.null_list));
      if (!s.ok()) return s;
    }
    if (!filled.ok()) return filled;
    if (!intake.handled) return Status::Ok();
    if (intake.inform) {
      // Acknowledge before anything is forwarded.
      message.kind = snmp::kKindResponse;
      snmpAgent_.Outgoing().kind = snmp::kKindResponse;
      if (Status s = snmpManager_.SendResponse(); !s.ok()) return s;
    }
    if (settings_.DebugMode) {
      if (Status s = AppendDebug(relay::TrapInRecord(relay::Now(), trap_)); !s.ok()) return s;
    }
    if (!intake.null_list.empty() || intake.malformed) {
      snmpManager_.ClearCurrentVariables();
      return Status::Ok();
    }
    trap_.TrapIndex = relay::FindDefinition(definitions_, trap_.TrapOid);
    // A Counter64 binding has no SNMPv1 form: such a trap goes on as SNMPv2.
    const bool convert = settings_.ConvV2ToV1 && trap_.IsV2() && !relay::HasCounter64(trap_);
    if (trap_.TrapIndex != 0) {
      convert ? SendTrapWrappedAndConvToV1() : SendTrapWrapped();
    } else {
      convert ? SendTrapNotWrappedAndConvToV1() : SendTrapNotWrapped();
    }
    snmpManager_.ClearCurrentVariables();
    return Status::Ok();
  };
  if (Status s = run(); !s.ok()) LogFailure(s, "snmpManager_Trap");
}

Status TervixService::SetDestination() {
  snmpAgent_.ClearDestinations();
  return snmpAgent_.AddDestination(forward_destination_, 0);
}

void TervixService::SendTrapWrapped() { Wrapped(false, "SendTrapWrapped"); }
void TervixService::SendTrapWrappedAndConvToV1() { Wrapped(true, "SendTrapWrappedAndConvToV1"); }
void TervixService::SendTrapNotWrapped() { NotWrapped(false, "SendTrapNotWrapped"); }
void TervixService::SendTrapNotWrappedAndConvToV1() {
  NotWrapped(true, "SendTrapNotWrappedAndConvToV1");
}

std::string_view TervixService::RecordVersion(bool to_v1) const {
  // A view of a constant or of the current trap, never of a temporary string: the record's
  // head keeps it after this call.
  return to_v1 ? std::string_view(relay::kVersionV1) : std::string_view(trap_.TrapVersion);
}

void TervixService::Wrapped(bool to_v1, const char* module) {
  const relay::TrapDefinition& d = definitions_[trap_.TrapIndex];
  snmp::Message& out = snmpAgent_.Outgoing();
  auto run = [&]() -> Status {
    if (Status s = SetDestination(); !s.ok()) return s;
    if (Status s = relay::BuildWrapped(trap_, d, to_v1, &out); !s.ok()) return s;
    if (settings_.DebugMode) {
      const std::string oid = relay::kWrappedTrapPrefix + d.TrapNewNumber;
      relay::DumpHead head{RecordVersion(to_v1),
                           oid,
                           to_v1 ? trap_.TrapSourceNetwork : trap_.TrapSourceAgent,
                           settings_.TrapRecvIpAddr,
                           trap_.TrapCommunity,
                           trap_.TrapSysUpTime};
      Status s = AppendDebug(
          relay::TrapDump(relay::kHeaderWrapped, relay::Now(), head, relay::MessageVars(out)));
      if (!s.ok()) return s;
    }
    return snmpAgent_.Send();
  };
  if (Status s = run(); !s.ok()) LogFailure(s, module);
}

void TervixService::NotWrapped(bool to_v1, const char* module) {
  snmp::Message& out = snmpAgent_.Outgoing();
  relay::DumpHead head{RecordVersion(to_v1),
                       trap_.TrapOid,
                       to_v1 ? trap_.TrapSourceNetwork : trap_.TrapSourceAgent,
                       settings_.TrapRecvIpAddr,
                       trap_.TrapCommunity,
                       trap_.TrapSysUpTime};
  auto run = [&]() -> Status {
    if (Status s = SetDestination(); !s.ok()) return s;
    if (Status s = relay::BuildForwarded(trap_, to_v1, &out); !s.ok()) return s;
    if (settings_.DebugMode) {
      Status s = AppendDebug(
          relay::TrapDump(relay::kHeaderNotWrapped, relay::Now(), head, relay::MessageVars(out)));
      if (!s.ok()) return s;
    }
    return snmpAgent_.Send();
  };
  Status s = run();
  if (s.ok()) return;
  // A trap that could not be forwarded is lost: say so in the event log, and with debug
  // mode on keep the trap as received, the sender and the reason.
  LogFailure(s, module);
  if (!settings_.DebugMode) return;
  std::string record =
      relay::TrapDump(relay::kHeaderNotWrapped, relay::Now(), head, relay::TrapVars(trap_));
  record += "Module: " + std::string(module) + "\r\nError: " + s.description() + "\r\n";
  Status ignored = relay::AppendRecord(FolderPath(relay::kDebugErrorFile), record);
  (void)ignored;
}

}  // namespace tervane
