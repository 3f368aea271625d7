// The relay's counters since the service started, and the names under which they are written
// to RelayStatistics (one row per counter: Name, Label, Value).
//
// The counters are plain integers that the relay's one thread adds to as it goes; nothing is
// locked and nothing is allocated for them per trap. Rows list them in a fixed order:
//
//   Name                    Label                  counts
//   datagrams_received      (empty)                UDP datagrams read by the listener
//   snmpv1_traps_received   (empty)                SNMPv1 traps taken in
//   snmpv2_traps_received   (empty)                SNMPv2 traps taken in
//   informs_received        (empty)                SNMPv2 informs taken in
//   informs_answered        (empty)                informs whose response left
//   traps_wrapped           (empty)                traps a definition matched and wrapped
//   traps_passed_through    (empty)                traps sent on without wrapping
//   traps_converted_to_v1   (empty)                traps sent in an SNMPv1 form made from SNMPv2
//   traps_dropped           a reason (see below)   messages not sent to any station
//   station_traps_sent      ADDRESS:PORT           traps that left for that station
//   station_send_failures   ADDRESS:PORT           traps that station did not get (a failed
//                                                  send, or a refusal it sent back)
//   traps_held_back         a storm rule           traps storm control held back (only with
//                                                  StormControl on, one per enabled rule)
//   snmpv3_traps_received   (empty)                SNMPv3 traps taken in (not counted above)
//   snmpv3_informs_received (empty)                SNMPv3 informs taken in (not counted above)
//   usm_stats_unsupported_sec_levels, usm_stats_not_in_time_windows,
//   usm_stats_unknown_user_names, usm_stats_unknown_engine_ids, usm_stats_wrong_digests,
//   usm_stats_decryption_errors, snmp_unknown_security_models, snmp_invalid_msgs
//                           (empty)                SNMPv3 messages dropped for that reason
//                                                  by the security checks
//
// The label of a name that starts with "station_" is a station's ADDRESS:PORT; the label of
// traps_dropped is one of the reasons: malformed_datagram (no SNMP message of a kind the
// listener handles), malformed_snmpv2_message (no sysUpTime.0 and snmpTrapOID.0 head),
// null_values (a binding without a value), wrapping_failed (a matched trap that could not be
// wrapped), other (anything else: a message that is no trap, a trap that could not be
// converted or rebuilt, an inform whose answer failed). The label of traps_held_back is the
// rule's name (store::StormRule::Label): "default" or its OID prefix; a held-back trap is not
// counted as dropped. All other names have an empty label.
// Later counters are added as further rows.
#ifndef TERVANE_SERVICE_RELAY_COUNTERS_H_
#define TERVANE_SERVICE_RELAY_COUNTERS_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "store/statistics.h"

namespace tervane::relay {

inline constexpr char kStationCounterPrefix[] = "station_";

enum class DropReason {
  kMalformedDatagram = 0,
  kMalformedSnmpV2Message,
  kNullValues,
  kWrappingFailed,
  kOther,
};
inline constexpr int kDropReasons = 5;
// The counters of the SNMPv3 security checks, in snmp::usm::Drop's order.
inline constexpr size_t kSecurityDrops = 8;
inline constexpr std::array<const char*, kSecurityDrops> kSecurityDropNames = {
    "usm_stats_unsupported_sec_levels", "usm_stats_not_in_time_windows",
    "usm_stats_unknown_user_names",     "usm_stats_unknown_engine_ids",
    "usm_stats_wrong_digests",          "usm_stats_decryption_errors",
    "snmp_unknown_security_models",     "snmp_invalid_msgs"};
inline constexpr std::array<const char*, kDropReasons> kDropReasonLabels = {
    "malformed_datagram", "malformed_snmpv2_message", "null_values", "wrapping_failed", "other"};

struct StationCounters {
  uint64_t traps_sent = 0;
  uint64_t send_failures = 0;
};

// The traps one storm rule held back.
struct HeldBackCount {
  std::string rule;  // its label
  uint64_t traps = 0;
};

struct RelayCounters {
  uint64_t datagrams_received = 0;
  uint64_t snmpv1_traps_received = 0;
  uint64_t snmpv2_traps_received = 0;
  uint64_t informs_received = 0;
  uint64_t informs_answered = 0;
  uint64_t traps_wrapped = 0;
  uint64_t traps_passed_through = 0;
  uint64_t traps_converted_to_v1 = 0;
  std::array<uint64_t, kDropReasons> traps_dropped{};
  // Empty while storm control is off.
  std::vector<HeldBackCount> traps_held_back;
  uint64_t snmpv3_traps_received = 0;
  uint64_t snmpv3_informs_received = 0;
  // SNMPv3 messages that the security checks dropped, by snmp::usm::Drop.
  std::array<uint64_t, kSecurityDrops> security_drops{};

  void Drop(DropReason reason) { ++traps_dropped[static_cast<size_t>(reason)]; }
};

// The rows of `counters` and `stations` (one per station, labelled by `endpoints`, in the
// same order) into `out`, which is emptied first; the views point into the arguments.
void CounterRows(const RelayCounters& counters, const std::vector<StationCounters>& stations,
                 const std::vector<std::string>& endpoints, std::vector<store::Counter>* out);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_COUNTERS_H_
