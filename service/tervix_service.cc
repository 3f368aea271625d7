#include "service/tervix_service.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <span>
#include <string>
#include <utility>

#include "platform/program_folder.h"
#include "service/relay/debug_records.h"
#include "service/relay/definitions.h"
#include "service/relay/intake.h"
#include "service/relay/outgoing.h"
#include "service/relay/settings.h"
#include "service/snmp/socket_util.h"
#include "store/relay_options.h"
#include "store/store.h"
#include "store/storm_rules.h"

namespace tervane {
namespace {

// The four senders, by the code that a queued trap's tag carries.
constexpr int kSenderWrapped = 0;
constexpr int kSenderWrappedAndConvToV1 = 1;
constexpr int kSenderNotWrapped = 2;
constexpr int kSenderNotWrappedAndConvToV1 = 3;
constexpr uint64_t kTagsPerTrap = 4;
// A queued trap's tag: (sequence * kTagsPerTrap + sender) * kStationSlots + station.
constexpr uint64_t kStationSlots = store::kMaxStations;
static_assert(store::kMaxStations <= 32, "a station is a bit of a 32-bit mask");
constexpr uint64_t FirstTag(uint64_t sequence) { return sequence * kTagsPerTrap * kStationSlots; }
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
      snmpManager_(loop),
      agent_open_([this] { return Bind(false); }),
      manager_open_([this] { return Bind(true); }) {
  snmpManager_.SetTrapHandler([this] { snmpManager_Trap(); });
  snmpManager_.SetResponseFailureHandler(
      [this](uint64_t tag, const Status& failure) { OnResponseNotSent(tag, failure); });
  snmpManager_.SetBatchEndHandler([this] { FlushTraps(); });
  on_trap_not_sent_ = [this](uint64_t tag, const Status& failure) { OnTrapNotSent(tag, failure); };
  storm_event_ = [this](const std::string& text) {
    host_.LogEvent(host::kEventInformation, relay::kStormEvent, text);
  };
  storm_resend_ = [this](std::span<const uint8_t> datagram, std::string_view source) {
    ResendHeldBack(datagram, source);
  };
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
  if (!db.ok()) {
    // A file of a newer program will not open however often the unit tries again.
    return FailStart(
        db.status(), nullptr,
        db.status().error() == kErrorNewerSchema ? kExitBadConfiguration : kExitFailed);
  }
  debug_.Delete(kDebugFile, kModule);
  debug_.Delete(kDebugErrorFile, kModule);
  Result<store::SettingsRow> row = db->ReadSettings();
  if (!row.ok()) return FailStart(row.status(), &*db, kExitFailed);
  Result<relay::Settings> settings = relay::SettingsFromRow(*row);
  if (!settings.ok()) return FailStart(settings.status(), &*db, kExitBadConfiguration);
  Result<std::vector<store::StationRow>> further = db->ReadStations();
  if (!further.ok()) return FailStart(further.status(), &*db, kExitFailed);
  Result<std::vector<store::Station>> stations = store::StationsToSend(
      *row, *further, settings->TrapRecvIpAddr, settings->TrapRecvPort, snmp::IsLocalAddress);
  if (!stations.ok()) return FailStart(stations.status(), &*db, kExitBadConfiguration);
  Result<std::vector<store::RelayOption>> option_rows = db->ReadRelayOptions();
  if (!option_rows.ok()) return FailStart(option_rows.status(), &*db, kExitFailed);
  Result<store::RelayOptions> options = store::RelayOptionsFromRows(*option_rows);
  if (!options.ok()) return FailStart(options.status(), &*db, kExitBadConfiguration);
  std::vector<store::StormRule> storm_rules;
  if (options->storm_control) {
    Result<std::vector<store::StormRuleRow>> storm_rows = db->ReadStormRules();
    if (!storm_rows.ok()) return FailStart(storm_rows.status(), &*db, kExitFailed);
    Result<std::vector<store::StormRule>> rules = store::StormRulesFromRows(*storm_rows);
    if (!rules.ok()) return FailStart(rules.status(), &*db, kExitBadConfiguration);
    storm_rules = std::move(*rules);
  }
  if (!SetUpSecurity(*db)) return;
  settings->AddSourceAddress = options->add_source_address;
  settings_ = *settings;
  stations_ = std::move(*stations);
  batch_sends_ = !settings_.DebugMode;
  // The debug records list every text; without them most need not be made.
  snmpManager_.SetTexts(settings_.DebugMode ? snmp::Texts::kAll : snmp::Texts::kOnDemand);
  SetUpStations();
  if (options->storm_control) {
    storm_.emplace(std::move(storm_rules));
    // One counter for each rule that can hold a trap back.
    for (size_t i = 0; i < storm_->rules().size(); ++i) {
      if (!storm_->rules()[i].enabled) continue;
      held_back_rules_.push_back(i);
      counters_.traps_held_back.push_back({storm_->rules()[i].Label(), 0});
    }
  }

  since_ = store::UtcStamp(std::time(nullptr));
  Result<store::StatisticsWriter> writer = store::StatisticsWriter::Open(*db, program_folder_);
  if (writer.ok()) {
    statistics_.emplace(std::move(*writer));
  } else {
    LogFailure(writer.status(), kModule);
  }

  std::string status;
  ServiceOpen(kAgent, status);
  if (settings_.DebugMode) debug_.Append(kDebugFile, relay::StartStatusRecord(status), kModule);
  WatchAgentErrors();
  ServiceOpen(kManager, status);
  if (settings_.DebugMode) debug_.Append(kDebugFile, relay::StartStatusRecord(status), kModule);
  // A service that does not listen (yet) runs on (the window shows why); its manager says so
  // too.
  UpdateRunStatus();
  // The listener runs now: a status that cannot be stored is reported, and the definitions
  // are loaded all the same, so that no trap passes unwrapped for it.
  Status stored = db->WriteSettings({{"TrapRecvStatus", store::Value(status)},
                                     {"TrapRecvIpAddr", store::Value(settings_.TrapRecvIpAddr)}});
  if (!stored.ok()) LogFailure(stored, kModule);
  ReadSnmpTrapDB();
  loop_.SetTicker(kStatisticsPeriodMs, [this] { OnTick(); });
  if (storm_) storm_timer_ = loop_.After(relay::kStormTickMs, [this] { OnStormTimer(); });
  host_.LogEvent(host::kEventInformation, 101);
}

void TervixService::SetUpStations() {
  several_ = stations_.size() > 1;
  endpoints_.clear();
  snmpAgent_.ClearDestinations();
  destination_ = Status::Ok();
  for (const store::Station& station : stations_) {
    endpoints_.push_back(station.Endpoint());
    Status added = snmpAgent_.AddDestination(endpoints_.back(), 0);
    if (!added.ok() && destination_.ok()) destination_ = std::move(added);
  }
  station_counters_.assign(stations_.size(), relay::StationCounters());
  // Stations that take the same datagram share one encoding: groups by form and community,
  // in the order of their first station.
  for (int convertible = 0; convertible < 2; ++convertible) {
    std::vector<SendGroup>& groups = groups_[convertible];
    groups.clear();
    for (size_t i = 0; i < stations_.size(); ++i) {
      const bool to_v1 = convertible != 0 && stations_[i].to_v1;
      auto same = std::find_if(groups.begin(), groups.end(), [&](const SendGroup& g) {
        return g.to_v1 == to_v1 && g.community == stations_[i].community;
      });
      if (same == groups.end()) {
        groups.push_back(SendGroup{to_v1, stations_[i].community, 0});
        same = groups.end() - 1;
      }
      same->stations |= 1U << i;
    }
  }
  if (several_) {
    reports_.emplace(endpoints_);
    snmpAgent_.SetRefusalHandler(
        [this](size_t i, const Status& failure) { OnRefusal(i, failure); });
  }
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
  if (storm_timer_ != 0) loop_.Cancel(storm_timer_);
  storm_timer_ = 0;
  // A storm still on ends with the service: its last trap held back goes on, so that the
  // stations are left with the latest state.
  if (storm_) {
    storm_->EndAll(storm_event_, storm_resend_);
    FlushTraps();
  }
  ServiceClose(kAgent, status);
  loop_.WaitWithEvents(500);
  ServiceClose(kManager, status);
  loop_.WaitWithEvents(500);
  loop_.SetTicker(0, nullptr);
  // What the stations' failures and the counters came to, to the last trap.
  if (reports_) {
    reports_->Due(std::chrono::steady_clock::now(), true, [this](const std::string& text) {
      host_.LogEvent(host::kEventError, 106, text);
    });
  }
  // What the storms held back in the minute so far.
  if (storm_) storm_->ReportMinute(SteadyMs(), storm_event_);
  WriteStatistics(/*last=*/true);
  if (Status s = db->WriteSettings({{"TrapRecvStatus", store::Value(status)}}); !s.ok()) {
    LogFailure(s, "svcHost_State");
    return;
  }
  host_.LogEvent(host::kEventInformation, 102);
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
  if (!intake.handled) {
    counters_.Drop(relay::DropReason::kOther);
    return;
  }
  if (trap_.IsV3()) {
    ++(intake.inform ? counters_.snmpv3_informs_received : counters_.snmpv3_traps_received);
  } else if (intake.inform) {
    ++counters_.informs_received;
  } else if (trap_.IsV2()) {
    ++counters_.snmpv2_traps_received;
  } else {
    ++counters_.snmpv1_traps_received;
  }
  ++sequence_;
  if (intake.inform) {
    // Acknowledged before anything is forwarded, whatever the bindings hold: the received
    // message goes back as a response, and a queued answer leaves before the batch's traps.
    Status s = batch_sends_ ? snmpManager_.QueueResponse(FirstTag(sequence_))
                            : snmpManager_.SendResponse();
    if (!s.ok()) {
      counters_.Drop(relay::DropReason::kOther);
      return LogFailure(s, kModule);
    }
    ++counters_.informs_answered;
  }
  if (settings_.DebugMode) debug_.Append(kDebugFile, relay::TrapInRecord(Stamp(), trap_), kModule);
  if (!intake.null_list.empty()) {
    counters_.Drop(relay::DropReason::kNullValues);
  } else if (intake.malformed) {
    counters_.Drop(relay::DropReason::kMalformedSnmpV2Message);
  } else if (!storm_ || !HeldBack()) {
    // The stations that convert take the SNMPv1 form when the trap has one (ChooseRoute's
    // rules); all others, and all when it has none, take the trap's own form.
    const relay::Route route = relay::ChooseRoute(trap_, definitions_, true);
    trap_.TrapIndex = route.definition != 0 ? route.definition : trap_.TrapIndex;
    Relay(route.definition != 0, route.to_v1);
  }
  snmpManager_.ClearCurrentVariables();
}

int64_t TervixService::SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool TervixService::HeldBack() {
  // The key's first binding by its OID's content octets, as the binding arrived or, where it
  // did not arrive in the encoder's form, encoded from its text.
  std::span<const uint8_t> first;
  if (trap_.TrapVarCount >= 1) {
    const relay::VarList& list = trap_.TrapVarList;
    first = relay::BindingNameContent(list.encoding[1]);
    size_t length = 0;
    if (first.empty() && !list.varOid[1].empty() &&
        snmp::OidTextToBer(list.varOid[1], first_binding_.data(), &length) == nullptr) {
      first = {first_binding_.data(), length};
    }
  }
  const relay::StormControl::Verdict verdict =
      storm_->Check({trap_.TrapSourceNetwork, trap_.TrapOid, first}, SteadyMs());
  if (!verdict.held) return false;
  if (verdict.keep) {
    // Kept as the SNMPv2c message it goes on as: an SNMPv3 trap with the community it takes.
    snmp::MessageView kept = snmpManager_.CurrentView();
    if (kept.snmpv3) {
      kept.snmpv3 = false;
      kept.community = relay::kV3Community;
    }
    std::span<const uint8_t> datagram;
    if (snmp::EncodeInPlace(kept, &datagram).ok()) {
      storm_->KeepTrailing(datagram);
    }
  }
  return true;
}

void TervixService::OnStormTimer() {
  storm_timer_ = 0;
  if (!storm_) return;
  storm_->Tick(SteadyMs(), storm_event_, storm_resend_);
  // No batch is open on the timer: what the ended storms sent leaves now.
  FlushTraps();
  storm_timer_ = loop_.After(relay::kStormTickMs, [this] { OnStormTimer(); });
}

void TervixService::ResendHeldBack(std::span<const uint8_t> datagram, std::string_view source) {
  // Answered, counted and recorded when it came; now only looked up and sent, as then.
  const snmp::Texts texts = settings_.DebugMode ? snmp::Texts::kAll : snmp::Texts::kOnDemand;
  if (!snmp::Decode(datagram, &resent_, texts).ok()) return;
  const relay::Intake intake = relay::FillCurrentTrap(resent_.view(), source, trap_);
  if (intake.handled && !intake.malformed && intake.null_list.empty()) {
    ++sequence_;
    const relay::Route route = relay::ChooseRoute(trap_, definitions_, true);
    trap_.TrapIndex = route.definition != 0 ? route.definition : trap_.TrapIndex;
    Relay(route.definition != 0, route.to_v1);
  }
  resent_.ClearVariables();
}

void TervixService::Relay(bool wrapped, bool convertible) {
  tried_ = {false, false};
  sent_v1_ = sent_any_ = false;
  for (const SendGroup& group : groups_[convertible ? 1 : 0]) {
    if (wrapped) {
      group.to_v1 ? Wrapped(kSenderWrappedAndConvToV1, group) : Wrapped(kSenderWrapped, group);
    } else {
      group.to_v1 ? NotWrapped(kSenderNotWrappedAndConvToV1, group)
                  : NotWrapped(kSenderNotWrapped, group);
    }
  }
  if (!sent_any_) {
    counters_.Drop(wrapped ? relay::DropReason::kWrappingFailed : relay::DropReason::kOther);
    return;
  }
  ++(wrapped ? counters_.traps_wrapped : counters_.traps_passed_through);
  if (sent_v1_) ++counters_.traps_converted_to_v1;
}

Status TervixService::BuildForm(int sender, bool to_v1) {
  const size_t form = to_v1 ? 1 : 0;
  if (tried_[form]) return built_[form];
  tried_[form] = true;
  const bool wrapped = sender == kSenderWrapped || sender == kSenderWrappedAndConvToV1;
  const store::SourceAddressMode address = settings_.AddSourceAddress;
  if (!destination_.ok()) {
    built_[form] = destination_;
  } else if (wrapped) {
    built_[form] =
        relay::BuildWrapped(trap_, definitions_[trap_.TrapIndex], to_v1, address, &outgoing_[form]);
  } else {
    built_[form] = relay::BuildForwarded(trap_, to_v1, address, &outgoing_[form]);
  }
  return built_[form];
}

Status TervixService::SendOutgoing(int sender, const SendGroup& group,
                                   const relay::TrapDefinition* d) {
  relay::OutgoingTrap& out = outgoing_[group.to_v1 ? 1 : 0];
  out.SetCommunity(group.community.empty() ? trap_.TrapCommunity
                                           : std::string_view(group.community));
  const uint64_t first_tag = FirstTag(sequence_) + static_cast<uint64_t>(sender) * kStationSlots;
  // Encoded by EncodeFitting: a trap that an added source address makes too large goes
  // without it.
  if (batch_sends_) {
    Status queued = out.EncodeFitting(
        [&](const snmp::MessageView& m) { return snmpAgent_.Queue(m, group.stations, first_tag); });
    if (!queued.ok()) return queued;
    for (size_t i = 0; i < stations_.size(); ++i) {
      if ((group.stations >> i & 1U) != 0) ++station_counters_[i].traps_sent;
    }
    return Status::Ok();
  }
  // Encoded before the records, so that they list the bindings that leave; a failure is
  // reported after the first station's record, as a failed send is.
  std::span<const uint8_t> datagram;
  Status encoded = out.EncodeFitting(
      [&](const snmp::MessageView& m) { return snmpAgent_.EncodeForSend(m, &datagram); });
  for (size_t i = 0; i < stations_.size(); ++i) {
    if ((group.stations >> i & 1U) == 0) continue;
    // Each station's record comes before its send, as the send may fail.
    if (settings_.DebugMode) {
      std::string record =
          relay::SentRecord(Stamp(), trap_, d, group.to_v1, settings_.TrapRecvIpAddr,
                            relay::MessageVars(out.message()), group.community);
      if (several_) record = relay::WithDestination(std::move(record), endpoints_[i]);
      debug_.Append(kDebugFile, record, kSenderNames[sender]);
    }
    if (!encoded.ok()) return encoded;
    Status sent = snmpAgent_.SendTo(datagram, i);
    if (sent.ok()) {
      ++station_counters_[i].traps_sent;
    } else if (!several_) {
      ++station_counters_[i].send_failures;
      return sent;
    } else {
      StationFailed(i, sent);
    }
  }
  return Status::Ok();
}

void TervixService::FlushTraps() { snmpAgent_.Flush(on_trap_not_sent_); }

void TervixService::OnTrapNotSent(uint64_t tag, const Status& failure) {
  const size_t station = tag % kStationSlots;
  if (station < station_counters_.size() && station_counters_[station].traps_sent > 0) {
    --station_counters_[station].traps_sent;
  }
  if (several_) return StationFailed(station, failure);
  if (station < station_counters_.size()) ++station_counters_[station].send_failures;
  // Queued only with debug mode off: the event is all there is to write.
  LogFailure(failure, kSenderNames[(tag / kStationSlots) % kTagsPerTrap]);
}

void TervixService::OnResponseNotSent(uint64_t tag, const Status& failure) {
  // As when the answer fails at once: reported, and nothing more is sent for the inform.
  LogFailure(failure, "snmpManager_Trap");
  if (counters_.informs_answered > 0) --counters_.informs_answered;
  counters_.Drop(relay::DropReason::kOther);
  snmpAgent_.Cancel(tag, tag + kTagsPerTrap * kStationSlots - 1, [this](uint64_t cancelled) {
    const size_t station = cancelled % kStationSlots;
    if (station < station_counters_.size() && station_counters_[station].traps_sent > 0) {
      --station_counters_[station].traps_sent;
    }
  });
}

void TervixService::StationFailed(size_t i, const Status& failure) {
  if (i >= station_counters_.size()) return;
  ++station_counters_[i].send_failures;
  if (!reports_) return;
  std::string text = reports_->Failed(i, failure, std::chrono::steady_clock::now());
  if (!text.empty()) host_.LogEvent(host::kEventError, 106, text);
}

void TervixService::OnRefusal(size_t i, const Status& failure) {
  // The datagram had left and was counted as sent; the station did not take it.
  if (i < station_counters_.size() && station_counters_[i].traps_sent > 0) {
    --station_counters_[i].traps_sent;
  }
  StationFailed(i, failure);
}

void TervixService::OnTick() {
  CheckAddressHere();
  if (reports_) {
    reports_->Due(std::chrono::steady_clock::now(), false, [this](const std::string& text) {
      host_.LogEvent(host::kEventError, 106, text);
    });
  }
  WriteStatistics();
}

void TervixService::WriteStatistics(bool last) {
  if (!statistics_) return;
  counters_.datagrams_received = snmpManager_.received();
  if (security_) counters_.security_drops = security_->drops();
  counters_.traps_dropped[static_cast<size_t>(relay::DropReason::kMalformedDatagram)] =
      snmpManager_.dropped();
  for (size_t k = 0; k < held_back_rules_.size() && storm_; ++k) {
    counters_.traps_held_back[k].traps = storm_->held(held_back_rules_[k]);
  }
  relay::CounterRows(counters_, station_counters_, endpoints_, &counter_rows_);
  // The last round, at stop, waits for a window that is storing: no trap is being relayed
  // any more, and nothing would write the final counts otherwise.
  Status written = statistics_->Write(counter_rows_, since_, store::UtcStamp(std::time(nullptr)),
                                      last ? store::Store::kBusyTimeoutMs : 0);
  // The window is storing: this round is skipped, and the next one writes.
  if (written.error() == kErrorBusy) return;
  if (written.ok()) {
    statistics_failure_logged_ = false;
    return;
  }
  if (!statistics_failure_logged_) LogFailure(written, "WriteStatistics");
  statistics_failure_logged_ = true;
}

void TervixService::Wrapped(int sender, const SendGroup& group) {
  const char* module = kSenderNames[sender];
  const bool to_v1 = sender == kSenderWrappedAndConvToV1;
  const relay::TrapDefinition& d = definitions_[trap_.TrapIndex];
  // A form that could not be built for an earlier group of this trap was reported then.
  if (tried_[to_v1 ? 1 : 0] && !built_[to_v1 ? 1 : 0].ok()) return;
  auto run = [&]() -> Status {
    if (Status s = BuildForm(sender, to_v1); !s.ok()) return s;
    return SendOutgoing(sender, group, &d);
  };
  if (Status s = run(); !s.ok()) return LogFailure(s, module);
  sent_any_ = true;
  sent_v1_ = sent_v1_ || to_v1;
}

void TervixService::NotWrapped(int sender, const SendGroup& group) {
  const char* module = kSenderNames[sender];
  const bool to_v1 = sender == kSenderNotWrappedAndConvToV1;
  if (tried_[to_v1 ? 1 : 0] && !built_[to_v1 ? 1 : 0].ok()) return;
  auto run = [&]() -> Status {
    if (Status s = BuildForm(sender, to_v1); !s.ok()) return s;
    return SendOutgoing(sender, group, nullptr);
  };
  Status s = run();
  if (s.ok()) {
    sent_any_ = true;
    sent_v1_ = sent_v1_ || to_v1;
    return;
  }
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
