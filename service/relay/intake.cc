#include "service/relay/intake.h"

#include <charconv>
#include <string>

namespace tervane::relay {
namespace {

void StoreBinding(const snmp::Variable& v, int n, VarList& list) {
  list.varOid[n] = v.oid;
  list.varValue[n] = v.value;
  // The type code in decimal, written in place: no temporary string per binding.
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, v.type).ptr;
  list.varType[n].assign(digits, end);
}

bool IsDecimal(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

Status FillCurrentTrap(const snmp::Message& message, const std::string& source_address,
                       CurrentTrap& trap, Intake* intake) {
  *intake = Intake();
  for (int i = 1; i <= kMaxVars; ++i) {
    trap.TrapVarList.varOid[i].clear();
    trap.TrapVarList.varValue[i].clear();
    trap.TrapVarList.varType[i].clear();
  }
  for (const snmp::Variable& v : message.variables) {
    if (v.type == snmp::kTypeNoValue) intake->null_list += v.oid + "\r\n";
  }

  if (message.kind == snmp::kKindTrapV1) {
    intake->handled = true;
    trap.TrapVersion = kVersionV1;
    trap.TrapSourceAgent = message.agent_address;
    trap.TrapSourceNetwork = source_address;
    trap.TrapCommunity = message.community;
    // TimeTicks are unsigned 32-bit and pass through unchanged.
    trap.TrapSysUpTime = std::to_string(message.time_stamp);
    // A forwarded trap keeps the enterprise it came with, also a generic one: for those it
    // names the kind of device, which the station would otherwise lose.
    trap.TrapEnterprise = message.enterprise;
    if (message.generic_trap != 6) {
      trap.TrapGeneric = std::to_string(message.generic_trap);
      trap.TrapSpecific = "0";
      trap.TrapOid = std::string(kSnmpV1GenericEnterprise) + ".0." + trap.TrapGeneric;
    } else {
      trap.TrapGeneric = "6";
      trap.TrapSpecific = std::to_string(message.specific_trap);
      trap.TrapOid = message.enterprise + ".0." + trap.TrapSpecific;
    }
    int n = 0;
    for (const snmp::Variable& v : message.variables) {
      if (n == kMaxVars) break;
      StoreBinding(v, ++n, trap.TrapVarList);
    }
    trap.TrapVarCount = n;
    return Status::Ok();
  }

  if (message.kind != snmp::kKindTrapV2 && message.kind != snmp::kKindInform) {
    return Status::Ok();
  }
  intake->handled = true;
  intake->inform = message.kind == snmp::kKindInform;
  trap.TrapVersion = intake->inform ? kVersionInform : kVersionV2;
  trap.TrapSourceAgent = "0.0.0.0";
  trap.TrapSourceNetwork = source_address;
  trap.TrapCommunity = message.community;

  int counter = 0;
  bool have_uptime = false;
  bool have_trap_oid = false;
  for (const snmp::Variable& v : message.variables) {
    if (v.oid == kSnmpTrapAddressOid) {
      trap.TrapSourceAgent = v.value;
      continue;
    }
    ++counter;
    if (counter == 1) {
      have_uptime = v.oid == kSysUpTimeOid;
      if (have_uptime) {
        if (!IsDecimal(v.value)) {
          return Status::Error(kErrorConversion,
                               "sysUpTime.0 value \"" + v.value + "\" is not a number");
        }
        trap.TrapSysUpTime = v.value;
      }
    } else if (counter == 2) {
      have_trap_oid = v.oid == kSnmpTrapOid && v.type == snmp::kTypeObjectId;
      if (have_trap_oid) trap.TrapOid = v.value;
    } else {
      StoreBinding(v, counter - 2, trap.TrapVarList);
    }
    if (counter == kMaxVars + 2) break;
  }
  trap.TrapVarCount = counter > 2 ? counter - 2 : 0;
  if (!have_uptime || !have_trap_oid) {
    intake->malformed = true;
    if (!have_uptime) trap.TrapSysUpTime.clear();
    if (!have_trap_oid) trap.TrapOid.clear();
  }
  return Status::Ok();
}

}  // namespace tervane::relay
