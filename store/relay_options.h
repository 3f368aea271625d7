// The relay-wide options of table RelayOption: their names, the values each takes, and the
// value a file has when the option was added by an upgrade (the behaviour the relay had before
// the option existed) or by a new database (the behaviour recommended now). Every option is
// added with its version's upgrade step, which writes its upgraded value.
//
// The window, the service and tervane-svc all read and check an option's text here, so a value
// is refused in the same words wherever it is met.
#ifndef TERVANE_STORE_RELAY_OPTIONS_H_
#define TERVANE_STORE_RELAY_OPTIONS_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "store/rows.h"

namespace tervane::store {

// Whether an SNMPv2 trap sent on carries the address of the device that sent it, as the
// binding snmpTrapAddress.0 (1.3.6.1.6.3.18.1.3.0):
// - kKeep ("0"): sent as received, nothing added;
// - kAddWhenMissing ("1"): a trap that carries none gets one, last, with the IPv4 address its
//   datagram came from;
// - kReplace ("replace"): always the datagram's source address, in place of any the device
//   sent.
inline constexpr char kOptionAddSourceAddress[] = "AddSourceAddress";
enum class SourceAddressMode { kKeep, kAddWhenMissing, kReplace };

// Whether storm control holds back traps over their StormRule's limit (store/storm_rules.h):
// "1" on, "0" off. Off in a new database as in an upgraded one, so nothing is held back
// until an administrator says so.
inline constexpr char kOptionStormControl[] = "StormControl";

// "0", "1", "replace".
std::string_view SourceAddressModeText(SourceAddressMode mode);
// The mode of one of those texts; anything else is refused, naming the option and the texts
// it takes.
Result<SourceAddressMode> ParseSourceAddressMode(std::string_view text);

// The options' values in a database made new, and in one upgraded to the version that added
// them.
struct OptionDefault {
  std::string_view name;
  std::string_view new_file;
  std::string_view upgraded;
  int version;  // the schema version that added the option
};
inline constexpr OptionDefault kOptionDefaults[] = {
    {kOptionAddSourceAddress, "1", "0", 2},
    {kOptionStormControl, "0", "0", 3},
};

// The relay's options as the service runs with them. An option without a row (a file older
// than version 2, a row removed by hand) has its upgraded value: what the relay did before
// the option existed. Fails on the first row whose value the option does not take.
struct RelayOptions {
  SourceAddressMode add_source_address = SourceAddressMode::kKeep;
  bool storm_control = false;
};
// "0" or "1" for the switch `name`; anything else is refused, naming it.
Result<bool> ParseSwitchOption(std::string_view name, std::string_view text);
Result<RelayOptions> RelayOptionsFromRows(const std::vector<RelayOption>& rows);

}  // namespace tervane::store

#endif  // TERVANE_STORE_RELAY_OPTIONS_H_
