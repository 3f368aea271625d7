#include "service/relay/outgoing.h"

#include <charconv>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "service/relay/intake.h"
#include "service/snmp/codec.h"
#include "service/snmp/value_text.h"
#include "store/number_text.h"

namespace tervane::relay {

// Writes one build into an OutgoingTrap: the message's head and its bindings from the
// front, reusing the memory the previous build left. However the build ends, the message
// then holds exactly the bindings written, never one of an earlier build.
class Builder {
 public:
  Builder(const CurrentTrap& trap, OutgoingTrap* out) : trap_(trap), out_(out) {
    out_->variables_.clear();
    out_->added_source_address_ = false;
    // Every field as a fresh message has it, but the community.
    out_->message_ = snmp::MessageView();
    out_->message_.community = trap.TrapCommunity;
  }
  ~Builder() { out_->message_.variables = out_->variables_; }
  Builder(const Builder&) = delete;
  Builder& operator=(const Builder&) = delete;

  void Add(std::string_view oid, int32_t type, std::string_view value,
           std::span<const uint8_t> encoding = {}, std::span<const uint8_t> name = {}) {
    out_->variables_.push_back({oid, type, value, encoding, name});
  }

  // SNMPv1 header with the time stamp from TrapSysUpTime.
  Status SetV1Head(std::string_view enterprise, int32_t generic, int32_t specific,
                   std::string_view agent_address) {
    if (!trap_.TrapSysUpTime) return Status::Error(kErrorConversion, "TrapSysUpTime: no value");
    snmp::MessageView& m = out_->message_;
    m.kind = snmp::kKindTrapV1;
    m.enterprise = enterprise;
    m.generic_trap = generic;
    m.specific_trap = specific;
    m.time_stamp = *trap_.TrapSysUpTime;
    m.agent_address = agent_address;
    return Status::Ok();
  }

  // The two leading bindings, the second with `trap_oid` as its value. Each goes as
  // `..._encoding` when that is not empty: the binding encoded already.
  Status SetV2Head(std::string_view trap_oid, std::span<const uint8_t> trap_oid_encoding) {
    if (!trap_.TrapSysUpTime) return Status::Error(kErrorConversion, "TrapSysUpTime: no value");
    out_->message_.kind = snmp::kKindTrapV2;
    if (!trap_.sys_up_time_encoding.empty()) {
      // Sent as it came; its texts, which nothing sent needs, are made when wanted.
      Add({}, snmp::kTypeTimeTicks, {}, trap_.sys_up_time_encoding, EncodedNames().sys_up_time);
    } else {
      char* digits = out_->uptime_;
      const char* end =
          std::to_chars(digits, digits + sizeof out_->uptime_, *trap_.TrapSysUpTime).ptr;
      Add(kSysUpTimeOid, snmp::kTypeTimeTicks, {digits, static_cast<size_t>(end - digits)}, {},
          EncodedNames().sys_up_time);
    }
    Add(kSnmpTrapOid, snmp::kTypeObjectId, trap_oid, trap_oid_encoding, EncodedNames().trap_oid);
    return Status::Ok();
  }

  // The wrapped trap's OID: the definition's, made at load, or else kept here.
  std::string_view WrappedTrapOid(const TrapDefinition& d) {
    if (!d.wrapped_trap_oid.empty()) return d.wrapped_trap_oid;
    out_->trap_oid_.assign(kWrappedTrapPrefix).append(d.TrapNewNumber);
    return out_->trap_oid_;
  }

  // The value text of received binding `i`, made here when it was not.
  std::string_view ReceivedValue(int i) {
    const VarList& list = trap_.TrapVarList;
    if (!list.varOid[i].empty() || list.encoding[i].empty() ||
        list.varType[i] == snmp::kTypeDisplayString || list.varType[i] == snmp::kTypeOpaque) {
      return list.varValue[i];  // made, or the received octets themselves
    }
    const snmp::VariableView v{{}, list.varType[i], list.varValue[i], list.encoding[i], {}};
    return snmp::WithTexts(v, out_->source_texts_.data()).value;
  }

  // The received bindings but `skip`, as they came.
  void AddReceived(int skip) {
    const VarList& list = trap_.TrapVarList;
    for (int i = 1; i <= trap_.TrapVarCount && i <= kMaxVars; ++i) {
      if (i != skip) Add(list.varOid[i], list.varType[i], list.varValue[i], list.encoding[i]);
    }
  }

