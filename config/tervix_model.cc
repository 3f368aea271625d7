#include "config/tervix_model.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <utility>

#include "config/mib_module.h"
#include "platform/program_folder.h"
#include "service/snmp/value_text.h"
#include "store/convert.h"
#include "store/number_text.h"
#include "store/store.h"

namespace tervane::config {
namespace {

constexpr char kTitleTervix[] = "Tervix";
constexpr char kTitleTervane[] = "Tervane";

// The ranges the service can use: a source binding it keeps (1 to 20), a piece position from 1
// and a count from 0, both within 16 bits.
constexpr store::NumberRange kSourceRange{1, 20, "is not a binding the service keeps (1 to 20)",
                                          kErrorInvalidArgument};
constexpr store::NumberRange kPositionRange{1, 32767, "is not a position (1 to 32767)",
                                            kErrorInvalidArgument};
constexpr store::NumberRange kCountRange{0, 32767, "is not a number of characters (0 to 32767)",
                                         kErrorInvalidArgument};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Whether `text` starts with a number greater than 0: blanks skipped, then a sign, digits,
// a fraction and an exponent; a text that starts with no number counts as 0.
bool StartsWithPositiveNumber(std::string_view text) {
  size_t i = text.find_first_not_of(" \t");
  if (i == std::string_view::npos) return false;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  bool non_zero = false;
  bool digits = false;
  for (; i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.');
       ++i) {
    if (text[i] == '.') continue;
    digits = true;
    non_zero |= text[i] != '0';
  }
  return digits && non_zero && !negative;
}

// Bytes of the UTF-8 `text` up to the `units`-th UTF-16 unit: characters beyond U+FFFF take
// two units and four bytes.
size_t Utf8Bytes(std::string_view text, size_t units) {
  size_t bytes = 0;
  while (units > 0 && bytes < text.size()) {
    const auto lead = static_cast<unsigned char>(text[bytes]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    units -= std::min<size_t>(units, length == 4 ? 2 : 1);
    bytes = std::min(text.size(), bytes + length);
  }
  return bytes;
}

Status NotAnAddress(const std::string& what, const std::string& text) {
  return Status::Error(kErrorInvalidArgument,
                       what + ": " + snmp::QuoteText(text) + " is not an IPv4 address (a.b.c.d)");
}

std::string FieldName(const std::string& trap, const char* field) {
  return "Trap \"" + trap + "\", " + field;
}

std::string VarFieldName(const std::string& trap, int row, const char* field) {
  return "Trap \"" + trap + "\", variable " + std::to_string(row) + ", " + field;
}

}  // namespace

const std::vector<std::string>& FixedEntries(ListKind kind) {
  static const std::vector<std::string> kNumbers = [] {
    std::vector<std::string> v;
    for (int n = 1000; n <= 3900; n += 100) v.push_back(std::to_string(n));
    return v;
  }();
  static const std::vector<std::string> kCounts = [] {
    std::vector<std::string> v;
    for (int n = 1; n <= kVarRows; ++n) v.push_back(std::to_string(n));
    return v;
  }();
  static const std::vector<std::string> kTypes = {"Integer32", "DisplayString", "OBJECT IDENTIFIER",
                                                  "IpAddress", "Counter32",     "Gauge32",
                                                  "TimeTicks"};
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
    : folder_(std::move(folder)), dialogs_(dialogs), service_page_(folder_) {}

Result<std::unique_ptr<TervixModel>> TervixModel::Open(const std::string& folder,
                                                       Dialogs& dialogs) {
  std::unique_ptr<TervixModel> model(new TervixModel(folder, dialogs));
  if (Status s = model->ReadGeneral(); !s.ok()) return s;
  if (Status s = model->ShowFirstDefinition(); !s.ok()) return s;
  return model;
}

// --- What the window shows. ---

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
    case FieldKind::kValToSplit:
      break;
  }
  return m.value_to_split_;
}

const std::string& TervixModel::Text(const Field& field) const { return TextIn(*this, field); }

std::string& TervixModel::TextOf(const Field& field) { return TextIn(*this, field); }

// --- What the user does. ---

void TervixModel::SetText(const Field& field, std::string text) {
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

void TervixModel::RunLeaveRule(const Field& field) {
  const bool definition_field =
      field.kind != FieldKind::kTrapRecvIpAddr && field.kind != FieldKind::kTrapRecvPort &&
      field.kind != FieldKind::kTrapForwIpAddr && field.kind != FieldKind::kTrapForwPort;
  if (definition_field && !showing()) return;
  std::string& text = TextOf(field);
  switch (field.kind) {
    case FieldKind::kTrapOID:
      if (text.empty()) text = "1.3.6.1.4.1.";
      break;
    case FieldKind::kVarPos:
      if (!StartsWithPositiveNumber(text)) text = "1";
      break;
    case FieldKind::kVarChar:
      if (text.empty()) text = "0";
      break;
    case FieldKind::kVarName:
      if (!StartsWithLowercaseLetter(text)) {
        dialogs_.Inform(kFirstLetterWarning, kTitleTervix, Icon::kExclamation);
      }
      break;
    default:
      break;
  }
}

bool TervixModel::tab1_Click(int page) {
  LeaveFocusedField();
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
      refused = SaveSnmpTrapRecord();
      if (!refused) refused = SaveGeneralSetting();
      break;
    default:
      return false;
  }
  if (refused) {
    Show(*refused);
    return false;
  }
  page_ = page;
  Status read;
  if (page == kPageTraps) read = ShowFirstDefinition();
  // What the service wrote meanwhile (its status, the address it bound) is shown.
  if (page == kPageGeneral) read = ReadGeneral();
  if (!read.ok()) Show({read, std::nullopt});
  if (page == kPageService) service_page_.PageSelected();
  return true;
}

bool TervixModel::lbxTrapName_Click(int index) {
  LeaveFocusedField();
  if (index < 0 || index >= static_cast<int>(names_.size())) return false;
  if (index == selected_) return true;
  if (std::optional<Refusal> refused = SaveSnmpTrapRecord()) {
    Show(*refused);
    return false;
  }
  ShowDefinition(index);
  return true;
}

void TervixModel::cmdAdd_Click() {
  LeaveFocusedField();
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
    const std::string upper = Upper(*name);
    for (const std::string& existing : names_) {
      if (Upper(existing) != upper) continue;
      dialogs_.Inform("The name already exists in the database.", kTitleTervane,
                      Icon::kInformation);
      taken = true;
    }
  }
  if (taken) {
    if (!names_.empty()) ShowDefinition(0);
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
  Result<store::Store> db = store::Store::Open(folder_);
  Result<int64_t> added = db.ok() ? db->AddTrap(columns) : Result<int64_t>(db.status());
  if (!added.ok()) {
    Show({added.status(), std::nullopt});
    return;
  }
  names_.push_back(*name);
  ShowDefinition(static_cast<int>(names_.size()) - 1);
  focus_request_ = Field{FieldKind::kTrapOID};
}

void TervixModel::cmdRemove_Click() {
  LeaveFocusedField();
  if (!showing()) return;
  if (!dialogs_.AskYesNo("Are you sure you want to remove the Trap?\r\n\r\n", kTitleTervane,
                         Icon::kExclamation)) {
    return;
  }
  Result<store::Store> db = store::Store::Open(folder_);
  Status removed = db.ok() ? db->DeleteTrap(shown_rowid_, shown_name_) : db.status();
  if (!removed.ok()) {
    Show({removed, std::nullopt});
    return;
  }
  if (Status s = ShowFirstDefinition(); !s.ok()) Show({s, std::nullopt});
}

void TervixModel::cboTrapNewNumber_Click(const std::string& entry) {
  if (showing()) shown_.TrapNewNumber = entry;
}

void TervixModel::cboTrapNewVarNo_Click(const std::string& entry) {
  if (!showing()) return;
  shown_.TrapNewVarNo = entry;
  EnableVarControls();
}

void TervixModel::cboVarType_Click(int row, const std::string& entry) {
  if (showing() && row >= 1 && row <= kVarRows) shown_.vars[row].VarType = entry;
}

void TervixModel::cmdVar_Click(int row, int selection_start, int selection_length) {
  if (!showing() || row < 1 || row > usable_rows_) return;
  const size_t start =
      Utf8Bytes(value_to_split_, static_cast<size_t>(std::max(0, selection_start)));
  const size_t end =
      Utf8Bytes(value_to_split_, static_cast<size_t>(std::max(0, selection_start)) +
                                     static_cast<size_t>(std::max(0, selection_length)));
  shown_.vars[row].VarPos = std::to_string(start + 1);
  shown_.vars[row].VarChar = std::to_string(end - start);
}

bool TervixModel::cmdExit_Click() {
  LeaveFocusedField();
  // Both rows are stored even when one of them refuses: a refusal costs only its own edits.
  std::optional<Refusal> refused = SaveSnmpTrapRecord();
  std::optional<Refusal> general = SaveGeneralSetting();
  if (!refused) refused = std::move(general);
  if (!refused) return true;
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

void TervixModel::cmdReadMe_Click() { OpenProgramFile("readme.txt", "No ReadMe File Exist"); }
void TervixModel::cmdGenerateMIB_Click() {
  // The stored definitions, not the shown fields: the page of this button is reached only
  // after the shown definition was stored.
  const std::string path = JoinPath(folder_, kMibFileName);
  Result<std::vector<std::string>> warnings = GenerateMibFile(folder_, path);
  if (!warnings.ok()) {
    dialogs_.Inform("The MIB file could not be written: " + warnings.status().description(),
                    kTitleTervix, Icon::kCritical);
    return;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    dialogs_.Inform("No MIB File Exist", kTitleTervane, Icon::kInformation);
    return;
  }
  dialogs_.OpenFile(path);
  if (warnings->empty()) return;
  std::string text = kMibWarningsIntro;
  text += "\r\n";
  for (const std::string& warning : *warnings) text += "\r\n" + warning;
  dialogs_.Inform(text, kTitleTervane, Icon::kInformation);
}

void TervixModel::cmdTrapOID_Click() { OpenProgramFile("debug.txt", "No Debug File Exist"); }
void TervixModel::cmdValToSplit_Click() { OpenProgramFile("debug.txt", "No Debug File Exist"); }

void TervixModel::AddNewNameLeft(const std::string& name) {
  if (!StartsWithLowercaseLetter(name)) {
    dialogs_.Inform(kFirstLetterWarning, kTitleTervix, Icon::kExclamation);
  }
}

// --- Reading, showing and storing. ---

Status TervixModel::ReadGeneral() {
  Result<store::Store> db = store::Store::Open(folder_);
  if (!db.ok()) return db.status();
  Result<store::SettingsRow> row = db->ReadSettings();
  if (!row.ok()) return row.status();
  auto flag = [&](const char* column) {
    Result<bool> on = store::ToBoolean(row->ByName(column), column);
    return on.ok() && *on;
  };
  general_.DebugMode = flag("DebugMode");
  general_.TrapRecvIpAddr = row->ByName("TrapRecvIpAddr").AsText();
  general_.TrapRecvPort = row->ByName("TrapRecvPort").AsText();
  general_.TrapRecvStatus = row->ByName("TrapRecvStatus").AsText();
  general_.TrapForwIpAddr = row->ByName("TrapForwIpAddr").AsText();
  general_.TrapForwPort = row->ByName("TrapForwPort").AsText();
  general_.ConvV2ToV1 = flag("ConvV2ToV1");
  general_stored_ = general_;
  return Status::Ok();
}

Status TervixModel::ShowFirstDefinition() {
  Result<store::Store> db = store::Store::Open(folder_);
  Result<std::vector<store::TrapRow>> rows =
      db.ok() ? db->ReadTraps() : Result<std::vector<store::TrapRow>>(db.status());
  if (!rows.ok()) return rows.status();
  names_.clear();
  for (const store::TrapRow& row : *rows) names_.push_back(row.ByName("TrapName").AsText());
  if (names_.empty()) {
    ShowEmpty();
  } else {
    ShowRow(0, (*rows)[0]);
  }
  return Status::Ok();
}

void TervixModel::ShowDefinition(int index) {
  Result<store::Store> db = store::Store::Open(folder_);
  Result<std::vector<store::TrapRow>> rows =
      db.ok() ? db->ReadTraps() : Result<std::vector<store::TrapRow>>(db.status());
  if (!rows.ok()) {
    Show({rows.status(), std::nullopt});
    return;
  }
  const std::string& name = names_[static_cast<size_t>(index)];
  for (const store::TrapRow& row : *rows) {
    if (row.ByName("TrapName").AsText() == name) return ShowRow(index, row);
  }
  // Renamed or removed by other means: the list as the database holds it now.
  if (Status s = ShowFirstDefinition(); !s.ok()) Show({s, std::nullopt});
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

// Collects the columns of one row to write: a changed text as it is, a changed number checked
// and written as a number. The first refusal is kept; with `skip_refused` the refused values
// are left out and the others written all the same.
class TervixModel::RowWriter {
 public:
  explicit RowWriter(bool skip_refused) : skip_refused_(skip_refused) {}

  // False once a value was refused and the row is not to be written.
  bool going() const { return skip_refused_ || !refusal_; }
  void Text(const std::string& now, std::string& was, const std::string& column) {
    if (now == was || !going()) return;
    columns_.emplace_back(column, store::Value(now));
    updates_.emplace_back(&now, &was);
  }
  void Number(const std::string& now, std::string& was, const std::string& column,
              const store::NumberRange& range, const std::string& what, const Field& field) {
    if (now == was || !going()) return;
    Result<int64_t> n = store::ParseNumberText(now, store::NumberStyle::kWhole, range, what);
    if (!n.ok()) return Refuse(n.status(), field);
    columns_.emplace_back(column, store::Value(*n));
    updates_.emplace_back(&now, &was);
  }
  void Flag(const bool& now, bool& was, const std::string& column) {
    if (now == was || !going()) return;
    columns_.emplace_back(column, store::Value(now ? 1 : 0));
    flags_.emplace_back(&now, &was);
  }
  void Address(const std::string& now, std::string& was, const std::string& column,
               bool any_allowed, const std::string& what, const Field& field) {
    if (now == was || !going()) return;
    uint8_t octets[4];
    if (snmp::ParseIpText(now, octets) != nullptr ||
        (!any_allowed && std::all_of(octets, octets + 4, [](uint8_t o) { return o == 0; }))) {
      return Refuse(NotAnAddress(what, now), field);
    }
    columns_.emplace_back(column, store::Value(now));
    updates_.emplace_back(&now, &was);
  }
  void Refuse(const Status& why, const Field& field) {
    if (!refusal_) refusal_ = Refusal{why, field};
  }

  // Writes the columns with `write`; then what was written counts as stored.
  std::optional<Refusal> Finish(const std::function<Status(const store::ColumnValues&)>& write) {
    if (!going()) return refusal_;
    if (!columns_.empty()) {
      if (Status s = write(columns_); !s.ok()) return Refusal{s, std::nullopt};
    }
    for (auto& [now, was] : updates_) *was = *now;
    for (auto& [now, was] : flags_) *was = *now;
    return refusal_;
  }

 private:
  bool skip_refused_;
  std::optional<Refusal> refusal_;
  store::ColumnValues columns_;
  std::vector<std::pair<const std::string*, std::string*>> updates_;
  std::vector<std::pair<const bool*, bool*>> flags_;
};

std::optional<TervixModel::Refusal> TervixModel::SaveGeneralSetting(bool skip_refused) {
  // The status is the service's, and never written; the address only when the user changed
  // it, so that an address the service bound meanwhile is kept.
  const GeneralFields& now = general_;
  GeneralFields& was = general_stored_;
  RowWriter row(skip_refused);
  row.Flag(now.DebugMode, was.DebugMode, "DebugMode");
  row.Address(now.TrapRecvIpAddr, was.TrapRecvIpAddr, "TrapRecvIpAddr", true,
              "Receive Traps On, IP Address", Field{FieldKind::kTrapRecvIpAddr});
  row.Number(now.TrapRecvPort, was.TrapRecvPort, "TrapRecvPort", store::kPortRange,
             "Receive Traps On, Port", Field{FieldKind::kTrapRecvPort});
  // Every forward address but 0.0.0.0, which names no destination.
  row.Address(now.TrapForwIpAddr, was.TrapForwIpAddr, "TrapForwIpAddr", false,
              "Forward Traps To, IP Address", Field{FieldKind::kTrapForwIpAddr});
  row.Number(now.TrapForwPort, was.TrapForwPort, "TrapForwPort", store::kPortRange,
             "Forward Traps To, Port", Field{FieldKind::kTrapForwPort});
  row.Flag(now.ConvV2ToV1, was.ConvV2ToV1, "ConvV2ToV1");
  return row.Finish([&](const store::ColumnValues& columns) {
    Result<store::Store> db = store::Store::Open(folder_);
    return db.ok() ? db->WriteSettings(columns) : db.status();
  });
}

std::optional<TervixModel::Refusal> TervixModel::SaveSnmpTrapRecord(bool skip_refused) {
  if (!showing()) return std::nullopt;
  const std::string& trap = names_[static_cast<size_t>(selected_)];
  const DefinitionFields& now = shown_;
  DefinitionFields& was = shown_stored_;
  RowWriter row(skip_refused);
  row.Text(now.TrapOID, was.TrapOID, "TrapOID");
  row.Number(now.TrapSourceVarNo, was.TrapSourceVarNo, "TrapSourceVarNo", kSourceRange,
             FieldName(trap, "Wrap Source Variable #"), Field{FieldKind::kTrapSourceVarNo});
  // The lists' entries are numbers; an entry kept from a row written by other means is
  // unchanged, and so never written back.
  row.Number(now.TrapNewNumber, was.TrapNewNumber, "TrapNewNumber", store::kInt32Range,
             FieldName(trap, "trap number"), Field{FieldKind::kTrapOID});
  row.Number(now.TrapNewVarNo, was.TrapNewVarNo, "TrapNewVarNo", store::kInt16Range,
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
  return row.Finish([&](const store::ColumnValues& columns) {
    Result<store::Store> db = store::Store::Open(folder_);
    return db.ok() ? db->UpdateTrap(shown_rowid_, shown_name_, columns) : db.status();
  });
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

std::optional<std::string> TervixModel::FindProgramFile(const std::string& name) const {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path exact = fs::path(folder_) / name;
  if (fs::is_regular_file(exact, ec)) return exact.string();
  const std::string wanted = Upper(name);
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    if (Upper(it->path().filename().string()) == wanted && fs::is_regular_file(it->path(), ec)) {
      return it->path().string();
    }
  }
  return std::nullopt;
}

void TervixModel::OpenProgramFile(const std::string& name, const char* missing) {
  if (std::optional<std::string> path = FindProgramFile(name)) {
    dialogs_.OpenFile(*path);
  } else {
    dialogs_.Inform(missing, kTitleTervane, Icon::kInformation);
  }
}

}  // namespace tervane::config
