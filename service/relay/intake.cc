#include "service/relay/intake.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervane::relay {
namespace {

void StoreBinding(const snmp::VariableView& v, int n, VarList& list) {
  list.varOid[n] = v.oid;
  list.varValue[n] = v.value;
  list.varType[n] = v.type;
  list.encoding[n] = v.encoding;
}

// The sysUpTime.0 binding's value: a number of any unsigned-capable type that fits TimeTicks.
std::optional<uint32_t> UpTime(const snmp::VariableView& v) {
  switch (v.type) {
    case snmp::kTypeInteger32:
    case snmp::kTypeCounter32:
    case snmp::kTypeGauge32:
    case snmp::kTypeTimeTicks:
    case snmp::kTypeCounter64:
      break;
    default:
      return std::nullopt;
  }
  uint64_t ticks = 0;
  const char* end = v.value.data() + v.value.size();
  const auto [stop, ec] = std::from_chars(v.value.data(), end, ticks);
  if (ec != std::errc() || stop != end || v.value.empty() || v.value[0] == '-' ||
      ticks > UINT32_MAX) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(ticks);
}

}  // namespace

Intake FillCurrentTrap(const snmp::Message& message, std::string_view source_address,
                       CurrentTrap& trap) {
  std::vector<snmp::VariableView> variables;
  return FillCurrentTrap(snmp::ViewOf(message, &variables), source_address, trap);
}

Intake FillCurrentTrap(const snmp::MessageView& message, std::string_view source_address,
                       CurrentTrap& trap) {
  Intake intake;
  VarList& list = trap.TrapVarList;
  for (int i = 1; i <= list.filled && i <= kMaxVars; ++i) {
    list.varOid[i] = {};
    list.varValue[i] = {};
    list.varType[i] = snmp::kTypeNoValue;
    list.encoding[i] = {};
  }
  list.filled = 0;
  trap.sys_up_time_encoding = {};
  trap.trap_oid_encoding = {};
  for (const snmp::VariableView& v : message.variables) {
    if (v.type == snmp::kTypeNoValue) intake.null_list.append(v.oid).append("\r\n");
  }

  if (message.kind == snmp::kKindTrapV1) {
    intake.handled = true;
    trap.TrapVersion = kVersionV1;
    trap.TrapSourceAgent = message.agent_address;
    trap.TrapSourceNetwork = source_address;
    trap.TrapCommunity = message.community;
    // TimeTicks are unsigned 32-bit and pass through unchanged.
    trap.TrapSysUpTime = message.time_stamp;
    // A forwarded trap keeps the enterprise it came with, also a generic one: for those it
    // names the kind of device, which the station would otherwise lose.
    trap.TrapEnterprise = message.enterprise;
    trap.TrapGeneric = message.generic_trap;
    char digits[12];
    std::string& oid = trap.v1_trap_oid;
    if (message.generic_trap != 6) {
      trap.TrapSpecific = 0;
      oid.assign(kSnmpV1GenericEnterprise).append(".0.");
      oid.append(digits, std::to_chars(digits, digits + sizeof digits, message.generic_trap).ptr);
    } else {
      trap.TrapSpecific = message.specific_trap;
      oid.assign(message.enterprise).append(".0.");
      oid.append(digits, std::to_chars(digits, digits + sizeof digits, message.specific_trap).ptr);
    }
    trap.TrapOid = oid;
    int n = 0;
    for (const snmp::VariableView& v : message.variables) {
      if (n == kMaxVars) break;
      StoreBinding(v, ++n, trap.TrapVarList);
    }
    trap.TrapVarCount = n;
    list.filled = n;
    return intake;
  }

  if (message.kind != snmp::kKindTrapV2 && message.kind != snmp::kKindInform) return intake;
  intake.handled = true;
  intake.inform = message.kind == snmp::kKindInform;
  trap.TrapVersion = intake.inform ? kVersionInform : kVersionV2;
  trap.TrapSourceAgent = "0.0.0.0";
  trap.TrapSourceNetwork = source_address;
  trap.TrapCommunity = message.community;

  int counter = 0;
  bool have_trap_oid = false;
  trap.TrapSysUpTime.reset();
  for (const snmp::VariableView& v : message.variables) {
    if (v.oid == kSnmpTrapAddressOid) {
      trap.TrapSourceAgent = v.value;
      continue;
    }
    ++counter;
    if (counter == 1) {
      if (v.oid == kSysUpTimeOid) trap.TrapSysUpTime = UpTime(v);
      // Sent on as it came when it is what the senders would write: a TimeTicks.
      if (trap.TrapSysUpTime && v.type == snmp::kTypeTimeTicks) {
        trap.sys_up_time_encoding = v.encoding;
      }
    } else if (counter == 2) {
      have_trap_oid = v.oid == kSnmpTrapOid && v.type == snmp::kTypeObjectId;
      if (have_trap_oid) {
        trap.TrapOid = v.value;
        trap.trap_oid_encoding = v.encoding;
      }
    } else {
      StoreBinding(v, counter - 2, trap.TrapVarList);
    }
    if (counter == kMaxVars + 2) break;
  }
  trap.TrapVarCount = counter > 2 ? counter - 2 : 0;
  list.filled = trap.TrapVarCount;
  if (!have_trap_oid) trap.TrapOid = {};
  intake.malformed = !trap.TrapSysUpTime || !have_trap_oid;
  return intake;
}

}  // namespace tervane::relay
