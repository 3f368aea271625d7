// The rules of the configuration window, without the widgets: the General_Setting row and the
// shown trap definition as the user edits them, the definition list, the moments at which
// edits are stored, adding and removing definitions, the rules applied when a field is left,
// the marking of pieces in a sample value, and the checks made before anything is stored.
//
// The window shows this state and forwards every user action here; after each action it shows
// the state again. Message boxes, the "Add New" dialog and the file viewer go through Dialogs.
// The database is Tervix.mdb of the program folder, read and written through the store
// library; it is opened for each read or write, so a file removed or replaced while the window
// is open is noticed instead of written into the void.
//
// Commit points: the General_Setting row is stored when page 0, 2 or 3 is selected and on exit;
// the shown definition when page 1, 2 or 3 is selected, another definition is selected, a
// definition is added, and on exit. Before storing, what the user typed is checked (whole
// numbers in their ranges, IPv4 or IPv6 addresses); a refused value is named in a message titled
// "Tervix", the move that asked for the commit does not happen, and the field keeps its text
// and gets the focus. Only the columns whose text the user changed are written, so merely
// showing a row never changes a stored value, and the service's status is never written.
// The further stations of page 1 are stored apart from the row, each change at once
// (stations_model.h), and so are the SNMPv3 users of page 3 (v3_users_model.h). The relay option on
// page 1 (relay_option_list.h) and storm control's switch and default rule (storm_settings.h) are
// read and stored with the row, and written only when the user changed them. An IPv6 address is
// stored in its RFC 5952 form.
#ifndef TERVANE_CONFIG_TERVIX_MODEL_H_
#define TERVANE_CONFIG_TERVIX_MODEL_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/counters_model.h"
#include "config/dialogs.h"
#include "config/model_fields.h"
#include "config/relay_option_list.h"
#include "config/service_page.h"
#include "config/stations_model.h"
#include "config/storm_settings.h"
#include "config/v3_users_model.h"
#include "platform/status.h"
#include "store/rows.h"
#include "store/store.h"

namespace tervane::config {

class TervixModel {
 public:
  // Reads Tervix.mdb of `folder` and shows page 0 with the first definition. A user who may
  // read the file but not write it (or its folder) gets it read-only, as with `read_only`:
  // every value is shown and nothing is stored. Fails with the store's error when the file is
  // missing or unusable, and with a text that names the file and the group "tervane" when the
  // user may not even read it.
  static Result<std::unique_ptr<TervixModel>> Open(const std::string& folder, Dialogs& dialogs,
                                                   bool read_only = false);

  // --- What the window shows. ---
  // Opened read-only: the window lets nothing be changed, and says why in one line.
  bool read_only() const { return access_ == store::Access::kReadOnly; }
  // That line: empty when the settings can be changed.
  const std::string& read_only_notice() const { return read_only_notice_; }
  int page() const { return page_; }
  const GeneralFields& general() const { return general_; }
  // The list "Sender's address (snmpTrapAddress.0)" of page 1: option AddSourceAddress.
  const OptionList& source_address() const { return source_address_; }
  // The group "Storm Control" of page 1: its check box and the default rule's two fields.
  const StormSettings& storm() const { return storm_; }
  // The definition list, in table order, and the selected entry (-1: none).
  const std::vector<std::string>& trap_names() const { return names_; }
  int selected() const { return selected_; }
  // Showing: a definition is shown and its controls are usable. Empty: there is none, and
  // only "&Add..." is usable.
  bool showing() const { return selected_ >= 0; }
  const DefinitionFields& definition() const { return shown_; }
  // Variable rows 1 to usable_rows() are usable, the others disabled (they keep their values).
  int usable_rows() const { return usable_rows_; }
  const std::string& value_to_split() const { return value_to_split_; }
  // The entries of a list; for kVarType, of row `row`'s list.
  std::vector<std::string> Entries(ListKind kind, int row = 0) const;
  // The field that should get the keyboard focus now, once.
  std::optional<Field> TakeFocusRequest();
  // The text of a field as the window shows it.
  const std::string& Text(const Field& field) const;
  // The "Service Control" page, rebuilt from the service manager each time page 2 is selected.
  ServicePage& service_page() { return service_page_; }
  const ServicePage& service_page() const { return service_page_; }
  // The further stations of page 1, read with the General_Setting row; each change of them is
  // stored at once.
  StationList& stations() { return stations_; }
  const StationList& stations() const { return stations_; }
  // The service's counters of page 2, read when the page is selected and, by the window,
  // every CountersView::kRefreshMs while it is shown.
  CountersView& counters() { return counters_; }
  const CountersView& counters() const { return counters_; }
  // The page "SNMPv3": the engine ID and the users, read when the window opens and each time
  // the page is selected; each change of the users is stored at once.
  V3UserList& v3_users() { return v3_users_; }
  const V3UserList& v3_users() const { return v3_users_; }

  // The General_Setting row went away while the window was open (removed by another program):
  // the user has been told, nothing more is stored, and the program is to end (exit status 1).
  bool ended() const { return ended_; }

