#include "service/relay/outgoing.h"

#include <cstdint>
#include <string>

#include "service/relay/number_text.h"
#include "service/snmp/codec.h"

namespace tervane::relay {
namespace {

Status AppendBinding(const std::string& oid, const std::string& type_text, const std::string& value,
                     snmp::Message* out) {
  Result<int64_t> type = ParseNumberText(type_text, INT32_MIN, INT32_MAX, "type code of " + oid);
  if (!type.ok()) return type.status();
  out->variables.push_back({oid, static_cast<int32_t>(*type), value});
  return Status::Ok();
}

// SNMPv1 header with the time stamp from TrapSysUpTime.
Status SetV1Head(const CurrentTrap& trap, const std::string& enterprise, int32_t generic,
                 int32_t specific, const std::string& agent_address, snmp::Message* out) {
  Result<int64_t> uptime = ParseNumberText(trap.TrapSysUpTime, 0, UINT32_MAX, "TrapSysUpTime");
  if (!uptime.ok()) return uptime.status();
  out->kind = snmp::kKindTrapV1;
  out->enterprise = enterprise;
  out->generic_trap = generic;
  out->specific_trap = specific;
  out->time_stamp = static_cast<uint32_t>(*uptime);
  out->agent_address = agent_address;
  return Status::Ok();
}

void SetV2Head(const CurrentTrap& trap, const std::string& trap_oid, snmp::Message* out) {
  out->kind = snmp::kKindTrapV2;
  out->variables.push_back({kSysUpTimeOid, snmp::kTypeTimeTicks, trap.TrapSysUpTime});
  out->variables.push_back({kSnmpTrapOid, snmp::kTypeObjectId, trap_oid});
}

// The snmpTrapAddress binding is kept out of the variable list, but it is the only trace of
// the device behind a proxy: an SNMPv2 trap that carried one sends it on, last.
void AppendSourceAgent(const CurrentTrap& trap, snmp::Message* out) {
  if (trap.TrapSourceAgent == "0.0.0.0") return;
  if (!snmp::ValidateValue(snmp::kTypeIpAddress, trap.TrapSourceAgent).ok()) return;
  out->variables.push_back({kSnmpTrapAddressOid, snmp::kTypeIpAddress, trap.TrapSourceAgent});
}

void StartMessage(const CurrentTrap& trap, snmp::Message* out) {
  out->Clear();
  out->community = trap.TrapCommunity;
}

}  // namespace

Result<std::string> CutPiece(const std::string& source, int position, int length) {
  if (position < 1) {
    return Status::Error(kErrorInvalidArgument,
                         "piece position " + std::to_string(position) + " is below 1");
  }
  if (length < 0) {
    return Status::Error(kErrorInvalidArgument,
                         "piece length " + std::to_string(length) + " is negative");
  }
  size_t start = static_cast<size_t>(position) - 1;
  if (start >= source.size() || length == 0) return std::string();
  return source.substr(start, static_cast<size_t>(length));
}

bool HasCounter64(const CurrentTrap& trap) {
  for (int i = 1; i <= trap.TrapVarCount && i <= kMaxVars; ++i) {
    if (trap.TrapVarList.varType[i] == "8") return true;
  }
  return false;
}

Result<V1Identity> ConvertTrapOid(const std::string& trap_oid) {
  V1Identity id;
  if (trap_oid.find(kSnmpTrapsOid) != std::string::npos) {
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
  size_t last_dot = trap_oid.rfind('.');
  if (last_dot == std::string::npos || last_dot == 0) {
    return Status::Error(kErrorConversion, "trap OID \"" + trap_oid + "\" has no SNMPv1 form");
  }
  Result<int64_t> specific =
      ParseNumberText(trap_oid.substr(last_dot + 1), 0, INT32_MAX, "specific-trap");
  if (!specific.ok()) return specific.status();
  std::string enterprise = trap_oid.substr(0, last_dot);
  size_t prev_dot = enterprise.rfind('.');
  if (prev_dot != std::string::npos &&
      enterprise.compare(prev_dot + 1, std::string::npos, "0") == 0) {
    enterprise.resize(prev_dot);
  }
  id.enterprise = enterprise;
  id.generic_trap = 6;
  id.specific_trap = static_cast<int32_t>(*specific);
  return id;
}

Status BuildWrapped(const CurrentTrap& trap, const TrapDefinition& d, bool to_v1,
                    snmp::Message* out) {
  StartMessage(trap, out);
  if (to_v1 || !trap.IsV2()) {
    Result<int64_t> specific =
        ParseNumberText(d.TrapNewNumber, INT32_MIN, INT32_MAX, "TrapNewNumber");
    if (!specific.ok()) return specific.status();
    Status head = SetV1Head(trap, kWrappedEnterprise, 6, static_cast<int32_t>(*specific),
                            to_v1 ? trap.TrapSourceNetwork : trap.TrapSourceAgent, out);
    if (!head.ok()) return head;
  } else {
    SetV2Head(trap, kWrappedTrapPrefix + d.TrapNewNumber, out);
  }

  int source_no = d.TrapSourceVarNo;
  if (source_no < 1 || source_no > kMaxVars) {
    return Status::Error(
        kErrorInvalidArgument,
        "source variable number " + std::to_string(source_no) + " is outside 1 to 20");
  }
  const std::string& source = trap.TrapVarList.varValue[source_no];
  for (int n = 1; n <= d.TrapNewVarNo && n <= kMaxNewVars; ++n) {
    Result<std::string> piece = CutPiece(source, d.NewVarPos[n], d.NewVarChar[n]);
    if (!piece.ok()) return piece.status();
    out->variables.push_back({d.NewVarOid[n], d.NewVarType[n], std::move(piece).value()});
  }
  for (int i = 1; i <= trap.TrapVarCount && i <= kMaxVars; ++i) {
    if (i == source_no) continue;
    Status s = AppendBinding(trap.TrapVarList.varOid[i], trap.TrapVarList.varType[i],
                             trap.TrapVarList.varValue[i], out);
    if (!s.ok()) return s;
  }
  if (out->kind == snmp::kKindTrapV2) AppendSourceAgent(trap, out);
  return Status::Ok();
}

Status BuildForwarded(const CurrentTrap& trap, bool to_v1, snmp::Message* out) {
  StartMessage(trap, out);
  if (to_v1) {
    Result<V1Identity> id = ConvertTrapOid(trap.TrapOid);
    if (!id.ok()) return id.status();
    Status head = SetV1Head(trap, id->enterprise, id->generic_trap, id->specific_trap,
                            trap.TrapSourceNetwork, out);
    if (!head.ok()) return head;
  } else if (!trap.IsV2()) {
    Result<int64_t> generic =
        ParseNumberText(trap.TrapGeneric, INT32_MIN, INT32_MAX, "TrapGeneric");
    if (!generic.ok()) return generic.status();
    Result<int64_t> specific =
        ParseNumberText(trap.TrapSpecific, INT32_MIN, INT32_MAX, "TrapSpecific");
    if (!specific.ok()) return specific.status();
    Status head = SetV1Head(trap, trap.TrapEnterprise, static_cast<int32_t>(*generic),
                            static_cast<int32_t>(*specific), trap.TrapSourceAgent, out);
    if (!head.ok()) return head;
  } else {
    SetV2Head(trap, trap.TrapOid, out);
  }
  for (int i = 1; i <= trap.TrapVarCount && i <= kMaxVars; ++i) {
    Status s = AppendBinding(trap.TrapVarList.varOid[i], trap.TrapVarList.varType[i],
                             trap.TrapVarList.varValue[i], out);
    if (!s.ok()) return s;
  }
  if (out->kind == snmp::kKindTrapV2) AppendSourceAgent(trap, out);
  return Status::Ok();
}

int FindDefinition(const DefinitionTable& table, const std::string& oid) {
  if (oid.empty()) return 0;
  for (int k = 1; k <= kMaxDefinitions; ++k) {
    if (table[k].TrapOID == oid) return k;
  }
  return 0;
}

}  // namespace tervane::relay
