#include "service/relay/definitions.h"

#include <gtest/gtest.h>

#include <vector>

namespace tervane::relay {
namespace {

using store::TrapRow;
using store::Value;

TrapRow Row(int64_t rowid, const std::string& oid, int new_vars, int number,
            const char* type = "DisplayString") {
  std::vector<Value> v(store::kTrapColumns.size());
  v[0] = "name" + std::to_string(rowid);
  v[1] = oid;
  v[2] = 1;
  v[3] = new_vars;
  v[60] = number;
  for (int i = 1; i <= 14; ++i) {
    v[store::TrapVarPosition(i, store::VarField::kName)] = "var" + std::to_string(i);
    v[store::TrapVarPosition(i, store::VarField::kPos)] = i;
    v[store::TrapVarPosition(i, store::VarField::kChar)] = 2 * i;
    v[store::TrapVarPosition(i, store::VarField::kType)] = type;
  }
  return TrapRow(rowid, std::move(v));
}

TEST(LoadDefinitions, DerivesOidsAndTypeCodes) {
  DefinitionTable table;
  std::vector<TrapRow> rows = {Row(1, "1.3.6.1.4.1.9.0.1", 14, 3900),
                               Row(2, "1.3.6.1.4.1.9.0.2", 1, 1000, "integer32"),
                               Row(3, "1.3.6.1.4.1.9.0.3", 0, 1100, "TimeTicks")};
  ASSERT_TRUE(LoadDefinitions(rows, table).ok());
  EXPECT_EQ(table[1].TrapNewNumber, "3900");
  EXPECT_EQ(table[1].new_number, 3900);
  EXPECT_EQ(table[1].NewVarOid[1], "1.3.6.1.4.1.32473.1.100.1.3901");
  EXPECT_EQ(table[1].NewVarOid[14], "1.3.6.1.4.1.32473.1.100.1.3914");
  EXPECT_EQ(table[1].NewVarPos[14], 14);
  EXPECT_EQ(table[1].NewVarChar[14], 28);
  EXPECT_EQ(table[1].NewVarType[14], 2);
  EXPECT_EQ(table[2].NewVarType[1], 0);  // names are compared exactly
  EXPECT_EQ(table[3].TrapNewVarNo, 0);
  EXPECT_TRUE(table[3].NewVarOid[1].empty());
  EXPECT_TRUE(table[4].TrapOID.empty());
  EXPECT_EQ(TypeCode("OBJECT IDENTIFIER"), 3);
  EXPECT_EQ(TypeCode("Gauge32"), 6);
  EXPECT_EQ(TypeCode("Counter64"), 0);

  // Without variables the number is needed only for the SNMPv1 form, which then fails alone.
  std::vector<TrapRow> unnumbered = {Row(1, "1.3.6.1.4.1.9.0.1", 0, 0)};
  unnumbered[0] = TrapRow(1, [] {
    std::vector<Value> v(store::kTrapColumns.size());
    v[1] = "1.3.6.1.4.1.9.0.1";
    v[2] = 1;
    v[3] = 0;
    v[60] = "next";
    return v;
  }());
  DefinitionTable loose;
  ASSERT_TRUE(LoadDefinitions(unnumbered, loose).ok());
  EXPECT_EQ(loose[1].TrapNewNumber, "next");
  EXPECT_EQ(loose[1].new_number, std::nullopt);
}

// Found by relay_fuzz: a definition with variables and trap number -4 loaded, its first
// variable's OID ending in ".-3", which no message can carry; every wrap of it failed at send.
TEST(LoadDefinitions, VariablesNeedATrapNumberFromZero) {
  DefinitionTable table;
  EXPECT_EQ(LoadDefinitions({Row(1, "1.3.6.1.4.1.9.0.1", 2, -4)}, table).code(),
            kErrorOverflow.number);
  EXPECT_TRUE(table[1].NewVarOid[1].empty());

  // Without variables the number makes no OID of its own: -4 stays the SNMPv1 specific-trap.
  DefinitionTable plain;
  ASSERT_TRUE(LoadDefinitions({Row(1, "1.3.6.1.4.1.9.0.1", 0, -4)}, plain).ok());
  EXPECT_EQ(plain[1].new_number, -4);

  DefinitionTable zero;
  ASSERT_TRUE(LoadDefinitions({Row(1, "1.3.6.1.4.1.9.0.1", 1, 0)}, zero).ok());
  EXPECT_EQ(zero[1].NewVarOid[1], "1.3.6.1.4.1.32473.1.100.1.1");
}

TEST(LoadDefinitions, FailuresKeepWhatWasLoaded) {
  std::vector<TrapRow> rows;
  for (int k = 1; k <= 31; ++k)
    rows.push_back(Row(k, "1.3.6.1.4.1.9.0." + std::to_string(k), 1, 1000));
  DefinitionTable table;
  Status s = LoadDefinitions(rows, table);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(table[30].TrapOID, "1.3.6.1.4.1.9.0.30");

  rows = {Row(1, "1.3.6.1.4.1.9.0.1", 2, 1000), Row(2, "1.3.6.1.4.1.9.0.2", 15, 1100),
          Row(3, "1.3.6.1.4.1.9.0.3", 1, 1200)};
  DefinitionTable second;
  EXPECT_FALSE(LoadDefinitions(rows, second).ok());
  EXPECT_EQ(second[2].NewVarOid[14], "1.3.6.1.4.1.32473.1.100.1.1114");
  EXPECT_TRUE(second[3].TrapOID.empty());

  std::vector<Value> v(store::kTrapColumns.size());
  v[1] = "1.3.6.1.4.1.9.0.9";  // TrapSourceVarNo is Null
  DefinitionTable third;
  EXPECT_FALSE(LoadDefinitions({TrapRow(1, v)}, third).ok());
}

}  // namespace
}  // namespace tervane::relay