  // --- What the user does. Each returns after the state is updated. ---
  // Typing in a field.
  void SetText(const Field& field, std::string text);
  void SetDebugMode(bool on) {
    if (!read_only()) general_.DebugMode = on;
  }
  void SetConvV2ToV1(bool on) {
    if (!read_only()) general_.ConvV2ToV1 = on;
  }
  void SetStormControl(bool on) {
    if (!read_only() && storm_.available()) storm_.shown().on = on;
  }
  // Picking entry `index` of the list "Sender's address (snmpTrapAddress.0)".
  void cboAddSourceAddress_Click(int index) {
    if (!read_only()) source_address_.Pick(index);
  }
  // The keyboard focus entered or left a field. Leaving runs the field's rule; a commit runs
  // the rule of the field that still has the focus first (clicking a tab or a list entry does
  // not move the focus).
  void FieldEntered(const Field& field);
  void FieldLeft(const Field& field);

  // Selecting page `page`; false when the page may not change (a value was refused).
  bool tab1_Click(int page);
  // Selecting entry `index` of the definition list; false when it may not change.
  bool lbxTrapName_Click(int index);
  void cmdAdd_Click();
  void cmdRemove_Click();
  void cboTrapNewNumber_Click(const std::string& entry);
  void cboTrapNewVarNo_Click(const std::string& entry);
  void cboVarType_Click(int row, const std::string& entry);
  // Button "#row": the piece is the sample value's selection, given as the window's text
  // widget counts it (UTF-16 units from the start, and how many); position and count are
  // written in bytes of the sample's UTF-8 form, as the service cuts values.
  void cmdVar_Click(int row, int selection_start, int selection_length);
  // "&Exit" and the close box: stores the edits. True when the program is to end; false when
  // a value was refused and the user chose not to discard the edits.
  bool cmdExit_Click();
  void cmdReadMe_Click();
  // "Generate MIB File": writes Tervix.mib in the program folder from the stored definitions
  // (mib_module.h), opens it in the desktop's viewer, then lists in a message what a management
  // station will not load in it. A file that could not be written is named with the reason,
  // and the previous one is left as it was.
  void cmdGenerateMIB_Click();
  void cmdTrapOID_Click();
  void cmdValToSplit_Click();
  // The "Add New" dialog's name field lost the focus with `name` in it.
  void AddNewNameLeft(const std::string& name);

 private:
  TervixModel(std::string folder, Dialogs& dialogs);

  std::string& TextOf(const Field& field);
  // The text behind `field`, for the const and the changing use alike.
  template <typename Model>
  static auto& TextIn(Model& m, const Field& field);
  // Stores the edits of the row: nothing when stored (or nothing was edited), else why not.
  // A refused value keeps the whole row from being written, unless `skip_refused`: then the
  // other edits are stored and the first refusal is still returned.
  std::optional<Refusal> SaveGeneralSetting(bool skip_refused = false);
  std::optional<Refusal> SaveSnmpTrapRecord(bool skip_refused = false);
  // The message of a refusal, and the focus back to its field.
  void Show(const Refusal& refusal);
  // Says that the General_Setting row is gone, and ends the window's work.
  void EndWithoutSettings(const Status& why);
  // The rule of a field that is left, and of the field that has the focus before a commit
  // (once since the focus came or the text changed).
  void RunLeaveRule(const Field& field);
  void LeaveFocusedField();
  Status ReadGeneral();
  // Reads the definition list again and shows the first definition named `wanted`, else the
  // first one, or the Empty state. ShowDefinition says why when that fails.
  Status ReadDefinitions(const std::optional<std::string>& wanted);
  void ShowDefinition(const std::optional<std::string>& wanted);
  // The shown definition's name as it was read, in double quotes.
  std::string QuotedName() const;
  void ShowRow(int index, const store::TrapRow& row);
  void ShowEmpty();
  void EnableVarControls();
  // The file `name` of the program folder, found whatever the letter case of its name;
  // regular files only.
  std::optional<std::string> FindProgramFile(const std::string& name) const;
  void OpenProgramFile(const std::string& name, const char* missing);

  std::string folder_;
  Dialogs& dialogs_;
  store::Access access_ = store::Access::kReadWrite;
  std::string read_only_notice_;
  int page_ = kPageTraps;
  bool ended_ = false;

  GeneralFields general_;
  GeneralFields general_stored_;  // as read: what the user changed is what differs
  OptionList source_address_{store::kOptionAddSourceAddress, kSourceAddressChoices};
  StormSettings storm_;

  std::vector<std::string> names_;
  int selected_ = -1;
  // The shown row as it was read: its rowid and name name it for updates.
  int64_t shown_rowid_ = 0;
  store::Value shown_name_;
  DefinitionFields shown_;
  DefinitionFields shown_stored_;
  int usable_rows_ = 0;
  std::string value_to_split_;

  std::optional<Field> focused_;
  bool focused_rule_ran_ = false;
  std::optional<Field> focus_request_;

  ServicePage service_page_;
  StationList stations_;
  CountersView counters_;
  V3UserList v3_users_;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_TERVIX_MODEL_H_
