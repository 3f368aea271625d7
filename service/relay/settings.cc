#include "service/relay/settings.h"

#include <algorithm>
#include <cstdint>

#include "service/snmp/value_text.h"
#include "store/convert.h"

namespace tervane::relay {

Result<Settings> SettingsFromRow(const store::SettingsRow& row) {
  Settings s;
  Result<bool> debug = store::ToBoolean(row.ByName("DebugMode"), "DebugMode");
  if (!debug.ok()) return debug.status();
  s.DebugMode = *debug;
  Result<std::string> recv_ip = store::ToText(row.ByName("TrapRecvIpAddr"), "TrapRecvIpAddr");
  if (!recv_ip.ok()) return recv_ip.status();
  s.TrapRecvIpAddr = *recv_ip;
  Result<uint16_t> recv_port = store::ToPort(row.ByName("TrapRecvPort"), "TrapRecvPort");
  if (!recv_port.ok()) return recv_port.status();
  s.TrapRecvPort = *recv_port;
  Result<std::string> forw_ip = store::ToText(row.ByName("TrapForwIpAddr"), "TrapForwIpAddr");
  if (!forw_ip.ok()) return forw_ip.status();
  uint8_t octets[4];
  if (const char* why = snmp::ParseIpText(*forw_ip, octets)) {
    return Status::Error(kErrorInvalidArgument,
                         "TrapForwIpAddr: " + snmp::QuoteText(*forw_ip) + " " + why);
  }
  s.TrapForwIpAddr = *forw_ip;
  Result<uint16_t> forw_port = store::ToPort(row.ByName("TrapForwPort"), "TrapForwPort");
  if (!forw_port.ok()) return forw_port.status();
  s.TrapForwPort = *forw_port;
  Result<bool> convert = store::ToBoolean(row.ByName("ConvV2ToV1"), "ConvV2ToV1");
  if (!convert.ok()) return convert.status();
  s.ConvV2ToV1 = *convert;
  return s;
}

Status CheckForwardEndpoint(const Settings& settings,
                            const std::function<bool(const std::string&)>& is_local) {
  if (settings.TrapForwPort != settings.TrapRecvPort) return Status::Ok();
  uint8_t forward[4], receive[4];
  if (snmp::ParseIpText(settings.TrapForwIpAddr, forward) != nullptr) return Status::Ok();
  const bool receive_parsed = snmp::ParseIpText(settings.TrapRecvIpAddr, receive) == nullptr;
  const bool every_address =
      receive_parsed && std::all_of(receive, receive + 4, [](uint8_t o) { return o == 0; });
  const bool same = receive_parsed && std::equal(forward, forward + 4, receive);
  if (!same && !(every_address && is_local(settings.TrapForwIpAddr))) return Status::Ok();
  return Status::Error(kErrorInvalidArgument,
                       "TrapForwIpAddr: " + settings.TrapForwIpAddr + ":" +
                           std::to_string(settings.TrapForwPort) +
                           " is this service's own receive address and port; every trap "
                           "would be sent back to it");
}

}  // namespace tervane::relay
