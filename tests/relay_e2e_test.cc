// TervixSrv end to end over loopback: traps sent by net-snmp's tools or our own agent are
// wrapped, passed through or converted, and arrive at our sink with every field and
// binding; the debug file holds the records of the start and of every trap, line by line.
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

using snmp::kTypeDisplayString;
using snmp::kTypeInteger32;
using snmp::kTypeObjectId;
using snmp::kTypeTimeTicks;

constexpr char kLinkDown[] = "1.3.6.1.6.3.1.1.5.3";
constexpr char kIfIndex7[] = "1.3.6.1.2.1.2.2.1.1.7";
constexpr char kIfDescr7[] = "1.3.6.1.2.1.2.2.1.2.7";

// A linkDown definition: binding 2 (the port's description) cut into "PORT" and "042".
Definition PortDownDefinition() {
  return {kLinkDown, 2, {{1, 4, "DisplayString"}, {6, 3, "Integer32"}}, 1000};
}

// snmptrap's arguments for a linkDown of port 7 described as "PORT 042 DOWN". It comes from another
// loopback address than the one the service receives on, so that the records and the SNMPv1
// agent-addr show which of the two they carry.
constexpr char kDevice[] = "127.0.0.2";
std::vector<std::string> PortDownTrap() {
  return {"--clientaddr=" + std::string(kDevice),
          "-v",
          "2c",
          "-c",
          "C",
          "987",
          kLinkDown,
          kIfIndex7,
          "i",
          "7",
          kIfDescr7,
          "s",
          "PORT 042 DOWN"};
}

// The linkDown wrapped in SNMPv2 form; the whole debug file of the run, from the start
// records on.
TEST_F(RelayTest, LinkDownWrappedAsSnmpV2WithWholeDebugFile) {
  RelayConfig config;
  config.debug = true;
  // Besides the linkDown: no new variables, an unknown type name (code 0), and a
  // row without a trap OID, which the definition record leaves out.
  config.definitions = {PortDownDefinition(),
                        {"", 1, {{1, 1}}, 2000},
                        {"1.3.6.1.4.1.32473.5.0.1", 1, {}, 3900},
                        {"1.3.6.1.4.1.32473.5.0.2", 1, {{2, 5, "integer32"}}, 1100}};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  std::string output;
  ASSERT_EQ(RunTool(snmptrap_, PortDownTrap(), &output), 0) << output;
  const std::vector<Received> got = Receive(1);
  ASSERT_EQ(got.size(), 1u);
  const Message& m = got[0].message;
  EXPECT_EQ(m.kind, snmp::kKindTrapV2);
  EXPECT_EQ(m.community, "C");
  const std::vector<Variable> expected = {
      {snmp::kSysUpTime, kTypeTimeTicks, "987"},
      {snmp::kSnmpTrapOid, kTypeObjectId, "1.3.6.1.4.1.32473.1.100.2.0.1000"},
      {"1.3.6.1.4.1.32473.1.100.1.1001", kTypeDisplayString, "PORT"},
      {"1.3.6.1.4.1.32473.1.100.1.1002", kTypeInteger32, "42"},
      {kIfIndex7, kTypeInteger32, "7"},
  };
  EXPECT_EQ(m.variables, expected);
  EXPECT_EQ(got[0].source, "127.0.0.1");

  const std::vector<std::string> lines = FileLines("Debug.txt");
  const std::string port = std::to_string(recv_port_);
  EXPECT_TRUE(LinesMatch(lines, {
                                    // the agent's and the listener's start
                                    "{stamp}",
                                    "SNMP Agent Started",
                                    "IP=127.0.0.1",
                                    "Port={num}",
                                    "",
                                    "{stamp}",
                                    "Trap Server Started",
                                    "IP=127.0.0.1",
                                    "Port=" + port,
                                    "",
                                    // the definitions
                                    "*** SNMP Trap DB *** ",
                                    "TrapOID=1.3.6.1.6.3.1.1.5.3",
                                    "WrapSourceVariable=2",
                                    "NewVariables=2",
                                    "NewTrapOID=1.3.6.1.4.1.32473.1.100.2.0.1000",
                                    "NewVarOid1=1.3.6.1.4.1.32473.1.100.1.1001",
                                    "NewVarPos1=1",
                                    "NewVarChar1=4",
                                    "NewVarType1=2",
                                    "NewVarOid2=1.3.6.1.4.1.32473.1.100.1.1002",
                                    "NewVarPos2=6",
                                    "NewVarChar2=3",
                                    "NewVarType2=1",
                                    "",
                                    "TrapOID=1.3.6.1.4.1.32473.5.0.1",
                                    "WrapSourceVariable=1",
                                    "NewVariables=0",
                                    "NewTrapOID=1.3.6.1.4.1.32473.1.100.2.0.3900",
                                    "",
                                    "TrapOID=1.3.6.1.4.1.32473.5.0.2",
                                    "WrapSourceVariable=1",
                                    "NewVariables=1",
                                    "NewTrapOID=1.3.6.1.4.1.32473.1.100.2.0.1100",
                                    "NewVarOid1=1.3.6.1.4.1.32473.1.100.1.1101",
                                    "NewVarPos1=2",
                                    "NewVarChar1=5",
                                    "NewVarType1=0",
                                    "",
                                    "",
                                    // the trap as received
                                    "*** SNMP Trap In ***  {stamp}",
                                    "TrapVersion=SNMPv2Trap",
                                    "TrapOid=1.3.6.1.6.3.1.1.5.3",
                                    "TrapSourceAgent=0.0.0.0",
                                    "TrapSourceNetwork=127.0.0.2",
                                    "TrapCommunity=C",
                                    "TrapSysUpTime=987",
                                    "TrapVarList.varOid(1)=1.3.6.1.2.1.2.2.1.1.7",
                                    "TrapVarList.varValue(1)=7",
                                    "TrapVarList.varType(1)=1",
                                    "TrapVarList.varOid(2)=1.3.6.1.2.1.2.2.1.2.7",
                                    "TrapVarList.varValue(2)=PORT 042 DOWN",
                                    "TrapVarList.varType(2)=2",
                                    "",
                                    // the trap as sent
                                    "*** SNMP Trap Out (Wrapped) ***  {stamp}",
                                    "TrapVersion=SNMPv2Trap",
                                    "TrapOid=1.3.6.1.4.1.32473.1.100.2.0.1000",
                                    "TrapSourceAgent=0.0.0.0",
                                    "TrapSourceNetwork=127.0.0.1",
                                    "TrapCommunity=C",
                                    "TrapSysUpTime=987",
                                    "TrapVarList.varOid(1)=1.3.6.1.4.1.32473.1.100.1.1001",
                                    "TrapVarList.varValue(1)=PORT",
                                    "TrapVarList.varType(1)=2",
                                    "TrapVarList.varOid(2)=1.3.6.1.4.1.32473.1.100.1.1002",
                                    "TrapVarList.varValue(2)=042",
                                    "TrapVarList.varType(2)=1",
                                    "TrapVarList.varOid(3)=1.3.6.1.2.1.2.2.1.1.7",
                                    "TrapVarList.varValue(3)=7",
                                    "TrapVarList.varType(3)=1",
                                    "",
                                }));
  // The trap left from the agent whose port the start record names.
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[3], "Port=" + std::to_string(got[0].source_port));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

