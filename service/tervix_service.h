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
//
// Every trap goes to each station: General_Setting's forward endpoint first, then each
// enabled ForwardTarget row. The trap is wrapped or rebuilt once in each form that some
// station takes (SNMPv2, or SNMPv1 for the stations that convert), and each form is encoded
// once per community string. With one station everything is logged as it always was: a
// failed send is an event of its sender. With several, a station's failures are counted and
// reported for that station at most once a minute, and a refusal that Linux reports on a
// later send is read from the socket's error queue and counted for the station that refused.
//
// The counters (relay/counters.h) are written to RelayStatistics every
// kStatisticsPeriodMs and at stop, on a connection of their own that never waits for a lock.
//
// With the option StormControl on, storm control (relay/storm_control.h) holds back the traps
// over their StormRule's limit once each is answered and recorded, and sends on the last one
// held back of each storm when the storm ends (checked every kStormTickMs on a timer of its
// own), relayed as it would have been. Its events are 107; its counters traps_held_back.
//
// The agent and the listener bind with IP_FREEBIND, so an address that no interface has yet
// (a virtual address that keepalived moves here on failover) binds at once and receives from
// the moment it arrives; the status says so until it does, checked on every tick. A port in
// use is tried again on snmp::BindRetry's schedule until it binds: event 106 once at the
// start, event 107 when it binds, and the listener's status reads "Waiting to Listen" until
// then (tervix_service_open.cc).
#ifndef TERVANE_SERVICE_TERVIX_SERVICE_H_
#define TERVANE_SERVICE_TERVIX_SERVICE_H_

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "service/debug_files.h"
#include "service/host/service_host.h"
#include "service/relay/counters.h"
#include "service/relay/outgoing.h"
#include "service/relay/station_reports.h"
#include "service/relay/storm_control.h"
#include "service/relay/trap_state.h"
#include "service/snmp/agent.h"
#include "service/snmp/bind_retry.h"
#include "service/snmp/codec.h"
#include "service/snmp/event_loop.h"
#include "service/snmp/manager.h"
#include "service/snmp/usm.h"
#include "service/snmp/value_text.h"
#include "store/station_rules.h"
#include "store/statistics.h"

namespace tervane {

namespace store {
class Store;
}

// Exit statuses of a service process that ends on its own: a database that cannot be
// opened now may open later (a mount not ready), a configuration that cannot work will not.
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadConfiguration = 4;

// How often the counters are written while the service runs.
inline constexpr int kStatisticsPeriodMs = 10000;
// At most one event per reason to drop an SNMPv3 message in this time.
inline constexpr int64_t kSecurityEventPeriodMs = 60000;

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
  const relay::RelayCounters& counters() const { return counters_; }

 private:
  // The names ServiceOpen and ServiceClose take.
  static constexpr char kAgent[] = "snmpAgent";
  static constexpr char kManager[] = "snmpManager";

  // Reads the settings and the stations, opens the agent and the listener, stores the
  // listener's status and loads the definitions. A database that cannot be read, a setting
  // that cannot be converted, a station that cannot work (its ADDRESS:PORT or row named) or
  // a database of a newer schema fail the start before any socket is opened: the failure is
  // logged and stored as the status text where the database can be written, and the process
  // ends with kExitFailed or kExitBadConfiguration.
  void StartRequest();
  void StopRequest();
  // Ends a start that failed before the listener opened; `db` is the open database or null.
  void FailStart(const Status& failure, store::Store* db, int exit_status);
  void ServiceOpen(const std::string& name, std::string& status);
  void ServiceClose(const std::string& name, std::string& status);

  // The agent's or the listener's socket as the start opens it: the retry while its port is
  // in use, the loop timer that drives it, and why it is not open.
  struct Opening {
    explicit Opening(snmp::BindRetry::Binder binder);
    snmp::BindRetry retry;
    snmp::EventLoop::TimerId timer = 0;
    std::string problem;  // why it did not open and will not try again (the event's text)
    std::string waiting;  // why it waits to open, while the retry runs
  };
  Opening& OpeningOf(bool manager) { return manager ? manager_open_ : agent_open_; }
  // Binds the listener (`manager`) or the agent by the settings; the retry's binder.
  Status Bind(bool manager);
  // Reports a failure to open: event 106, and *problem its text for the service manager's
  // line. Returns the cause line of the status ("Port was in use", "IP Address is not valid"
  // or none).
  std::string ReportOpenFailure(bool manager, const Status& failure, std::string* problem);
  // The retry's timer: set for its next try, and what a try that came due led to.
  void ArmRetry(bool manager);
  void OnRetryDue(bool manager);
  void OpenedAfterWaiting(bool manager);
  void CancelRetry(bool manager);
  // What the listener's status is once it listens, with the address's presence.
  std::string ListeningStatusNow() const;
  // Stores the listener's status (and with `address` the bound address); a failure is
  // reported as `module`'s.
  void StoreStatus(const std::string& status, bool address, const char* module);
  // Tells the service manager how the listener and the agent are.
  void UpdateRunStatus();
  // On every tick: whether an interface has the listener's address has changed.
  void CheckAddressHere();
  // With several stations the agent's error queue is read whenever it reports.
  void WatchAgentErrors();
  void ReadSnmpTrapDB();

