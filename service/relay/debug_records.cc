#include "service/relay/debug_records.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "service/relay/outgoing.h"
#include "service/snmp/ip_text.h"

namespace tervane::relay {
namespace {

constexpr char kCrLf[] = "\r\n";

void Line(std::string& out, std::string_view a, std::string_view b = {}) {
  out.append(a);
  out.append(b);
  out.append(kCrLf);
}

}  // namespace

std::string TimeStamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return buf;
}

std::string Printable(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\r' || c == '\n' || c == '\t' || c == '\0') c = ' ';
  }
  return out;
}

std::string StartedStatus(const std::string& stamp, const char* what, const std::string& ip,
                          unsigned port) {
  return stamp + kCrLf + what + kCrLf + "IP=" + ip + kCrLf + "Port=" + std::to_string(port);
}

std::string FailedStatus(const std::string& stamp, const std::string& cause) {
  return stamp + kCrLf + "Failed to Start" + kCrLf + cause;
}

std::string WaitingStatus(const std::string& stamp, const std::string& cause, const char* what) {
  return stamp + kCrLf + what + kCrLf + cause;
}

std::string ListeningStatus(const std::string& stamp, const std::string& ip, unsigned port,
                            bool address_here) {
  std::string text = StartedStatus(stamp, "Trap Server Started", ip, port);
  if (!address_here) text.append(kCrLf).append(kAddressNotHereYet);
  return text;
}

std::string PortInUseCause(const std::string& ip, unsigned port) {
  if (port == 0) return "no free port on " + ip;
  return "port " + std::to_string(port) + " on " + ip + " is in use";
}

std::string StartedAfterWaitingText(const char* what, const std::string& ip, unsigned port,
                                    long long seconds) {
  return std::string(what) + " Started on " +
         snmp::FormatEndpoint(ip, static_cast<uint16_t>(port)) + " after waiting " +
         std::to_string(seconds) + (seconds == 1 ? " second" : " seconds") + " for the port";
}

std::string RunStatusText(const RunStatus& status) {
  // Nothing is received to send on when nothing listens: the listener's reason is the one.
  if (!status.not_listening.empty()) return "Not listening: " + status.not_listening;
  if (!status.listen_wait.empty()) return "Waiting to listen: " + status.listen_wait;
  std::string text =
      "Listening on " + snmp::FormatEndpoint(status.ip, static_cast<uint16_t>(status.port));
  if (!status.address_here) text += " (the address is not on this machine yet)";
  if (!status.not_sending.empty()) text += "; not sending: " + status.not_sending;
  if (!status.send_wait.empty()) text += "; waiting to send: " + status.send_wait;
  return text;
}

std::string StartStatusRecord(const std::string& status) { return status + kCrLf + kCrLf; }

std::string TrapDump(const char* header, const std::string& stamp, const DumpHead& head,
                     const std::vector<DumpVar>& vars) {
  std::string out;
  out.reserve(256 + vars.size() * 96);
  Line(out, header, stamp);
  Line(out, "TrapVersion=", Printable(head.version));
  Line(out, "TrapOid=", Printable(head.oid));
  Line(out, "TrapSourceAgent=", Printable(head.source_agent));
  Line(out, "TrapSourceNetwork=", Printable(head.source_network));
  Line(out, "TrapCommunity=", Printable(head.community));
  if (!head.user_name.empty()) Line(out, "TrapUserName=", Printable(head.user_name));
  Line(out, "TrapSysUpTime=", head.sys_up_time ? std::to_string(*head.sys_up_time) : "");
  for (size_t i = 0; i < vars.size(); ++i) {
    std::string n = std::to_string(i + 1);
    Line(out, "TrapVarList.varOid(" + n + ")=", Printable(vars[i].oid));
    Line(out, "TrapVarList.varValue(" + n + ")=", Printable(vars[i].value));
    Line(out, "TrapVarList.varType(" + n + ")=", std::to_string(vars[i].type));
  }
  out.append(kCrLf);
  return out;
}

std::vector<DumpVar> TrapVars(const CurrentTrap& trap) {
  std::vector<DumpVar> vars;
  for (int i = 1; i <= trap.TrapVarCount && i <= kMaxVars; ++i) {
    vars.push_back(
        {trap.TrapVarList.varOid[i], trap.TrapVarList.varValue[i], trap.TrapVarList.varType[i]});
  }
  return vars;
}

std::vector<DumpVar> MessageVars(const snmp::Message& message) {
  std::vector<DumpVar> vars;
  size_t first = message.kind == snmp::kKindTrapV1 ? 0 : 2;
  for (size_t i = first; i < message.variables.size(); ++i) {
    const snmp::Variable& v = message.variables[i];
    vars.push_back({v.oid, v.value, v.type});
  }
  return vars;
}