// The same linkDown with ConvV2ToV1 on: one SNMPv1 trap of the same notification.
TEST_F(RelayTest, LinkDownWrappedAndConvertedToSnmpV1) {
  RelayConfig config;
  config.debug = true;
  config.convert = true;
  config.definitions = {PortDownDefinition()};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  std::string output;
  ASSERT_EQ(RunTool(snmptrap_, PortDownTrap(), &output), 0) << output;
  const std::vector<Received> got = Receive(1);
  ASSERT_EQ(got.size(), 1u);
  const Message& m = got[0].message;
  EXPECT_EQ(m.kind, snmp::kKindTrapV1);
  EXPECT_EQ(m.community, "C");
  EXPECT_EQ(m.enterprise, kWrappedEnterprise);
  EXPECT_EQ(m.generic_trap, 6);
  EXPECT_EQ(m.specific_trap, 1000);
  EXPECT_EQ(m.time_stamp, 987u);
  EXPECT_EQ(m.agent_address, kDevice);  // the trap's source, not the service's address
  const std::vector<Variable> expected = {
      {"1.3.6.1.4.1.32473.1.100.1.1001", kTypeDisplayString, "PORT"},
      {"1.3.6.1.4.1.32473.1.100.1.1002", kTypeInteger32, "42"},
      {kIfIndex7, kTypeInteger32, "7"},
  };
  EXPECT_EQ(m.variables, expected);

  const std::optional<std::vector<std::string>> record =
      Record(FileLines("Debug.txt"), kWrappedHeader);
  ASSERT_TRUE(record.has_value());
  EXPECT_TRUE(LinesMatch(*record, {
                                      "*** SNMP Trap Out (Wrapped) ***  {stamp}",
                                      "TrapVersion=SNMPv1Trap",
                                      "TrapOid=1.3.6.1.4.1.32473.1.100.2.0.1000",
                                      "TrapSourceAgent=127.0.0.2",
                                      "TrapSourceNetwork=127.0.0.1",
                                      "TrapCommunity=C",
                                      "TrapSysUpTime=987",
                                      "TrapVarList.varOid(1)=1.3.6.1.4.1.32473.1.100.1.1001",
                                      "TrapVarList.varValue(1)=PORT",
                                      "TrapVarList.varType(1)=2",
                                      "TrapVarList.varOid(2)=1.3.6.1.4.1.32473.1.100.1.1002",
                                      "TrapVarList.varValue(2)=042",
                                      "TrapVarList.varType(2)=1",
                                      "TrapVarList.varOid(3)=1.3.6.1.2.1.2.2.1.1.7",
                                      "TrapVarList.varValue(3)=7",
                                      "TrapVarList.varType(3)=1",
                                      "",
                                  }));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

}  // namespace
}  // namespace tervane::testing
