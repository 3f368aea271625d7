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
// this order. Fails on the first column that does not convert (its Status names it), and on a
// forward address that is no dotted IPv4 address, which no trap could be sent to. The receive
// address is the listener's to judge when it starts.
Result<Settings> SettingsFromRow(const store::SettingsRow& row);

}  // namespace tervane::relay

#endif  // TERVANE_SERVICE_RELAY_SETTINGS_H_
