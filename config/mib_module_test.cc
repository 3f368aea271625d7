// The MIB module text against golden files, the number of object blocks a row declares, the
// stamp, and the list of what a station will not load.
//
// tests/testdata/mib/ holds the golden texts with LF line ends, as an editor shows them:
// header.mib is the head of every module (stamped 200612061131Z), each other file the sections
// of one case; the expected module is the head, the sections and "END", with CR LF line ends.
#include "config/mib_module.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace tervane::config {
namespace {

constexpr char kStamp[] = "200612061131Z";
constexpr char kNoMibName[] =
    " is not a MIB name (a lowercase letter first, then letters, digits and single hyphens, not "
    "ending in a hyphen, at most 64 characters)";

struct Var {
  store::Value name;
  store::Value type;
};

// One SnmpTrap row; the variables fill VarName<i> and VarType<i> from 1 on.
store::TrapRow Row(const store::Value& name, const store::Value& oid, const store::Value& number,
                   const store::Value& count, const std::vector<Var>& vars) {
  std::vector<store::Value> columns(store::kTrapColumns.size());
  auto set = [&](std::string_view column, const store::Value& value) {
    columns[static_cast<size_t>(store::ColumnPosition(store::kTrapColumns, column))] = value;
  };
  set("TrapName", name);
  set("TrapOID", oid);
  set("TrapSourceVarNo", 1);
  set("TrapNewNumber", number);
  set("TrapNewVarNo", count);
  for (size_t i = 0; i < vars.size(); ++i) {
    const int v = static_cast<int>(i) + 1;
    columns[static_cast<size_t>(store::TrapVarPosition(v, store::VarField::kName))] = vars[i].name;
    columns[static_cast<size_t>(store::TrapVarPosition(v, store::VarField::kPos))] = 1;
    columns[static_cast<size_t>(store::TrapVarPosition(v, store::VarField::kChar))] = 0;
    columns[static_cast<size_t>(store::TrapVarPosition(v, store::VarField::kType))] = vars[i].type;
  }
  return store::TrapRow(1, std::move(columns));
}

// A row of `count` variables named `prefix`1, `prefix`2, ..., all DisplayString.
store::TrapRow NamedRow(const std::string& name, int number, const store::Value& count,
                        int vars = store::kTrapVariableCount, const std::string& prefix = "var") {
  std::vector<Var> v;
  for (int i = 1; i <= vars; ++i) v.push_back({prefix + std::to_string(i), "DisplayString"});
  return Row(name, "1.3.6.1.4.1.32473.7.0.1", number, count, v);
}

std::optional<std::string> Golden(const std::string& name) {
  std::ifstream in(std::string(TERVANE_TESTDATA_DIR) + "/mib/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(MibModule, MatchesGoldenFiles) {
  struct Case {
    const char* name;
    std::vector<store::TrapRow> rows;
    const char* sections;  // golden file, or nullptr for none
  };
  const Case cases[] = {
      {"empty table: the head, then END", {}, nullptr},
      {"the worked example",
       {Row("linkDownWrap", "1.3.6.1.6.3.1.1.5.3", 1000, 2,
            {{"var1", "DisplayString"}, {"var2", "Integer32"}})},
       "worked_example.mib"},
      // Numbered in read order whatever their trap numbers; one variable has no comma; the
      // inner blank of OBJECT IDENTIFIER stays; var1 is written twice, unnoticed.
      {"two definitions",
       {Row("portUp", "1.3.6.1.6.3.1.1.5.4", "2000", 1, {{"var1", "OBJECT IDENTIFIER"}}),
        Row("portDown", "1.3.6.1.6.3.1.1.5.3", 1000, "2",
            {{"var1", "TimeTicks"}, {"var2", "IpAddress"}})},
       "two_definitions.mib"},
      // A column without a value contributes nothing to its line.
      {"empty columns",
       {Row(store::Value(), store::Value(), store::Value(), 2,
            {{store::Value(), store::Value()}, {"x", ""}})},
       "empty_columns.mib"},
  };
  const std::optional<std::string> head = Golden("header.mib");
  ASSERT_TRUE(head.has_value());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<std::string> sections = c.sections ? Golden(c.sections) : std::string();
    ASSERT_TRUE(sections.has_value()) << c.sections;
    const std::string text = MibModuleText(c.rows, kStamp);
    EXPECT_EQ(text, WithCrLf(*head + *sections + "END\n"));
    // Every line, the last one too, ends in CR LF, and no CR stands elsewhere.
    size_t lf = 0;
    size_t cr = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        ++lf;
        EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
      }
      if (text[i] == '\r') ++cr;
    }
    EXPECT_EQ(cr, lf);
    EXPECT_TRUE(text.ends_with("\r\nEND\r\n"));
  }
}

