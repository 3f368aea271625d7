#include "store/rows.h"

#include <utility>

namespace tervane::store {
namespace {

static_assert(TrapVarPosition(1, VarField::kName) == 4 && kTrapColumns[4] == "VarName1");
static_assert(TrapVarPosition(14, VarField::kType) == 59 && kTrapColumns[59] == "VarType14");
static_assert(kTrapColumns[60] == "TrapNewNumber");

// The answer for a column that does not exist. Never destroyed, so that it stays valid for
// callers during static destruction too.
const Value& NullValue() {
  static const Value* const kNull = new Value();
  return *kNull;
}

const Value& ValueAt(const std::vector<Value>& values, int position) {
  if (position < 0 || static_cast<size_t>(position) >= values.size()) return NullValue();
  return values[static_cast<size_t>(position)];
}

}  // namespace

SettingsRow::SettingsRow(std::vector<Value> values) : values_(std::move(values)) {
  values_.resize(kSettingsColumns.size());
}

const Value& SettingsRow::ByName(std::string_view name) const {
  return ValueAt(values_, ColumnPosition(kSettingsColumns, name));
}

const Value& SettingsRow::At(int position) const { return ValueAt(values_, position); }

TrapRow::TrapRow(int64_t rowid, std::vector<Value> values)
    : rowid_(rowid), values_(std::move(values)) {
  values_.resize(kTrapColumns.size());
}

const Value& TrapRow::ByName(std::string_view name) const {
  return ValueAt(values_, ColumnPosition(kTrapColumns, name));
}

const Value& TrapRow::At(int position) const { return ValueAt(values_, position); }

}  // namespace tervane::store
