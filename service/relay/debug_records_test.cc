#include "service/relay/debug_records.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ctime>

#include "service/relay/intake.h"

namespace tervane::relay {
namespace {

TEST(DebugRecords, TimeStampForm) {
  const std::string stamp = TimeStamp(std::time(nullptr));
  const std::string form = "dddd-dd-dd dd:dd:dd";
  ASSERT_EQ(stamp.size(), form.size()) << stamp;
  for (size_t i = 0; i < form.size(); ++i) {
    if (form[i] == 'd') {
      EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[i]))) << stamp;
    } else {
      EXPECT_EQ(stamp[i], form[i]) << stamp;
    }
  }
}

TEST(DebugRecords, WrappedRecordListsPiecesThenTheOtherBindings) {
  snmp::Message out;
  out.kind = snmp::kKindTrapV2;
  out.variables = {{"1.3.6.1.2.1.1.3.0", 7, "987"},
                   {"1.3.6.1.6.3.1.1.4.1.0", 3, "1.3.6.1.4.1.32473.1.100.2.0.1000"},
                   {"1.3.6.1.4.1.32473.1.100.1.1001", 2, "PORT"},
                   {"1.3.6.1.4.1.32473.1.100.1.1002", 1, "042"},
                   {"1.3.6.1.2.1.2.2.1.1.7", 1, "7"}};
  std::string record = TrapDump(
      kHeaderWrapped, "2007-03-09 14:05:59",
      {"SNMPv2Trap", "1.3.6.1.4.1.32473.1.100.2.0.1000", "0.0.0.0", "192.0.2.10", "C", 987, {}},
      MessageVars(out));
  EXPECT_EQ(record,
            "*** SNMP Trap Out (Wrapped) ***  2007-03-09 14:05:59\r\n"
            "TrapVersion=SNMPv2Trap\r\n"
            "TrapOid=1.3.6.1.4.1.32473.1.100.2.0.1000\r\n"
            "TrapSourceAgent=0.0.0.0\r\n"
            "TrapSourceNetwork=192.0.2.10\r\n"
            "TrapCommunity=C\r\n"
            "TrapSysUpTime=987\r\n"
            "TrapVarList.varOid(1)=1.3.6.1.4.1.32473.1.100.1.1001\r\n"
            "TrapVarList.varValue(1)=PORT\r\n"
            "TrapVarList.varType(1)=2\r\n"
            "TrapVarList.varOid(2)=1.3.6.1.4.1.32473.1.100.1.1002\r\n"
            "TrapVarList.varValue(2)=042\r\n"
            "TrapVarList.varType(2)=1\r\n"
            "TrapVarList.varOid(3)=1.3.6.1.2.1.2.2.1.1.7\r\n"
            "TrapVarList.varValue(3)=7\r\n"
            "TrapVarList.varType(3)=1\r\n"
            "\r\n");
}