  // The snmpTrapAddress binding is kept out of the variable list; on a trap that goes as
  // SNMPv2 it goes last, with the address that `mode` says (see outgoing.h).
  void AddSourceAddress(store::SourceAddressMode mode) {
    if (out_->message_.kind != snmp::kKindTrapV2) return;
    uint8_t octets[4];
    const bool carried = trap_.TrapSourceAgent != "0.0.0.0" &&
                         snmp::ParseIpText(trap_.TrapSourceAgent, octets) == nullptr;
    const bool from_datagram = mode == store::SourceAddressMode::kReplace ||
                               (mode == store::SourceAddressMode::kAddWhenMissing && !carried);
    std::string_view address;
    if (from_datagram && snmp::ParseIpText(trap_.TrapSourceNetwork, octets) == nullptr) {
      address = trap_.TrapSourceNetwork;
      out_->added_source_address_ = !carried;
    } else if (carried) {
      address = trap_.TrapSourceAgent;
    } else {
      return;
    }
    Add(kSnmpTrapAddressOid, snmp::kTypeIpAddress, address, {}, EncodedNames().trap_address);
  }

 private:
  const CurrentTrap& trap_;
  OutgoingTrap* out_;
};

namespace {

// A specific-trap made of an OID's last sub-identifier.
constexpr store::NumberRange kSpecificTrapRange{
    0, INT32_MAX, "is not an SNMPv1 specific-trap (0 to 2147483647)", kErrorConversion};

// The piece of CutPiece for a position from 1 and a length from 0.
std::string_view Piece(std::string_view source, int position, int length) {
  const size_t start = static_cast<size_t>(position) - 1;
  if (start >= source.size() || length == 0) return {};
  return source.substr(start, static_cast<size_t>(length));
}

bool HasCounter64(const CurrentTrap& trap, int skip) {
  for (int i = 1; i <= trap.TrapVarCount && i <= kMaxVars; ++i) {
    if (i != skip && trap.TrapVarList.varType[i] == snmp::kTypeCounter64) return true;
  }
  return false;
}

}  // namespace

std::string_view V1AgentAddress(const CurrentTrap& trap) {
  uint8_t octets[4];
  if (snmp::ParseIpText(trap.TrapSourceNetwork, octets) == nullptr) return trap.TrapSourceNetwork;
  if (snmp::ParseIpText(trap.TrapSourceAgent, octets) == nullptr) return trap.TrapSourceAgent;
  return "0.0.0.0";
}

Result<std::string_view> CutPiece(std::string_view source, int position, int length) {
  if (position < 1) {
    return Status::Error(kErrorInvalidArgument,
                         "piece position " + std::to_string(position) + " is below 1");
  }
  if (length < 0) {
    return Status::Error(kErrorInvalidArgument,
                         "piece length " + std::to_string(length) + " is negative");
  }
  return Piece(source, position, length);
}

Route ChooseRoute(const CurrentTrap& trap, const DefinitionTable& table, bool convert) {
  Route route;
  route.definition = FindDefinition(table, trap.TrapOid);
  const int skip = route.definition != 0 ? table[route.definition].TrapSourceVarNo : 0;
  route.to_v1 = convert && trap.IsV2() && !HasCounter64(trap, skip);
  return route;
}

Result<V1Identity> ConvertTrapOid(std::string_view trap_oid) {
  V1Identity id;
  const std::string_view traps = kSnmpTrapsOid;
  if (trap_oid.starts_with(traps) &&
      (trap_oid.size() == traps.size() || trap_oid[traps.size()] == '.')) {
    id.enterprise = kSnmpTrapsOid;
    static const char* const kStandard[] = {"1.3.6.1.6.3.1.1.5.1", "1.3.6.1.6.3.1.1.5.2",
                                            "1.3.6.1.6.3.1.1.5.3", "1.3.6.1.6.3.1.1.5.4",
                                            "1.3.6.1.6.3.1.1.5.5", "1.3.6.1.6.3.1.1.5.6"};
    for (int32_t g = 0; g < 6; ++g) {
      if (trap_oid == kStandard[g]) id.generic_trap = g;
    }
    return id;
  }
  // Any other notification becomes enterprise-specific: the enterprise is the OID without
  // its last sub-identifier (and without a next-to-last 0), the specific-trap that last one.
  const size_t last_dot = trap_oid.rfind('.');
  if (last_dot == std::string_view::npos || last_dot == 0) {
    return Status::Error(kErrorConversion,
                         "trap OID \"" + std::string(trap_oid) + "\" has no SNMPv1 form");
  }
  Result<int64_t> specific =
      store::ParseNumberText(trap_oid.substr(last_dot + 1), store::NumberStyle::kWhole,
                             kSpecificTrapRange, "specific-trap");
  if (!specific.ok()) return specific.status();
  std::string_view enterprise = trap_oid.substr(0, last_dot);
  const size_t prev_dot = enterprise.rfind('.');
  if (prev_dot != std::string_view::npos && enterprise.substr(prev_dot + 1) == "0") {
    enterprise = enterprise.substr(0, prev_dot);
  }
  // An OID has two sub-identifiers at least: of "1.3" or "2.0.7" no enterprise is left.
  if (enterprise.find('.') == std::string_view::npos) {
    return Status::Error(kErrorConversion, "trap OID \"" + std::string(trap_oid) +
                                               "\" has no SNMPv1 form: no enterprise is left");
  }
  id.enterprise = enterprise;
  id.generic_trap = 6;
  id.specific_trap = static_cast<int32_t>(*specific);
  return id;
}

Status BuildWrapped(const CurrentTrap& trap, const TrapDefinition& d, bool to_v1,
                    store::SourceAddressMode source_address, OutgoingTrap* out) {
  Builder build(trap, out);
  if (to_v1 || !trap.IsV2()) {
    if (!d.new_number) {
      return store::ParseNumberText(d.TrapNewNumber, store::NumberStyle::kRounded,
                                    store::kInt32Range, "TrapNewNumber")
          .status();
    }
    Status head = build.SetV1Head(kWrappedEnterprise, 6, *d.new_number,
                                  to_v1 ? V1AgentAddress(trap) : trap.TrapSourceAgent);
    if (!head.ok()) return head;
  } else {
    Status head = build.SetV2Head(build.WrappedTrapOid(d), d.wrapped_trap_oid_encoding);
    if (!head.ok()) return head;
  }

  const int source_no = d.TrapSourceVarNo;
  if (source_no < 1 || source_no > kMaxVars) {
    return Status::Error(
        kErrorInvalidArgument,
        "source variable number " + std::to_string(source_no) + " is outside 1 to 20");
  }
  // A definition whose load stopped at its 15th variable keeps that count but only 14
  // variables: it cannot be wrapped as it says, and the failure is reported like any other.
  if (d.TrapNewVarNo > kMaxNewVars) {
    return Status::Error(kErrorOverflow, "the definition has " + std::to_string(d.TrapNewVarNo) +
                                             " new variables; at most 14 are possible");
  }
  const std::string_view source = build.ReceivedValue(source_no);
  for (int n = 1; n <= d.TrapNewVarNo; ++n) {
    if (d.NewVarPos[n] < 1 || d.NewVarChar[n] < 0) {
      return CutPiece(source, d.NewVarPos[n], d.NewVarChar[n]).status();
    }
    build.Add(d.NewVarOid[n], d.NewVarType[n], Piece(source, d.NewVarPos[n], d.NewVarChar[n]), {},
              d.new_var_names[n]);
  }
  build.AddReceived(source_no);
  build.AddSourceAddress(source_address);
  return Status::Ok();
}

Status BuildForwarded(const CurrentTrap& trap, bool to_v1, store::SourceAddressMode source_address,
                      OutgoingTrap* out) {
  Builder build(trap, out);
  if (to_v1) {
    Result<V1Identity> id = ConvertTrapOid(trap.TrapOid);
    if (!id.ok()) return id.status();
    Status head =
        build.SetV1Head(id->enterprise, id->generic_trap, id->specific_trap, V1AgentAddress(trap));
    if (!head.ok()) return head;
  } else if (!trap.IsV2()) {
    Status head = build.SetV1Head(trap.TrapEnterprise, trap.TrapGeneric, trap.TrapSpecific,
                                  trap.TrapSourceAgent);
    if (!head.ok()) return head;
  } else {
    Status head = build.SetV2Head(trap.TrapOid, trap.trap_oid_encoding);
    if (!head.ok()) return head;
  }
  build.AddReceived(0);
  build.AddSourceAddress(source_address);
  return Status::Ok();
}

Status BuildWrapped(const CurrentTrap& trap, const TrapDefinition& definition, bool to_v1,
                    store::SourceAddressMode source_address, snmp::Message* out) {
  OutgoingTrap built;
  Status status = BuildWrapped(trap, definition, to_v1, source_address, &built);
  snmp::ToMessage(built.message(), out);
  return status;
}

Status BuildForwarded(const CurrentTrap& trap, bool to_v1, store::SourceAddressMode source_address,
                      snmp::Message* out) {
  OutgoingTrap built;
  Status status = BuildForwarded(trap, to_v1, source_address, &built);
  snmp::ToMessage(built.message(), out);
  return status;
}

int FindDefinition(const DefinitionTable& table, std::string_view oid) {
  if (oid.empty()) return 0;
  for (int k = 1; k <= kMaxDefinitions; ++k) {
    if (table[k].TrapOID == oid) return k;
  }
  return 0;
}

}  // namespace tervane::relay
