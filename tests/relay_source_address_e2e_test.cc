// TervixSrv's option AddSourceAddress end to end over 127.0.0.1: a trap that snmptrap sends
// without snmpTrapAddress.0 reaches net-snmp's snmptrapd carrying the address it came from
// (a new database has "1"), and as it was sent with "0"; with "replace" that address takes
// the place of the one the trap carried; the debug record lists the binding sent; a trap that
// the binding would make too large for a datagram goes without it; and another value of the
// option ends the start.
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

using snmp::kTypeDisplayString;
using snmp::kTypeIpAddress;

constexpr char kLinkDown[] = "1.3.6.1.6.3.1.1.5.3";
constexpr char kIfIndex7[] = "1.3.6.1.2.1.2.2.1.1.7";

// Each trap becomes one record: the bindings as "OID = TYPE: value", separated by '~'.
constexpr char kTrapdConfig[] =
    "disableAuthorization yes\n"
    "format2 V2|%V~%v|END\\n\n";

TEST_F(RelayTest, SnmptrapsTrapReachesSnmptrapdWithItsSourceAddressUnlessTheOptionIsZero) {
  uint16_t trapd_port = 0;
  std::unique_ptr<Subprocess> trapd = StartTrapd(kTrapdConfig, {"-n", "-On", "-Ox"}, &trapd_port);
  ASSERT_NE(trapd, nullptr);
  RelayConfig config;
  config.debug = true;
  config.forw_port = trapd_port;
  const std::vector<std::string> port_down = {"-v",      "2c",      "-c", "public", "987",
                                              kLinkDown, kIfIndex7, "i",  "7"};
  std::vector<std::string> wrong_address = port_down;
  wrong_address.insert(wrong_address.end(), {kSnmpTrapAddress, "a", "10.9.9.9"});
  struct Run {
    const char* option;  // "": as a new database has it
    std::vector<std::string> trap;
    const char* address;  // the snmpTrapAddress.0 that arrives, or nullptr
  } const runs[] = {{"", port_down, "127.0.0.1"},
                    {"0", port_down, nullptr},
                    {"replace", wrong_address, "127.0.0.1"}};
  for (size_t r = 0; r < std::size(runs); ++r) {
    const Run& run = runs[r];
    SCOPED_TRACE(run.option[0] == '\0' ? "new database" : run.option);
    config.add_source_address = run.option;
    ASSERT_NO_FATAL_FAILURE(Configure(config));
    ASSERT_NO_FATAL_FAILURE(StartRelay());
    std::string output;
    ASSERT_EQ(RunTool(snmptrap_, run.trap, &output), 0) << output;
    EXPECT_TRUE(PumpUntil(
        [&] {
          trapd->Drain();
          return snmp::TrapdRecords(trapd->output()).size() > r;
        },
        10000));
    ASSERT_NO_FATAL_FAILURE(StopRelay());
    const std::vector<std::string> records = snmp::TrapdRecords(trapd->output());
    ASSERT_EQ(records.size(), r + 1) << trapd->output();

    // The address goes last, after the bindings the device sent, and nowhere else.
    std::string end = "~." + std::string(kIfIndex7) + " = INTEGER: 7";
    if (run.address != nullptr) {
      end += "~." + std::string(kSnmpTrapAddress) + " = IpAddress: " + run.address;
    }
    EXPECT_TRUE(records[r].ends_with(end)) << records[r];
    EXPECT_EQ(records[r].find(kSnmpTrapAddress), records[r].rfind(kSnmpTrapAddress)) << records[r];

    // The record of the trap sent lists the bindings sent, with the address.
    std::vector<std::string> tail = {"TrapVarList.varOid(1)=" + std::string(kIfIndex7),
                                     "TrapVarList.varValue(1)=7", "TrapVarList.varType(1)=1"};
    if (run.address != nullptr) {
      tail.insert(tail.end(), {"TrapVarList.varOid(2)=" + std::string(kSnmpTrapAddress),
                               "TrapVarList.varValue(2)=" + std::string(run.address),
                               "TrapVarList.varType(2)=4"});
    }
    tail.emplace_back("");
    const std::optional<std::vector<std::string>> record =
        Record(FileLines("Debug.txt"), kNotWrappedHeader);
    ASSERT_TRUE(record.has_value()) << Escaped(ReadProgramFile("Debug.txt").value_or(""));
    ASSERT_GE(record->size(), tail.size());
    EXPECT_EQ(
        std::vector<std::string>(record->end() - static_cast<long>(tail.size()), record->end()),
        tail);
  }
}

// The size of the datagram of `m` as our agent sends it.
size_t EncodedSize(const Message& m) {
  std::vector<uint8_t> wire;
  EXPECT_TRUE(snmp::Encode(m, &wire).ok());
  return wire.size();
}

// A trap near the largest datagram goes on without the address that would not fit, instead of
// being lost, and its record lists no address; one a little smaller takes it. Both as sent at
// once (debug mode on) and at the end of a batch.
TEST_F(RelayTest, TheSourceAddressIsLeftOffWhereTheDatagramWouldBeTooLarge) {
  auto padded = [](size_t size) {
    Message m =
        V2Trap("1.3.6.1.4.1.32473.7.9", {{"1.3.6.1.4.1.32473.7.9.1", kTypeDisplayString, ""}});
    // Long enough that each length takes 3 octets, then made up to `size`.
    m.variables[2].value.assign(60000, 'x');
    m.variables[2].value.append(size - EncodedSize(m), 'x');
    EXPECT_EQ(EncodedSize(m), size);
    return m;
  };
  // The relay's request-id takes one octet less than ours; the address takes 18.
  const Message too_large = padded(snmp::kMaxDatagram - 10);
  const Message fitting = padded(snmp::kMaxDatagram - 30);
  std::vector<Variable> with_address = fitting.variables;
  with_address.push_back({kSnmpTrapAddress, kTypeIpAddress, "127.0.0.1"});
  for (const bool debug : {false, true}) {
    SCOPED_TRACE(debug ? "debug mode" : "batched");
    RelayConfig config;
    config.debug = debug;
    config.add_source_address = "1";
    ASSERT_NO_FATAL_FAILURE(Configure(config));
    ASSERT_NO_FATAL_FAILURE(StartRelay());
    Send(too_large);
    Send(fitting);
    const std::optional<std::vector<Received>> got = Flush();
    ASSERT_NO_FATAL_FAILURE(StopRelay());
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->size(), 2u);
    EXPECT_EQ((*got)[0].message.variables, too_large.variables);
    EXPECT_EQ((*got)[1].message.variables, with_address);
    if (!debug) continue;
    const std::vector<std::string> lines = FileLines("Debug.txt");
    for (int nth = 0; nth < 2; ++nth) {
      const std::optional<std::vector<std::string>> record = Record(lines, kNotWrappedHeader, nth);
      ASSERT_TRUE(record.has_value());
      ASSERT_GE(record->size(), 2u);
      EXPECT_EQ((*record)[record->size() - 2] == "TrapVarList.varType(2)=4", nth == 1);
    }
  }
}

}  // namespace
}  // namespace tervane::testing
