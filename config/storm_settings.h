// StormSettings: storm control as the page "General Settings" shows it, without the widgets:
// the switch StormControl of table RelayOption (store/relay_options.h) as a check box, and the
// default rule of table StormRule (store/storm_rules.h, the row with the empty OidPrefix) as
// the texts of its rate per minute and its burst.
//
// Read with the General_Setting row and stored with it, each value only when the user changed
// it, so that what another program (tervane-svc) wrote after the page was read is kept: a
// changed rate writes the burst as the file holds it then, and the other way round. A changed
// number is checked with the store's ranges and words ("Storm Control, Burst: 0 is not a burst
// of traps (1 to 100000)"). A switch value written by hand that is not "0" or "1" shows as off
// and stays until the user changes the box. A file older than version 3 has neither table row:
// the page shows storm control off with the default rule's values, and nothing of it can be
// changed. The rules by trap OID prefix are not shown here; tervane-svc storm edits them.
#ifndef TERVANE_CONFIG_STORM_SETTINGS_H_
#define TERVANE_CONFIG_STORM_SETTINGS_H_

#include <optional>
#include <string>
#include <vector>

#include "config/model_fields.h"
#include "platform/status.h"
#include "store/rows.h"
#include "store/store.h"

namespace tervane::config {

// The names that refusals give the fields.
inline constexpr char kStormPerMinuteWhat[] = "Storm Control, Traps per minute";
inline constexpr char kStormBurstWhat[] = "Storm Control, Burst";

struct StormFields {
  bool on = false;
  std::string per_minute;
  std::string burst;
  friend bool operator==(const StormFields&, const StormFields&) = default;
};

class StormSettings {
 public:
  // Until Read(): off, with the default rule of a new file, not available.
  StormSettings();

  // Shows the switch among `options` and the default rule of `db`; nothing counts as changed.
  // Fails when the rules cannot be read, leaving what was shown.
  Status Read(const store::Store& db, const std::vector<store::RelayOption>& options);

  // The file holds storm control's settings (version 3 on): they can be changed.
  bool available() const { return available_; }
  const StormFields& shown() const { return shown_; }
  StormFields& shown() { return shown_; }

  // The user changed something since it was read or stored.
  bool edited() const { return available_ && shown_ != stored_; }
  // The first changed number that may not be stored, with its field. Either number changed
  // means the rule is written: the other one is checked too, as shown.
  std::optional<Refusal> Check() const;
  // Writes what the user changed and may be stored (a refused number is left out) into `db`;
  // it then counts as stored. Fails on the first write that fails: what was written before it
  // counts as stored, the rest does not.
  Status Write(store::Store& db);

 private:
  bool available_ = false;
  StormFields shown_;
  StormFields stored_;  // as read: what the user changed is what differs
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_STORM_SETTINGS_H_