std::vector<DumpVar> MessageVars(const snmp::MessageView& message) {
  std::vector<DumpVar> vars;
  size_t first = message.kind == snmp::kKindTrapV1 ? 0 : 2;
  for (size_t i = first; i < message.variables.size(); ++i) {
    const snmp::VariableView& v = message.variables[i];
    vars.push_back({v.oid, v.value, v.type});
  }
  return vars;
}

std::string TrapInRecord(const std::string& stamp, const CurrentTrap& trap) {
  // Lists every stored binding, which for a received trap are 1 to TrapVarCount.
  std::vector<DumpVar> vars;
  for (int i = 1; i <= kMaxVars; ++i) {
    if (trap.TrapVarList.varOid[i].empty()) continue;
    vars.push_back(
        {trap.TrapVarList.varOid[i], trap.TrapVarList.varValue[i], trap.TrapVarList.varType[i]});
  }
  return TrapDump(kHeaderTrapIn, stamp,
                  {trap.TrapVersion, trap.TrapOid, trap.TrapSourceAgent, trap.TrapSourceNetwork,
                   trap.IsV3() ? std::string_view() : trap.TrapCommunity, trap.TrapSysUpTime,
                   trap.TrapUserName},
                  vars);
}

std::string SentRecord(const std::string& stamp, const CurrentTrap& trap,
                       const TrapDefinition* definition, bool to_v1,
                       const std::string& receive_address, const std::vector<DumpVar>& vars,
                       std::string_view community) {
  const std::string oid = definition != nullptr ? kWrappedTrapPrefix + definition->TrapNewNumber
                                                : std::string(trap.TrapOid);
  return TrapDump(definition != nullptr ? kHeaderWrapped : kHeaderNotWrapped, stamp,
                  {to_v1 ? std::string_view(kVersionV1) : trap.SentVersion(),
                   oid,
                   to_v1 ? V1AgentAddress(trap) : trap.TrapSourceAgent,
                   receive_address,
                   community.empty() ? trap.TrapCommunity : community,
                   trap.TrapSysUpTime,
                   {}},
                  vars);
}

std::string WithDestination(std::string record, std::string_view endpoint) {
  const size_t first_end = record.find(kCrLf);
  const size_t at = first_end == std::string::npos ? record.size() : first_end + 2;
  std::string line = "TrapDestination=";
  line.append(Printable(endpoint)).append(kCrLf);
  record.insert(at, line);
  return record;
}

std::string NotSentRecord(const std::string& stamp, const CurrentTrap& trap, bool to_v1,
                          const std::string& receive_address, const char* module,
                          const std::string& error) {
  std::string record = SentRecord(stamp, trap, nullptr, to_v1, receive_address, TrapVars(trap));
  Line(record, "Module: ", module);
  Line(record, "Error: ", error);
  return record;
}

std::string NullValuesRecord(const std::string& stamp, const std::string& null_list) {
  std::string out;
  Line(out, kHeaderNullValues, stamp);
  Line(out, stamp, "\tsnmpManager_Trap");
  out.append(null_list);
  out.append(kCrLf);
  out.append(kCrLf);
  return out;
}

std::string DefinitionListRecord(const DefinitionTable& table) {
  std::string out;
  Line(out, kHeaderTrapDb);
  for (int k = 1; k <= kMaxDefinitions; ++k) {
    const TrapDefinition& d = table[k];
    if (d.TrapOID.empty()) continue;
    Line(out, "TrapOID=", Printable(d.TrapOID));
    Line(out, "WrapSourceVariable=", std::to_string(d.TrapSourceVarNo));
    Line(out, "NewVariables=", std::to_string(d.TrapNewVarNo));
    Line(out, "NewTrapOID=", kWrappedTrapPrefix + Printable(d.TrapNewNumber));
    for (int n = 1; n <= d.TrapNewVarNo && n <= kMaxNewVars; ++n) {
      std::string k_text = std::to_string(n);
      Line(out, "NewVarOid" + k_text + "=", d.NewVarOid[n]);
      Line(out, "NewVarPos" + k_text + "=", std::to_string(d.NewVarPos[n]));
      Line(out, "NewVarChar" + k_text + "=", std::to_string(d.NewVarChar[n]));
      Line(out, "NewVarType" + k_text + "=", std::to_string(d.NewVarType[n]));
    }
    out.append(kCrLf);
  }
  out.append(kCrLf);
  return out;
}

}  // namespace tervane::relay
