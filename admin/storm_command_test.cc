#include "admin/storm_command.h"

#include "admin/svc_command_line_fixture.h"
#include "gtest/gtest.h"

namespace tervane::svc {
namespace {

using store::StormRule;

TEST(StormCommand, ParsesItsActionsAndRefusesTheRest) {
  using A = StormAction;
  const struct {
    std::vector<std::string> args;
    bool ok;
    StormAction action = A::kList;
    std::vector<std::string> operands{};
    bool off = false;
    std::string folder{};
  } rows[] = {
      {{"storm"}, true},
      {{"storm", "list", "--folder", "/f"}, true, A::kList, {}, false, "/f"},
      {{"storm", "--folder", "/f"}, true, A::kList, {}, false, "/f"},
      {{"storm", "on"}, true, A::kOn},
      {{"storm", "off"}, true, A::kOff},
      {{"storm", "set", "1.3.6.1.4.1.9", "600", "100"},
       true,
       A::kSet,
       {"1.3.6.1.4.1.9", "600", "100"}},
      {{"storm", "set", "default", "0", "1", "--off", "--folder", "/f"},
       true,
       A::kSet,
       {"default", "0", "1"},
       true,
       "/f"},
      {{"storm", "--off", "set", "x", "y", "z"}, true, A::kSet, {"x", "y", "z"}, true},
      {{"storm", "remove", "1.3.6"}, true, A::kRemove, {"1.3.6"}},
      {{"storm", "remove", "default"}, true, A::kRemove, {"default"}},
      {{"storm", "show"}, false},
      {{"storm", "list", "extra"}, false},
      {{"storm", "on", "--off"}, false},
      {{"storm", "set", "1.3.6", "600"}, false},
      {{"storm", "set", "1.3.6", "600", "100", "7"}, false},
      {{"storm", "set", "1.3.6", "-1", "100"}, false},
      {{"storm", "set", "", "600", "100"}, false},
      {{"storm", "set", "1.3.6", "600", "100", "--off", "--off"}, false},
      {{"storm", "remove"}, false},
      {{"storm", "remove", "1.3.6", "--folder"}, false},
      {{"storm", "--wait"}, false},
      {{"storm", "--prometheus"}, false},
      {{"storm", "list", "Tervane"}, false},
      {{"query", "--off"}, false},
  };
  ParseEachRow(rows, [](const SvcCommandLine& line, const auto& row) {
    EXPECT_EQ(line.command, SvcCommand::kStorm);
    EXPECT_EQ(line.storm, row.action);
    EXPECT_EQ(line.operands, row.operands);
    EXPECT_EQ(line.off, row.off);
    EXPECT_EQ(line.folder, row.folder);
  });
}

TEST(StormCommand, ARuleFromTheOperandsIsCheckedInTheRulesWords) {
  const struct {
    std::vector<std::string> operands;
    bool off;
    std::optional<StormRule> rule;
    std::string refusal{};
  } cases[] = {
      {{"1.3.6.1.4.1.9", "600", "100"}, false, StormRule{"1.3.6.1.4.1.9", 600, 100, true}},
      {{"default", "0", "1"}, true, StormRule{"", 0, 1, false}},
      {{"1.3.6", "1000000", "100000"}, false, StormRule{"1.3.6", 1000000, 100000, true}},
      {{"1.3.", "600", "100"},
       false,
       std::nullopt,
       "StormRule 1.3., OidPrefix: \"1.3.\" is not an OID prefix (1 to 128 numbers separated by "
       "dots, such as 1.3.6.1.4.1.9)"},
      {{"1.03", "600", "100"},
       false,
       std::nullopt,
       "StormRule 1.03, OidPrefix: \"1.03\" is not an OID prefix (1 to 128 numbers separated by "
       "dots, such as 1.3.6.1.4.1.9)"},
      {{"1.3.6", "1000001", "100"},
       false,
       std::nullopt,
       "StormRule 1.3.6, PerMinute: 1000001 is not a number of traps per minute (0 to 1000000)"},
      {{"default", "30", "0"},
       false,
       std::nullopt,
       "StormRule default, Burst: 0 is not a burst of traps (1 to 100000)"},
      {{"1.3.6", "ten", "100"},
       false,
       std::nullopt,
       "StormRule 1.3.6, PerMinute: \"ten\" is not a whole number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.operands[0] + " " + c.operands[1] + " " + c.operands[2]);
    Result<StormRule> rule = StormRuleFromOperands(c.operands, c.off);
    ASSERT_EQ(rule.ok(), c.rule.has_value()) << rule.status().ToString();
    if (rule.ok()) {
      EXPECT_EQ(*rule, *c.rule);
    } else {
      EXPECT_EQ(rule.status().description(), c.refusal);
    }
  }
}

TEST(StormCommand, ListAlignsTheRulesDefaultFirst) {
  const std::vector<StormRule> rules = {
      {"", 30, 10, true}, {"1.3.6.1.4.1.9", 600, 100, false}, {"1.3.6.1.6.3.1.1.5", 0, 1, true}};
  EXPECT_EQ(StormTable(true, rules, true, "/f/Tervix.mdb", ""),
            "Storm rules in /f/Tervix.mdb\n"
            "Storm control: on\n"
            "\n"
            "OidPrefix          PerMinute  Burst  Enabled\n"
            "default                   30     10  on\n"
            "1.3.6.1.4.1.9            600    100  off\n"
            "1.3.6.1.6.3.1.1.5          0      1  on\n");
  // A file without the default rule's row: it limits nothing.
  EXPECT_EQ(StormTable(false, {StormRule{"", 30, 10, false}}, false, "/f/Tervix.mdb", "why"),
            "Storm rules in /f/Tervix.mdb\n"
            "Storm control: off (why)\n"
            "\n"
            "OidPrefix  PerMinute  Burst  Enabled\n"
            "default            -      -  off\n");
}

}  // namespace
}  // namespace tervane::svc