TEST(DebugRecords, SentRecordHeadFollowsTheFormSent) {
  snmp::Message in;
  in.kind = snmp::kKindTrapV2;
  in.community = "C";
  in.variables = {{"1.3.6.1.2.1.1.3.0", 7, "987"},
                  {"1.3.6.1.6.3.1.1.4.1.0", 3, "1.3.6.1.6.3.1.1.5.3"},
                  {"1.3.6.1.6.3.18.1.3.0", 4, "10.1.2.3"},
                  {"1.3.6.1.2.1.2.2.1.1.7", 1, "7"}};
  CurrentTrap trap;
  ASSERT_FALSE(FillCurrentTrap(in, "192.0.2.7", trap).malformed);
  TrapDefinition d;
  d.TrapNewNumber = "1000";
  const std::vector<DumpVar> vars = {{"1.3.6.1.4.1.32473.1.100.1.1001", "PORT", 2}};

  // Wrapped and converted: the SNMPv1 form carries the sender's address as its agent.
  EXPECT_EQ(SentRecord("2007-03-09 14:05:59", trap, &d, true, "192.0.2.10", vars),
            "*** SNMP Trap Out (Wrapped) ***  2007-03-09 14:05:59\r\n"
            "TrapVersion=SNMPv1Trap\r\n"
            "TrapOid=1.3.6.1.4.1.32473.1.100.2.0.1000\r\n"
            "TrapSourceAgent=192.0.2.7\r\n"
            "TrapSourceNetwork=192.0.2.10\r\n"
            "TrapCommunity=C\r\n"
            "TrapSysUpTime=987\r\n"
            "TrapVarList.varOid(1)=1.3.6.1.4.1.32473.1.100.1.1001\r\n"
            "TrapVarList.varValue(1)=PORT\r\n"
            "TrapVarList.varType(1)=2\r\n"
            "\r\n");
  // From an IPv6 sender, whose address the field cannot hold: the carried snmpTrapAddress.0;
  // with several stations, the one sent to in brackets.
  CurrentTrap from_v6;
  ASSERT_FALSE(FillCurrentTrap(in, "2001:db8::7", from_v6).malformed);
  const std::string v6_record = WithDestination(
      SentRecord("2007-03-09 14:05:59", from_v6, &d, true, "::", vars), "[2001:db8::9]:162");
  EXPECT_EQ(v6_record.substr(0, v6_record.find("TrapCommunity=")),
            "*** SNMP Trap Out (Wrapped) ***  2007-03-09 14:05:59\r\n"
            "TrapDestination=[2001:db8::9]:162\r\n"
            "TrapVersion=SNMPv1Trap\r\n"
            "TrapOid=1.3.6.1.4.1.32473.1.100.2.0.1000\r\n"
            "TrapSourceAgent=10.1.2.3\r\n"
            "TrapSourceNetwork=::\r\n");

  // Forwarded as it came: its own version, OID and agent address.
  const std::string forwarded =
      SentRecord("2007-03-09 14:05:59", trap, nullptr, false, "192.0.2.10", MessageVars(in));
  EXPECT_EQ(forwarded.substr(0, forwarded.find("TrapCommunity=")),
            "*** SNMP Trap Out (Not Wrapped) ***  2007-03-09 14:05:59\r\n"
            "TrapVersion=SNMPv2Trap\r\n"
            "TrapOid=1.3.6.1.6.3.1.1.5.3\r\n"
            "TrapSourceAgent=10.1.2.3\r\n"
            "TrapSourceNetwork=192.0.2.10\r\n");
  EXPECT_NE(forwarded.find("TrapVarList.varOid(2)=1.3.6.1.2.1.2.2.1.1.7\r\n"), std::string::npos)
      << forwarded;

  // Not sent: the received bindings, then who failed and why.
  const std::string lost = NotSentRecord("2007-03-09 14:05:59", trap, true, "192.0.2.10",
                                         "SendTrapNotWrappedAndConvToV1", "no route");
  EXPECT_NE(lost.find("TrapVersion=SNMPv1Trap\r\n"), std::string::npos) << lost;
  EXPECT_NE(lost.find("TrapVarList.varOid(1)=1.3.6.1.2.1.2.2.1.1.7\r\n"
                      "TrapVarList.varValue(1)=7\r\n"
                      "TrapVarList.varType(1)=1\r\n"
                      "\r\n"
                      "Module: SendTrapNotWrappedAndConvToV1\r\n"
                      "Error: no route\r\n"),
            std::string::npos)
      << lost;
  EXPECT_TRUE(lost.ends_with("Error: no route\r\n")) << lost;
}

