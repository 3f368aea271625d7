// TervixSrv end to end, on awkward input: null-valued bindings, SNMPv2 messages without
// their two head bindings, binary values and the largest TimeTicks, and more bindings than
// the relay keeps.
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

using snmp::kTypeDisplayString;
using snmp::kTypeInteger32;
using snmp::kTypeIpAddress;
using snmp::kTypeNoValue;
using snmp::kTypeObjectId;
using snmp::kTypeTimeTicks;

constexpr char kDefined[] = "1.3.6.1.4.1.32473.7.6.1";
constexpr char kUndefined[] = "1.3.6.1.4.1.32473.7.6.2";
constexpr char kNull1[] = "1.3.6.1.4.1.32473.7.6.10";
constexpr char kNull2[] = "1.3.6.1.4.1.32473.7.6.11";

Message WithKind(Message m, int32_t kind) {
  m.kind = kind;
  return m;
}

// A binding of type code 0 is recorded whatever DebugMode says, and the message is not
// sent on; an inform that carries one is still acknowledged.
TEST_F(RelayTest, NullValuedBindingsAreRecordedAndNotSentOn) {
  RelayConfig config;  // DebugMode off
  config.definitions = {Definition(kDefined, 1, {Piece(1, 3)}, 1000)};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  const Variable text = {"1.3.6.1.4.1.32473.7.6.3", kTypeDisplayString, "ABCDEF"};
  Send(V2Trap(kDefined, {{kNull1, kTypeNoValue, ""}, text, {kNull2, kTypeNoValue, ""}}));
  Message v1;
  v1.kind = snmp::kKindTrapV1;
  v1.community = "public";
  v1.enterprise = "1.3.6.1.4.1.32473.7";
  v1.agent_address = "192.0.2.7";
  v1.generic_trap = 6;
  v1.specific_trap = 1;
  v1.variables = {text, {kNull1, kTypeNoValue, ""}};
  Send(v1);
  // A response is never relayed, but its null is still recorded.
  Send(WithKind(V2Trap(kUndefined, {{kNull2, kTypeNoValue, ""}}), snmp::kKindResponse));
  std::string output;
  EXPECT_EQ(
      RunTool(snmpinform_,
              {"-v", "2c", "-c", "public", "-r", "0", "-t", "3", "987", kDefined, kNull1, "n", ""},
              &output),
      0)
      << output;

  const std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(got->empty()) << got->size() << " sent";
  const std::vector<std::string> null_record = {kNullValuesHeader + std::string("{stamp}"),
                                                "{stamp}\tsnmpManager_Trap"};
  auto record = [&](std::vector<std::string> oids) {
    std::vector<std::string> lines = null_record;
    lines.insert(lines.end(), oids.begin(), oids.end());
    lines.insert(lines.end(), {"", ""});
    return lines;
  };
  std::vector<std::string> expected = record({kNull1, kNull2});
  for (const auto& oids : {std::vector<std::string>{kNull1}, std::vector<std::string>{kNull2},
                           std::vector<std::string>{kNull1}}) {
    const std::vector<std::string> more = record(oids);
    expected.insert(expected.end(), more.begin(), more.end());
  }
  EXPECT_TRUE(LinesMatch(FileLines("Debug.txt"), expected));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

// Without sysUpTime.0 and snmpTrapOID.0 (an OBJECT IDENTIFIER) as its first two bindings
// an SNMPv2 message is recorded but neither looked up nor sent, also when the trap before
// it matched a definition; an inform is still acknowledged.
TEST_F(RelayTest, SnmpV2MessagesWithoutTheirHeadBindingsAreNotSent) {
  RelayConfig config;
  config.debug = true;
  config.definitions = {Definition(kDefined, 1, {Piece(1, 3)}, 1000)};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  const Variable text = {"1.3.6.1.4.1.32473.7.6.3", kTypeDisplayString, "ABCDEF"};
  const Variable uptime = {snmp::kSysUpTime, kTypeTimeTicks, "555"};
  const Variable trap_oid = {snmp::kSnmpTrapOid, kTypeObjectId, kDefined};
  Send(V2Trap(kDefined, {text}));  // wrapped: sets the OID and sysUpTime that follow
  Message swapped = V2Trap(kDefined, {text});
  std::swap(swapped.variables[0], swapped.variables[1]);
  Send(swapped);
  Message no_trap_oid = V2Trap(kDefined, {});
  no_trap_oid.variables = {uptime};
  Send(no_trap_oid);
  Message oid_as_text = V2Trap(kDefined, {text});
  oid_as_text.variables[1].type = kTypeDisplayString;
  Send(oid_as_text);
  Message empty = V2Trap(kDefined, {});
  empty.variables.clear();
  Send(empty);
  Message inform = V2Trap(kDefined, {});
  inform.kind = snmp::kKindInform;
  inform.request_id = 777;
  inform.variables = {text};
  const std::optional<Message> answer = Inform(inform);
  ASSERT_TRUE(answer.has_value()) << "inform not acknowledged";
  EXPECT_EQ(answer->kind, snmp::kKindResponse);
  EXPECT_EQ(answer->request_id, 777);
  EXPECT_EQ(answer->community, "public");
  EXPECT_EQ(answer->variables, inform.variables);
  // A sysUpTime.0 that is no TimeTicks number makes a malformed message too, and an inform
  // is acknowledged all the same: its sender would otherwise retry it and lose it.
  const Variable bad_uptimes[] = {{snmp::kSysUpTime, kTypeDisplayString, "123"},
                                  {snmp::kSysUpTime, snmp::kTypeNoValue, ""},
                                  {snmp::kSysUpTime, kTypeInteger32, "-1"}};
  for (const Variable& bad : bad_uptimes) {
    Message m = V2Trap(kDefined, {text});
    m.kind = snmp::kKindInform;
    m.request_id = 778;
    m.variables[0] = bad;
    const std::optional<Message> acknowledged = Inform(m);
    ASSERT_TRUE(acknowledged.has_value()) << "inform with sysUpTime " << bad.value;
    EXPECT_EQ(acknowledged->variables, m.variables);
  }

  const std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ(TrapOidOf((*got)[0].message), kWrappedTrapPrefix + std::string("1000"));

  EXPECT_EQ(Events(), std::vector<std::string>{"Tervane: information 101"});
  const std::vector<std::string> lines = FileLines("Debug.txt");
  EXPECT_EQ(CountRecords(lines, kTrapInHeader), 10);  // the nine above and the marker
  EXPECT_EQ(CountRecords(lines, kWrappedHeader), 1);
  EXPECT_EQ(CountRecords(lines, kNotWrappedHeader), 1);  // the marker
  struct Case {
    const char* name;
    DumpHead head;
    std::vector<Variable> vars;
  } const cases[] = {
      {"swapped", {"SNMPv2Trap", "", "0.0.0.0", "127.0.0.1", "public", ""}, {text}},
      {"no snmpTrapOID.0", {"SNMPv2Trap", "", "0.0.0.0", "127.0.0.1", "public", "555"}, {}},
      {"OID as text", {"SNMPv2Trap", "", "0.0.0.0", "127.0.0.1", "public", "987"}, {text}},
      {"no bindings", {"SNMPv2Trap", "", "0.0.0.0", "127.0.0.1", "public", ""}, {}},
      {"inform", {"SNMPv2Inform", "", "0.0.0.0", "127.0.0.1", "public", ""}, {}},
      {"uptime as text", {"SNMPv2Inform", kDefined, "0.0.0.0", "127.0.0.1", "public", ""}, {text}},
      {"uptime NULL", {"SNMPv2Inform", kDefined, "0.0.0.0", "127.0.0.1", "public", ""}, {text}},
      {"uptime -1", {"SNMPv2Inform", kDefined, "0.0.0.0", "127.0.0.1", "public", ""}, {text}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::optional<std::vector<std::string>> in =
        Record(lines, kTrapInHeader, static_cast<int>(i) + 1);
    ASSERT_TRUE(in.has_value());
    EXPECT_TRUE(LinesMatch(*in, ExpectedDump(kTrapInHeader, cases[i].head, cases[i].vars)));
  }
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

// Every byte value, CR, LF, TAB and NUL included, and TimeTicks of 4294967295 arrive as
// they were sent, with DebugMode on; only the records show blanks.
TEST_F(RelayTest, BinaryValuesAndLargestTimeTicksForwardedByteExact) {
  RelayConfig config;
  config.debug = true;
  config.definitions = {
      Definition(kDefined, 1, {Piece(1, 16), Piece(250, 10), Piece(10, 4)}, 1000)};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  const std::string all = snmp::AllBytes();
  const std::vector<Variable> vars = {
      {"1.3.6.1.4.1.32473.7.6.3", kTypeDisplayString, all},
      {"1.3.6.1.4.1.32473.7.6.4", kTypeTimeTicks, "4294967295"},
      {"1.3.6.1.4.1.32473.7.6.5", kTypeDisplayString, std::string("a\r\nb\tc\0d", 8)},
  };
  const Message plain = V2Trap(kUndefined, vars, "bin\tary", "4294967295");
  Send(plain);
  Send(V2Trap(kDefined, vars, "public", "4294967295"));
  Message v1;
  v1.kind = snmp::kKindTrapV1;
  v1.community = "public";
  v1.enterprise = "1.3.6.1.4.1.32473.7";
  v1.agent_address = "192.0.2.7";
  v1.generic_trap = 6;
  v1.specific_trap = 2;
  v1.time_stamp = 4294967295u;
  v1.variables = vars;
  Send(v1);

  const std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 3u);
  EXPECT_EQ((*got)[0].message.community, "bin\tary");
  EXPECT_EQ((*got)[0].message.variables, plain.variables);
  std::vector<Variable> wrapped = {
      {snmp::kSysUpTime, kTypeTimeTicks, "4294967295"},
      {snmp::kSnmpTrapOid, kTypeObjectId, kWrappedTrapPrefix + std::string("1000")},
      {kNewVarPrefix + std::string("1001"), kTypeDisplayString, all.substr(0, 16)},
      {kNewVarPrefix + std::string("1002"), kTypeDisplayString, all.substr(249)},
      {kNewVarPrefix + std::string("1003"), kTypeDisplayString, "\t\n\v\f"},
      vars[1],
      vars[2]};
  EXPECT_EQ((*got)[1].message.variables, wrapped);
  const Message& v1_got = (*got)[2].message;
  EXPECT_EQ(v1_got.kind, snmp::kKindTrapV1);
  EXPECT_EQ(v1_got.time_stamp, 4294967295u);
  EXPECT_EQ(v1_got.variables, vars);

  const std::vector<std::string> lines = FileLines("Debug.txt");
  const DumpHead head = {"SNMPv2Trap", kUndefined, "0.0.0.0", "127.0.0.1", "bin ary", "4294967295"};
  const std::optional<std::vector<std::string>> in = Record(lines, kTrapInHeader, 0);
  const std::optional<std::vector<std::string>> out = Record(lines, kNotWrappedHeader, 0);
  const std::optional<std::vector<std::string>> wrapped_out = Record(lines, kWrappedHeader, 0);
  ASSERT_TRUE(in && out && wrapped_out);
  EXPECT_TRUE(LinesMatch(*in, ExpectedDump(kTrapInHeader, head, vars)));
  EXPECT_TRUE(LinesMatch(*out, ExpectedDump(kNotWrappedHeader, head, vars)));
  EXPECT_TRUE(
      LinesMatch(*wrapped_out, ExpectedDump(kWrappedHeader,
                                            {"SNMPv2Trap", kWrappedTrapPrefix + std::string("1000"),
                                             "0.0.0.0", "127.0.0.1", "public", "4294967295"},
                                            {wrapped.begin() + 2, wrapped.end()})));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

// 25 bindings after the head: the first 20 are sent on. An snmpTrapAddress binding in the
// middle is not counted; in SNMPv2 form it goes last, unless it is 0.0.0.0. The SNMPv1 form
// carries the source address as its agent address instead.
TEST_F(RelayTest, TwentyBindingsKeptAndSnmpTrapAddressAppendedLast) {
  std::vector<Variable> vars;
  for (int i = 1; i <= 25; ++i) {
    vars.push_back(
        {"1.3.6.1.4.1.32473.7.7." + std::to_string(i), kTypeInteger32, std::to_string(i)});
  }
  const Variable address = {kSnmpTrapAddress, kTypeIpAddress, "192.0.2.99"};
  std::vector<Variable> sent = vars;
  sent.insert(sent.begin() + 12, address);
  const std::vector<Variable> first20(vars.begin(), vars.begin() + 20);

  for (const bool convert : {false, true}) {
    SCOPED_TRACE(convert ? "converting" : "not converting");
    RelayConfig config;
    config.debug = true;
    config.convert = convert;
    config.definitions = {Definition(kDefined, 2, {Piece(1, 1, "Integer32")}, 1000)};
    ASSERT_NO_FATAL_FAILURE(Configure(config));
    ASSERT_NO_FATAL_FAILURE(StartRelay());
    Send(V2Trap(kUndefined, sent));
    Send(V2Trap(kDefined, sent));
    Send(V2Trap(kUndefined, {vars[0], {kSnmpTrapAddress, kTypeIpAddress, "0.0.0.0"}}));
    // An SNMPv1 trap keeps its first 20 bindings too; snmpTrapAddress is nothing special
    // there.
    Message v1;
    v1.kind = snmp::kKindTrapV1;
    v1.community = "public";
    v1.enterprise = "1.3.6.1.4.1.32473.7";
    v1.agent_address = "192.0.2.7";
    v1.generic_trap = 6;
    v1.specific_trap = 3;
    v1.variables = sent;
    Send(v1);
    const std::optional<std::vector<Received>> got = Flush();
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->size(), 4u);
    const std::vector<Variable> v1_first20(sent.begin(), sent.begin() + 20);
    EXPECT_EQ((*got)[3].message.kind, snmp::kKindTrapV1);
    EXPECT_EQ((*got)[3].message.variables, v1_first20);

    std::vector<Variable> forwarded = first20;
    std::vector<Variable> wrapped = {{kNewVarPrefix + std::string("1001"), kTypeInteger32, "2"},
                                     vars[0]};
    wrapped.insert(wrapped.end(), vars.begin() + 2, vars.begin() + 20);
    if (convert) {
      for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ((*got)[i].message.kind, snmp::kKindTrapV1);
        EXPECT_EQ((*got)[i].message.agent_address, "127.0.0.1");
      }
    } else {
      forwarded.push_back(address);
      wrapped.push_back(address);
      const std::vector<Variable> head = V2Trap(kUndefined, {}).variables;
      forwarded.insert(forwarded.begin(), head.begin(), head.end());
      wrapped.insert(
          wrapped.begin(),
          {head[0], {snmp::kSnmpTrapOid, kTypeObjectId, kWrappedTrapPrefix + std::string("1000")}});
    }
    EXPECT_EQ((*got)[0].message.variables, forwarded);
    EXPECT_EQ((*got)[1].message.variables, wrapped);
    EXPECT_EQ((*got)[2].message.variables,
              convert ? std::vector<Variable>{vars[0]} : V2Trap(kUndefined, {vars[0]}).variables);

    const std::vector<std::string> lines = FileLines("Debug.txt");
    const std::optional<std::vector<std::string>> in = Record(lines, kTrapInHeader, 0);
    const std::optional<std::vector<std::string>> out = Record(lines, kNotWrappedHeader, 0);
    ASSERT_TRUE(in && out);
    DumpHead head = {"SNMPv2Trap", kUndefined, "192.0.2.99", "127.0.0.1", "public", "987"};
    EXPECT_TRUE(LinesMatch(*in, ExpectedDump(kTrapInHeader, head, first20)));
    std::vector<Variable> listed = first20;
    if (convert) {
      head.version = "SNMPv1Trap";
      head.source_agent = "127.0.0.1";
    } else {
      listed.push_back(address);
    }
    EXPECT_TRUE(LinesMatch(*out, ExpectedDump(kNotWrappedHeader, head, listed)));
    ASSERT_NO_FATAL_FAILURE(StopRelay());
    relay_.reset();
  }
}

// A datagram holds up to thousands of short bindings; none of them makes a well-formed
// message malformed. The inform is answered with every binding it carried, and the first 20
// go on.
TEST_F(RelayTest, InformWithThousandsOfBindingsIsAnsweredAndSentOnWithTwenty) {
  ASSERT_NO_FATAL_FAILURE(Configure(RelayConfig()));
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  std::vector<Variable> vars;
  for (int i = 1; i <= 1500; ++i) {
    vars.push_back({"1.3.6.1.4.1.32473.7.8." + std::to_string(i), kTypeInteger32, "1"});
  }
  Message inform = V2Trap(kUndefined, vars);
  inform.kind = snmp::kKindInform;
  const std::optional<Message> answer = Inform(inform);
  ASSERT_TRUE(answer.has_value()) << "inform not acknowledged:\n" << relay_->output();
  EXPECT_EQ(answer->variables, inform.variables);
  const std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0].message.variables,
            V2Trap(kUndefined, std::vector<Variable>(vars.begin(), vars.begin() + 20)).variables);
  EXPECT_EQ(Events(), std::vector<std::string>{"Tervane: information 101"});
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

}  // namespace
}  // namespace tervane::testing
