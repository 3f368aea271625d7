// The rules for the values of the management stations and the receive endpoint, applied by
// the window before it stores them, by tervane-svc, and by the service when it starts, so
// that all three refuse the same values with the same words.
//
// `what` names the value for the message, as the window's caption or the column does
// ("Forward Traps To, IP Address", "TrapForwIpAddr"): "<what>: \"10.1\" is not an IPv4
// address (a.b.c.d)".
#ifndef TERVANE_STORE_STATION_RULES_H_
#define TERVANE_STORE_STATION_RULES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "service/snmp/ip_text.h"
#include "store/rows.h"

namespace tervane::store {

// An IPv4 or IPv6 address (service/snmp/ip_text.h), without a zone ID; 0.0.0.0 or :: (every
// address) only when `any_allowed`, since it names no destination. kErrorInvalidArgument
// otherwise.
Status CheckAddressText(std::string_view text, bool any_allowed, std::string_view what);

// A port typed by a user: a whole number 1 to 65535 (number_text.h's kWhole style).
Result<uint16_t> ParsePortText(std::string_view text, std::string_view what);

// A station the service sends to, converted and checked.
struct Station {
  std::string address;
  uint16_t port = 0;
  bool to_v1 = false;
  // Empty: the trap's own community string.
  std::string community;
  bool enabled = true;
  // What names the station in a refusal: "TrapForwIpAddr" for the first, "ForwardTarget 3"
  // for the further one of Id 3.
  std::string name;
  // "ADDRESS:PORT" or "[IPV6]:PORT", for records and events.
  std::string Endpoint() const { return snmp::FormatEndpoint(address, port); }
};

// The first station: General_Setting's TrapForwIpAddr, TrapForwPort and ConvV2ToV1, always
// enabled, keeping the trap's community. Fails naming the column.
Result<Station> FirstStation(const SettingsRow& row);
// A ForwardTarget row, converted as the service reads it ("ForwardTarget 3, Port: ...").
Result<Station> StationFromRow(const StationRow& row);

// Whether `address` is one of this machine's own addresses.
using IsLocalAddress = std::function<bool(const std::string& address)>;

// Refuses a station that is the service's own receive endpoint, to which every trap would
// loop back at full speed: the same port and the same address (::ffff:a.b.c.d is a.b.c.d),
// or, when receiving on every address, any address of this machine that the receive socket
// takes: of IPv4 for 0.0.0.0, of both families for ::. `is_local` is asked with the
// address's written form (a mapped address unmapped).
Status CheckNotOwnEndpoint(const Station& station, std::string_view receive_address,
                           uint16_t receive_port, const IsLocalAddress& is_local);

// Every station the service sends to: the first, then each enabled further one, each checked
// as above. Fails on the first that cannot work, naming it, and when the table lists more
// than kMaxFurtherStations further stations.
Result<std::vector<Station>> StationsToSend(const SettingsRow& settings,
                                            const std::vector<StationRow>& further,
                                            std::string_view receive_address, uint16_t receive_port,
                                            const IsLocalAddress& is_local);

}  // namespace tervane::store

#endif  // TERVANE_STORE_STATION_RULES_H_
