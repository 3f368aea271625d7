// A further management station as the window edits it: its texts and switches, which field a
// refused value is corrected in, and what the station dialog does after "&OK".
#ifndef TERVANE_CONFIG_STATION_FIELDS_H_
#define TERVANE_CONFIG_STATION_FIELDS_H_

#include <functional>
#include <string>

namespace tervane::config {

struct StationFields {
  std::string address;
  std::string port;
  bool to_v1 = false;
  // Empty: the trap's own community string.
  std::string community;
  bool enabled = true;
  friend bool operator==(const StationFields&, const StationFields&) = default;
};

enum class StationField { kAddress, kPort, kToV1, kCommunity, kEnabled };

// After "&OK": the dialog closes, or it stays open with what the user typed and the focus on
// `focus` (a value was refused, or the database could not be written).
struct StationVerdict {
  bool close = true;
  StationField focus = StationField::kAddress;
};

// Stores or refuses what the dialog holds when "&OK" is pressed.
using StationAccept = std::function<StationVerdict(const StationFields& fields)>;

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_STATION_FIELDS_H_
