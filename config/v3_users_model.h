// V3UserList: the page "SNMPv3" without the widgets: this relay's engine ID, and the SNMPv3
// users that the service accepts traps and informs from (store/v3_users.h).
//
// Read when the window opens and whenever the page is selected. Like the further stations,
// each "Add...", "Edit..." and "Remove" stores at once, independently of the other pages; the
// user dialog's values are checked by config/v3_user_edit.h, and a refused value is named in a
// message titled "Tervix" while the dialog stays open with the focus on the field. The service
// reads its users when it starts, so a change takes effect at its next start. A file older than
// schema version 4 (opened read-only, so not upgraded) has neither users nor engine: the page
// says so and offers nothing. Read-only, the users are shown and nothing changes them.
#ifndef TERVANE_CONFIG_V3_USERS_MODEL_H_
#define TERVANE_CONFIG_V3_USERS_MODEL_H_

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "config/dialogs.h"
#include "config/v3_user_edit.h"
#include "platform/status.h"
#include "store/store.h"
#include "store/v3_users.h"

namespace tervane::config {

class V3UserList {
 public:
  V3UserList(std::string folder, Dialogs& dialogs)
      : folder_(std::move(folder)), dialogs_(dialogs) {}

  void SetAccess(store::Access access) { access_ = access; }
  bool read_only() const { return access_ == store::Access::kReadOnly; }

  // Reads the engine and the users again; the selection stays on the user it was on while that
  // is still stored, else on the entry at its place. Fails only when the file cannot be opened,
  // leaving the page as it was; a table whose rows are refused shows no user, and the note says
  // why.
  Status Read();

  // The file has the tables of SNMPv3 (version 4 on) and they could be read.
  bool available() const { return available_; }
  // This relay's engine ID in hex; empty when not available.
  const std::string& engine_id() const { return engine_id_; }
  // Why the page offers nothing: empty when available.
  const std::string& note() const { return note_; }
  const std::vector<store::V3User>& users() const { return users_; }
  // The list's rows (V3UserCells), in the table's order.
  const std::vector<std::array<std::string, 5>>& rows() const { return rows_; }
  int size() const { return static_cast<int>(users_.size()); }
  // The selected user, -1 for none.
  int selected() const { return selected_; }
  void Select(int index);
  // What may be done now.
  bool can_add() const { return available_ && !read_only() && size() < store::kMaxV3Users; }
  bool can_change() const { return available_ && !read_only() && selected_ >= 0; }

  // "Add...": the dialog for a new user of any engine, without authentication; the new user is
  // selected.
  void cmdAddV3User_Click();
  // "Edit...": the dialog with the selected user; its keys stay unless passwords are typed.
  void cmdEditV3User_Click();
  // "Remove": asks, then removes the selected user.
  void cmdRemoveV3User_Click();

 private:
  // Checks what was typed and stores it, as a new user or in place of `was`.
  V3UserVerdict Store(const V3UserFields& typed, const std::optional<store::V3User>& was);
  void SelectUser(const std::string& name, const std::vector<uint8_t>& engine_id);
  // The table was full, or the file could not be read: says so and reads the list again.
  void ReportAndRead(const Status& why);

  std::string folder_;
  Dialogs& dialogs_;
  store::Access access_ = store::Access::kReadWrite;
  bool available_ = false;
  std::string engine_id_;
  std::string note_;
  std::vector<store::V3User> users_;
  std::vector<std::array<std::string, 5>> rows_;
  int selected_ = -1;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_V3_USERS_MODEL_H_