TEST(DebugRecords, EveryValuePrintsLineBreaksAsBlanksWithoutTouchingTheTrap) {
  snmp::Message m;
  m.kind = snmp::kKindTrapV1;
  m.community = "pub";
  m.enterprise = "1.3.6.1.4.1.9";
  m.agent_address = "192.0.2.1";
  m.generic_trap = 6;
  m.specific_trap = 1;
  m.time_stamp = 5;
  const std::string value("a\r\nb\tc\0d", 8);
  m.variables = {{"1.3.6.1.4.1.9.1", 2, value}};
  CurrentTrap trap;
  FillCurrentTrap(m, "127.0.0.1", trap);
  std::string record = TrapInRecord("2007-03-09 14:05:59", trap);
  EXPECT_NE(record.find("TrapVarList.varValue(1)=a  b c d\r\n"), std::string::npos) << record;
  EXPECT_EQ(trap.TrapVarList.varValue[1], value);

  // An SNMPv2 sender fills the agent address from a binding of any type, and the community
  // is any octets: neither may split a line either.
  snmp::Message v2;
  v2.kind = snmp::kKindTrapV2;
  v2.community = "c\r\nd";
  v2.variables = {{"1.3.6.1.2.1.1.3.0", 7, "1"},
                  {"1.3.6.1.6.3.1.1.4.1.0", 3, "1.3.6.1.4.1.9.0.1"},
                  {"1.3.6.1.6.3.18.1.3.0", 2, "evil\r\nTrapOid=forged"}};
  FillCurrentTrap(v2, "127.0.0.1", trap);
  EXPECT_EQ(trap.TrapSourceAgent, "evil\r\nTrapOid=forged");
  const std::string in = TrapInRecord("2007-03-09 14:05:59", trap);
  EXPECT_NE(in.find("TrapSourceAgent=evil  TrapOid=forged\r\nTrapSourceNetwork="),
            std::string::npos)
      << in;
  EXPECT_NE(in.find("TrapCommunity=c  d\r\n"), std::string::npos) << in;
  DefinitionTable table;
  table[1].TrapOID = "1.3\r\n4";
  table[1].TrapNewNumber = "10\t00";
  const std::string list = DefinitionListRecord(table);
  EXPECT_NE(list.find("TrapOID=1.3  4\r\n"), std::string::npos) << list;
  EXPECT_NE(list.find("NewTrapOID=1.3.6.1.4.1.32473.1.100.2.0.10 00\r\n"), std::string::npos);

  m.variables.clear();
  FillCurrentTrap(m, "127.0.0.1", trap);
  EXPECT_EQ(TrapInRecord("2007-03-09 14:05:59", trap),
            "*** SNMP Trap In ***  2007-03-09 14:05:59\r\n"
            "TrapVersion=SNMPv1Trap\r\n"
            "TrapOid=1.3.6.1.4.1.9.0.1\r\n"
            "TrapSourceAgent=192.0.2.1\r\n"
            "TrapSourceNetwork=127.0.0.1\r\n"
            "TrapCommunity=pub\r\n"
            "TrapSysUpTime=5\r\n"
            "\r\n");
}

TEST(DebugRecords, NullValuesAndDefinitionList) {
  EXPECT_EQ(NullValuesRecord("2007-03-09 14:05:59", "1.3.6.1.4.1.9.1\r\n1.3.6.1.4.1.9.2\r\n"),
            "*** SNMP Trap In With NullValues ***  2007-03-09 14:05:59\r\n"
            "2007-03-09 14:05:59\tsnmpManager_Trap\r\n"
            "1.3.6.1.4.1.9.1\r\n"
            "1.3.6.1.4.1.9.2\r\n"
            "\r\n"
            "\r\n");

  DefinitionTable table;
  TrapDefinition& d = table[2];  // slot 1 empty: skipped without a trace
  d.TrapOID = "1.3.6.1.6.3.1.1.5.3";
  d.TrapSourceVarNo = 3;
  d.TrapNewVarNo = 1;
  d.TrapNewNumber = "1000";
  d.NewVarOid[1] = "1.3.6.1.4.1.32473.1.100.1.1001";
  d.NewVarPos[1] = 1;
  d.NewVarChar[1] = 8;
  d.NewVarType[1] = 2;
  EXPECT_EQ(DefinitionListRecord(table),
            "*** SNMP Trap DB *** \r\n"
            "TrapOID=1.3.6.1.6.3.1.1.5.3\r\n"
            "WrapSourceVariable=3\r\n"
            "NewVariables=1\r\n"
            "NewTrapOID=1.3.6.1.4.1.32473.1.100.2.0.1000\r\n"
            "NewVarOid1=1.3.6.1.4.1.32473.1.100.1.1001\r\n"
            "NewVarPos1=1\r\n"
            "NewVarChar1=8\r\n"
            "NewVarType1=2\r\n"
            "\r\n"
            "\r\n");
  EXPECT_EQ(FindDefinition(table, "1.3.6.1.6.3.1.1.5.3"), 2);
  EXPECT_EQ(FindDefinition(table, "1.3.6.1.6.3.1.1.5.3 "), 0);
  EXPECT_EQ(FindDefinition(table, ""), 0);
}

