#include "service/tervix_service.h"

#include <ctime>
#include <string>
#include <utility>

#include "platform/program_folder.h"
#include "service/relay/debug_records.h"
#include "service/relay/definitions.h"
#include "service/relay/intake.h"
#include "service/relay/outgoing.h"
#include "service/relay/settings.h"
#include "service/snmp/socket_util.h"
#include "store/store.h"

namespace tervane {
namespace {

constexpr char kAgent[] = "snmpAgent";
constexpr char kManager[] = "snmpManager";

// The four senders, by the code that a queued trap's tag carries.
constexpr int kSenderWrapped = 0;
constexpr int kSenderWrappedAndConvToV1 = 1;
constexpr int kSenderNotWrapped = 2;
constexpr int kSenderNotWrappedAndConvToV1 = 3;
constexpr uint64_t kTagsPerTrap = 4;
constexpr const char* kSenderNames[kTagsPerTrap] = {"SendTrapWrapped", "SendTrapWrappedAndConvToV1",
                                                    "SendTrapNotWrapped",
                                                    "SendTrapNotWrappedAndConvToV1"};

std::string Stamp() { return relay::TimeStamp(std::time(nullptr)); }

}  // namespace

TervixService::TervixService(std::string program_folder, snmp::EventLoop& loop,
                             host::ServiceHost& host)
    : program_folder_(std::move(program_folder)),
      loop_(loop),
      host_(host),
      debug_(program_folder_, host.event_log()),
      snmpManager_(loop) {
  snmpManager_.SetTrapHandler([this] { snmpManager_Trap(); });
  snmpManager_.SetResponseFailureHandler(
      [this](uint64_t tag, const Status& failure) { OnResponseNotSent(tag, failure); });
  snmpManager_.SetBatchEndHandler([this] { FlushTraps(); });
  on_trap_not_sent_ = [this](uint64_t tag, const Status& failure) { OnTrapNotSent(tag, failure); };
}

void TervixService::LogFailure(const Status& status, const char* module) {
  host_.LogEvent(host::kEventError, 106,
                 status.ToString() + " (Module: " + std::string(module) + ")");
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
  if (start_handled_) return;
  start_handled_ = true;
  constexpr char kModule[] = "svcHost_State";

  Result<store::Store> db = store::Store::Open(program_folder_);
  if (!db.ok()) return FailStart(db.status(), nullptr, kExitFailed);
  debug_.Delete(kDebugFile, kModule);
  debug_.Delete(kDebugErrorFile, kModule);
  Result<store::SettingsRow> row = db->ReadSettings();
  if (!row.ok()) return FailStart(row.status(), &*db, kExitFailed);
  Result<relay::Settings> settings = relay::SettingsFromRow(*row);
  if (!settings.ok()) return FailStart(settings.status(), &*db, kExitBadConfiguration);
  Status endpoint = relay::CheckForwardEndpoint(*settings, snmp::IsLocalAddress);
  if (!endpoint.ok()) return FailStart(endpoint, &*db, kExitBadConfiguration);
  settings_ = *settings;
  batch_sends_ = !settings_.DebugMode;
  // The debug records list every text; without them most need not be made.
  snmpManager_.SetTexts(settings_.DebugMode ? snmp::Texts::kAll : snmp::Texts::kOnDemand);
  snmpAgent_.ClearDestinations();
  destination_ = snmpAgent_.AddDestination(
      settings_.TrapForwIpAddr + ":" + std::to_string(settings_.TrapForwPort), 0);

  std::string status;
  ServiceOpen(kAgent, status);
  if (settings_.DebugMode) debug_.Append(kDebugFile, relay::StartStatusRecord(status), kModule);
  ServiceOpen(kManager, status);
  if (settings_.DebugMode) debug_.Append(kDebugFile, relay::StartStatusRecord(status), kModule);
  // A service that does not listen runs on (the window shows why); its manager says so too.
  host_.SetStatusText(relay::RunStatusText(settings_.TrapRecvIpAddr, snmpManager_.LocalPort(),
                                           manager_problem_, agent_problem_));
  // The listener runs now: a status that cannot be stored is reported, and the definitions
  // are loaded all the same, so that no trap passes unwrapped for it.
  Status stored = db->WriteSettings({{"TrapRecvStatus", store::Value(status)},
                                     {"TrapRecvIpAddr", store::Value(settings_.TrapRecvIpAddr)}});
  if (!stored.ok()) LogFailure(stored, kModule);
  ReadSnmpTrapDB();
  host_.LogEvent(host::kEventInformation, 101);
}

void TervixService::FailStart(const Status& failure, store::Store* db, int exit_status) {
  constexpr char kModule[] = "svcHost_State";
  LogFailure(failure, kModule);
  if (db != nullptr) {
    // The window shows this text: a service that ended must not read as started before.
    Status stored = db->WriteSettings(
        {{"TrapRecvStatus", store::Value(relay::FailedStatus(Stamp(), failure.description()))}});
    if (!stored.ok()) LogFailure(stored, kModule);
  }
  host_.EndProcess(exit_status);
}

void TervixService::StopRequest() {
  Result<store::Store> db = !start_handled_
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
  std::string& problem = manager ? manager_problem_ : agent_problem_;
  problem.clear();
  const bool any = settings_.TrapRecvIpAddr == "0.0.0.0";
  const uint16_t port = settings_.TrapRecvPort;
  Status s = manager ? (any ? snmpManager_.Listen(port)
                            : snmpManager_.Listen(port, settings_.TrapRecvIpAddr))
                     : (any ? snmpAgent_.Start() : snmpAgent_.Start(0, settings_.TrapRecvIpAddr));
  if (s.ok()) {
    loop_.WaitWithEvents(500);
    if (manager) {
      settings_.TrapRecvIpAddr = snmpManager_.LocalAddress();
      status = relay::StartedStatus(Stamp(), "Trap Server Started", settings_.TrapRecvIpAddr,
                                    snmpManager_.LocalPort());
    } else {
      status = relay::StartedStatus(Stamp(), "SNMP Agent Started", snmpAgent_.LocalAddress(),
                                    snmpAgent_.LocalPort());
    }
    return;
  }
  std::string cause;
  if (s.error() == snmp::kErrorAddressInUse) {
    problem = manager ? "SNMP Trap Port was in use" : "SNMP Agent Port was in use";
    host_.LogEvent(host::kEventError, 106, problem);
    cause = "Port was in use";
  } else if (s.error() == snmp::kErrorAddressNotAvailable) {
    problem = manager ? "SNMP Trap IP Address is not valid" : "SNMP Agent IP Address is not valid";
    host_.LogEvent(host::kEventError, 106, problem);
    cause = "IP Address is not valid";
  } else {
    problem = s.description();
    LogFailure(s, "ServiceOpen");
  }
  status = relay::FailedStatus(Stamp(), cause);
}

void TervixService::ServiceClose(const std::string& name, std::string& status) {
  status.clear();
  if (name == kAgent) {
    // Nothing queued is left behind: the responses first, as at the end of a batch.
    snmpManager_.FlushResponses();
    FlushTraps();
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
  constexpr char kModule[] = "ReadSnmpTrapDB";
  Result<store::Store> db = store::Store::Open(program_folder_);
  if (!db.ok()) return LogFailure(db.status(), kModule);
  Result<std::vector<store::TrapRow>> rows = db->ReadTraps();
  if (!rows.ok()) return LogFailure(rows.status(), kModule);
  if (Status s = relay::LoadDefinitions(*rows, definitions_); !s.ok()) {
    return LogFailure(s, kModule);
  }
  if (settings_.DebugMode) {
    debug_.Append(kDebugFile, relay::DefinitionListRecord(definitions_), kModule);
  }
}

void TervixService::snmpManager_Trap() {
  constexpr char kModule[] = "snmpManager_Trap";
  const relay::Intake intake =
      relay::FillCurrentTrap(snmpManager_.CurrentView(), snmpManager_.SourceAddress(), trap_);
  if (!intake.null_list.empty()) {
    debug_.Append(kDebugFile, relay::NullValuesRecord(Stamp(), intake.null_list), kModule);
  }
  if (!intake.handled) return;
  ++sequence_;
  if (intake.inform) {
    // Acknowledged before anything is forwarded, whatever the bindings hold: the received
    // message goes back as a response, and a queued answer leaves before the batch's traps.
    Status s = batch_sends_ ? snmpManager_.QueueResponse(sequence_ * kTagsPerTrap)
                            : snmpManager_.SendResponse();
    if (!s.ok()) return LogFailure(s, kModule);
  }
  if (settings_.DebugMode) debug_.Append(kDebugFile, relay::TrapInRecord(Stamp(), trap_), kModule);
  if (intake.null_list.empty() && !intake.malformed) {
    const relay::Route route = relay::ChooseRoute(trap_, definitions_, settings_.ConvV2ToV1);
    if (route.definition != 0) {
      trap_.TrapIndex = route.definition;
      route.to_v1 ? SendTrapWrappedAndConvToV1() : SendTrapWrapped();
    } else {
      route.to_v1 ? SendTrapNotWrappedAndConvToV1() : SendTrapNotWrapped();
    }
  }
  snmpManager_.ClearCurrentVariables();
}

void TervixService::SendTrapWrapped() { Wrapped(kSenderWrapped); }
void TervixService::SendTrapWrappedAndConvToV1() { Wrapped(kSenderWrappedAndConvToV1); }
void TervixService::SendTrapNotWrapped() { NotWrapped(kSenderNotWrapped); }
void TervixService::SendTrapNotWrappedAndConvToV1() { NotWrapped(kSenderNotWrappedAndConvToV1); }

Status TervixService::SendOutgoing(int sender) {
  if (!batch_sends_) return snmpAgent_.Send(outgoing_.message());
  return snmpAgent_.Queue(outgoing_.message(),
                          sequence_ * kTagsPerTrap + static_cast<uint64_t>(sender));
}

void TervixService::FlushTraps() { snmpAgent_.Flush(on_trap_not_sent_); }

void TervixService::OnTrapNotSent(uint64_t tag, const Status& failure) {
  // Queued only with debug mode off: the event is all there is to write.
  LogFailure(failure, kSenderNames[tag % kTagsPerTrap]);
}

void TervixService::OnResponseNotSent(uint64_t tag, const Status& failure) {
  // As when the answer fails at once: reported, and nothing more is sent for the inform.
  LogFailure(failure, "snmpManager_Trap");
  snmpAgent_.Cancel(tag, tag + kTagsPerTrap - 1);
}

void TervixService::Wrapped(int sender) {
  const char* module = kSenderNames[sender];
  const bool to_v1 = sender == kSenderWrappedAndConvToV1;
  const relay::TrapDefinition& d = definitions_[trap_.TrapIndex];
  auto run = [&]() -> Status {
    if (!destination_.ok()) return destination_;
    if (Status s = relay::BuildWrapped(trap_, d, to_v1, &outgoing_); !s.ok()) return s;
    if (settings_.DebugMode) {
      debug_.Append(kDebugFile,
                    relay::SentRecord(Stamp(), trap_, &d, to_v1, settings_.TrapRecvIpAddr,
                                      relay::MessageVars(outgoing_.message())),
                    module);
    }
    return SendOutgoing(sender);
  };
  if (Status s = run(); !s.ok()) LogFailure(s, module);
}

void TervixService::NotWrapped(int sender) {
  const char* module = kSenderNames[sender];
  const bool to_v1 = sender == kSenderNotWrappedAndConvToV1;
  auto run = [&]() -> Status {
    if (!destination_.ok()) return destination_;
    if (Status s = relay::BuildForwarded(trap_, to_v1, &outgoing_); !s.ok()) return s;
    if (settings_.DebugMode) {
      debug_.Append(kDebugFile,
                    relay::SentRecord(Stamp(), trap_, nullptr, to_v1, settings_.TrapRecvIpAddr,
                                      relay::MessageVars(outgoing_.message())),
                    module);
    }
    return SendOutgoing(sender);
  };
  Status s = run();
  if (s.ok()) return;
  // A trap that could not be forwarded is lost: say so in the event log, and with debug
  // mode on keep the trap as received, the sender and the reason.
  LogFailure(s, module);
  if (!settings_.DebugMode) return;
  debug_.Append(kDebugErrorFile,
                relay::NotSentRecord(Stamp(), trap_, to_v1, settings_.TrapRecvIpAddr, module,
                                     s.description()),
                module);
}

}  // namespace tervane
