#include "service/relay/outgoing.h"

#include <gtest/gtest.h>

#include "service/relay/intake.h"
#include "service/relay/number_text.h"

namespace tervane::relay {
namespace {

using snmp::Message;
using snmp::Variable;

TEST(CutPiece, FollowsThePieceRule) {
  struct Case {
    const char* source;
    int position;
    int length;
    const char* expected;
  } cases[] = {
      {"ABCDEFGHIJ", 1, 3, "ABC"}, {"ABCDEFGHIJ", 4, 3, "DEF"},
      {"ABCDEFGHIJ", 8, 5, "HIJ"},  // cut short at the end
      {"ABCDEFGHIJ", 11, 2, ""},    // starts past the end
      {"ABCDEFGHIJ", 3, 0, ""},     // zero length
      {"ABCDEF", 2, 3, "BCD"},     {"", 1, 5, ""},
  };
  for (const Case& c : cases) {
    Result<std::string> piece = CutPiece(c.source, c.position, c.length);
    ASSERT_TRUE(piece.ok()) << c.source << " " << c.position;
    EXPECT_EQ(*piece, c.expected) << c.source << " " << c.position << " " << c.length;
  }
  // Positions count bytes, and every byte is kept.
  const std::string binary("a\0b\r\n\xff", 6);
  EXPECT_EQ(*CutPiece(binary, 2, 4), std::string("\0b\r\n", 4));

  EXPECT_FALSE(CutPiece("ABC", 0, 1).ok());
  EXPECT_FALSE(CutPiece("ABC", -3, 1).ok());
  EXPECT_FALSE(CutPiece("ABC", 1, -1).ok());
}

TEST(ParseNumberText, RoundsHalfToEvenAndChecksRange) {
  EXPECT_EQ(*ParseNumberText("1000", 0, 5000, "x"), 1000);
  EXPECT_EQ(*ParseNumberText("2.5", 0, 5000, "x"), 2);
  EXPECT_EQ(*ParseNumberText("3.5", 0, 5000, "x"), 4);
  EXPECT_EQ(*ParseNumberText("-2.5", -10, 10, "x"), -2);
  EXPECT_EQ(*ParseNumberText("2.51", 0, 10, "x"), 3);
  EXPECT_EQ(*ParseNumberText("4294967295", 0, UINT32_MAX, "x"), 4294967295);
  EXPECT_FALSE(ParseNumberText("4294967296", 0, UINT32_MAX, "x").ok());
  EXPECT_FALSE(ParseNumberText("", 0, 10, "x").ok());
  EXPECT_FALSE(ParseNumberText("12a", 0, 100, "x").ok());
  EXPECT_FALSE(ParseNumberText(" 1", 0, 100, "x").ok());
  EXPECT_FALSE(ParseNumberText("99999999999999999999999", 0, 100, "x").ok());
  Result<int64_t> bad = ParseNumberText("abc", 0, 10, "TrapNewNumber");
  EXPECT_NE(bad.status().description().find("TrapNewNumber"), std::string::npos);
}

TEST(ConvertTrapOid, StandardTrapsAndEnterpriseSpecific) {
  struct Case {
    const char* oid;
    const char* enterprise;
    int32_t generic;
    int32_t specific;
  } cases[] = {
      {"1.3.6.1.6.3.1.1.5.1", "1.3.6.1.6.3.1.1.5", 0, 0},
      {"1.3.6.1.6.3.1.1.5.3", "1.3.6.1.6.3.1.1.5", 2, 0},
      {"1.3.6.1.6.3.1.1.5.6", "1.3.6.1.6.3.1.1.5", 5, 0},
      {"1.3.6.1.6.3.1.1.5.7", "1.3.6.1.6.3.1.1.5", 0, 0},
      {"1.3.6.1.4.1.9.9.41.2.0.1", "1.3.6.1.4.1.9.9.41.2", 6, 1},  // next-to-last 0 dropped
      {"1.3.6.1.4.1.8072.2.3.0.1", "1.3.6.1.4.1.8072.2.3", 6, 1},
      {"1.3.6.1.4.1.99.5", "1.3.6.1.4.1.99", 6, 5},
  };
  for (const Case& c : cases) {
    Result<V1Identity> id = ConvertTrapOid(c.oid);
    ASSERT_TRUE(id.ok()) << c.oid;
    EXPECT_EQ(id->enterprise, c.enterprise) << c.oid;
    EXPECT_EQ(id->generic_trap, c.generic) << c.oid;
    EXPECT_EQ(id->specific_trap, c.specific) << c.oid;
  }
  EXPECT_FALSE(ConvertTrapOid("").ok());
  EXPECT_FALSE(ConvertTrapOid("1.3.6.1.4.1.99.4294967295").ok());
}

// The received SNMPv2 linkDown of the worked example.
CurrentTrap ExampleTrap() {
  Message m;
  m.kind = snmp::kKindTrapV2;
  m.community = "C";
  m.variables = {{"1.3.6.1.2.1.1.3.0", snmp::kTypeTimeTicks, "987"},
                 {"1.3.6.1.6.3.1.1.4.1.0", snmp::kTypeObjectId, "1.3.6.1.6.3.1.1.5.3"},
                 {"1.3.6.1.2.1.2.2.1.1.7", snmp::kTypeInteger32, "7"},
                 {"1.3.6.1.2.1.2.2.1.2.7", snmp::kTypeDisplayString, "PORT 042 DOWN"}};
  CurrentTrap trap;
  Intake intake;
  EXPECT_TRUE(FillCurrentTrap(m, "192.0.2.7", trap, &intake).ok());
  return trap;
}

TrapDefinition ExampleDefinition() {
  TrapDefinition d;
  d.TrapOID = "1.3.6.1.6.3.1.1.5.3";
  d.TrapSourceVarNo = 2;
  d.TrapNewVarNo = 2;
  d.TrapNewNumber = "1000";
  d.NewVarOid[1] = "1.3.6.1.4.1.32473.1.100.1.1001";
  d.NewVarPos[1] = 1;
  d.NewVarChar[1] = 4;
  d.NewVarType[1] = 2;
  d.NewVarOid[2] = "1.3.6.1.4.1.32473.1.100.1.1002";
  d.NewVarPos[2] = 6;
  d.NewVarChar[2] = 3;
  d.NewVarType[2] = 1;
  return d;
}

TEST(BuildWrapped, WorkedExampleInBothForms) {
  CurrentTrap trap = ExampleTrap();
  Message v2;
  ASSERT_TRUE(BuildWrapped(trap, ExampleDefinition(), false, &v2).ok());
  EXPECT_EQ(v2.kind, snmp::kKindTrapV2);
  EXPECT_EQ(v2.community, "C");
  std::vector<Variable> expected = {
      {"1.3.6.1.2.1.1.3.0", 7, "987"},
      {"1.3.6.1.6.3.1.1.4.1.0", 3, "1.3.6.1.4.1.32473.1.100.2.0.1000"},
      {"1.3.6.1.4.1.32473.1.100.1.1001", 2, "PORT"},
      {"1.3.6.1.4.1.32473.1.100.1.1002", 1, "042"},
      {"1.3.6.1.2.1.2.2.1.1.7", 1, "7"}};
  EXPECT_EQ(v2.variables, expected);

  Message v1;
  ASSERT_TRUE(BuildWrapped(trap, ExampleDefinition(), true, &v1).ok());
  EXPECT_EQ(v1.kind, snmp::kKindTrapV1);
  EXPECT_EQ(v1.enterprise, "1.3.6.1.4.1.32473.1.100.2");
  EXPECT_EQ(v1.generic_trap, 6);
  EXPECT_EQ(v1.specific_trap, 1000);
  EXPECT_EQ(v1.time_stamp, 987u);
  EXPECT_EQ(v1.agent_address, "192.0.2.7");
  EXPECT_EQ(v1.variables, std::vector<Variable>(expected.begin() + 2, expected.end()));
}

TEST(BuildWrapped, SourceNumberAndPieceFailures) {
  CurrentTrap trap = ExampleTrap();
  TrapDefinition d = ExampleDefinition();
  Message out;

  d.TrapSourceVarNo = 3;  // above the binding count: empty pieces, both bindings follow
  ASSERT_TRUE(BuildWrapped(trap, d, false, &out).ok());
  ASSERT_EQ(out.variables.size(), 6u);
  EXPECT_EQ(out.variables[2].value, "");
  EXPECT_EQ(out.variables[3].value, "");
  EXPECT_EQ(out.variables[4].oid, "1.3.6.1.2.1.2.2.1.1.7");
  EXPECT_EQ(out.variables[5].oid, "1.3.6.1.2.1.2.2.1.2.7");

  d.TrapSourceVarNo = 21;
  EXPECT_FALSE(BuildWrapped(trap, d, false, &out).ok());
  d.TrapSourceVarNo = 0;
  EXPECT_FALSE(BuildWrapped(trap, d, false, &out).ok());

  d = ExampleDefinition();
  d.NewVarPos[2] = 0;
  EXPECT_FALSE(BuildWrapped(trap, d, false, &out).ok());

  d = ExampleDefinition();
  d.TrapNewVarNo = 0;  // only the other received binding
  ASSERT_TRUE(BuildWrapped(trap, d, false, &out).ok());
  ASSERT_EQ(out.variables.size(), 3u);
  EXPECT_EQ(out.variables[2].oid, "1.3.6.1.2.1.2.2.1.1.7");
}

TEST(BuildForwarded, KeepsTheTrapAndConverts) {
  Message v1in;
  v1in.kind = snmp::kKindTrapV1;
  v1in.community = "public";
  v1in.enterprise = "1.3.6.1.4.1.8072.3.2.10";
  v1in.agent_address = "192.0.2.9";
  v1in.generic_trap = 2;  // linkDown
  v1in.time_stamp = 4294967295u;
  v1in.variables = {{"1.3.6.1.2.1.2.2.1.1.3", 1, "3"}};
  CurrentTrap trap;
  Intake intake;
  ASSERT_TRUE(FillCurrentTrap(v1in, "127.0.0.1", trap, &intake).ok());
  EXPECT_EQ(trap.TrapOid, "1.3.6.1.2.1.11.0.2");
  Message out;
  ASSERT_TRUE(BuildForwarded(trap, false, &out).ok());
  Message expected = v1in;
  EXPECT_EQ(out, expected);  // the generic trap keeps its enterprise and full time stamp

  trap = ExampleTrap();
  ASSERT_TRUE(BuildForwarded(trap, true, &out).ok());
  EXPECT_EQ(out.kind, snmp::kKindTrapV1);
  EXPECT_EQ(out.enterprise, "1.3.6.1.6.3.1.1.5");
  EXPECT_EQ(out.generic_trap, 2);
  EXPECT_EQ(out.specific_trap, 0);
  EXPECT_EQ(out.agent_address, "192.0.2.7");
  EXPECT_EQ(out.variables.size(), 2u);

  ASSERT_TRUE(BuildForwarded(trap, false, &out).ok());
  EXPECT_EQ(out.kind, snmp::kKindTrapV2);
  EXPECT_EQ(out.variables.size(), 4u);
}

TEST(BuildForwarded, SnmpTrapAddressGoesLastAndCounter64StaysV2) {
  Message m;
  m.kind = snmp::kKindInform;
  m.community = "c";
  m.variables = {{"1.3.6.1.2.1.1.3.0", 7, "5"},
                 {"1.3.6.1.6.3.1.1.4.1.0", 3, "1.3.6.1.4.1.99.0.1"},
                 {"1.3.6.1.6.3.18.1.3.0", 4, "10.1.2.3"},
                 {"1.3.6.1.2.1.31.1.1.1.6.1", 8, "18446744073709551615"}};
  CurrentTrap trap;
  Intake intake;
  ASSERT_TRUE(FillCurrentTrap(m, "127.0.0.1", trap, &intake).ok());
  EXPECT_TRUE(intake.inform);
  EXPECT_EQ(trap.TrapVersion, "SNMPv2Inform");
  EXPECT_EQ(trap.TrapSourceAgent, "10.1.2.3");
  EXPECT_EQ(trap.TrapVarCount, 1);
  EXPECT_TRUE(HasCounter64(trap));
  Message out;
  ASSERT_TRUE(BuildForwarded(trap, false, &out).ok());
  ASSERT_EQ(out.variables.size(), 4u);
  EXPECT_EQ(out.kind, snmp::kKindTrapV2);
  EXPECT_EQ(out.variables[2].type, 8);
  EXPECT_EQ(out.variables[3], (Variable{"1.3.6.1.6.3.18.1.3.0", 4, "10.1.2.3"}));
}

}  // namespace
}  // namespace tervane::relay
