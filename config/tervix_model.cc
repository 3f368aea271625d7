#include "config/tervix_model.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/program_folder.h"

namespace tervane::config {

const std::vector<std::string>& FixedEntries(ListKind kind) {
  static const std::vector<std::string> kNumbers = [] {
    std::vector<std::string> v;
    for (int n = store::kFirstNewNumber; n <= store::kLastNewNumber; n += store::kNewNumberStep) {
      v.push_back(std::to_string(n));
    }
    return v;
  }();
  static const std::vector<std::string> kCounts = [] {
    std::vector<std::string> v;
    for (int n = 1; n <= store::kMaxNewVariables; ++n) v.push_back(std::to_string(n));
    return v;
  }();
  static const std::vector<std::string> kTypes(store::kVarTypeNames.begin(),
                                               store::kVarTypeNames.end());
  switch (kind) {
    case ListKind::kTrapNewNumber:
      return kNumbers;
    case ListKind::kTrapNewVarNo:
      return kCounts;
    case ListKind::kVarType:
      break;
  }
  return kTypes;
}

bool StartsWithLowercaseLetter(std::string_view name) {
  return !name.empty() && name[0] >= 'a' && name[0] <= 'z';
}

TervixModel::TervixModel(std::string folder, Dialogs& dialogs)
    : folder_(std::move(folder)),
      dialogs_(dialogs),
      service_page_(folder_),
      stations_(folder_, dialogs),
      counters_(folder_),
      v3_users_(folder_, dialogs) {}

Result<std::unique_ptr<TervixModel>> TervixModel::Open(const std::string& folder, Dialogs& dialogs,
                                                       bool read_only) {
  std::unique_ptr<TervixModel> model(new TervixModel(folder, dialogs));
  // A user who may read but not write: the window shows the settings without storing any.
  store::Access access = read_only ? store::Access::kReadOnly : store::Access::kReadWrite;
  Result<store::Store> db = store::Store::Open(folder, access);
  if (!db.ok() && db.status().error() == kErrorReadOnly) {
    access = store::Access::kReadOnly;
    db = store::Store::Open(folder, access);
  }
  if (!db.ok() &&
      (db.status().error() == ErrnoCode(EACCES) || db.status().error() == ErrnoCode(EPERM))) {
    return Status::Error(db.status().error(),
                         "You may not read the settings database " +
                             JoinPath(folder, std::string(store::kDatabaseFileName)) +
                             ". The members of the group \"tervane\" may: ask an administrator "
                             "to add you to it (see the README), then log in again.");
  }
  if (!db.ok()) return db.status();
  model->access_ = access;
  model->stations_.SetAccess(access);
  model->v3_users_.SetAccess(access);
  if (model->read_only()) {
    model->read_only_notice_ =
        std::string(db->snapshot() ? "These settings are shown as last stored and "
                                   : "These settings ") +
        (read_only ? "are open read-only: nothing is changed."
                   : "can be read but not changed: members of the group \"tervane\" may change "
                     "them (see the README).");
  }
  if (Status s = model->ReadGeneral(); !s.ok()) return s;
  if (Status s = model->stations_.Read(); !s.ok()) return s;
  if (Status s = model->v3_users_.Read(); !s.ok()) return s;
  if (Status s = model->ReadDefinitions(std::nullopt); !s.ok()) return s;
  return model;
}

std::vector<std::string> TervixModel::Entries(ListKind kind, int row) const {
  std::vector<std::string> entries = FixedEntries(kind);
  const std::string* value = nullptr;
  switch (kind) {
    case ListKind::kTrapNewNumber:
      value = &shown_.TrapNewNumber;
      break;
    case ListKind::kTrapNewVarNo:
      value = &shown_.TrapNewVarNo;
      break;
    case ListKind::kVarType:
      if (row < 1 || row > kVarRows) return entries;
      value = &shown_.vars[row].VarType;
      break;
  }
  if (!value->empty() && std::find(entries.begin(), entries.end(), *value) == entries.end()) {
    entries.push_back(*value);
  }
  return entries;
}

std::optional<Field> TervixModel::TakeFocusRequest() { return std::exchange(focus_request_, {}); }

template <typename Model>
auto& TervixModel::TextIn(Model& m, const Field& field) {
  const int row = std::clamp(field.row, 1, kVarRows);
  switch (field.kind) {
    case FieldKind::kTrapRecvIpAddr:
      return m.general_.TrapRecvIpAddr;
    case FieldKind::kTrapRecvPort:
      return m.general_.TrapRecvPort;
    case FieldKind::kTrapForwIpAddr:
      return m.general_.TrapForwIpAddr;
    case FieldKind::kTrapForwPort:
      return m.general_.TrapForwPort;
    case FieldKind::kTrapOID:
      return m.shown_.TrapOID;
    case FieldKind::kTrapSourceVarNo:
      return m.shown_.TrapSourceVarNo;
    case FieldKind::kVarName:
      return m.shown_.vars[row].VarName;
    case FieldKind::kVarPos:
      return m.shown_.vars[row].VarPos;
    case FieldKind::kVarChar:
      return m.shown_.vars[row].VarChar;
    case FieldKind::kStormPerMinute:
      return m.storm_.shown().per_minute;
    case FieldKind::kStormBurst:
      return m.storm_.shown().burst;
    case FieldKind::kValToSplit:
      break;
  }
  return m.value_to_split_;
}

const std::string& TervixModel::Text(const Field& field) const { return TextIn(*this, field); }

std::string& TervixModel::TextOf(const Field& field) { return TextIn(*this, field); }

void TervixModel::SetText(const Field& field, std::string text) {
  // Read-only, only the sample (which is never stored) takes text.
  if (read_only() && field.kind != FieldKind::kValToSplit) return;
  // A file without storm control's settings has nothing to edit of them.
  const bool storm =
      field.kind == FieldKind::kStormPerMinute || field.kind == FieldKind::kStormBurst;
  if (storm && !storm_.available()) return;
  TextOf(field) = std::move(text);
  if (focused_ == field) focused_rule_ran_ = false;  // the new text has its rule to come
}

void TervixModel::FieldEntered(const Field& field) {
  focused_ = field;
  focused_rule_ran_ = false;
}

void TervixModel::FieldLeft(const Field& field) {
  if (focused_ != field || !focused_rule_ran_) RunLeaveRule(field);
  if (focused_ == field) focused_.reset();
}

void TervixModel::LeaveFocusedField() {
  if (!focused_ || focused_rule_ran_) return;
  RunLeaveRule(*focused_);
  focused_rule_ran_ = true;
}

bool TervixModel::tab1_Click(int page) {
  LeaveFocusedField();
  if (ended_) return false;
  if (page == page_) return true;
  std::optional<Refusal> refused;
  switch (page) {
    case kPageTraps:
      refused = SaveGeneralSetting();
      break;
    case kPageGeneral:
      refused = SaveSnmpTrapRecord();
      break;
    case kPageService:
    case kPageV3:
      refused = SaveSnmpTrapRecord();
      if (!refused) refused = SaveGeneralSetting();
      break;
    default:
      return false;
  }
  if (ended_) return false;
  if (refused) {
    Show(*refused);
    return false;
  }
  page_ = page;
  Status read;
  if (page == kPageTraps) read = ReadDefinitions(std::nullopt);
  // What the service wrote meanwhile (its status, the address it bound) is shown.
  if (page == kPageGeneral) read = ReadGeneral();
  if (page == kPageGeneral && read.ok()) read = stations_.Read();
  if (page == kPageV3) read = v3_users_.Read();
  if (read.error() == kErrorRowGone) {
    EndWithoutSettings(read);
    return false;
  }
  if (!read.ok()) Show({read, std::nullopt});
  if (page == kPageService) {
    counters_.Refresh();
    service_page_.PageSelected();
  }
  return true;
}

bool TervixModel::cmdExit_Click() {
  LeaveFocusedField();
  if (ended_) return true;
  // Both rows are stored even when one of them refuses: a refusal costs only its own edits.
  std::optional<Refusal> refused = SaveSnmpTrapRecord();
  std::optional<Refusal> general = SaveGeneralSetting();
  if (!refused) refused = std::move(general);
  if (!refused || ended_) return true;
  if (!dialogs_.AskYesNo(refused->why.description() +
                             ".\r\n\r\nDiscard the edits that cannot be stored, and exit?",
                         kTitleTervix, Icon::kQuestion)) {
    focus_request_ = refused->field;
    return false;
  }
  // What can be stored still is: only the refused values are discarded.
  (void)SaveSnmpTrapRecord(/*skip_refused=*/true);
  (void)SaveGeneralSetting(/*skip_refused=*/true);
  return true;
}

void TervixModel::EndWithoutSettings(const Status& why) {
  ended_ = true;
  dialogs_.Inform("The settings could not be read or stored: " + why.description() +
                      ".\r\n\r\nWithout its settings row Tervix.mdb cannot be used, and Tervix "
                      "ends. Edits not stored yet are lost.",
                  kTitleTervix, Icon::kCritical);
}

void TervixModel::Show(const Refusal& refusal) {
  if (refusal.field) {
    // A value the user typed: named, kept, and back under the user's hands.
    dialogs_.Inform(refusal.why.description() + ".", kTitleTervix, Icon::kExclamation);
    focus_request_ = refusal.field;
  } else {
    dialogs_.Inform("The settings could not be read or stored: " + refusal.why.description(),
                    kTitleTervix, Icon::kCritical);
  }
}

}  // namespace tervane::config
