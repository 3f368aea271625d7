// The SNMP message model that the manager (receiving side) and the agent (sending side)
// exchange with the service: community, message kind, the SNMPv1 trap header fields and
// an ordered list of variables whose values are text.
//
// Value text rules, so that every value survives decode -> text -> encode unchanged:
//   - OCTET STRING (DisplayString) and Opaque: the raw octets, one char per byte, no
//     character-set conversion;
//   - Integer32, Counter32, Gauge32, TimeTicks, Counter64: decimal;
//   - OBJECT IDENTIFIER and IpAddress: dotted decimal;
//   - NULL and the exception values noSuchObject, noSuchInstance and endOfMibView: type
//     code kNoValue with an empty text.
#ifndef TERVANE_SERVICE_SNMP_MESSAGE_H_
#define TERVANE_SERVICE_SNMP_MESSAGE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tervane::snmp {

// Message kinds, with the codes that the rest of the service uses.
inline constexpr int32_t kKindTrapV1 = 36;    // SNMPv1 Trap-PDU
inline constexpr int32_t kKindTrapV2 = 71;    // SNMPv2c SNMPv2-Trap-PDU
inline constexpr int32_t kKindInform = 70;    // SNMPv2c InformRequest-PDU
inline constexpr int32_t kKindResponse = 66;  // SNMPv2c Response-PDU

// Variable type codes.
inline constexpr int32_t kTypeNoValue = 0;
inline constexpr int32_t kTypeInteger32 = 1;
inline constexpr int32_t kTypeDisplayString = 2;  // OCTET STRING
inline constexpr int32_t kTypeObjectId = 3;
inline constexpr int32_t kTypeIpAddress = 4;
inline constexpr int32_t kTypeCounter32 = 5;
inline constexpr int32_t kTypeGauge32 = 6;  // also Unsigned32
inline constexpr int32_t kTypeTimeTicks = 7;
inline constexpr int32_t kTypeCounter64 = 8;
inline constexpr int32_t kTypeOpaque = 9;

struct Variable {
  std::string oid;  // dotted decimal
  int32_t type = kTypeNoValue;
  std::string value;  // text as described above

  bool operator==(const Variable&) const = default;
};

struct Message {
  std::string community;
  int32_t kind = 0;  // one of the kKind* codes; 0 when cleared

  // SNMPv2c messages (kinds 71, 70, 66) only.
  int32_t request_id = 0;
  int32_t error_status = 0;  // Response-PDU only; 0 everywhere else
  int32_t error_index = 0;

  // SNMPv1 Trap-PDU (kind 36) only.
  std::string enterprise;     // dotted OID
  std::string agent_address;  // dotted IPv4
  int32_t generic_trap = 0;   // 0 to 6
  int32_t specific_trap = 0;
  uint32_t time_stamp = 0;  // TimeTicks

  std::vector<Variable> variables;  // in wire order

  // Empties every field and the variable list.
  void Clear() { *this = Message(); }

  bool operator==(const Message&) const = default;
};

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_MESSAGE_H_
