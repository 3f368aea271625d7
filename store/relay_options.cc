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

Result<RelayOptions> RelayOptionsFromRows(const std::vector<RelayOption>& rows) {
  RelayOptions options;
  for (const RelayOption& row : rows) {
    if (row.name == kOptionAddSourceAddress) {
      Result<SourceAddressMode> mode = ParseSourceAddressMode(row.value);
      if (!mode.ok()) return mode.status();
      options.add_source_address = *mode;
    }
    // An option of a newer program is not this one's to judge.
  }
  return options;
}

}  // namespace tervane::store
