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
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tervane::snmp {

// Message kinds, with the codes that the rest of the service uses.
inline constexpr int32_t kKindTrapV1 = 36;    // SNMPv1 Trap-PDU
inline constexpr int32_t kKindTrapV2 = 71;    // SNMPv2c SNMPv2-Trap-PDU
inline constexpr int32_t kKindInform = 70;    // SNMPv2c InformRequest-PDU
inline constexpr int32_t kKindResponse = 66;  // SNMPv2c Response-PDU
inline constexpr int32_t kKindReport = 168;   // SNMPv3 Report-PDU

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

  // SNMPv2c and SNMPv3 messages (kinds 71, 70, 66, 168) only.
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

// The same model as views, for the relay's per-trap path, which passes texts on without
// copying them: a view's texts belong to something else (a received datagram, the texts its
// decoding made, the relay's current trap) and are valid only as long as that is unchanged.
//
// A variable may also carry its encoding: the BER of the whole binding, exactly as encoding
// its OID, type and value would write it, taken from the datagram it arrived in (or made
// once for a binding sent again and again). The encoder then copies those bytes instead of
// converting the texts again; that is what lets a relay send a binding on at the cost of a
// copy. Without it, `name` may still carry the encoded OID element alone, just as well.
struct VariableView {
  std::string_view oid;
  int32_t type = kTypeNoValue;
  std::string_view value;
  std::span<const uint8_t> encoding;  // empty: encode from the texts
  std::span<const uint8_t> name;      // empty: encode the OID from its text
};

struct MessageView {
  std::string_view community;
  int32_t kind = 0;
  int32_t request_id = 0;
  int32_t error_status = 0;
  int32_t error_index = 0;
  std::string_view enterprise;
  std::string_view agent_address;
  int32_t generic_trap = 0;
  int32_t specific_trap = 0;
  uint32_t time_stamp = 0;
  std::span<const VariableView> variables;
  // An SNMPv3 message (its PDU an SNMPv2 one): the USM user it was authenticated as, and the
  // security level (snmp::kFlagAuth and kFlagPriv); the community is empty then.
  bool snmpv3 = false;
  std::string_view user_name;
  uint8_t security_flags = 0;
};

// A Message made of the texts of `view` (written into *out, reusing its strings' memory),
// and views of the texts of `message` (valid while `message` is unchanged; `variables`
// receives their bindings).
Message ToMessage(const MessageView& view);
void ToMessage(const MessageView& view, Message* out);
MessageView ViewOf(const Message& message, std::vector<VariableView>* variables);

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_MESSAGE_H_
