// TervixSrv end to end: traps that no definition matches are passed on, SNMPv1 traps in
// their own form, SNMPv2 traps converted to SNMPv1 when ConvV2ToV1 is on, and informs are
// acknowledged to their sender and sent on as SNMPv2 traps.
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

using snmp::kTypeCounter64;
using snmp::kTypeDisplayString;
using snmp::kTypeInteger32;
using snmp::kTypeObjectId;
using snmp::kTypeTimeTicks;

constexpr char kIfIndex7[] = "1.3.6.1.2.1.2.2.1.1.7";
constexpr char kIfDescr7[] = "1.3.6.1.2.1.2.2.1.2.7";
constexpr char kSysName[] = "1.3.6.1.2.1.1.5.0";

// SNMPv1 traps keep their version, enterprise, agent address and numbers, also with
// ConvV2ToV1 on; a generic one is looked up as 1.3.6.1.2.1.11.0.<generic>.
TEST_F(RelayTest, SnmpV1TrapsPassThroughWithEveryField) {
  RelayConfig config;
  config.debug = true;
  config.convert = true;
  config.definitions = {Definition("1.3.6.1.2.1.11.0.3", 1, {Piece(1, 4)}, 1100)};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  std::string output;
  ASSERT_EQ(
      RunTool(snmptrap_,
              {"--clientaddr=127.0.0.2", "-v", "1", "-c", "public", "1.3.6.1.4.1.9", "192.0.2.7",
               "6", "5", "12345", kSysName, "s", "router1", "1.3.6.1.4.1.9.9.1.0", "i", "-42"},
              &output),
      0)
      << output;
  ASSERT_EQ(RunTool(snmptrap_,
                    {"-v", "1", "-c", "private", "1.3.6.1.4.1.8072.3.2.10", "192.0.2.7", "2", "0",
                     "987", kIfIndex7, "i", "7"},
                    &output),
            0)
      << output;
  // linkUp, which the definition wraps.
  ASSERT_EQ(RunTool(snmptrap_,
                    {"-v", "1", "-c", "public", "1.3.6.1.4.1.8072.3.2.10", "192.0.2.8", "3", "0",
                     "55", kIfDescr7, "s", "eth0 up"},
                    &output),
            0)
      << output;
  const std::vector<Received> got = Receive(3);
  ASSERT_EQ(got.size(), 3u);

  const Message& specific = got[0].message;
  EXPECT_EQ(specific.kind, snmp::kKindTrapV1);
  EXPECT_EQ(specific.community, "public");
  EXPECT_EQ(specific.enterprise, "1.3.6.1.4.1.9");
  EXPECT_EQ(specific.agent_address, "192.0.2.7");
  EXPECT_EQ(specific.generic_trap, 6);
  EXPECT_EQ(specific.specific_trap, 5);
  EXPECT_EQ(specific.time_stamp, 12345u);
  EXPECT_EQ(specific.variables,
            (std::vector<Variable>{{kSysName, kTypeDisplayString, "router1"},
                                   {"1.3.6.1.4.1.9.9.1.0", kTypeInteger32, "-42"}}));

  const Message& generic = got[1].message;
  EXPECT_EQ(generic.kind, snmp::kKindTrapV1);
  EXPECT_EQ(generic.community, "private");
  EXPECT_EQ(generic.enterprise, "1.3.6.1.4.1.8072.3.2.10");  // kept, not 1.3.6.1.2.1.11
  EXPECT_EQ(generic.agent_address, "192.0.2.7");
  EXPECT_EQ(generic.generic_trap, 2);
  EXPECT_EQ(generic.specific_trap, 0);
  EXPECT_EQ(generic.time_stamp, 987u);
  EXPECT_EQ(generic.variables, (std::vector<Variable>{{kIfIndex7, kTypeInteger32, "7"}}));

  // Wrapped in SNMPv1 form whatever ConvV2ToV1 says, with the received agent address.
  const Message& wrapped = got[2].message;
  EXPECT_EQ(wrapped.kind, snmp::kKindTrapV1);
  EXPECT_EQ(wrapped.enterprise, kWrappedEnterprise);
  EXPECT_EQ(wrapped.agent_address, "192.0.2.8");
  EXPECT_EQ(wrapped.generic_trap, 6);
  EXPECT_EQ(wrapped.specific_trap, 1100);
  EXPECT_EQ(wrapped.time_stamp, 55u);
  EXPECT_EQ(
      wrapped.variables,
      (std::vector<Variable>{{"1.3.6.1.4.1.32473.1.100.1.1101", kTypeDisplayString, "eth0"}}));

  const std::vector<std::string> lines = FileLines("Debug.txt");
  // The trap came from 127.0.0.2: the in-record names that source, the out-record the
  // service's own receive address.
  for (const char* header : {kTrapInHeader, kNotWrappedHeader}) {
    const std::optional<std::vector<std::string>> record = Record(lines, header, 0);
    ASSERT_TRUE(record.has_value()) << header;
    const DumpHead head = {
        "SNMPv1Trap", "1.3.6.1.4.1.9.0.5",
        "192.0.2.7",  std::string(header) == kTrapInHeader ? "127.0.0.2" : "127.0.0.1",
        "public",     "12345"};
    EXPECT_TRUE(LinesMatch(*record, ExpectedDump(header, head, specific.variables))) << header;
  }
  const std::optional<std::vector<std::string>> generic_in = Record(lines, kTrapInHeader, 1);
  ASSERT_TRUE(generic_in.has_value());
  EXPECT_TRUE(LinesMatch(*generic_in, ExpectedDump(kTrapInHeader,
                                                   {"SNMPv1Trap", "1.3.6.1.2.1.11.0.2", "192.0.2.7",
                                                    "127.0.0.1", "private", "987"},
                                                   generic.variables)));
  const std::optional<std::vector<std::string>> linkup_in = Record(lines, kTrapInHeader, 2);
  ASSERT_TRUE(linkup_in.has_value());
  ASSERT_GE(linkup_in->size(), 3u);
  EXPECT_EQ((*linkup_in)[2], "TrapOid=1.3.6.1.2.1.11.0.3");
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

// SNMPv2 traps become SNMPv1 traps: the standard traps by the generic numbers, any other
// OID by RFC 3584. A trap with a Counter64 binding has no SNMPv1 form and stays SNMPv2.
TEST_F(RelayTest, SnmpV2TrapsConvertedToSnmpV1) {
  RelayConfig config;
  config.debug = true;
  config.convert = true;
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  // linkDown from snmptrap, with its record.
  std::string output;
  ASSERT_EQ(RunTool(snmptrap_,
                    {"--clientaddr=127.0.0.2", "-v", "2c", "-c", "public", "987",
                     "1.3.6.1.6.3.1.1.5.3", kIfIndex7, "i", "7", kIfDescr7, "s", "PORT 042 DOWN"},
                    &output),
            0)
      << output;
  const std::vector<Received> got = Receive(1);
  ASSERT_EQ(got.size(), 1u);
  const Message& link_down = got[0].message;
  EXPECT_EQ(link_down.kind, snmp::kKindTrapV1);
  EXPECT_EQ(link_down.community, "public");
  EXPECT_EQ(link_down.enterprise, "1.3.6.1.6.3.1.1.5");
  EXPECT_EQ(link_down.generic_trap, 2);
  EXPECT_EQ(link_down.specific_trap, 0);
  EXPECT_EQ(link_down.time_stamp, 987u);
  EXPECT_EQ(link_down.agent_address, "127.0.0.2");  // where the trap came from
  const std::vector<Variable> bindings = {{kIfIndex7, kTypeInteger32, "7"},
                                          {kIfDescr7, kTypeDisplayString, "PORT 042 DOWN"}};
  EXPECT_EQ(link_down.variables, bindings);
  const std::optional<std::vector<std::string>> record =
      Record(FileLines("Debug.txt"), kNotWrappedHeader);
  ASSERT_TRUE(record.has_value());
  EXPECT_TRUE(LinesMatch(*record, ExpectedDump(kNotWrappedHeader,
                                               {"SNMPv1Trap", "1.3.6.1.6.3.1.1.5.3", "127.0.0.2",
                                                "127.0.0.1", "public", "987"},
                                               bindings)));
  received_.clear();

  struct Case {
    const char* trap_oid;
    const char* enterprise;
    int generic;
    int specific;
  } const cases[] = {
      {"1.3.6.1.6.3.1.1.5.1", "1.3.6.1.6.3.1.1.5", 0, 0},
      {"1.3.6.1.6.3.1.1.5.2", "1.3.6.1.6.3.1.1.5", 1, 0},
      {"1.3.6.1.6.3.1.1.5.4", "1.3.6.1.6.3.1.1.5", 3, 0},
      {"1.3.6.1.6.3.1.1.5.5", "1.3.6.1.6.3.1.1.5", 4, 0},
      {"1.3.6.1.6.3.1.1.5.6", "1.3.6.1.6.3.1.1.5", 5, 0},
      {"1.3.6.1.6.3.1.1.5.7", "1.3.6.1.6.3.1.1.5", 0, 0},
      {"1.3.6.1.4.1.9.9.41.2.0.1", "1.3.6.1.4.1.9.9.41.2", 6, 1},
      {"1.3.6.1.4.1.32473.5.7", "1.3.6.1.4.1.32473.5", 6, 7},
  };
  for (const Case& c : cases) {
    Send(V2Trap(c.trap_oid, bindings, "conv", "4294967295"));
  }
  std::optional<std::vector<Received>> converted = Flush();
  ASSERT_TRUE(converted.has_value());
  ASSERT_EQ(converted->size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].trap_oid);
    const Message& m = (*converted)[i].message;
    EXPECT_EQ(m.kind, snmp::kKindTrapV1);
    EXPECT_EQ(m.community, "conv");
    EXPECT_EQ(m.enterprise, cases[i].enterprise);
    EXPECT_EQ(m.generic_trap, cases[i].generic);
    EXPECT_EQ(m.specific_trap, cases[i].specific);
    EXPECT_EQ(m.time_stamp, 4294967295u);  // TimeTicks are unsigned: nothing clamped
    EXPECT_EQ(m.agent_address, "127.0.0.1");
    EXPECT_EQ(m.variables, bindings);
  }

  // A Counter64 binding: sent on unconverted, every binding as received.
  const Message counter64 =
      V2Trap("1.3.6.1.4.1.32473.5.0.9",
             {{"1.3.6.1.2.1.31.1.1.1.6.7", kTypeCounter64, "18446744073709551615"},
              {kIfIndex7, kTypeInteger32, "7"}});
  Send(counter64);
  converted = Flush();
  ASSERT_TRUE(converted.has_value());
  ASSERT_EQ(converted->size(), 1u);
  EXPECT_EQ((*converted)[0].message.kind, snmp::kKindTrapV2);
  EXPECT_EQ((*converted)[0].message.variables, counter64.variables);
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

