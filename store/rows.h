// The two tables of the settings database, General_Setting and SnmpTrap: their column names
// in table order, and the row types the store hands out.
//
// The column order is fixed by the file's schema (store/schema.sql) and is part of the
// interface: the SnmpTrap variable columns are addressed by position, variable i
// (1 to 14) at positions 4i (VarName<i>), 4i+1 (VarPos<i>), 4i+2 (VarChar<i>) and 4i+3
// (VarType<i>). The named columns are addressed by name. Rows keep every column as the
// Value the file holds; converting them is the reader's business (store/convert.h).
#ifndef TERVANE_STORE_ROWS_H_
#define TERVANE_STORE_ROWS_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/value.h"

namespace tervane::store {

inline constexpr std::string_view kSettingsTable = "General_Setting";
inline constexpr std::string_view kTrapTable = "SnmpTrap";

inline constexpr std::array<std::string_view, 7> kSettingsColumns = {
    "DebugMode",      "TrapRecvIpAddr", "TrapRecvPort", "TrapRecvStatus",
    "TrapForwIpAddr", "TrapForwPort",   "ConvV2ToV1"};

inline constexpr int kTrapVariableCount = 14;
// One variable's block per line, so the positions can be read off.
// clang-format off
inline constexpr std::array<std::string_view, 61> kTrapColumns = {
    "TrapName",   "TrapOID",   "TrapSourceVarNo", "TrapNewVarNo",
    "VarName1",   "VarPos1",   "VarChar1",        "VarType1",
    "VarName2",   "VarPos2",   "VarChar2",        "VarType2",
    "VarName3",   "VarPos3",   "VarChar3",        "VarType3",
    "VarName4",   "VarPos4",   "VarChar4",        "VarType4",
    "VarName5",   "VarPos5",   "VarChar5",        "VarType5",
    "VarName6",   "VarPos6",   "VarChar6",        "VarType6",
    "VarName7",   "VarPos7",   "VarChar7",        "VarType7",
    "VarName8",   "VarPos8",   "VarChar8",        "VarType8",
    "VarName9",   "VarPos9",   "VarChar9",        "VarType9",
    "VarName10",  "VarPos10",  "VarChar10",       "VarType10",
    "VarName11",  "VarPos11",  "VarChar11",       "VarType11",
    "VarName12",  "VarPos12",  "VarChar12",       "VarType12",
    "VarName13",  "VarPos13",  "VarChar13",       "VarType13",
    "VarName14",  "VarPos14",  "VarChar14",       "VarType14",
    "TrapNewNumber"};
// clang-format on

// The further management stations (schema version 1 on): up to kMaxFurtherStations rows, in
// Id order. General_Setting's forward columns stay the first station.
inline constexpr std::string_view kStationTable = "ForwardTarget";
inline constexpr std::array<std::string_view, 6> kStationColumns = {
    "Id", "Address", "Port", "ConvV2ToV1", "Community", "Enabled"};
inline constexpr int kMaxStations = 16;
inline constexpr int kMaxFurtherStations = kMaxStations - 1;

// The service's counters (schema version 1 on): one row per counter, written whole by the
// service every few seconds.
inline constexpr std::string_view kStatisticsTable = "RelayStatistics";
inline constexpr std::array<std::string_view, 5> kStatisticsColumns = {"Name", "Label", "Value",
                                                                       "Since", "Written"};

// Relay-wide options (schema version 2 on): one row per option, by name; see
// store/relay_options.h for the names and their values.
inline constexpr std::string_view kOptionTable = "RelayOption";
inline constexpr std::array<std::string_view, 2> kOptionColumns = {"Name", "Value"};

// The four columns of each SnmpTrap variable, in their order within the variable's block.
enum class VarField { kName = 0, kPos = 1, kChar = 2, kType = 3 };

// Position of a variable's column: 4 * variable + field, for variable 1 to 14.
constexpr int TrapVarPosition(int variable, VarField field) {
  return 4 * variable + static_cast<int>(field);
}

// Position of `name` among `columns`, or -1 when it is not one of them. Exact comparison:
// the code addresses columns by their canonical names.
template <size_t N>
constexpr int ColumnPosition(const std::array<std::string_view, N>& columns,
                             std::string_view name) {
  for (size_t i = 0; i < N; ++i) {
    if (columns[i] == name) return static_cast<int>(i);
  }
  return -1;
}

// The single General_Setting row, every column in table order.
class SettingsRow {
 public:
  SettingsRow() : values_(kSettingsColumns.size()) {}
  explicit SettingsRow(std::vector<Value> values);

  // The column of that name, or Null when `name` is not a General_Setting column (which
  // every conversion in store/convert.h then refuses, naming the column).
  const Value& ByName(std::string_view name) const;
  // The column at `position` (0 to 6), or Null outside that range.
  const Value& At(int position) const;

 private:
  std::vector<Value> values_;
};

// One SnmpTrap row: its rowid, which identifies it for updates and deletes and gives the
// table's natural order, and its 61 columns in table order.
class TrapRow {
 public:
  TrapRow() : values_(kTrapColumns.size()) {}
  TrapRow(int64_t rowid, std::vector<Value> values);

  int64_t rowid() const { return rowid_; }
  // The column of that name, or Null when `name` is not an SnmpTrap column.
  const Value& ByName(std::string_view name) const;
  // The column at `position` (0 to 60), or Null outside that range.
  const Value& At(int position) const;
  // A column of variable 1 to 14: At(TrapVarPosition(variable, field)).
  const Value& Var(int variable, VarField field) const {
    return At(TrapVarPosition(variable, field));
  }

 private:
  int64_t rowid_ = 0;
  std::vector<Value> values_;
};

// One ForwardTarget row: its Id and its columns as stored (Address, Port, ConvV2ToV1,
// Community, Enabled; converting them is store/station_rules.h's business).
struct StationRow {
  int64_t id = 0;
  Value address;
  Value port;
  Value conv_v2_to_v1;
  Value community;
  Value enabled;
};

// One RelayOption row.
struct RelayOption {
  std::string name;
  std::string value;
};

// One RelayStatistics row. Since and Written are UTC stamps "2026-12-08T22:51:48Z".
struct StatisticRow {
  std::string name;
  std::string label;
  int64_t value = 0;
  std::string since;
  std::string written;
};

}  // namespace tervane::store

#endif  // TERVANE_STORE_ROWS_H_
