// The relay's state: the settings read once at start, the current trap that the trap
// handler fills for every received message, and the table of 30 trap definitions.
//
// All of it lives for the whole process in one place (the service module); nothing is
// allocated per trap. Field names follow the names that the debug records use, so a record
// line and its field read alike. Numbers that arrive as numbers stay numbers: they are
// formatted only where a record or a binding shows them.
//
// The received bindings are not copied: TrapVarList views the received message, whose
// texts stay put while its trap is handled, and is emptied for the next one.
#ifndef TERVANE_SERVICE_RELAY_TRAP_STATE_H_
#define TERVANE_SERVICE_RELAY_TRAP_STATE_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/relay_options.h"

namespace tervane::relay {

inline constexpr int kMaxVars = 20;         // bindings kept per received trap
inline constexpr int kMaxDefinitions = 30;  // trap definition slots
inline constexpr int kMaxNewVars = 14;      // pieces per definition

inline constexpr char kWrappedTrapPrefix[] = "1.3.6.1.4.1.32473.1.100.2.0.";
inline constexpr char kWrappedEnterprise[] = "1.3.6.1.4.1.32473.1.100.2";
inline constexpr char kNewVarPrefix[] = "1.3.6.1.4.1.32473.1.100.1.";
inline constexpr char kSysUpTimeOid[] = "1.3.6.1.2.1.1.3.0";
inline constexpr char kSnmpTrapOid[] = "1.3.6.1.6.3.1.1.4.1.0";
inline constexpr char kSnmpTrapAddressOid[] = "1.3.6.1.6.3.18.1.3.0";
inline constexpr char kSnmpTrapsOid[] = "1.3.6.1.6.3.1.1.5";
inline constexpr char kSnmpV1GenericEnterprise[] = "1.3.6.1.2.1.11";

inline constexpr char kVersionV1[] = "SNMPv1Trap";
inline constexpr char kVersionV2[] = "SNMPv2Trap";
inline constexpr char kVersionInform[] = "SNMPv2Inform";
inline constexpr char kVersionV3Trap[] = "SNMPv3Trap";
inline constexpr char kVersionV3Inform[] = "SNMPv3Inform";
// The community that an SNMPv3 trap goes on with where a station sets none.
inline constexpr char kV3Community[] = "public";

// General_Setting as the service uses it, and the relay's options (table RelayOption).
struct Settings {
  bool DebugMode = false;
  std::string TrapRecvIpAddr;
  uint16_t TrapRecvPort = 0;
  std::string TrapForwIpAddr;
  uint16_t TrapForwPort = 0;
  bool ConvV2ToV1 = false;
  // Which address an SNMPv2 trap sent on carries as snmpTrapAddress.0 (see outgoing.h).
  store::SourceAddressMode AddSourceAddress = store::SourceAddressMode::kKeep;
};

// The received bindings, 1-based: index 0 is unused so that varOid[i] is binding i; entries
// 1 to TrapVarCount are in use. The texts view the received message; `encoding` is the
// binding as it arrived when it can be sent on so (see snmp::VariableView). A message
// decoded with its texts made on demand leaves an entry's OID empty where it carries its
// encoding and its texts were not made; snmp::WithTexts makes them from the encoding.
struct VarList {
  std::array<std::string_view, kMaxVars + 1> varOid;
  std::array<std::string_view, kMaxVars + 1> varValue;
  std::array<int32_t, kMaxVars + 1> varType{};  // the type code
  std::array<std::span<const uint8_t>, kMaxVars + 1> encoding;
  // Entries 1 to `filled` are those the last intake wrote; all others are empty, so that
  // the next intake empties only these.
  int filled = 0;
};

struct CurrentTrap {
  // The texts that a message sets view the received message (or constants); only the
  // SNMPv1 header, which outlives its trap, is kept in strings of its own.
  std::string_view TrapVersion;
  std::string_view TrapOid;
  // The SNMPv1 header of the last SNMPv1 trap: an SNMPv2 trap leaves them as they were.
  std::string TrapEnterprise;
  int32_t TrapGeneric = 0;
  int32_t TrapSpecific = 0;
  std::string_view TrapSourceAgent;
  std::string_view TrapSourceNetwork;
  // The community the trap goes on with where a station sets none: the one it came with, or
  // for an SNMPv3 trap kV3Community.
  std::string_view TrapCommunity;
  // The user an SNMPv3 trap was authenticated as; empty for the other versions.
  std::string_view TrapUserName;
  // TimeTicks; nothing for an SNMPv2 message whose sysUpTime.0 is missing or no number.
  std::optional<uint32_t> TrapSysUpTime;
  VarList TrapVarList;
  int TrapVarCount = 0;
  int TrapIndex = 0;  // 1-based slot of the matching definition

  // Texts that TrapOid and TrapSourceAgent view when the message has none to view: the trap
  // OID that an SNMPv1 trap makes of its header, and texts made on demand.
  std::string trap_oid_text;
  std::string source_agent_text;
  // An SNMPv2 trap's sysUpTime.0 and snmpTrapOID.0 bindings as they arrived, when they can
  // be sent on so: the first TimeTicks, each in the encoder's form.
  std::span<const uint8_t> sys_up_time_encoding;
  std::span<const uint8_t> trap_oid_encoding;

  // An SNMPv2 PDU: an SNMPv2c trap or inform, or an SNMPv3 one.
  bool IsV2() const { return TrapVersion != kVersionV1; }
  bool IsV3() const { return !TrapUserName.empty(); }
  // The version a trap sent on in its own form has: SNMPv3 goes on as SNMPv2c.
  std::string_view SentVersion() const {
    if (TrapVersion == kVersionV3Trap) return kVersionV2;
    if (TrapVersion == kVersionV3Inform) return kVersionInform;
    return TrapVersion;
  }
};

// One row of SnmpTrap, ready for wrapping. Arrays are 1-based like TrapVarList.
struct TrapDefinition {
  std::string TrapOID;
  int16_t TrapSourceVarNo = 0;
  int16_t TrapNewVarNo = 0;
  // As stored: the wrapped trap's OID ends with this text.
  std::string TrapNewNumber;
  // The same as a 32-bit number, the SNMPv1 form's specific-trap; nothing when the text is
  // no such number (a definition without variables never needs it at load).
  std::optional<int32_t> new_number;
  std::array<std::string, kMaxNewVars + 1> NewVarOid;
  std::array<int16_t, kMaxNewVars + 1> NewVarPos{};
  std::array<int16_t, kMaxNewVars + 1> NewVarChar{};
  std::array<int16_t, kMaxNewVars + 1> NewVarType{};

  // Made once at load, so that wrapping does not make them for every trap: the wrapped
  // trap's OID (kWrappedTrapPrefix + TrapNewNumber), its snmpTrapOID.0 binding of the SNMPv2
  // form encoded, and the encoded OID of each new variable. An encoding is empty where the
  // text is no OID, which the encoder then refuses as always.
  std::string wrapped_trap_oid;
  std::vector<uint8_t> wrapped_trap_oid_encoding;
  std::array<std::vector<uint8_t>, kMaxNewVars + 1> new_var_names;
};

// Slots 1 to 30; slot 0 is unused. An unfilled slot has an empty TrapOID.
using DefinitionTable = std::array<TrapDefinition, kMaxDefinitions + 1>;

// The first slot whose TrapOID equals `oid` exactly, or 0. Empty slots never match, so a
// trap without an OID cannot pick up an unused slot.
int FindDefinition(const DefinitionTable& table, std::string_view oid);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_TRAP_STATE_H_