TEST(MibModule, EmptyTableIsTheHeadOf33LinesThenEnd) {
  const std::string text = MibModuleText({}, kStamp);
  size_t lines = 0;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  EXPECT_EQ(lines, 34u);
  EXPECT_NE(text.find("\r\n    LAST-UPDATED \"200612061131Z\"\r\n"), std::string::npos);
}

// The object blocks follow TrapNewVarNo, bounded to 0 to 14; without objects the OBJECTS clause
// is left out, since SMIv2 allows a notification without one but not an empty one.
TEST(MibModule, DeclaresVariablesOneToTheBoundedCount) {
  struct Case {
    store::Value count;
    int blocks;
  };
  const Case cases[] = {
      {1, 1},
      {14, 14},
      {"3", 3},
      {2.5, 2},
      {3.5, 4},
      {0, 0},
      {-3, 0},
      {store::Value(), 0},
      {"", 0},
      {"three", 0},
      {15, 14},
      {32767, 14},
      {"99999999999", 14},
      {"-99999999999", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.count));
    const std::string text = MibModuleText({NamedRow("wrap", 1000, c.count)}, kStamp);
    size_t blocks = 0;
    for (size_t at = text.find(" OBJECT-TYPE\r\n"); at != std::string::npos;
         at = text.find(" OBJECT-TYPE\r\n", at + 1)) {
      ++blocks;
    }
    EXPECT_EQ(blocks, static_cast<size_t>(c.blocks));
    std::string objects;
    for (int i = 1; i <= c.blocks; ++i) objects += (i > 1 ? ", var" : "var") + std::to_string(i);
    const size_t clause = text.find("    OBJECTS  {");
    if (c.blocks == 0) {
      EXPECT_EQ(clause, std::string::npos);
      EXPECT_NE(text.find("wrap  NOTIFICATION-TYPE\r\n    STATUS  current\r\n"), std::string::npos);
    } else {
      EXPECT_NE(text.find("\r\n    OBJECTS  { " + objects + " }\r\n"), std::string::npos);
      EXPECT_NE(text.find("    ::= { tervixObjects " + std::to_string(1000 + c.blocks) + " }"),
                std::string::npos);
    }
  }
}

