#include "service/relay/intake.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/snmp/codec.h"

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
  const std::optional<uint64_t> ticks = snmp::UnsignedNumber(v);
  if (!ticks || *ticks > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(*ticks);
}

// Whether `v` is the binding of `oid`, whose encoded form is `name`.
inline bool Named(const snmp::VariableView& v, std::string_view oid,
                  const std::vector<uint8_t>& name) {
  if (!v.oid.empty() || v.name.empty()) return v.oid == oid;
  return v.name.size() == name.size() && std::equal(name.begin(), name.end(), v.name.begin());
}

// The value text of `v`: its own, or made into `storage` when its texts were not made.
std::string_view ValueOf(const snmp::VariableView& v, std::string* storage) {
  if (!v.oid.empty() || v.encoding.empty()) return v.value;
  char room[snmp::kMaxBindingTexts];
  storage->assign(snmp::WithTexts(v, room).value);
  return *storage;
}

}  // namespace

const KnownNames& EncodedNames() {
  static const KnownNames names = [] {
    KnownNames n;
    (void)snmp::EncodeName(kSysUpTimeOid, &n.sys_up_time);
    (void)snmp::EncodeName(kSnmpTrapOid, &n.trap_oid);
    (void)snmp::EncodeName(kSnmpTrapAddressOid, &n.trap_address);
    return n;
  }();
  return names;
}

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
    if (v.type != snmp::kTypeNoValue) continue;
    char room[snmp::kMaxBindingTexts];
    intake.null_list.append(snmp::WithTexts(v, room).oid).append("\r\n");
  }

  if (message.kind == snmp::kKindTrapV1) {
    intake.handled = true;
    trap.TrapVersion = kVersionV1;
    trap.TrapSourceAgent = message.agent_address;
    trap.TrapSourceNetwork = source_address;
    trap.TrapCommunity = message.community;
    trap.TrapUserName = {};
    // TimeTicks are unsigned 32-bit and pass through unchanged.
    trap.TrapSysUpTime = message.time_stamp;
    // A forwarded trap keeps the enterprise it came with, also a generic one: for those it
    // names the kind of device, which the station would otherwise lose.
    trap.TrapEnterprise = message.enterprise;
    trap.TrapGeneric = message.generic_trap;
    char digits[12];
    std::string& oid = trap.trap_oid_text;
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
  if (message.snmpv3) {
    trap.TrapVersion = intake.inform ? kVersionV3Inform : kVersionV3Trap;
    trap.TrapCommunity = kV3Community;
    trap.TrapUserName = message.user_name;
  } else {
    trap.TrapVersion = intake.inform ? kVersionInform : kVersionV2;
    trap.TrapCommunity = message.community;
    trap.TrapUserName = {};
  }
  trap.TrapSourceAgent = "0.0.0.0";
  trap.TrapSourceNetwork = source_address;

  const KnownNames& names = EncodedNames();
  int counter = 0;
  bool have_trap_oid = false;
  trap.TrapSysUpTime.reset();
  for (const snmp::VariableView& v : message.variables) {
    if (Named(v, kSnmpTrapAddressOid, names.trap_address)) {
      trap.TrapSourceAgent = ValueOf(v, &trap.source_agent_text);
      continue;
    }
    ++counter;
    if (counter == 1) {
      if (Named(v, kSysUpTimeOid, names.sys_up_time)) trap.TrapSysUpTime = UpTime(v);
      // Sent on as it came when it is what the senders would write: a TimeTicks.
      if (trap.TrapSysUpTime && v.type == snmp::kTypeTimeTicks) {
        trap.sys_up_time_encoding = v.encoding;
      }
    } else if (counter == 2) {
      have_trap_oid = Named(v, kSnmpTrapOid, names.trap_oid) && v.type == snmp::kTypeObjectId;
      if (have_trap_oid) {
        trap.TrapOid = ValueOf(v, &trap.trap_oid_text);
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
