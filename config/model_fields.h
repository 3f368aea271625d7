// The fields and lists of the configuration window as its rules see them: which page is which,
// the fields the user types into, the pick-only lists and their entries, the General_Setting
// row and the shown definition as texts, and a value that may not be stored.
#ifndef TERVANE_CONFIG_MODEL_FIELDS_H_
#define TERVANE_CONFIG_MODEL_FIELDS_H_

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "store/definition_rules.h"

namespace tervane::config {

// The titles of the window's message boxes.
inline constexpr char kTitleTervix[] = "Tervix";
inline constexpr char kTitleTervane[] = "Tervane";

inline constexpr int kPageTraps = 0;
inline constexpr int kPageGeneral = 1;
inline constexpr int kPageService = 2;
inline constexpr int kPageV3 = 3;
inline constexpr int kVarRows = 14;
// The store's limits (definition_rules.h), which tervane-svc import applies too.
inline constexpr int kMaxDefinitions = store::kMaxDefinitions;
inline constexpr int kTrapNameLength = store::kTrapNameLength;

// What the read-only "Wrap To:" box shows: the prefix of every wrapped trap's OID.
inline constexpr char kWrapToPrefix[] = "1.3.6.1.4.1.32473.1.100.2.0.";

// The fields the user types into. Variable fields carry their row, 1 to 14.
enum class FieldKind {
  kTrapRecvIpAddr,
  kTrapRecvPort,
  kTrapForwIpAddr,
  kTrapForwPort,
  kTrapOID,
  kTrapSourceVarNo,
  kVarName,
  kVarPos,
  kVarChar,
  kValToSplit,
  kStormPerMinute,
  kStormBurst,
};
// The fields of page 1, which are stored with the General_Setting row.
inline bool IsGeneralField(FieldKind kind) {
  return kind == FieldKind::kTrapRecvIpAddr || kind == FieldKind::kTrapRecvPort ||
         kind == FieldKind::kTrapForwIpAddr || kind == FieldKind::kTrapForwPort ||
         kind == FieldKind::kStormPerMinute || kind == FieldKind::kStormBurst;
}
struct Field {
  FieldKind kind;
  int row = 0;
  friend bool operator==(const Field&, const Field&) = default;
};

// The pick-only lists. Each shows its fixed entries and, when the shown value is none of
// them (a row written by other means), that value as one more entry.
enum class ListKind { kTrapNewNumber, kTrapNewVarNo, kVarType };
// "1000", "1100", ..., "3900"; "1" to "14"; the seven type names in the editor's order: the
// store's lists (definition_rules.h).
const std::vector<std::string>& FixedEntries(ListKind kind);

struct GeneralFields {
  bool DebugMode = false;
  std::string TrapRecvIpAddr;
  std::string TrapRecvPort;
  std::string TrapRecvStatus;
  std::string TrapForwIpAddr;
  std::string TrapForwPort;
  bool ConvV2ToV1 = false;
};

struct VarFields {
  std::string VarName;
  std::string VarPos;
  std::string VarChar;
  std::string VarType;  // the row's hidden field behind its type list
};

// The shown definition's fields as texts; the lists' hidden fields included.
struct DefinitionFields {
  std::string TrapOID;
  std::string TrapSourceVarNo;
  std::string TrapNewNumber;
  std::string TrapNewVarNo;
  std::array<VarFields, kVarRows + 1> vars;  // 1-based: vars[i] is row i
};

// The warning of a name field whose first character is not a lowercase letter "a" to "z"
// (an empty name counts as one that does not start with one).
bool StartsWithLowercaseLetter(std::string_view name);
inline constexpr char kFirstLetterWarning[] = "Fist Character Must Be A Lowercase Letter";

// A value that may not be stored, with the field to correct it in; or, without a field, a
// database that could not be read or written.
struct Refusal {
  Status why;
  std::optional<Field> field;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_MODEL_FIELDS_H_