TEST(MibModule, StampIsUtcToTheMinute) {
  // 2006-12-06 11:31:59 UTC, read in a zone five hours east of it.
  const char* zone = std::getenv("TZ");
  const std::optional<std::string> saved = zone ? std::optional<std::string>(zone) : std::nullopt;
  setenv("TZ", "XYZ-5", 1);
  tzset();
  EXPECT_EQ(MibStamp(1165404719), kStamp);
  EXPECT_EQ(MibStamp(0), "197001010000Z");
  EXPECT_EQ(MibStamp(1735689599), "202412312359Z");
  if (saved) {
    setenv("TZ", saved->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(MibWarnings, ListWhatAStationWillNotLoad) {
  struct Case {
    const char* name;
    std::vector<store::TrapRow> rows;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {"sound definitions",
       {NamedRow("linkDown", 1000, 14), NamedRow("linkUp", 1100, 2, 2, "up")},
       {}},
      {"two definitions with the default names",
       {NamedRow("linkDown", 1000, 2), NamedRow("linkUp", 1100, 3)},
       {R"(Trap "linkUp", variable 1: the name "var1" is declared twice (also by Trap "linkDown", variable 1))",
        R"(Trap "linkUp", variable 2: the name "var2" is declared twice (also by Trap "linkDown", variable 2))"}},
      {"names that are no descriptors",
       {Row("Link_Down", "1.3.6.1.4.1.9", 1000, 6,
            {{"Var1", "Integer32"},
             {"var_2", "Integer32"},
             {"2var", "Integer32"},
             {"var-", "Integer32"},
             {"a--b", "Integer32"},
             {"", "Integer32"}})},
       {R"(Trap "Link_Down": the name "Link_Down")" + std::string(kNoMibName),
        R"(Trap "Link_Down", variable 1: the name "Var1")" + std::string(kNoMibName),
        R"(Trap "Link_Down", variable 2: the name "var_2")" + std::string(kNoMibName),
        R"(Trap "Link_Down", variable 3: the name "2var")" + std::string(kNoMibName),
        R"(Trap "Link_Down", variable 4: the name "var-")" + std::string(kNoMibName),
        R"(Trap "Link_Down", variable 5: the name "a--b")" + std::string(kNoMibName),
        R"(Trap "Link_Down", variable 6: the name is empty)"}},
      {"hyphens, digits and capitals after the first letter are fine; 64 characters too",
       {Row("link-Down2", "1.3.6.1.4.1.9", 1000, 1, {{std::string(64, 'v'), "Gauge32"}})},
       {}},
      {"65 characters",
       {Row("w", "1.3.6.1.4.1.9", 1000, 1, {{std::string(65, 'v'), "Gauge32"}})},
       {R"(Trap "w", variable 1: the name ")" + std::string(65, 'v') + "\"" + kNoMibName}},
      {"a name of the module itself and a notification named as a variable",
       {Row("var1", "1.3.6.1.4.1.9", 1000, 2, {{"products", "Integer32"}, {"var1", "Integer32"}})},
       {R"(Trap "var1", variable 1: the name "products" is declared twice (also by the module itself))",
        R"(Trap "var1", variable 2: the name "var1" is declared twice (also by Trap "var1"))"}},
      // Variables beyond the count are not in the module, whatever their names.
      {"TrapNewVarNo 0", {NamedRow("none", 1000, 0, 3, "Bad")}, {}},
      {"TrapNewVarNo 15",
       {NamedRow("many", 1000, 15), NamedRow("next", 1100, 1, 1, "n")},
       {R"(Trap "many": New Variables "15" is not a number from 0 to 14; the module declares variables 1 to 14)"}},
      {"TrapNewVarNo not a number",
       {NamedRow("odd", 1000, "x", 2, "Bad")},
       {R"(Trap "odd": New Variables "x" is not a number from 0 to 14; the module declares no variables)"}},
      {"trap numbers",
       {NamedRow("a", 0, 0), Row("b", "1", store::Value(), 0, {}), Row("c", "1", "", 0, {}),
        Row("d", "1", "12x", 0, {}), Row("e", "1", " 1000", 0, {}), Row("f", "1", -100, 0, {}),
        Row("g", "1", 1000.5, 0, {}), Row("h", "1", "2147483648", 0, {})},
       {R"(Trap "b": the trap number is empty)", R"(Trap "c": the trap number is empty)",
        R"(Trap "d": the trap number "12x" is not a whole number from 0 to 2147483647)",
        R"(Trap "e": the trap number " 1000" is not a whole number from 0 to 2147483647)",
        R"(Trap "f": the trap number "-100" is not a whole number from 0 to 2147483647)",
        R"(Trap "g": the trap number "1000.5" is not a whole number from 0 to 2147483647)",
        R"(Trap "h": the trap number "2147483648" is not a whole number from 0 to 2147483647)"}},
      {"types and a quote in the source OID",
       {Row("t", "1.3.6\"", 1000, 3,
            {{"v1", "integer32"}, {"v2", "OBJECT IDENTIFIER"}, {"v3", store::Value()}})},
       {R"(Trap "t": the Trap OID "1.3.6"" holds a double quote, which ends the notification's description)",
        R"(Trap "t", variable 1: the type "integer32" is none of the seven SNMP types)",
        R"(Trap "t", variable 3: the type is empty)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MibWarnings(c.rows), c.warnings);
  }
}

}  // namespace
}  // namespace tervane::config
