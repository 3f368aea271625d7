// The frame "Variable Binding": the rules applied when a field is left, and the marking of a
// piece in the sample value.
#include <algorithm>
#include <cctype>

#include "config/tervix_model.h"

namespace tervane::config {

namespace {

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

}  // namespace

void TervixModel::RunLeaveRule(const Field& field) {
  const bool definition_field = !IsGeneralField(field.kind);
  if ((definition_field && !showing()) || read_only()) return;
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

void TervixModel::cmdVar_Click(int row, int selection_start, int selection_length) {
  if (!showing() || read_only() || row < 1 || row > usable_rows_) return;
  const size_t start =
      Utf8Bytes(value_to_split_, static_cast<size_t>(std::max(0, selection_start)));
  const size_t end =
      Utf8Bytes(value_to_split_, static_cast<size_t>(std::max(0, selection_start)) +
                                     static_cast<size_t>(std::max(0, selection_length)));
  shown_.vars[row].VarPos = std::to_string(start + 1);
  shown_.vars[row].VarChar = std::to_string(end - start);
}

}  // namespace tervane::config
