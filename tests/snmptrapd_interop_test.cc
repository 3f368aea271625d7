// Our agent against net-snmp's receiver, live over 127.0.0.1 on a free port: snmptrapd
// must print every SNMPv1 and SNMPv2c trap our agent sends with the header fields and
// every binding's OID, type and value that it was given, octet strings compared in hex.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/agent.h"
#include "service/snmp/message.h"
#include "tests/net_snmp.h"

namespace tervane::snmp {
namespace {

// Each trap becomes one record: fields separated by '|', bindings by '~', ended by
// "|END". Octet strings print in hex (-Ox), so no value can contain a separator.
constexpr const char* kTrapdConfig =
    "disableAuthorization yes\n"
    "format1 V1|%u|%N|%a|%w|%q|%T|%V~%v|END\\n\n"
    "format2 V2|%u|%V~%v|END\\n\n";

// One binding as snmptrapd prints it with -On -Ox ("OID = TYPE: value"), read back into
// our type code and value text.
Variable ParseTrapdBinding(const std::string& text) {
  Variable v;
  const size_t eq = text.find(" = ");
  if (eq == std::string::npos) return {"unparsed: " + text, -1, ""};
  v.oid = StripDot(text.substr(0, eq));
  const std::string value = text.substr(eq + 3);
  struct Prefix {
    const char* text;
    int32_t type;
  } const prefixes[] = {
      {"INTEGER: ", kTypeInteger32},    {"Hex-STRING: ", kTypeDisplayString},
      {"OID: ", kTypeObjectId},         {"IpAddress: ", kTypeIpAddress},
      {"Counter32: ", kTypeCounter32},  {"Gauge32: ", kTypeGauge32},
      {"Timeticks: (", kTypeTimeTicks}, {"Counter64: ", kTypeCounter64},
      {"OPAQUE: ", kTypeOpaque},
  };
  if (value == "NULL") return {v.oid, kTypeNoValue, ""};
  if (value == "\"\"") return {v.oid, kTypeDisplayString, ""};
  for (const Prefix& p : prefixes) {
    const std::string prefix = p.text;
    if (value.compare(0, prefix.size(), prefix) != 0) continue;
    std::string rest = value.substr(prefix.size());
    v.type = p.type;
    if (p.type == kTypeDisplayString || p.type == kTypeOpaque) {
      const std::optional<std::string> bytes = Unhex(rest);
      v.value = bytes ? *bytes : "bad hex: " + rest;
    } else if (p.type == kTypeTimeTicks) {
      v.value = rest.substr(0, rest.find(')'));
    } else if (p.type == kTypeObjectId) {
      v.value = StripDot(rest);
    } else {
      v.value = rest;
    }
    return v;
  }
  return {v.oid, -1, "unparsed: " + value};
}

std::vector<Variable> ParseBindings(const std::string& text) {
  std::vector<Variable> bindings;
  if (text.empty()) return bindings;
  for (const std::string& b : Split(text, "~")) bindings.push_back(ParseTrapdBinding(b));
  return bindings;
}

class SnmptrapdTest : public NetSnmpTest {
 protected:
  std::unique_ptr<Subprocess> StartTrapd(uint16_t* port) {
    return NetSnmpTest::StartTrapd(kTrapdConfig, {"-n", "-On", "-Ox", "-m", ""}, port);
  }
};

TEST_F(SnmptrapdTest, PrintsEveryBindingOurAgentSends) {
  uint16_t port = 0;
  std::unique_ptr<Subprocess> trapd = StartTrapd(&port);
  ASSERT_NE(trapd, nullptr);

  const std::vector<Variable> payload = {
      {"1.3.6.1.4.1.32473.1.1", kTypeInteger32, "-2147483648"},
      {"1.3.6.1.4.1.32473.1.1", kTypeInteger32, "2147483647"},
      {"1.3.6.1.4.1.32473.1.2", kTypeDisplayString, AllBytes()},
      {"1.3.6.1.4.1.32473.1.2", kTypeDisplayString, "plain text"},
      {"1.3.6.1.4.1.32473.1.2", kTypeDisplayString, ""},
      {"1.3.6.1.4.1.32473.1.3", kTypeObjectId, "1.3.6.1.4.1.32473.4294967295"},
      {"1.3.6.1.4.1.32473.1.3", kTypeObjectId, "0.0"},
      {"1.3.6.1.4.1.32473.1.4", kTypeIpAddress, "255.0.0.1"},
      {"1.3.6.1.4.1.32473.1.5", kTypeCounter32, "4294967295"},
      {"1.3.6.1.4.1.32473.1.6", kTypeGauge32, "4294967295"},
      {"1.3.6.1.4.1.32473.1.7", kTypeTimeTicks, "4294967295"},
      {"1.3.6.1.4.1.32473.1.8", kTypeCounter64, "18446744073709551615"},
      {"1.3.6.1.4.1.32473.1.9", kTypeOpaque, std::string("\x01\x00\xff\x80", 4)},
      {"1.3.6.1.4.1.32473.1.10", kTypeNoValue, ""},
  };

  Message specific;
  specific.kind = kKindTrapV1;
  specific.community = "tervane v1";
  specific.enterprise = kEnterprise;
  specific.agent_address = "192.0.2.9";
  specific.generic_trap = 6;
  specific.specific_trap = 17;
  specific.time_stamp = 4294967295u;
  // SNMPv1 has no Counter64; everything else goes in both versions.
  for (const Variable& v : payload) {
    if (v.type != kTypeCounter64) specific.variables.push_back(v);
  }

  Message generic;
  generic.kind = kKindTrapV1;
  generic.community = "public";
  generic.enterprise = kEnterprise;
  generic.agent_address = "10.0.0.1";
  generic.generic_trap = 3;  // linkUp
  generic.time_stamp = 0;

  Message v2c;
  v2c.kind = kKindTrapV2;
  v2c.community = "tervane-v2";
  v2c.request_id = 12345;
  v2c.variables = {{kSysUpTime, kTypeTimeTicks, "4294967295"},
                   {kSnmpTrapOid, kTypeObjectId, kTrapOid}};
  v2c.variables.insert(v2c.variables.end(), payload.begin(), payload.end());

  Agent agent;
  ASSERT_TRUE(agent.Start(0, "127.0.0.1").ok());
  ASSERT_TRUE(agent.AddDestination("127.0.0.1:" + std::to_string(port)).ok());
  for (const Message* m : {&specific, &generic, &v2c}) {
    agent.Outgoing() = *m;
    Status sent = agent.Send();
    ASSERT_TRUE(sent.ok()) << sent.ToString();
  }

  trapd->ReadUntil([](const std::string& out) { return snmp::TrapdRecords(out).size() >= 3; },
                   10000);
  const std::vector<std::string> records = snmp::TrapdRecords(trapd->output());
  ASSERT_EQ(records.size(), 3u) << trapd->output();

  const Message* v1_sent[] = {&specific, &generic};
  for (size_t r = 0; r < 2; ++r) {
    SCOPED_TRACE(records[r]);
    const Message& m = *v1_sent[r];
    const std::vector<std::string> f = Split(records[r], "|");
    ASSERT_EQ(f.size(), 8u);
    EXPECT_EQ(f[0], "V1");
    EXPECT_EQ(f[1], m.community);
    EXPECT_EQ(StripDot(f[2]), m.enterprise);
    EXPECT_EQ(f[3], m.agent_address);
    EXPECT_EQ(f[4], std::to_string(m.generic_trap));
    EXPECT_EQ(StripDot(f[5]), std::to_string(m.specific_trap));
    EXPECT_EQ(f[6], std::to_string(m.time_stamp));
    EXPECT_EQ(ParseBindings(f[7]), m.variables);
  }
  {
    SCOPED_TRACE(records[2]);
    const std::vector<std::string> f = Split(records[2], "|");
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0], "V2");
    EXPECT_EQ(f[1], v2c.community);
    EXPECT_EQ(ParseBindings(f[2]), v2c.variables);
  }
}

}  // namespace
}  // namespace tervane::snmp
