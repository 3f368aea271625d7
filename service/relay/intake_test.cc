#include "service/relay/intake.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tervane::relay {
namespace {

using snmp::Message;

TEST(FillCurrentTrap, SnmpV1TrapOids) {
  Message m;
  m.kind = snmp::kKindTrapV1;
  m.community = "public";
  m.enterprise = "1.3.6.1.4.1.9";
  m.agent_address = "192.0.2.1";
  m.generic_trap = 6;
  m.specific_trap = 5;
  m.time_stamp = 4294967295u;
  CurrentTrap trap;
  Intake intake = FillCurrentTrap(m, "127.0.0.2", trap);
  EXPECT_TRUE(intake.handled);
  EXPECT_EQ(trap.TrapVersion, "SNMPv1Trap");
  EXPECT_EQ(trap.TrapOid, "1.3.6.1.4.1.9.0.5");
  EXPECT_EQ(trap.TrapGeneric, 6);
  EXPECT_EQ(trap.TrapSpecific, 5);
  EXPECT_EQ(trap.TrapSourceAgent, "192.0.2.1");
  EXPECT_EQ(trap.TrapSourceNetwork, "127.0.0.2");
  EXPECT_EQ(trap.TrapSysUpTime, 4294967295u);  // TimeTicks are unsigned: nothing clamped

  m.generic_trap = 2;
  m.specific_trap = 77;
  intake = FillCurrentTrap(m, "127.0.0.2", trap);
  EXPECT_EQ(trap.TrapOid, "1.3.6.1.2.1.11.0.2");
  EXPECT_EQ(trap.TrapGeneric, 2);
  EXPECT_EQ(trap.TrapSpecific, 0);
  EXPECT_EQ(trap.TrapEnterprise, "1.3.6.1.4.1.9");
}

TEST(FillCurrentTrap, SnmpV2KeepsTwentyBindingsAndTakesOutSnmpTrapAddress) {
  Message m;
  m.kind = snmp::kKindTrapV2;
  m.community = "c";
  m.variables = {{"1.3.6.1.2.1.1.3.0", 7, "4294967295"},
                 {"1.3.6.1.6.3.1.1.4.1.0", 3, "1.3.6.1.4.1.99.0.3"}};
  for (int i = 1; i <= 25; ++i) {
    if (i == 10) m.variables.push_back({"1.3.6.1.6.3.18.1.3.0", 4, "10.9.8.7"});
    m.variables.push_back({"1.3.6.1.4.1.99.1." + std::to_string(i), 2, "v" + std::to_string(i)});
  }
  CurrentTrap trap;
  trap.TrapEnterprise = "1.3.6.1.4.1.5";  // from an earlier SNMPv1 trap: left alone
  Intake intake = FillCurrentTrap(m, "127.0.0.1", trap);
  EXPECT_FALSE(intake.malformed);
  EXPECT_EQ(trap.TrapVersion, "SNMPv2Trap");
  EXPECT_EQ(trap.TrapOid, "1.3.6.1.4.1.99.0.3");
  EXPECT_EQ(trap.TrapSysUpTime, 4294967295u);
  EXPECT_EQ(trap.TrapSourceAgent, "10.9.8.7");
  EXPECT_EQ(trap.TrapEnterprise, "1.3.6.1.4.1.5");
  ASSERT_EQ(trap.TrapVarCount, 20);
  for (int i = 1; i <= 20; ++i) {
    EXPECT_EQ(trap.TrapVarList.varOid[i], "1.3.6.1.4.1.99.1." + std::to_string(i));
    EXPECT_EQ(trap.TrapVarList.varValue[i], "v" + std::to_string(i));
    EXPECT_EQ(trap.TrapVarList.varType[i], snmp::kTypeDisplayString);
  }

  // The next trap has fewer bindings: the arrays hold nothing of the previous one.
  m.variables.resize(3);
  intake = FillCurrentTrap(m, "127.0.0.1", trap);
  EXPECT_EQ(trap.TrapVarCount, 1);
  EXPECT_EQ(trap.TrapSourceAgent, "0.0.0.0");
  EXPECT_TRUE(trap.TrapVarList.varOid[2].empty());
  EXPECT_TRUE(trap.TrapVarList.varValue[20].empty());
}

TEST(FillCurrentTrap, NullsMalformedAndOtherKinds) {
  Message m;
  m.kind = snmp::kKindInform;
  m.variables = {{"1.3.6.1.2.1.1.3.0", 7, "1"},
                 {"1.3.6.1.6.3.1.1.4.1.0", 3, "1.3.6.1.4.1.99.0.1"},
                 {"1.3.6.1.4.1.99.1", 0, ""},
                 {"1.3.6.1.4.1.99.2", 2, "x"},
                 {"1.3.6.1.4.1.99.3", 0, ""}};
  CurrentTrap trap;
  Intake intake = FillCurrentTrap(m, "127.0.0.1", trap);
  EXPECT_TRUE(intake.inform);
  EXPECT_EQ(intake.null_list, "1.3.6.1.4.1.99.1\r\n1.3.6.1.4.1.99.3\r\n");
  EXPECT_EQ(trap.TrapVersion, "SNMPv2Inform");

  // Without its two header bindings the previous trap's OID is not reused.
  m.variables = {{"1.3.6.1.4.1.99.2", 2, "x"}};
  intake = FillCurrentTrap(m, "127.0.0.1", trap);
  EXPECT_TRUE(intake.malformed);
  EXPECT_TRUE(intake.inform);
  EXPECT_EQ(trap.TrapOid, "");
  EXPECT_EQ(trap.TrapVarCount, 0);

  m.variables = {{"1.3.6.1.2.1.1.3.0", 7, "1"}, {"1.3.6.1.6.3.1.1.4.1.0", 2, "not an oid"}};
  intake = FillCurrentTrap(m, "127.0.0.1", trap);
  EXPECT_TRUE(intake.malformed);

  m.kind = snmp::kKindResponse;
  m.variables = {{"1.3.6.1.4.1.99.1", 0, ""}};
  intake = FillCurrentTrap(m, "127.0.0.1", trap);
  EXPECT_FALSE(intake.handled);
  EXPECT_EQ(intake.null_list, "1.3.6.1.4.1.99.1\r\n");
}

TEST(FillCurrentTrap, SysUpTimeMustBeATimeTicksNumberElseTheMessageIsMalformed) {
  struct Case {
    int32_t type;
    const char* value;
    std::optional<uint32_t> expected;  // nothing: malformed
  };
  const Case cases[] = {
      {snmp::kTypeTimeTicks, "987", 987u},
      {snmp::kTypeTimeTicks, "4294967295", 4294967295u},
      {snmp::kTypeInteger32, "5", 5u},
      {snmp::kTypeCounter64, "4294967295", 4294967295u},
      {snmp::kTypeCounter64, "4294967296", std::nullopt},
      {snmp::kTypeInteger32, "-1", std::nullopt},
      {snmp::kTypeNoValue, "", std::nullopt},
      {snmp::kTypeDisplayString, "123", std::nullopt},
      {snmp::kTypeObjectId, "1.3", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " \"" + c.value + "\"");
    Message m;
    m.kind = snmp::kKindInform;
    m.variables = {{"1.3.6.1.2.1.1.3.0", c.type, c.value},
                   {"1.3.6.1.6.3.1.1.4.1.0", 3, "1.3.6.1.4.1.99.0.1"},
                   {"1.3.6.1.4.1.99.2", 2, "x"}};
    CurrentTrap trap;
    trap.TrapSysUpTime = 77;  // an earlier trap's: never kept
    const Intake intake = FillCurrentTrap(m, "127.0.0.1", trap);
    EXPECT_TRUE(intake.handled);
    EXPECT_TRUE(intake.inform);  // acknowledged whatever the bindings hold
    EXPECT_EQ(intake.malformed, !c.expected.has_value());
    EXPECT_EQ(trap.TrapSysUpTime, c.expected);
    EXPECT_EQ(trap.TrapOid, "1.3.6.1.4.1.99.0.1");
    EXPECT_EQ(trap.TrapVarCount, 1);
  }
}

}  // namespace
}  // namespace tervane::relay
