#include "service/relay/settings.h"

#include <cstdint>

#include "store/convert.h"
#include "store/station_rules.h"

namespace tervane::relay {

Result<Settings> SettingsFromRow(const store::SettingsRow& row) {
  Settings s;
  Result<bool> debug = store::ToBoolean(row.ByName("DebugMode"), "DebugMode");
  if (!debug.ok()) return debug.status();
  s.DebugMode = *debug;
  Result<std::string> recv_ip = store::ToText(row.ByName("TrapRecvIpAddr"), "TrapRecvIpAddr");
  if (!recv_ip.ok()) return recv_ip.status();
  // Either family, or 0.0.0.0 or :: for every address; the listener binds it as written.
  if (Status checked = store::CheckAddressText(*recv_ip, /*any_allowed=*/true, "TrapRecvIpAddr");
      !checked.ok()) {
    return checked;
  }
  s.TrapRecvIpAddr = *recv_ip;
  Result<uint16_t> recv_port = store::ToPort(row.ByName("TrapRecvPort"), "TrapRecvPort");
  if (!recv_port.ok()) return recv_port.status();
  s.TrapRecvPort = *recv_port;
  // The forward columns are the first management station's, read as every station is.
  Result<store::Station> first = store::FirstStation(row);
  if (!first.ok()) return first.status();
  s.TrapForwIpAddr = first->address;
  s.TrapForwPort = first->port;
  s.ConvV2ToV1 = first->to_v1;
  return s;
}

}  // namespace tervane::relay
