// Datagrams captured from net-snmp's snmptrap and snmpinform (tests/testdata/*.hex): each
// must decode to exactly the fields its command line gave, and encode back byte for byte,
// since net-snmp writes the same minimal forms we do.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service/snmp/codec.h"
#include "service/snmp/message_printer.h"
#include "tests/hex_file.h"

namespace tervane::snmp {
namespace {

std::vector<uint8_t> LoadCapture(const std::string& name) {
  auto bytes = testing::LoadHexFile(std::string(TERVANE_TESTDATA_DIR) + "/" + name);
  EXPECT_TRUE(bytes.ok()) << bytes.status().ToString();
  return bytes.ok() ? *bytes : std::vector<uint8_t>{};
}

Message V1(std::string community, std::string enterprise, int32_t generic, int32_t specific,
           uint32_t time_stamp, std::vector<Variable> variables) {
  Message m;
  m.community = std::move(community);
  m.kind = kKindTrapV1;
  m.enterprise = std::move(enterprise);
  m.agent_address = "192.0.2.7";
  m.generic_trap = generic;
  m.specific_trap = specific;
  m.time_stamp = time_stamp;
  m.variables = std::move(variables);
  return m;
}

Message V2(int32_t kind, int32_t request_id, std::vector<Variable> variables) {
  Message m;
  m.community = "public";
  m.kind = kind;
  m.request_id = request_id;
  m.variables = std::move(variables);
  return m;
}

TEST(Captures, DecodeToTheirCommandLinesAndEncodeBackExactly) {
  const std::string e = "1.3.6.1.4.1.32473.9.";
  struct Case {
    const char* file;
    Message expected;
  };
  const std::vector<Case> cases = {
      {"v1_enterprise_specific.hex", V1("public", "1.3.6.1.4.1.9", 6, 5, 12345,
                                        {{"1.3.6.1.2.1.1.5.0", kTypeDisplayString, "router1"},
                                         {"1.3.6.1.4.1.9.9.1.0", kTypeInteger32, "-42"}})},
      {"v1_linkdown_generic.hex", V1("private", "1.3.6.1.4.1.8072.3.2.10", 2, 0, 987,
                                     {{"1.3.6.1.2.1.2.2.1.1.7", kTypeInteger32, "7"}})},
      {"v2c_linkdown.hex", V2(kKindTrapV2, 1435601745,
                              {{"1.3.6.1.2.1.1.3.0", kTypeTimeTicks, "987"},
                               {"1.3.6.1.6.3.1.1.4.1.0", kTypeObjectId, "1.3.6.1.6.3.1.1.5.3"},
                               {"1.3.6.1.2.1.2.2.1.1.7", kTypeInteger32, "7"},
                               {"1.3.6.1.2.1.2.2.1.2.7", kTypeDisplayString, "PORT 042 DOWN"}})},
      {"v2c_all_types.hex",
       V2(kKindTrapV2, 584346021,
          {{"1.3.6.1.2.1.1.3.0", kTypeTimeTicks, "4294967295"},
           {"1.3.6.1.6.3.1.1.4.1.0", kTypeObjectId, e + "0.1"},
           {e + "1", kTypeInteger32, "-2147483648"},
           {e + "2", kTypeInteger32, "2147483647"},
           {e + "3", kTypeDisplayString, "hello, world"},
           {e + "4", kTypeDisplayString, std::string("\x00\x0d\x0a\x7f\x80\xff", 6)},
           {e + "5", kTypeObjectId, "1.3.6.1.4.1.4294967295.0"},
           {e + "6", kTypeIpAddress, "192.0.2.1"},
           {e + "7", kTypeCounter32, "4294967295"},
           {e + "8", kTypeGauge32, "4294967295"},
           {e + "9", kTypeTimeTicks, "4294967295"},
           {e + "10", kTypeCounter64, "18446744073709551615"},
           {e + "11", kTypeOpaque, "\x9f\x7b\x01\x05"},
           {e + "12", kTypeNoValue, ""},
           {e + "13", kTypeDisplayString, ""}})},
      {"inform.hex", V2(kKindInform, 1285455953,
                        {{"1.3.6.1.2.1.1.3.0", kTypeTimeTicks, "987"},
                         {"1.3.6.1.6.3.1.1.4.1.0", kTypeObjectId, "1.3.6.1.6.3.1.1.5.1"},
                         {"1.3.6.1.2.1.1.5.0", kTypeDisplayString, "router1"}})},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> wire = LoadCapture(c.file);
    ASSERT_FALSE(wire.empty()) << c.file;
    Message decoded;
    Status status = Decode(wire, &decoded);
    ASSERT_TRUE(status.ok()) << c.file << ": " << status.ToString();
    EXPECT_EQ(decoded, c.expected) << c.file;
    std::vector<uint8_t> encoded;
    ASSERT_TRUE(Encode(decoded, &encoded).ok()) << c.file;
    EXPECT_EQ(encoded, wire) << c.file;
  }
}

TEST(Captures, NoTruncationIsAccepted) {
  for (const char* file :
       {"v1_enterprise_specific.hex", "v1_linkdown_generic.hex", "v2c_linkdown.hex",
        "v2c_all_types.hex", "inform.hex", "bench_v2c_10.hex"}) {
    const std::vector<uint8_t> wire = LoadCapture(file);
    ASSERT_FALSE(wire.empty()) << file;
    Message m;
    for (size_t n = 0; n < wire.size(); ++n) {
      EXPECT_EQ(Decode(std::span(wire).first(n), &m).error(), kErrorMalformed)
          << file << " cut to " << n << " bytes";
    }
    ASSERT_TRUE(Decode(wire, &m).ok()) << file;
  }
}

TEST(Captures, BenchmarkInputIsATenBindingTrap) {
  const std::vector<uint8_t> wire = LoadCapture("bench_v2c_10.hex");
  Message m;
  ASSERT_TRUE(Decode(wire, &m).ok());
  EXPECT_EQ(m.kind, kKindTrapV2);
  ASSERT_EQ(m.variables.size(), 10u);
  EXPECT_EQ(m.variables[0], (Variable{"1.3.6.1.2.1.1.3.0", kTypeTimeTicks, "123456789"}));
  EXPECT_EQ(m.variables[7],
            (Variable{"1.3.6.1.2.1.31.1.1.1.6.7", kTypeCounter64, "987654321012345"}));
  EXPECT_EQ(m.variables[8], (Variable{"1.3.6.1.6.3.18.1.3.0", kTypeIpAddress, "192.0.2.7"}));
  std::vector<uint8_t> encoded;
  ASSERT_TRUE(Encode(m, &encoded).ok());
  EXPECT_EQ(encoded, wire);
}

TEST(HexFile, ParsesCaptureText) {
  struct Case {
    const char* text;
    bool ok;
    std::vector<uint8_t> bytes;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"# comment 30 02\n30 02\n  05 00\n", true, {0x30, 0x02, 0x05, 0x00}, ""},
      {"  # indented comment\r\nAbCd", true, {0xAB, 0xCD}, ""},
      {"3002 0500", true, {0x30, 0x02, 0x05, 0x00}, ""},
      {"", true, {}, ""},
      {"30 0", false, {}, "odd number of hex digits"},
      {"30\n02 # trailing remark", false, {}, "unexpected character '#' on line 2"},
      {"30 0g", false, {}, "unexpected character 'g' on line 1"},
  };
  for (const Case& c : cases) {
    auto parsed = testing::ParseHex(c.text);
    EXPECT_EQ(parsed.ok(), c.ok) << c.text;
    if (parsed.ok()) {
      EXPECT_EQ(*parsed, c.bytes) << c.text;
    } else {
      EXPECT_EQ(parsed.status().description(), c.error) << c.text;
    }
  }
  auto missing = testing::LoadHexFile(std::string(TERVANE_TESTDATA_DIR) + "/no_such_file.hex");
  EXPECT_EQ(missing.status().error(), kErrorNotFound);
}

}  // namespace
}  // namespace tervane::snmp
