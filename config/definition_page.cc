// The page "SNMP Traps": the definition list, adding and removing definitions, showing one,
// its pick-only lists, and storing the shown definition.
#include <algorithm>

#include "config/row_writer.h"
#include "config/tervix_model.h"
#include "store/definition_rules.h"
#include "store/number_text.h"
#include "store/store.h"
#include "store/trap_name.h"

namespace tervane::config {

namespace {

// The rules for the values are the store's (definition_rules.h), which tervane-svc import
// applies too.
using store::kCountRange;
using store::kPositionRange;
using store::kSourceRange;

std::string FieldName(const std::string& trap, const char* field) {
  return "Trap \"" + trap + "\", " + field;
}

std::string VarFieldName(const std::string& trap, int row, const char* field) {
  return "Trap \"" + trap + "\", variable " + std::to_string(row) + ", " + field;
}

}  // namespace

bool TervixModel::lbxTrapName_Click(int index) {
  LeaveFocusedField();
  if (index < 0 || index >= static_cast<int>(names_.size())) return false;
  if (index == selected_) return true;
  // By name: the list may be read again while the shown definition is stored.
  const std::string wanted = names_[static_cast<size_t>(index)];
  if (std::optional<Refusal> refused = SaveSnmpTrapRecord()) {
    Show(*refused);
    return false;
  }
  ShowDefinition(wanted);
  return true;
}

void TervixModel::cmdAdd_Click() {
  LeaveFocusedField();
  if (read_only()) return;
  if (names_.size() >= kMaxDefinitions) {
    dialogs_.Inform("Max 30 Traps Can Be Defined.", kTitleTervix, Icon::kInformation);
    return;
  }
  // The shown definition is stored first, so that a refused value is corrected before the
  // dialog asks for the new name.
  if (std::optional<Refusal> refused = SaveSnmpTrapRecord()) {
    Show(*refused);
    return;
  }
  const std::optional<std::string> name = dialogs_.AskNewTrapName();
  bool taken = !name || name->empty();
  if (!taken) {
    // Without regard to case, for every letter: "ÜberTrap" is "überTrap".
    for (const std::string& existing : names_) {
      if (!store::SameTrapName(existing, *name)) continue;
      dialogs_.Inform("The name already exists in the database.", kTitleTervane,
                      Icon::kInformation);
      taken = true;
    }
  }
  if (taken) {
    if (!names_.empty()) ShowDefinition(std::nullopt);
    return;
  }
  store::ColumnValues columns = {{"TrapName", store::Value(*name)},
                                 {"TrapSourceVarNo", store::Value(1)},
                                 {"TrapNewNumber", store::Value(1000)},
                                 {"TrapNewVarNo", store::Value(3)}};
  for (int i = 1; i <= kVarRows; ++i) {
    const std::string n = std::to_string(i);
    columns.emplace_back("VarName" + n, store::Value("var" + n));
    columns.emplace_back("VarPos" + n, store::Value(1));
    columns.emplace_back("VarChar" + n, store::Value(0));
    columns.emplace_back("VarType" + n, store::Value("DisplayString"));
  }
  Result<store::Store> db = store::Store::Open(folder_, access_);
  Result<int64_t> added = db.ok() ? db->AddTrap(columns) : Result<int64_t>(db.status());
  if (!added.ok()) {
    Show({added.status(), std::nullopt});
    return;
  }
  ShowDefinition(*name);
  focus_request_ = Field{FieldKind::kTrapOID};
}

void TervixModel::cmdRemove_Click() {
  LeaveFocusedField();
  if (!showing() || read_only()) return;
  if (!dialogs_.AskYesNo("Are you sure you want to remove the Trap?\r\n\r\n", kTitleTervane,
                         Icon::kExclamation)) {
    return;
  }
  Result<store::Store> db = store::Store::Open(folder_, access_);
  Status removed = db.ok() ? db->DeleteTrap(shown_rowid_, shown_name_) : db.status();
  if (removed.error() == kErrorRowGone) {
    dialogs_.Inform("The trap definition " + QuotedName() +
                        " had already been removed or renamed by another program. The list "
                        "shows the definitions as they are stored now.",
                    kTitleTervix, Icon::kExclamation);
  } else if (!removed.ok()) {
    Show({removed, std::nullopt});
    return;
  }
  ShowDefinition(std::nullopt);
}

void TervixModel::cboTrapNewNumber_Click(const std::string& entry) {
  if (showing() && !read_only()) shown_.TrapNewNumber = entry;
}

void TervixModel::cboTrapNewVarNo_Click(const std::string& entry) {
  if (!showing() || read_only()) return;
  shown_.TrapNewVarNo = entry;
  EnableVarControls();
}

void TervixModel::cboVarType_Click(int row, const std::string& entry) {
  if (showing() && !read_only() && row >= 1 && row <= kVarRows) shown_.vars[row].VarType = entry;
}

void TervixModel::AddNewNameLeft(const std::string& name) {
  if (!StartsWithLowercaseLetter(name)) {
    dialogs_.Inform(kFirstLetterWarning, kTitleTervix, Icon::kExclamation);
  }
}

Status TervixModel::ReadDefinitions(const std::optional<std::string>& wanted) {
  Result<store::Store> db = store::Store::Open(folder_, access_);
  Result<std::vector<store::TrapRow>> rows =
      db.ok() ? db->ReadTraps() : Result<std::vector<store::TrapRow>>(db.status());
  if (!rows.ok()) return rows.status();
  names_.clear();
  for (const store::TrapRow& row : *rows) names_.push_back(row.ByName("TrapName").AsText());
  if (names_.empty()) {
    ShowEmpty();
    return Status::Ok();
  }
  // A name that is no longer there (renamed or removed by other means) shows the first.
  const auto found = wanted ? std::find(names_.begin(), names_.end(), *wanted) : names_.end();
  const size_t index = found == names_.end() ? 0 : static_cast<size_t>(found - names_.begin());
  ShowRow(static_cast<int>(index), (*rows)[index]);
  return Status::Ok();
}

void TervixModel::ShowDefinition(const std::optional<std::string>& wanted) {
  if (Status s = ReadDefinitions(wanted); !s.ok()) Show({s, std::nullopt});
}

void TervixModel::ShowRow(int index, const store::TrapRow& row) {
  selected_ = index;
  shown_rowid_ = row.rowid();
  shown_name_ = row.ByName("TrapName");
  shown_.TrapOID = row.ByName("TrapOID").AsText();
  shown_.TrapSourceVarNo = row.ByName("TrapSourceVarNo").AsText();
  shown_.TrapNewNumber = row.ByName("TrapNewNumber").AsText();
  shown_.TrapNewVarNo = row.ByName("TrapNewVarNo").AsText();
  for (int i = 1; i <= kVarRows; ++i) {
    VarFields& v = shown_.vars[i];
    v.VarName = row.Var(i, store::VarField::kName).AsText();
    v.VarPos = row.Var(i, store::VarField::kPos).AsText();
    v.VarChar = row.Var(i, store::VarField::kChar).AsText();
    v.VarType = row.Var(i, store::VarField::kType).AsText();
  }
  shown_stored_ = shown_;
  EnableVarControls();
}

void TervixModel::ShowEmpty() {
  selected_ = -1;
  shown_rowid_ = 0;
  shown_name_ = store::Value();
  shown_ = DefinitionFields();
  shown_stored_ = shown_;
  EnableVarControls();
}

void TervixModel::EnableVarControls() {
  usable_rows_ = 0;
  if (!showing() || shown_.TrapNewVarNo.empty()) return;
  Result<int64_t> n = store::ParseNumberText(shown_.TrapNewVarNo, store::NumberStyle::kRounded,
                                             store::kInt16Range, "TrapNewVarNo");
  if (n.ok()) usable_rows_ = static_cast<int>(std::clamp<int64_t>(*n, 0, kVarRows));
}

std::optional<Refusal> TervixModel::SaveSnmpTrapRecord(bool skip_refused) {
  if (!showing() || read_only()) return std::nullopt;
  const std::string& trap = names_[static_cast<size_t>(selected_)];
  const DefinitionFields& now = shown_;
  DefinitionFields& was = shown_stored_;
  RowWriter row(skip_refused);
  row.Text(now.TrapOID, was.TrapOID, "TrapOID");
  row.Number(now.TrapSourceVarNo, was.TrapSourceVarNo, "TrapSourceVarNo", kSourceRange,
             FieldName(trap, "Wrap Source Variable #"), Field{FieldKind::kTrapSourceVarNo});
  // The lists' entries are numbers; an entry kept from a row written by other means is
  // unchanged, and so never written back.
  row.Number(now.TrapNewNumber, was.TrapNewNumber, "TrapNewNumber", store::kNewNumberRange,
             FieldName(trap, "trap number"), Field{FieldKind::kTrapOID});
  row.Number(now.TrapNewVarNo, was.TrapNewVarNo, "TrapNewVarNo", store::kNewVarCountRange,
             FieldName(trap, "New Variables"), Field{FieldKind::kTrapOID});
  for (int i = 1; i <= kVarRows; ++i) {
    const std::string n = std::to_string(i);
    row.Text(now.vars[i].VarName, was.vars[i].VarName, "VarName" + n);
    row.Number(now.vars[i].VarPos, was.vars[i].VarPos, "VarPos" + n, kPositionRange,
               VarFieldName(trap, i, "Pos"), Field{FieldKind::kVarPos, i});
    row.Number(now.vars[i].VarChar, was.vars[i].VarChar, "VarChar" + n, kCountRange,
               VarFieldName(trap, i, "Char"), Field{FieldKind::kVarChar, i});
    row.Text(now.vars[i].VarType, was.vars[i].VarType, "VarType" + n);
  }
  std::optional<Refusal> refused = row.Finish([&](const store::ColumnValues& columns) {
    Result<store::Store> db = store::Store::Open(folder_, access_);
    return db.ok() ? db->UpdateTrap(shown_rowid_, shown_name_, columns) : db.status();
  });
  if (!refused || refused->why.error() != kErrorRowGone) return refused;
  // Removed or renamed by another program since it was shown: its edits have no row to go
  // to. They are dropped, said so once, and the move that asked for the store goes on.
  dialogs_.Inform("The trap definition " + QuotedName() +
                      " was removed or renamed by another program, so its edits were not "
                      "stored. The list shows the definitions as they are stored now.",
                  kTitleTervix, Icon::kExclamation);
  ShowDefinition(std::nullopt);
  return std::nullopt;
}

std::string TervixModel::QuotedName() const { return "\"" + shown_name_.AsText() + "\""; }

}  // namespace tervane::config