TEST(DebugRecords, StatusTexts) {
  const std::string stamp = "2007-03-09 14:05:59";
  EXPECT_EQ(StartedStatus(stamp, "Trap Server Started", "0.0.0.0", 162),
            "2007-03-09 14:05:59\r\nTrap Server Started\r\nIP=0.0.0.0\r\nPort=162");
  EXPECT_EQ(FailedStatus(stamp, "Port was in use"),
            "2007-03-09 14:05:59\r\nFailed to Start\r\nPort was in use");
  EXPECT_EQ(FailedStatus(stamp, ""), "2007-03-09 14:05:59\r\nFailed to Start\r\n");
  EXPECT_EQ(WaitingStatus(stamp, "Port was in use"),
            "2007-03-09 14:05:59\r\nWaiting to Listen\r\nPort was in use");
  EXPECT_EQ(ListeningStatus(stamp, "10.0.0.100", 162, true),
            StartedStatus(stamp, "Trap Server Started", "10.0.0.100", 162));
  EXPECT_EQ(ListeningStatus(stamp, "10.0.0.100", 162, false),
            "2007-03-09 14:05:59\r\nTrap Server Started\r\nIP=10.0.0.100\r\nPort=162\r\n"
            "The address is not on this machine yet");
  EXPECT_EQ(StartedAfterWaitingText("SNMP Trap Server", "0.0.0.0", 162, 14),
            "SNMP Trap Server Started on 0.0.0.0:162 after waiting 14 seconds for the port");
  EXPECT_EQ(StartedAfterWaitingText("SNMP Agent", "10.0.0.1", 40000, 1),
            "SNMP Agent Started on 10.0.0.1:40000 after waiting 1 second for the port");
  EXPECT_EQ(StartedAfterWaitingText("SNMP Trap Server", "::", 162, 3),
            "SNMP Trap Server Started on [::]:162 after waiting 3 seconds for the port");
  EXPECT_EQ(ListeningStatus(stamp, "2001:db8::1", 162, true),
            "2007-03-09 14:05:59\r\nTrap Server Started\r\nIP=2001:db8::1\r\nPort=162");
}

TEST(DebugRecords, RunStatusTexts) {
  struct Case {
    const char* ip;
    unsigned port;
    const char* not_listening;
    std::string listen_wait;
    bool address_here;
    const char* not_sending;
    std::string send_wait;
    const char* text;
  } const cases[] = {
      {"0.0.0.0", 162, "", "", true, "", "", "Listening on 0.0.0.0:162"},
      {"127.0.0.1", 1162, "", "", true, "SNMP Agent Port was in use", "",
       "Listening on 127.0.0.1:1162; not sending: SNMP Agent Port was in use"},
      {"192.0.2.1", 162, "SNMP Trap IP Address is not valid", "", true,
       "SNMP Agent IP Address is not valid", "",
       "Not listening: SNMP Trap IP Address is not valid"},
      {"0.0.0.0", 162, "", PortInUseCause("0.0.0.0", 162), true, "", PortInUseCause("0.0.0.0", 0),
       "Waiting to listen: port 162 on 0.0.0.0 is in use"},
      {"10.0.0.100", 162, "", "", false, "", "",
       "Listening on 10.0.0.100:162 (the address is not on this machine yet)"},
      {"::1", 162, "", "", true, "", "", "Listening on [::1]:162"},
      {"::", 162, "", "", true, "", "", "Listening on [::]:162"},
      {"2001:db8::1", 162, "", "", false, "", "",
       "Listening on [2001:db8::1]:162 (the address is not on this machine yet)"},
      {"10.0.0.100", 162, "", "", false, "", PortInUseCause("10.0.0.100", 0),
       "Listening on 10.0.0.100:162 (the address is not on this machine yet); waiting to send: "
       "no free port on 10.0.0.100"},
  };
  for (const Case& c : cases) {
    RunStatus status;
    status.ip = c.ip;
    status.port = c.port;
    status.not_listening = c.not_listening;
    status.listen_wait = c.listen_wait;
    status.address_here = c.address_here;
    status.not_sending = c.not_sending;
    status.send_wait = c.send_wait;
    EXPECT_EQ(RunStatusText(status), c.text);
  }
}

}  // namespace
}  // namespace tervane::relay
