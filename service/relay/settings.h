// The settings the service starts with: read from the General_Setting row and checked before
// anything is opened, so that a configuration that cannot work stops the start with a reason
// instead of losing every trap afterwards.
#ifndef TERVANE_SERVICE_RELAY_SETTINGS_H_
#define TERVANE_SERVICE_RELAY_SETTINGS_H_

#include <string>

#include "platform/status.h"
#include "service/relay/trap_state.h"
#include "store/rows.h"

namespace tervane::relay {

// DebugMode, TrapRecvIpAddr, TrapRecvPort, TrapForwIpAddr, TrapForwPort and ConvV2ToV1, in
// this order. Fails on the first column that does not convert (its Status names it), on a
// receive address that is no IPv4 or IPv6 address (0.0.0.0 and :: are every address) or has
// a zone ID, and on a forward address that no trap could be sent to, each with the words of
// the stations' rules (store/station_rules.h). Whether the receive address is on this machine
// is the listener's to find out when it binds.
Result<Settings> SettingsFromRow(const store::SettingsRow& row);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_SETTINGS_H_
