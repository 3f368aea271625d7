// The settings that the relays of an active/standby pair share, and their JSON form, for
// `tervane-svc export` and `import`: General_Setting's columns but the node's own
// (TrapRecvIpAddr, which each node binds, and TrapRecvStatus, which its service writes), every
// trap definition, every further station, every option and every storm rule; in an export with
// keys, also every SNMPv3 user with its keys and the engine ID. Not the counters, and never the
// engine's boots, which each node counts for itself.
//
//   {
//     "format": "tervane-settings",
//     "version": 1,
//     "General_Setting": {"DebugMode": 0, "TrapRecvPort": 162, "TrapForwIpAddr": "10.0.0.9",
//                         "TrapForwPort": 162, "ConvV2ToV1": 0},
//     "SnmpTrap": [{"TrapName": "linkDown", "TrapOID": "1.3.6.1.6.3.1.1.5.3", ...}],
//     "ForwardTarget": [{"Address": "10.0.0.10", "Port": 162, "ConvV2ToV1": 1,
//                        "Community": "", "Enabled": 1}],
//     "RelayOption": {"AddSourceAddress": "1", "StormControl": "0"},
//     "StormRule": [{"OidPrefix": "", "PerMinute": 30, "Burst": 10, "Enabled": 1}],
//     "SnmpV3User": [{"UserName": "alice", "EngineId": "", "AuthProtocol": "SHA-256",
//                     "AuthKey": "9a4b...", "PrivProtocol": "AES", "PrivKey": "5c1e..."}],
//     "SnmpEngine": {"EngineId": "80007ed905a1b2c3d4e5f60718"}
//   }
//
// The sections are named after their tables and the keys after their columns: each trap
// definition has all 61 SnmpTrap columns, in table order; the stations are in Id order,
// without their Id; the storm rules in table order. "StormRule" came with schema version 3 and
// is optional: an export of an older file has none, and importing a text without it leaves
// the storm rules as they are. So are "SnmpV3User" and "SnmpEngine" (schema version 4), which
// only an export with keys has: a text without them leaves the users and the engine ID as they
// are. A value keeps the kind it is stored with: text as a JSON string, a
// whole number as a JSON number, a real number as a JSON number with a fraction or exponent, Null
// as null. JSON strings are UTF-8, and a settings text may hold any bytes: a text that is not
// well-formed UTF-8 is written as {"hex": "6c696e6bff"}, its bytes in hexadecimal, and read
// back to exactly those bytes.
//
// Reading checks every value as the window does before it stores one (definition_rules.h,
// station_rules.h, relay_options.h), and refuses the first bad one, naming it by its place:
// "SnmpTrap[3] \"linkDown\", VarPos2: 0 is not a position (1 to 32767)", "StormRule[2].PerMinute:
// 2000000 is not a number of traps per minute (0 to 1000000)", "SnmpV3User[2].AuthKey: is not a
// SHA-256 key (32 octets as 64 hex digits)".
#ifndef TERVANE_ADMIN_SETTINGS_JSON_H_
#define TERVANE_ADMIN_SETTINGS_JSON_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "store/rows.h"
#include "store/station_rules.h"
#include "store/store.h"
#include "store/storm_rules.h"
#include "store/v3_users.h"

namespace tervane::svc {

inline constexpr char kSettingsFormat[] = "tervane-settings";
inline constexpr int kSettingsFormatVersion = 1;

// The General_Setting columns that move, in table order.
inline constexpr std::array<std::string_view, 5> kSharedSettingColumns = {
    "DebugMode", "TrapRecvPort", "TrapForwIpAddr", "TrapForwPort", "ConvV2ToV1"};
// The ForwardTarget columns that move: all but the Id.
inline constexpr std::array<std::string_view, 5> kSharedStationColumns = {
    "Address", "Port", "ConvV2ToV1", "Community", "Enabled"};

struct SharedSettings {
  store::ColumnValues general;                // kSharedSettingColumns, in that order
  std::vector<store::ColumnValues> traps;     // each every SnmpTrap column, in table order
  std::vector<store::ColumnValues> stations;  // each kSharedStationColumns, in that order
  std::vector<store::RelayOption> options;
  // Nothing for a file older than version 3, and for a text without "StormRule".
  std::optional<std::vector<store::StormRuleRow>> storm_rules;
  // Nothing without keys, for a file older than version 4, and for a text without
  // "SnmpV3User" or "SnmpEngine"; a text's users are checked and in the form the store writes.
  std::optional<std::vector<store::V3UserRow>> v3_users;
  std::optional<std::vector<uint8_t>> engine_id;
};

// What `db` holds of them; the SNMPv3 users, as stored, and the engine ID (checked) only
// `with_keys`.
Result<SharedSettings> ReadSharedSettings(const store::Store& db, bool with_keys = false);

// `settings` as JSON text, indented, ending in a line feed. Fails, naming the row and column,
// on a real number that JSON cannot hold (an infinity).
Result<std::string> SharedSettingsJson(const SharedSettings& settings);

// The settings that `json` holds, every value checked. Refuses (kErrorInvalidArgument or the
// rule's own code, the description naming the first bad value) text that is not JSON, another
// format or version, a section or key that is missing or unknown, a value of the wrong kind,
// and each value that the window would refuse: ports, addresses, more than 15 further
// stations, more than 30 definitions, a missing, too long or repeated TrapName (SameTrapName),
// numbers outside the window's ranges and lists (Null only for the position and count of a
// variable beyond TrapNewVarNo, which the service never reads), a VarType that is none of the
// type names (empty or Null are fine), an
// option that is unknown or has a value it does not take, a storm rule that
// store/storm_rules.h refuses (a prefix that is no OID prefix, a rate or burst out of range,
// two rules of one prefix, more than 30 rules by prefix), an SNMPv3 user that store/v3_users.h
// refuses (a name, an engine ID, a protocol or a key; two users of one name and engine, more
// than 1000 users), and an engine ID that is not 5 to 32 octets. The stations must not include the
// service's own receive endpoint: `receive_address` (this node's TrapRecvIpAddr) and the
// imported TrapRecvPort, `is_local` telling this machine's addresses (station_rules.h).
Result<SharedSettings> ParseSharedSettings(std::string_view json, std::string_view receive_address,
                                           const store::IsLocalAddress& is_local);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_SETTINGS_JSON_H_