// snmpinform gets its acknowledgement; the inform goes on as an SNMPv2 trap, unwrapped or
// wrapped, and the records name its version "SNMPv2Inform".
TEST_F(RelayTest, InformAcknowledgedAndSentOnAsSnmpV2Trap) {
  RelayConfig config;
  config.debug = true;
  config.definitions = {Definition("1.3.6.1.4.1.32473.6.0.1", 1, {Piece(1, 6)}, 1200)};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  std::string output;
  ASSERT_EQ(RunTool(snmpinform_,
                    {"-v", "2c", "-c", "public", "-r", "0", "-t", "3", "987", "1.3.6.1.6.3.1.1.5.1",
                     kSysName, "s", "router1"},
                    &output),
            0)
      << output;
  ASSERT_EQ(RunTool(snmpinform_,
                    {"-v", "2c", "-c", "public", "-r", "0", "-t", "3", "55",
                     "1.3.6.1.4.1.32473.6.0.1", kSysName, "s", "router1"},
                    &output),
            0)
      << output;
  const std::vector<Received> got = Receive(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].message.kind, snmp::kKindTrapV2);
  EXPECT_EQ(got[0].message.community, "public");
  EXPECT_EQ(got[0].message.variables,
            (std::vector<Variable>{{snmp::kSysUpTime, kTypeTimeTicks, "987"},
                                   {snmp::kSnmpTrapOid, kTypeObjectId, "1.3.6.1.6.3.1.1.5.1"},
                                   {kSysName, kTypeDisplayString, "router1"}}));
  EXPECT_EQ(got[1].message.kind, snmp::kKindTrapV2);
  EXPECT_EQ(got[1].message.variables,
            (std::vector<Variable>{
                {snmp::kSysUpTime, kTypeTimeTicks, "55"},
                {snmp::kSnmpTrapOid, kTypeObjectId, "1.3.6.1.4.1.32473.1.100.2.0.1200"},
                {"1.3.6.1.4.1.32473.1.100.1.1201", kTypeDisplayString, "router"}}));

  const std::vector<std::string> lines = FileLines("Debug.txt");
  const std::optional<std::vector<std::string>> in = Record(lines, kTrapInHeader, 0);
  const std::optional<std::vector<std::string>> out = Record(lines, kNotWrappedHeader, 0);
  const std::optional<std::vector<std::string>> wrapped = Record(lines, kWrappedHeader, 0);
  ASSERT_TRUE(in && out && wrapped);
  const DumpHead head = {"SNMPv2Inform", "1.3.6.1.6.3.1.1.5.1", "0.0.0.0", "127.0.0.1", "public",
                         "987"};
  const std::vector<Variable> sys_name = {{kSysName, kTypeDisplayString, "router1"}};
  EXPECT_TRUE(LinesMatch(*in, ExpectedDump(kTrapInHeader, head, sys_name)));
  EXPECT_TRUE(LinesMatch(*out, ExpectedDump(kNotWrappedHeader, head, sys_name)));
  EXPECT_TRUE(LinesMatch(
      *wrapped, ExpectedDump(kWrappedHeader,
                             {"SNMPv2Inform", "1.3.6.1.4.1.32473.1.100.2.0.1200", "0.0.0.0",
                              "127.0.0.1", "public", "55"},
                             {{"1.3.6.1.4.1.32473.1.100.1.1201", kTypeDisplayString, "router"}})));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

}  // namespace
}  // namespace tervane::testing
