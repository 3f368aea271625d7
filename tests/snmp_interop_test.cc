// Our manager against net-snmp's senders, live over 127.0.0.1 on a free port: what
// snmptrap and snmpinform send must decode to the fields they were given, every binding's
// OID, type code and value text included, and snmpinform must accept our response.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/event_loop.h"
#include "service/snmp/manager.h"
#include "service/snmp/message.h"
#include "tests/net_snmp.h"

namespace tervane::snmp {
namespace {

// The command-line bindings of the sending tools, each with the binding we must decode.
struct ToolBinding {
  const char* oid;
  const char* type_letter;
  std::string argument;
  Variable expected;
};

std::vector<ToolBinding> ToolBindings(bool v2c) {
  std::vector<ToolBinding> b = {
      {"1.3.6.1.4.1.32473.1.1", "i", "-2147483648", {}},
      {"1.3.6.1.4.1.32473.1.2", "s", "tab\there, line\nbreak, caf\xc3\xa9", {}},
      {"1.3.6.1.4.1.32473.1.3", "x", Hex(AllBytes()), {}},
      {"1.3.6.1.4.1.32473.1.4", "o", "1.3.6.1.4.1.32473.4294967295", {}},
      {"1.3.6.1.4.1.32473.1.5", "a", "255.0.0.1", {}},
      {"1.3.6.1.4.1.32473.1.6", "c", "4294967295", {}},
      {"1.3.6.1.4.1.32473.1.7", "u", "4294967295", {}},
      {"1.3.6.1.4.1.32473.1.8", "t", "4294967295", {}},
      // A float, which net-snmp wraps in an Opaque: we see the wrapper's raw octets.
      {"1.3.6.1.4.1.32473.1.9", "F", "1.5", {}},
      {"1.3.6.1.4.1.32473.1.10", "n", "", {}},
  };
  const std::pair<int32_t, std::string> expected[] = {
      {kTypeInteger32, "-2147483648"},
      {kTypeDisplayString, "tab\there, line\nbreak, caf\xc3\xa9"},
      {kTypeDisplayString, AllBytes()},
      {kTypeObjectId, "1.3.6.1.4.1.32473.4294967295"},
      {kTypeIpAddress, "255.0.0.1"},
      {kTypeCounter32, "4294967295"},
      {kTypeGauge32, "4294967295"},
      {kTypeTimeTicks, "4294967295"},
      {kTypeOpaque, std::string("\x9f\x78\x04\x3f\xc0\x00\x00", 7)},
      {kTypeNoValue, ""},
  };
  for (size_t i = 0; i < b.size(); ++i) {
    b[i].expected = Variable{b[i].oid, expected[i].first, expected[i].second};
  }
  if (v2c) {
    b.push_back({"1.3.6.1.4.1.32473.1.11",
                 "C",
                 "18446744073709551615",
                 {"1.3.6.1.4.1.32473.1.11", kTypeCounter64, "18446744073709551615"}});
  }
  return b;
}

void AppendBindings(const std::vector<ToolBinding>& bindings, std::vector<std::string>* args,
                    std::vector<Variable>* expected) {
  for (const ToolBinding& b : bindings) {
    args->insert(args->end(), {b.oid, b.type_letter, b.argument});
    expected->push_back(b.expected);
  }
}

void ExpectSameMessage(const Message& got, const Message& expected) {
  EXPECT_EQ(got.kind, expected.kind);
  EXPECT_EQ(got.community, expected.community);
  EXPECT_EQ(got.enterprise, expected.enterprise);
  EXPECT_EQ(got.agent_address, expected.agent_address);
  EXPECT_EQ(got.generic_trap, expected.generic_trap);
  EXPECT_EQ(got.specific_trap, expected.specific_trap);
  EXPECT_EQ(got.time_stamp, expected.time_stamp);
  ASSERT_EQ(got.variables.size(), expected.variables.size());
  for (size_t i = 0; i < expected.variables.size(); ++i) {
    SCOPED_TRACE("binding " + std::to_string(i) + " " + expected.variables[i].oid);
    EXPECT_EQ(got.variables[i].oid, expected.variables[i].oid);
    EXPECT_EQ(got.variables[i].type, expected.variables[i].type);
    EXPECT_EQ(got.variables[i].value, expected.variables[i].value);
  }
}

TEST_F(NetSnmpTest, SnmptrapMessagesDecodeToTheirFields) {
  EventLoop loop;
  Manager manager(loop);
  ASSERT_TRUE(manager.Listen(0, "127.0.0.1").ok());
  const std::string target = "127.0.0.1:" + std::to_string(manager.LocalPort());
  std::vector<Message> got;
  manager.SetTrapHandler([&] { got.push_back(manager.CurrentMessage()); });

  struct Case {
    const char* name;
    std::vector<std::string> args;
    Message expected;
  };
  std::vector<Case> cases;
  {
    Case c{"v1 enterprise-specific", {}, {}};
    c.args = {"-v",   "1",         "-c",        "tervane v1", "-m", "",
              target, kEnterprise, "192.0.2.9", "6",          "17", "4294967295"};
    c.expected.kind = kKindTrapV1;
    c.expected.community = "tervane v1";
    c.expected.enterprise = kEnterprise;
    c.expected.agent_address = "192.0.2.9";
    c.expected.generic_trap = 6;
    c.expected.specific_trap = 17;
    c.expected.time_stamp = 4294967295u;
    AppendBindings(ToolBindings(false), &c.args, &c.expected.variables);
    cases.push_back(c);
  }
  {
    Case c{"v1 generic linkDown", {}, {}};
    c.args = {"-v",
              "1",
              "-c",
              "public",
              "-m",
              "",
              target,
              kEnterprise,
              "10.0.0.1",
              "2",
              "0",
              "0",
              "1.3.6.1.2.1.2.2.1.1.3",
              "i",
              "3"};
    c.expected.kind = kKindTrapV1;
    c.expected.community = "public";
    c.expected.enterprise = kEnterprise;
    c.expected.agent_address = "10.0.0.1";
    c.expected.generic_trap = 2;
    c.expected.variables = {{"1.3.6.1.2.1.2.2.1.1.3", kTypeInteger32, "3"}};
    cases.push_back(c);
  }
  {
    Case c{"v2c trap", {}, {}};
    c.args = {"-v", "2c", "-c", "tervane-v2", "-m", "", target, "4294967295", kTrapOid};
    c.expected.kind = kKindTrapV2;
    c.expected.community = "tervane-v2";
    c.expected.variables = {{kSysUpTime, kTypeTimeTicks, "4294967295"},
                            {kSnmpTrapOid, kTypeObjectId, kTrapOid}};
    AppendBindings(ToolBindings(true), &c.args, &c.expected.variables);
    cases.push_back(c);
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    got.clear();
    std::string output;
    const std::optional<int> exit = RunAgainst(
        loop, snmptrap_, c.args, [&] { return !got.empty(); }, &output);
    EXPECT_EQ(exit, 0) << output;
    ASSERT_EQ(got.size(), 1u) << output;
    ExpectSameMessage(got[0], c.expected);
    EXPECT_EQ(manager.SourceAddress(), "127.0.0.1");
  }
  EXPECT_EQ(manager.dropped(), 0u);
}

TEST_F(NetSnmpTest, SnmpinformAcceptsOurResponse) {
  EventLoop loop;
  Manager manager(loop);
  ASSERT_TRUE(manager.Listen(0, "127.0.0.1").ok());
  const std::string target = "127.0.0.1:" + std::to_string(manager.LocalPort());

  std::vector<std::string> args = {
      "-v", "2c", "-c", "inform-community", "-r", "0", "-t", "3", "-m", "", target, "0", kTrapOid};
  Message expected;
  expected.kind = kKindInform;
  expected.community = "inform-community";
  expected.variables = {{kSysUpTime, kTypeTimeTicks, "0"}, {kSnmpTrapOid, kTypeObjectId, kTrapOid}};
  AppendBindings(ToolBindings(true), &args, &expected.variables);

  std::vector<Message> got;
  Status answered = Status::Error(kErrorInternal, "not answered");
  manager.SetTrapHandler([&] {
    got.push_back(manager.CurrentMessage());
    manager.CurrentMessage().kind = kKindResponse;
    answered = manager.SendResponse();
  });
  std::string output;
  std::optional<int> exit = RunAgainst(
      loop, snmpinform_, args, [&] { return !got.empty(); }, &output);
  EXPECT_EQ(exit, 0) << output;
  EXPECT_TRUE(answered.ok()) << answered.ToString();
  ASSERT_EQ(got.size(), 1u) << output;
  ExpectSameMessage(got[0], expected);

  // The control: the same inform left unanswered makes snmpinform fail, so the success
  // above really was our response.
  got.clear();
  manager.SetTrapHandler([&] { got.push_back(manager.CurrentMessage()); });
  args[7] = "1";  // -t 1: give up after one second
  exit = RunAgainst(
      loop, snmpinform_, args, [&] { return !got.empty(); }, &output);
  ASSERT_TRUE(exit.has_value()) << output;
  EXPECT_NE(*exit, 0) << output;
  EXPECT_EQ(got.size(), 1u);
}

}  // namespace
}  // namespace tervane::snmp
