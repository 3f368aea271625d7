#include "store/station_rules.h"

#include <algorithm>
#include <cstdint>

#include "service/snmp/ip_text.h"
#include "service/snmp/value_text.h"
#include "store/convert.h"
#include "store/number_text.h"

namespace tervane::store {
namespace {

// A further station's column that may be left Null: what it means then.
Result<bool> FlagOr(const Value& value, bool fallback, const std::string& what) {
  if (value.is_null()) return fallback;
  return ToBoolean(value, what);
}

}  // namespace

Status CheckAddressText(std::string_view text, bool any_allowed, std::string_view what) {
  snmp::IpAddress address;
  const char* why = snmp::ParseAddressText(text, &address);
  if (why == nullptr && !any_allowed && address.Unmapped().IsAny()) {
    why = "means every address (0.0.0.0 or ::), not one that traps can be sent to";
  }
  if (why == nullptr) return Status::Ok();
  return Status::Error(kErrorInvalidArgument,
                       std::string(what) + ": " + snmp::QuoteText(text) + " " + why);
}

Result<uint16_t> ParsePortText(std::string_view text, std::string_view what) {
  Result<int64_t> port = ParseNumberText(text, NumberStyle::kWhole, kPortRange, what);
  if (!port.ok()) return port.status();
  return static_cast<uint16_t>(*port);
}

Result<Station> FirstStation(const SettingsRow& row) {
  Station s;
  s.name = "TrapForwIpAddr";
  Result<std::string> address = ToText(row.ByName("TrapForwIpAddr"), "TrapForwIpAddr");
  if (!address.ok()) return address.status();
  snmp::IpAddress parsed;
  if (const char* why = snmp::ParseAddressText(*address, &parsed)) {
    return Status::Error(kErrorInvalidArgument,
                         "TrapForwIpAddr: " + snmp::QuoteText(*address) + " " + why);
  }
  s.address = *address;
  Result<uint16_t> port = ToPort(row.ByName("TrapForwPort"), "TrapForwPort");
  if (!port.ok()) return port.status();
  s.port = *port;
  Result<bool> convert = ToBoolean(row.ByName("ConvV2ToV1"), "ConvV2ToV1");
  if (!convert.ok()) return convert.status();
  s.to_v1 = *convert;
  return s;
}

Result<Station> StationFromRow(const StationRow& row) {
  Station s;
  s.name = std::string(kStationTable) + " " + std::to_string(row.id);
  // A row made by hand may leave the flags and the community out: enabled, not converted,
  // the trap's own community.
  Result<bool> enabled = FlagOr(row.enabled, true, s.name + ", Enabled");
  if (!enabled.ok()) return enabled.status();
  s.enabled = *enabled;
  Result<std::string> address = ToText(row.address, s.name + ", Address");
  if (!address.ok()) return address.status();
  if (Status checked = CheckAddressText(*address, false, s.name + ", Address"); !checked.ok()) {
    return checked;
  }
  s.address = *address;
  Result<uint16_t> port = ToPort(row.port, s.name + ", Port");
  if (!port.ok()) return port.status();
  s.port = *port;
  Result<bool> convert = FlagOr(row.conv_v2_to_v1, false, s.name + ", ConvV2ToV1");
  if (!convert.ok()) return convert.status();
  s.to_v1 = *convert;
  s.community = row.community.is_null() ? std::string() : row.community.AsText();
  return s;
}

Status CheckNotOwnEndpoint(const Station& station, std::string_view receive_address,
                           uint16_t receive_port, const IsLocalAddress& is_local) {
  if (station.port != receive_port) return Status::Ok();
  snmp::IpAddress forward, receive;
  if (snmp::ParseAddressText(station.address, &forward) != nullptr ||
      snmp::ParseAddressText(receive_address, &receive) != nullptr) {
    return Status::Ok();
  }
  // 0.0.0.0 receives on every IPv4 address of this machine, :: on every address of both.
  const bool same = snmp::SameHost(forward, receive);
  const bool every_address = receive.Unmapped().IsAny() &&
                             snmp::BoundAddressCovers(receive, forward) &&
                             is_local(snmp::FormatAddress(forward.Unmapped()));
  if (!same && !every_address) return Status::Ok();
  return Status::Error(kErrorInvalidArgument,
                       station.name + ": " + station.Endpoint() +
                           " is this service's own receive address and port; every trap "
                           "would be sent back to it");
}

Result<std::vector<Station>> StationsToSend(const SettingsRow& settings,
                                            const std::vector<StationRow>& further,
                                            std::string_view receive_address, uint16_t receive_port,
                                            const IsLocalAddress& is_local) {
  if (further.size() > static_cast<size_t>(kMaxFurtherStations)) {
    return Status::Error(kErrorOverflow,
                         std::string(kStationTable) + ": " + std::to_string(further.size()) +
                             " further stations are listed; at most " +
                             std::to_string(kMaxFurtherStations) + " are possible (" +
                             std::to_string(kMaxStations) + " stations in all)");
  }
  std::vector<Station> stations;
  Result<Station> first = FirstStation(settings);
  if (!first.ok()) return first.status();
  stations.push_back(*first);
  for (const StationRow& row : further) {
    // A station switched off is not looked at further: it may be kept half typed.
    Result<bool> enabled = FlagOr(
        row.enabled, true, std::string(kStationTable) + " " + std::to_string(row.id) + ", Enabled");
    if (!enabled.ok()) return enabled.status();
    if (!*enabled) continue;
    Result<Station> station = StationFromRow(row);
    if (!station.ok()) return station.status();
    stations.push_back(*station);
  }
  for (const Station& station : stations) {
    Status own = CheckNotOwnEndpoint(station, receive_address, receive_port, is_local);
    if (!own.ok()) return own;
  }
  return stations;
}

}  // namespace tervane::store
