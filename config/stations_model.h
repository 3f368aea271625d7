// StationList: the further management stations of the page "General Settings", without the
// widgets. General_Setting's forward address, port and conversion stay the first station;
// ForwardTarget holds up to store::kMaxFurtherStations more, which the service sends to as
// well.
//
// The list is read from Tervix.mdb when the page is read, and again after every change.
// Each "Add...", "Edit..." and "Remove" stores its row at once, independently of the page's
// other fields. The station dialog checks what the user typed as the first station's fields
// are checked, with the same rules and words (store/station_rules.h); a refused value is
// named in a message titled "Tervix" and the dialog stays open with the user's texts and the
// focus on the field to correct. A station that another program removed meanwhile is said to
// be gone, and the list shows the stations as they are stored now. Read-only, the list is
// shown and nothing changes it.
#ifndef TERVANE_CONFIG_STATIONS_MODEL_H_
#define TERVANE_CONFIG_STATIONS_MODEL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "config/dialogs.h"
#include "config/station_fields.h"
#include "platform/status.h"
#include "store/rows.h"
#include "store/store.h"

namespace tervane::config {

// The names that refusals give the dialog's fields.
inline constexpr char kStationAddressWhat[] = "Further Station, IP Address";
inline constexpr char kStationPortWhat[] = "Further Station, Port";
inline constexpr char kAddStationTitle[] = "Add Further Station";
inline constexpr char kEditStationTitle[] = "Edit Further Station";

// The list entry of a station: "10.0.0.2:162" ("[2001:db8::2]:162" for IPv6), then "  SNMPv1" when
// it converts, "  community \"x\"" when it replaces the trap's community, "  (disabled)" when it is
// off.
std::string StationEntry(const StationFields& station);

// A ForwardTarget row as the dialog shows it: a flag left Null reads as the service reads it
// (enabled, not converted).
StationFields StationFieldsOf(const store::StationRow& row);

class StationList {
 public:
  StationList(std::string folder, Dialogs& dialogs)
      : folder_(std::move(folder)), dialogs_(dialogs) {}

  void SetAccess(store::Access access) { access_ = access; }
  bool read_only() const { return access_ == store::Access::kReadOnly; }

  // Reads ForwardTarget again. The selection stays on the station it was on while that is
  // still stored, else on the entry at its place (or the last one). On failure the list is
  // left as it was.
  Status Read();

  const std::vector<std::string>& entries() const { return entries_; }
  int size() const { return static_cast<int>(rows_.size()); }
  // The selected entry, -1 for none.
  int selected() const { return selected_; }
  void Select(int index);
  // What may be done now.
  bool can_add() const { return !read_only() && size() < store::kMaxFurtherStations; }
  bool can_change() const { return !read_only() && selected_ >= 0; }

  // "Add...": the dialog with an enabled station on port 162; the new station is selected.
  void cmdStationAdd_Click();
  // "Edit...": the dialog with the selected station; only what the user changed is written.
  void cmdStationEdit_Click();
  // "Remove": asks, then removes the selected station.
  void cmdStationRemove_Click();

 private:
  // Checks `now` and stores it as a new row (`id` 0) or over the row `id`, whose texts were
  // `was`: only the changed columns then.
  StationVerdict Store(const StationFields& now, int64_t id, const StationFields& was);
  // The station is gone (kErrorRowGone), or the table full: says so and reads the list again.
  void ReportAndRead(const Status& why, const std::string& station);
  void SelectId(int64_t id);

  std::string folder_;
  Dialogs& dialogs_;
  store::Access access_ = store::Access::kReadWrite;
  std::vector<store::StationRow> rows_;
  std::vector<StationFields> fields_;
  std::vector<std::string> entries_;
  int selected_ = -1;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_STATIONS_MODEL_H_