  // A group of stations that take the same datagram of a trap: its form and community.
  struct SendGroup {
    bool to_v1 = false;
    std::string community;  // empty: the trap's own
    uint32_t stations = 0;  // bit i: station i
  };
  // Readies the agent's destinations and the send groups for stations_.
  void SetUpStations();
  // Sends the current trap to every station, wrapped by definition TrapIndex when
  // `wrapped`; `convertible` says whether the stations that convert get the SNMPv1 form.
  void Relay(bool wrapped, bool convertible);
  // The senders' bodies for one group of stations. `sender` is one of the kSender* codes,
  // which also name the module; the trap is built into `out` once per trap (`built` says
  // whether it was and how that went).
  void Wrapped(int sender, const SendGroup& group);
  void NotWrapped(int sender, const SendGroup& group);
  // Sends the trap built for `group` at once, or queues it for the batch's end under the
  // current trap's tags. Writes the debug record of each station before its send
  // (`definition` as SentRecord takes it). With several stations a station's failed send is
  // counted and reported for it, and is not the result.
  Status SendOutgoing(int sender, const SendGroup& group, const relay::TrapDefinition* d);
  Status BuildForm(int sender, bool to_v1);
  // A send to station `i` failed, or the station refused a trap: counted and reported.
  void StationFailed(size_t i, const Status& failure);
  void OnRefusal(size_t i, const Status& failure);
  void OnTick();
  // Writes the counters; a round that finds the file locked is skipped, but the `last`, at
  // stop, waits a while for the lock.
  void WriteStatistics(bool last = false);
  // The end of a batch of received datagrams: the queued traps leave.
  void FlushTraps();
  void OnTrapNotSent(uint64_t tag, const Status& failure);
  void OnResponseNotSent(uint64_t tag, const Status& failure);
  void LogFailure(const Status& status, const char* module);
  // Storm control: whether the current trap is held back (and kept when it may be the last
  // of its storm); the timer's round; and the last trap of an ended storm relayed as
  // received from `source`, without any answer.
  bool HeldBack();
  void OnStormTimer();
  // SNMPv3 (tervix_service_v3.cc): the users and this engine, its boots counted, set up at
  // start (false when the start failed and was reported); an event for a dropped message.
  bool SetUpSecurity(store::Store& db);
  void OnSecurityDrop(snmp::usm::Drop drop, std::string_view user, const snmp::IpAddress& from);
  void ResendHeldBack(std::span<const uint8_t> datagram, std::string_view source);
  static int64_t SteadyMs();

  std::string program_folder_;
  snmp::EventLoop& loop_;
  host::ServiceHost& host_;
  DebugFiles debug_;
  snmp::Agent snmpAgent_;
  snmp::Manager snmpManager_;

  // Set by the first start request: later ones do nothing.
  bool start_handled_ = false;
  relay::Settings settings_;
  Opening agent_open_;
  Opening manager_open_;
  // Some interface has the address the listener is bound to (always, for 0.0.0.0).
  bool address_here_ = true;
  // The outcome of setting the agent's destinations to the stations, done once when the
  // settings are read: a destination that could not be set fails every send alike.
  Status destination_;
  std::vector<store::Station> stations_;
  std::vector<std::string> endpoints_;
  bool several_ = false;  // more than one station
  // The groups when the trap cannot be converted (every station takes its own form) and when
  // it can (the converting stations take the SNMPv1 form).
  std::array<std::vector<SendGroup>, 2> groups_;
  std::optional<relay::StationReports> reports_;
  // The forms built for the current trap: SNMPv2 or the trap's own [0], SNMPv1 [1].
  std::array<relay::OutgoingTrap, 2> outgoing_;
  std::array<bool, 2> tried_{};
  std::array<Status, 2> built_;
  // Set when some station took the SNMPv1 form of the current trap.
  bool sent_v1_ = false;
  bool sent_any_ = false;

  relay::RelayCounters counters_;
  std::vector<relay::StationCounters> station_counters_;
  std::optional<store::StatisticsWriter> statistics_;
  std::vector<store::Counter> counter_rows_;
  std::string since_;
  bool statistics_failure_logged_ = false;
  // Sends wait for the end of their batch (debug mode off).
  bool batch_sends_ = false;
  // Numbers the relayed messages; a queued send's tag is the number times kTagsPerTrap
  // plus its sender.
  uint64_t sequence_ = 0;
  snmp::SendQueue::FailureHandler on_trap_not_sent_;
  relay::CurrentTrap trap_;
  relay::DefinitionTable definitions_;

  // Set at start when the option StormControl is on.
  std::optional<relay::StormControl> storm_;
  snmp::EventLoop::TimerId storm_timer_ = 0;
  relay::StormControl::EventSink storm_event_;
  relay::StormControl::Resend storm_resend_;
  // The first binding's OID as content octets, when it has to be encoded from its text.
  std::array<uint8_t, snmp::kMaxOidContent> first_binding_{};
  // The last trap of a storm, decoded again to be relayed.
  snmp::DecodedMessage resent_;
  // The rule of each traps_held_back counter.
  std::vector<size_t> held_back_rules_;

  // The SNMPv3 security, set up at start, and for each reason to drop a message when its
  // event was logged last and how many it has not named since.
  std::optional<snmp::usm::UserSecurity> security_;
  struct DropEvents {
    bool logged = false;
    int64_t last_ms = 0;
    uint64_t unnamed = 0;
  };
  std::array<DropEvents, snmp::usm::kDropReasons> security_events_{};
};

}  // namespace tervane

#endif  // TERVANE_SERVICE_TERVIX_SERVICE_H_
