#include "service/relay/outgoing.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "service/snmp/codec.h"
#include "store/number_text.h"

namespace tervane::relay {
namespace {

// Writes the bindings of a message from the front, reusing the bindings (and the memory of
// their strings) that the previous message built in the same place left behind: the agent
// sends one message after the other from one outgoing message, which thus stops allocating
// once its strings have grown. However the build ends, the list then holds exactly the
// bindings written, never one of an earlier message.
class Bindings {
 public:
  explicit Bindings(snmp::Message* out) : vars_(out->variables) {}
  ~Bindings() { vars_.resize(count_); }
  Bindings(const Bindings&) = delete;
  Bindings& operator=(const Bindings&) = delete;

  snmp::Variable& Next(std::string_view oid, int32_t type) {
    if (count_ == vars_.size()) vars_.emplace_back();
    snmp::Variable& v = vars_[count_++];
    v.oid.assign(oid);
    v.type = type;
    return v;
  }
  void Add(std::string_view oid, int32_t type, std::string_view value) {
    Next(oid, type).value.assign(value);
  }

 private:
  std::vector<snmp::Variable>& vars_;
  size_t count_ = 0;
};

// A specific-trap made of an OID's last sub-identifier.
constexpr store::NumberRange kSpecificTrapRange{
    0, INT32_MAX, "is not an SNMPv1 specific-trap (0 to 2147483647)", kErrorConversion};

// SNMPv1 header with the time stamp from TrapSysUpTime.
Status SetV1Head(const CurrentTrap& trap, const std::string& enterprise, int32_t generic,
                 int32_t specific, const std::string& agent_address, snmp::Message* out) {
  if (!trap.TrapSysUpTime) return Status::Error(kErrorConversion, "TrapSysUpTime: no value");
  out->kind = snmp::kKindTrapV1;
  out->enterprise = enterprise;
  out->generic_trap = generic;
  out->specific_trap = specific;
  out->time_stamp = *trap.TrapSysUpTime;
  out->agent_address = agent_address;
  return Status::Ok();
}

// The two leading bindings; the caller fills in the trap OID.
Result<std::string*> SetV2Head(const CurrentTrap& trap, Bindings& bindings, snmp::Message* out) {
  if (!trap.TrapSysUpTime) return Status::Error(kErrorConversion, "TrapSysUpTime: no value");
  out->kind = snmp::kKindTrapV2;
  std::string& uptime = bindings.Next(kSysUpTimeOid, snmp::kTypeTimeTicks).value;
  char digits[12];
  uptime.assign(digits, std::to_chars(digits, digits + sizeof digits, *trap.TrapSysUpTime).ptr);
  return &bindings.Next(kSnmpTrapOid, snmp::kTypeObjectId).value;
}

void AppendReceived(const CurrentTrap& trap, int skip, Bindings& bindings) {
  for (int i = 1; i <= trap.TrapVarCount && i <= kMaxVars; ++i) {
    if (i == skip) continue;
    bindings.Add(trap.TrapVarList.varOid[i], trap.TrapVarList.varType[i],
                 trap.TrapVarList.varValue[i]);
  }
}

bool HasCounter64(const CurrentTrap& trap, int skip) {
  for (int i = 1; i <= trap.TrapVarCount && i <= kMaxVars; ++i) {
    if (i != skip && trap.TrapVarList.varType[i] == snmp::kTypeCounter64) return true;
  }
  return false;
}

// The snmpTrapAddress binding is kept out of the variable list, but it is the only trace of
// the device behind a proxy: an SNMPv2 trap that carried one sends it on, last.
void AppendSourceAgent(const CurrentTrap& trap, Bindings& bindings) {
  if (trap.TrapSourceAgent == "0.0.0.0") return;
  if (!snmp::ValidateValue(snmp::kTypeIpAddress, trap.TrapSourceAgent).ok()) return;
  bindings.Add(kSnmpTrapAddressOid, snmp::kTypeIpAddress, trap.TrapSourceAgent);
}

// Empties every field as Message::Clear does, but keeps the strings' memory; the bindings
// are emptied by the Bindings writer of the build.
void StartMessage(const CurrentTrap& trap, snmp::Message* out) {
  out->community = trap.TrapCommunity;
  out->kind = 0;
  out->request_id = out->error_status = out->error_index = 0;
  out->enterprise.clear();
  out->agent_address.clear();
  out->generic_trap = out->specific_trap = 0;
  out->time_stamp = 0;
}

// CutPiece into *piece, reusing its memory.
Status CutPieceInto(const std::string& source, int position, int length, std::string* piece) {
  if (position < 1) {
    return Status::Error(kErrorInvalidArgument,
                         "piece position " + std::to_string(position) + " is below 1");
  }
  if (length < 0) {
    return Status::Error(kErrorInvalidArgument,
                         "piece length " + std::to_string(length) + " is negative");
  }
  const size_t start = static_cast<size_t>(position) - 1;
  if (start >= source.size() || length == 0) {
    piece->clear();
  } else {
    piece->assign(source, start, static_cast<size_t>(length));
  }
  return Status::Ok();
}

}  // namespace

Result<std::string> CutPiece(const std::string& source, int position, int length) {
  std::string piece;
  if (Status s = CutPieceInto(source, position, length, &piece); !s.ok()) return s;
  return piece;
}

Route ChooseRoute(const CurrentTrap& trap, const DefinitionTable& table, bool convert) {
  Route route;
  route.definition = FindDefinition(table, trap.TrapOid);
  const int skip = route.definition != 0 ? table[route.definition].TrapSourceVarNo : 0;
  route.to_v1 = convert && trap.IsV2() && !HasCounter64(trap, skip);
  return route;
}

Result<V1Identity> ConvertTrapOid(const std::string& trap_oid) {
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
  size_t last_dot = trap_oid.rfind('.');
  if (last_dot == std::string::npos || last_dot == 0) {
    return Status::Error(kErrorConversion, "trap OID \"" + trap_oid + "\" has no SNMPv1 form");
  }
  Result<int64_t> specific =
      store::ParseNumberText(std::string_view(trap_oid).substr(last_dot + 1),
                             store::NumberStyle::kWhole, kSpecificTrapRange, "specific-trap");
  if (!specific.ok()) return specific.status();
  std::string enterprise = trap_oid.substr(0, last_dot);
  size_t prev_dot = enterprise.rfind('.');
  if (prev_dot != std::string::npos &&
      enterprise.compare(prev_dot + 1, std::string::npos, "0") == 0) {
    enterprise.resize(prev_dot);
  }
  // An OID has two sub-identifiers at least: of "1.3" or "2.0.7" no enterprise is left.
  if (enterprise.find('.') == std::string::npos) {
    return Status::Error(kErrorConversion,
                         "trap OID \"" + trap_oid + "\" has no SNMPv1 form: no enterprise is left");
  }
  id.enterprise = enterprise;
  id.generic_trap = 6;
  id.specific_trap = static_cast<int32_t>(*specific);
  return id;
}

Status BuildWrapped(const CurrentTrap& trap, const TrapDefinition& d, bool to_v1,
                    snmp::Message* out) {
  Bindings bindings(out);
  StartMessage(trap, out);
  if (to_v1 || !trap.IsV2()) {
    if (!d.new_number) {
      return store::ParseNumberText(d.TrapNewNumber, store::NumberStyle::kRounded,
                                    store::kInt32Range, "TrapNewNumber")
          .status();
    }
    Status head = SetV1Head(trap, kWrappedEnterprise, 6, *d.new_number,
                            to_v1 ? trap.TrapSourceNetwork : trap.TrapSourceAgent, out);
    if (!head.ok()) return head;
  } else {
    Result<std::string*> oid = SetV2Head(trap, bindings, out);
    if (!oid.ok()) return oid.status();
    (*oid)->assign(kWrappedTrapPrefix).append(d.TrapNewNumber);
  }

  int source_no = d.TrapSourceVarNo;
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
  const std::string& source = trap.TrapVarList.varValue[source_no];
  for (int n = 1; n <= d.TrapNewVarNo; ++n) {
    snmp::Variable& v = bindings.Next(d.NewVarOid[n], d.NewVarType[n]);
    if (Status s = CutPieceInto(source, d.NewVarPos[n], d.NewVarChar[n], &v.value); !s.ok()) {
      return s;
    }
  }
  AppendReceived(trap, source_no, bindings);
  if (out->kind == snmp::kKindTrapV2) AppendSourceAgent(trap, bindings);
  return Status::Ok();
}

Status BuildForwarded(const CurrentTrap& trap, bool to_v1, snmp::Message* out) {
  Bindings bindings(out);
  StartMessage(trap, out);
  if (to_v1) {
    Result<V1Identity> id = ConvertTrapOid(trap.TrapOid);
    if (!id.ok()) return id.status();
    Status head = SetV1Head(trap, id->enterprise, id->generic_trap, id->specific_trap,
                            trap.TrapSourceNetwork, out);
    if (!head.ok()) return head;
  } else if (!trap.IsV2()) {
    Status head = SetV1Head(trap, trap.TrapEnterprise, trap.TrapGeneric, trap.TrapSpecific,
                            trap.TrapSourceAgent, out);
    if (!head.ok()) return head;
  } else {
    Result<std::string*> oid = SetV2Head(trap, bindings, out);
    if (!oid.ok()) return oid.status();
    **oid = trap.TrapOid;
  }
  AppendReceived(trap, 0, bindings);
  if (out->kind == snmp::kKindTrapV2) AppendSourceAgent(trap, bindings);
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
