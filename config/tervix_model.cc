#include "config/tervix_model.h"

namespace tervane::config {

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

}  // namespace tervane::config

// A first shape of the rules, enough for the window to be built against; replaced next.
namespace tervane::config {

bool StartsWithLowercaseLetter(std::string_view name) {
  return !name.empty() && name[0] >= 'a' && name[0] <= 'z';
}

TervixModel::TervixModel(std::string folder, Dialogs& dialogs)
    : folder_(std::move(folder)), dialogs_(dialogs) {}

Result<std::unique_ptr<TervixModel>> TervixModel::Open(const std::string& folder,
                                                       Dialogs& dialogs) {
  return std::unique_ptr<TervixModel>(new TervixModel(folder, dialogs));
}

std::vector<std::string> TervixModel::Entries(ListKind kind, int) const {
  return FixedEntries(kind);
}
std::optional<Field> TervixModel::TakeFocusRequest() {
  std::optional<Field> f = focus_request_;
  focus_request_.reset();
  return f;
}
const std::string& TervixModel::Text(const Field&) const { return value_to_split_; }
void TervixModel::SetText(const Field&, std::string) {}
void TervixModel::FieldEntered(const Field&) {}
void TervixModel::FieldLeft(const Field&) {}
bool TervixModel::tab1_Click(int page) {
  page_ = page;
  return true;
}
bool TervixModel::lbxTrapName_Click(int) { return true; }
void TervixModel::cmdAdd_Click() {}
void TervixModel::cmdRemove_Click() {}
void TervixModel::cboTrapNewNumber_Click(const std::string&) {}
void TervixModel::cboTrapNewVarNo_Click(const std::string&) {}
void TervixModel::cboVarType_Click(int, const std::string&) {}
void TervixModel::cmdVar_Click(int, int, int) {}
bool TervixModel::cmdExit_Click() { return true; }
void TervixModel::cmdReadMe_Click() {}
void TervixModel::cmdTrapOID_Click() {}
void TervixModel::cmdValToSplit_Click() {}
void TervixModel::AddNewNameLeft(const std::string&) {}

}  // namespace tervane::config
