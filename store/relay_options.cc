#include "store/relay_options.h"

namespace tervane::store {

std::string_view SourceAddressModeText(SourceAddressMode mode) {
  switch (mode) {
    case SourceAddressMode::kAddWhenMissing:
      return "1";
    case SourceAddressMode::kReplace:
      return "replace";
    case SourceAddressMode::kKeep:
      break;
  }
  return "0";
}

Result<SourceAddressMode> ParseSourceAddressMode(std::string_view text) {
  for (SourceAddressMode mode : {SourceAddressMode::kKeep, SourceAddressMode::kAddWhenMissing,
                                 SourceAddressMode::kReplace}) {
    if (text == SourceAddressModeText(mode)) return mode;
  }
  return Status::Error(kErrorConversion, std::string(kOptionTable) + " " + kOptionAddSourceAddress +
                                             ": '" + std::string(text) +
                                             "' is not one of 0, 1 or replace");
}

Result<bool> ParseSwitchOption(std::string_view name, std::string_view text) {
  if (text == "0" || text == "1") return text == "1";
  return Status::Error(kErrorConversion, std::string(kOptionTable) + " " + std::string(name) +
                                             ": '" + std::string(text) + "' is not 0 or 1");
}

Result<RelayOptions> RelayOptionsFromRows(const std::vector<RelayOption>& rows) {
  RelayOptions options;
  for (const RelayOption& row : rows) {
    if (row.name == kOptionAddSourceAddress) {
      Result<SourceAddressMode> mode = ParseSourceAddressMode(row.value);
      if (!mode.ok()) return mode.status();
      options.add_source_address = *mode;
    } else if (row.name == kOptionStormControl) {
      Result<bool> on = ParseSwitchOption(row.name, row.value);
      if (!on.ok()) return on.status();
      options.storm_control = *on;
    }
    // An option of a newer program is not this one's to judge.
  }
  return options;
}

}  // namespace tervane::store
