#include "service/relay/outgoing.h"

#include <gtest/gtest.h>

#include <ostream>

#include "service/relay/intake.h"
#include "service/snmp/codec.h"

namespace tervane::snmp {
// Bindings in failure messages as text.
void PrintTo(const Variable& v, std::ostream* os) {
  *os << "{" << v.oid << ", " << v.type << ", \"" << v.value << "\"}";
}
}  // namespace tervane::snmp

namespace tervane::relay {
namespace {

using snmp::Message;
using snmp::Variable;
using store::SourceAddressMode;

constexpr SourceAddressMode kKeep = SourceAddressMode::kKeep;

TEST(CutPiece, CutsShortAtTheEndAndRefusesNegativeNumbers) {
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
    Result<std::string_view> piece = CutPiece(c.source, c.position, c.length);
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
      {"1.3.6.1.6.3.1.1.5", "1.3.6.1.6.3.1.1.5", 0, 0},
      {"1.3.6.1.6.3.1.1.5.3.1", "1.3.6.1.6.3.1.1.5", 0, 0},
      // Holding the standard branch's text is not being under it.
      {"1.3.6.1.4.1.11.3.6.1.6.3.1.1.5.9", "1.3.6.1.4.1.11.3.6.1.6.3.1.1.5", 6, 9},
      {"1.3.6.1.6.3.1.1.50.1", "1.3.6.1.6.3.1.1.50", 6, 1},
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

TEST(ConvertTrapOid, RefusesAnOidThatLeavesNoEnterprise) {
  // The enterprise is the OID without its last sub-identifier and a next-to-last 0; an OID
  // needs two sub-identifiers, so these have no SNMPv1 form.
  for (const char* oid : {"1.0", "1.3", "0.5", "2.0.7", "1.0.0"}) {
    EXPECT_FALSE(ConvertTrapOid(oid).ok()) << oid;
  }
  Result<V1Identity> shortest = ConvertTrapOid("1.3.7");
  ASSERT_TRUE(shortest.ok());
  EXPECT_EQ(shortest->enterprise, "1.3");
  EXPECT_EQ(shortest->specific_trap, 7);
}

// A received SNMPv2 linkDown whose second binding names the port and its state. The trap
// views the received message, which lives as long as the tests.
CurrentTrap PortDownTrap() {
  static const Message m = [] {
    Message received;
    received.kind = snmp::kKindTrapV2;
    received.community = "C";
    received.variables = {{"1.3.6.1.2.1.1.3.0", snmp::kTypeTimeTicks, "987"},
                          {"1.3.6.1.6.3.1.1.4.1.0", snmp::kTypeObjectId, "1.3.6.1.6.3.1.1.5.3"},
                          {"1.3.6.1.2.1.2.2.1.1.7", snmp::kTypeInteger32, "7"},
                          {"1.3.6.1.2.1.2.2.1.2.7", snmp::kTypeDisplayString, "PORT 042 DOWN"}};
    return received;
  }();
  CurrentTrap trap;
  EXPECT_FALSE(FillCurrentTrap(m, "192.0.2.7", trap).malformed);
  return trap;
}

TrapDefinition PortDownDefinition() {
  TrapDefinition d;
  d.TrapOID = "1.3.6.1.6.3.1.1.5.3";
  d.TrapSourceVarNo = 2;
  d.TrapNewVarNo = 2;
  d.TrapNewNumber = "1000";
  d.new_number = 1000;
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

TEST(BuildWrapped, PiecesFirstThenTheOtherBindingsInBothForms) {
  CurrentTrap trap = PortDownTrap();
  Message v2;
  ASSERT_TRUE(BuildWrapped(trap, PortDownDefinition(), false, kKeep, &v2).ok());
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
  ASSERT_TRUE(BuildWrapped(trap, PortDownDefinition(), true, kKeep, &v1).ok());
  EXPECT_EQ(v1.kind, snmp::kKindTrapV1);
  EXPECT_EQ(v1.enterprise, "1.3.6.1.4.1.32473.1.100.2");
  EXPECT_EQ(v1.generic_trap, 6);
  EXPECT_EQ(v1.specific_trap, 1000);
  EXPECT_EQ(v1.time_stamp, 987u);
  EXPECT_EQ(v1.agent_address, "192.0.2.7");
  EXPECT_EQ(v1.variables, std::vector<Variable>(expected.begin() + 2, expected.end()));
}

TEST(BuildWrapped, SourceNumberAndPieceFailures) {
  CurrentTrap trap = PortDownTrap();
  TrapDefinition d = PortDownDefinition();
  Message out;

  d.TrapSourceVarNo = 3;  // above the binding count: empty pieces, both bindings follow
  ASSERT_TRUE(BuildWrapped(trap, d, false, kKeep, &out).ok());
  ASSERT_EQ(out.variables.size(), 6u);
  EXPECT_EQ(out.variables[2].value, "");
  EXPECT_EQ(out.variables[3].value, "");
  EXPECT_EQ(out.variables[4].oid, "1.3.6.1.2.1.2.2.1.1.7");
  EXPECT_EQ(out.variables[5].oid, "1.3.6.1.2.1.2.2.1.2.7");

  d.TrapSourceVarNo = 21;
  EXPECT_FALSE(BuildWrapped(trap, d, false, kKeep, &out).ok());
  d.TrapSourceVarNo = 0;
  EXPECT_FALSE(BuildWrapped(trap, d, false, kKeep, &out).ok());

  d = PortDownDefinition();
  d.NewVarPos[2] = 0;
  EXPECT_FALSE(BuildWrapped(trap, d, false, kKeep, &out).ok());

  d = PortDownDefinition();
  d.TrapNewVarNo = 0;  // only the other received binding
  ASSERT_TRUE(BuildWrapped(trap, d, false, kKeep, &out).ok());
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
  FillCurrentTrap(v1in, "127.0.0.1", trap);
  EXPECT_EQ(trap.TrapOid, "1.3.6.1.2.1.11.0.2");
  Message out;
  ASSERT_TRUE(BuildForwarded(trap, false, kKeep, &out).ok());
  Message expected = v1in;
  EXPECT_EQ(out, expected);  // the generic trap keeps its enterprise and full time stamp

  trap = PortDownTrap();
  ASSERT_TRUE(BuildForwarded(trap, true, kKeep, &out).ok());
  EXPECT_EQ(out.kind, snmp::kKindTrapV1);
  EXPECT_EQ(out.enterprise, "1.3.6.1.6.3.1.1.5");
  EXPECT_EQ(out.generic_trap, 2);
  EXPECT_EQ(out.specific_trap, 0);
  EXPECT_EQ(out.agent_address, "192.0.2.7");
  EXPECT_EQ(out.variables.size(), 2u);

  ASSERT_TRUE(BuildForwarded(trap, false, kKeep, &out).ok());
  EXPECT_EQ(out.kind, snmp::kKindTrapV2);
  EXPECT_EQ(out.variables.size(), 4u);
}

// Found by relay_fuzz: an SNMPv2 trap whose snmpTrapOID.0 is 1.0 was converted into an
// SNMPv1 trap of enterprise "1", which the encoder refuses; the build itself must say that
// the trap has no SNMPv1 form.
TEST(BuildForwarded, ConversionRefusesATrapOidThatLeavesNoEnterprise) {
  Message m;
  m.kind = snmp::kKindTrapV2;
  m.community = "c";
  m.variables = {{"1.3.6.1.2.1.1.3.0", 7, "10203"}, {"1.3.6.1.6.3.1.1.4.1.0", 3, "1.0"}};
  CurrentTrap trap;
  ASSERT_FALSE(FillCurrentTrap(m, "127.0.0.1", trap).malformed);
  Message out;
  const Status converted = BuildForwarded(trap, true, kKeep, &out);
  EXPECT_FALSE(converted.ok());
  EXPECT_NE(converted.description().find("\"1.0\" has no SNMPv1 form"), std::string::npos)
      << converted.description();
  ASSERT_TRUE(BuildForwarded(trap, false, kKeep, &out).ok());  // unconverted, it goes on as it came
  std::vector<uint8_t> wire;
  EXPECT_TRUE(snmp::Encode(out, &wire).ok());
}

TEST(ChooseRoute, ConvertsUnlessTheSentTrapWouldCarryACounter64) {
  CurrentTrap trap = PortDownTrap();
  DefinitionTable table;
  table[2] = PortDownDefinition();  // wraps binding 2
  struct Case {
    int counter64_at;  // the binding made a Counter64, or 0
    bool convert;
    bool to_v1;
  };
  const Case cases[] = {
      {0, true, true},
      {0, false, false},
      {2, true, true},   // the only Counter64 is the source, which the pieces replace
      {1, true, false},  // a Counter64 that goes on has no SNMPv1 form
  };
  for (const Case& c : cases) {
    CurrentTrap t = trap;
    if (c.counter64_at != 0) t.TrapVarList.varType[c.counter64_at] = snmp::kTypeCounter64;
    const Route route = ChooseRoute(t, table, c.convert);
    EXPECT_EQ(route.definition, 2);
    EXPECT_EQ(route.to_v1, c.to_v1) << c.counter64_at << " " << c.convert;
  }
  trap.TrapOid = "1.3.6.1.6.3.1.1.5.4";
  trap.TrapVarList.varType[2] = snmp::kTypeCounter64;  // no definition: the binding goes on
  EXPECT_EQ(ChooseRoute(trap, table, true).definition, 0);
  EXPECT_FALSE(ChooseRoute(trap, table, true).to_v1);
  trap.TrapVersion = kVersionV1;  // never converted
  trap.TrapVarList.varType[2] = snmp::kTypeDisplayString;
  EXPECT_FALSE(ChooseRoute(trap, table, true).to_v1);
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
  EXPECT_TRUE(FillCurrentTrap(m, "127.0.0.1", trap).inform);
  EXPECT_EQ(trap.TrapVersion, "SNMPv2Inform");
  EXPECT_EQ(trap.TrapSourceAgent, "10.1.2.3");
  EXPECT_EQ(trap.TrapVarCount, 1);
  DefinitionTable none;
  EXPECT_FALSE(ChooseRoute(trap, none, true).to_v1);
  Message out;
  ASSERT_TRUE(BuildForwarded(trap, false, kKeep, &out).ok());
  ASSERT_EQ(out.variables.size(), 4u);
  EXPECT_EQ(out.kind, snmp::kKindTrapV2);
  EXPECT_EQ(out.variables[2].type, 8);
  EXPECT_EQ(out.variables[3], (Variable{"1.3.6.1.6.3.18.1.3.0", 4, "10.1.2.3"}));
}

// The linkDown of PortDownTrap as received in each way that decides its snmpTrapAddress.0:
// without one, with the address its datagram came from, with another, as an inform, from an
// IPv6 sender, and as an SNMPv1 trap. A carried binding stands between the others, and goes
// last all the same.
struct Received {
  const char* name;
  Message message;
  const char* source;
};
std::vector<Received> ReceivedPortDowns() {
  const Variable index = {"1.3.6.1.2.1.2.2.1.1.7", snmp::kTypeInteger32, "7"};
  const Variable descr = {"1.3.6.1.2.1.2.2.1.2.7", snmp::kTypeDisplayString, "PORT 042 DOWN"};
  auto v2 = [&](int32_t kind, const char* carried) {
    Message m;
    m.kind = kind;
    m.community = "C";
    m.variables = {{"1.3.6.1.2.1.1.3.0", snmp::kTypeTimeTicks, "987"},
                   {"1.3.6.1.6.3.1.1.4.1.0", snmp::kTypeObjectId, "1.3.6.1.6.3.1.1.5.3"},
                   index};
    if (carried != nullptr) m.variables.push_back({kSnmpTrapAddressOid, 4, carried});
    m.variables.push_back(descr);
    return m;
  };
  Message v1;
  v1.kind = snmp::kKindTrapV1;
  v1.community = "C";
  v1.enterprise = "1.3.6.1.6.3.1.1.5";
  v1.agent_address = "192.0.2.9";
  v1.generic_trap = 2;
  v1.time_stamp = 987;
  v1.variables = {index, descr};
  return {{"without", v2(snmp::kKindTrapV2, nullptr), "192.0.2.7"},
          {"correct", v2(snmp::kKindTrapV2, "192.0.2.7"), "192.0.2.7"},
          {"wrong", v2(snmp::kKindTrapV2, "10.9.9.9"), "192.0.2.7"},
          {"zero", v2(snmp::kKindTrapV2, "0.0.0.0"), "192.0.2.7"},
          {"inform", v2(snmp::kKindInform, nullptr), "192.0.2.7"},
          {"ipv6", v2(snmp::kKindTrapV2, nullptr), "2001:db8::7"},
          {"ipv6 wrong", v2(snmp::kKindTrapV2, "10.9.9.9"), "2001:db8::7"},
          {"ipv6 zero", v2(snmp::kKindTrapV2, "0.0.0.0"), "2001:db8::7"},
          {"v1", v1, "192.0.2.7"}};
}

TEST(BuildSourceAddress, EachModeOnEachTrapWrappedOrNotInBothForms) {
  // The snmpTrapAddress.0 value an SNMPv2 form ends with ("": none), by received trap and
  // mode (kKeep, kAddWhenMissing, kReplace), whether the mode added it, and the agent-addr of
  // the SNMPv1 form: the received one, the IPv4 sender's, or for an IPv6 sender the carried
  // snmpTrapAddress.0, else 0.0.0.0.
  struct Expected {
    const char* name;
    const char* address[3];
    bool added[3];
    const char* agent_address;
  };
  const Expected expected[] = {
      {"without", {"", "192.0.2.7", "192.0.2.7"}, {false, true, true}, "192.0.2.7"},
      {"correct", {"192.0.2.7", "192.0.2.7", "192.0.2.7"}, {false, false, false}, "192.0.2.7"},
      {"wrong", {"10.9.9.9", "10.9.9.9", "192.0.2.7"}, {false, false, false}, "192.0.2.7"},
      {"zero", {"", "192.0.2.7", "192.0.2.7"}, {false, true, true}, "192.0.2.7"},
      {"inform", {"", "192.0.2.7", "192.0.2.7"}, {false, true, true}, "192.0.2.7"},
      {"ipv6", {"", "", ""}, {false, false, false}, "0.0.0.0"},
      {"ipv6 wrong", {"10.9.9.9", "10.9.9.9", "10.9.9.9"}, {false, false, false}, "10.9.9.9"},
      {"ipv6 zero", {"", "", ""}, {false, false, false}, "0.0.0.0"},
      {"v1", {"", "", ""}, {false, false, false}, "192.0.2.9"},
  };
  const SourceAddressMode modes[] = {kKeep, SourceAddressMode::kAddWhenMissing,
                                     SourceAddressMode::kReplace};
  const std::vector<Received> inputs = ReceivedPortDowns();
  ASSERT_EQ(inputs.size(), std::size(expected));
  const TrapDefinition definition = PortDownDefinition();
  for (size_t k = 0; k < inputs.size(); ++k) {
    const Received& in = inputs[k];
    ASSERT_STREQ(in.name, expected[k].name);
    CurrentTrap trap;
    ASSERT_FALSE(FillCurrentTrap(in.message, in.source, trap).malformed) << in.name;
    const bool v1_in = in.message.kind == snmp::kKindTrapV1;
    for (int m = 0; m < 3; ++m) {
      for (const bool wrapped : {false, true}) {
        for (const bool to_v1 : {false, true}) {
          // A received SNMPv1 trap is never converted.
          if (to_v1 && v1_in) continue;
          SCOPED_TRACE(std::string(in.name) + " mode " + std::to_string(m) +
                       (wrapped ? " wrapped" : " forwarded") + (to_v1 ? " to v1" : ""));
          OutgoingTrap out;
          const Status built = wrapped ? BuildWrapped(trap, definition, to_v1, modes[m], &out)
                                       : BuildForwarded(trap, to_v1, modes[m], &out);
          ASSERT_TRUE(built.ok()) << built.ToString();
          const Message sent = snmp::ToMessage(out.message());
          std::vector<Variable> want;
          if (!to_v1 && !v1_in) {
            want = {{"1.3.6.1.2.1.1.3.0", 7, "987"},
                    {"1.3.6.1.6.3.1.1.4.1.0", 3,
                     wrapped ? "1.3.6.1.4.1.32473.1.100.2.0.1000" : "1.3.6.1.6.3.1.1.5.3"}};
          }
          if (wrapped) {
            want.insert(want.end(), {{"1.3.6.1.4.1.32473.1.100.1.1001", 2, "PORT"},
                                     {"1.3.6.1.4.1.32473.1.100.1.1002", 1, "042"}});
          }
          want.push_back({"1.3.6.1.2.1.2.2.1.1.7", 1, "7"});
          if (!wrapped) want.push_back({"1.3.6.1.2.1.2.2.1.2.7", 2, "PORT 042 DOWN"});
          const bool v2_out = !to_v1 && !v1_in;
          const std::string_view address = v2_out ? expected[k].address[m] : "";
          if (!address.empty()) want.push_back({kSnmpTrapAddressOid, 4, std::string(address)});
          EXPECT_EQ(sent.variables, want);
          EXPECT_EQ(out.added_source_address(), v2_out && expected[k].added[m]);
          if (!v2_out) {
            EXPECT_EQ(sent.agent_address, expected[k].agent_address);
          }
        }
      }
    }
  }
}

// An SNMPv2 trap forwarded with a DisplayString of `fill` bytes, and the size of its datagram.
struct Padded {
  Message received;
  CurrentTrap trap;
  OutgoingTrap out;
};
size_t BuildPadded(size_t fill, SourceAddressMode mode, Padded* p) {
  p->received = Message();
  p->received.kind = snmp::kKindTrapV2;
  p->received.community = "C";
  p->received.variables = {{"1.3.6.1.2.1.1.3.0", 7, "987"},
                           {"1.3.6.1.6.3.1.1.4.1.0", 3, "1.3.6.1.4.1.99.0.1"},
                           {"1.3.6.1.4.1.99.1", 2, std::string(fill, 'x')}};
  p->trap = CurrentTrap();
  EXPECT_FALSE(FillCurrentTrap(p->received, "192.0.2.7", p->trap).malformed);
  EXPECT_TRUE(BuildForwarded(p->trap, false, mode, &p->out).ok());
  std::vector<uint8_t> wire;
  return snmp::Encode(p->out.message(), &wire).ok() ? wire.size() : 0;
}

TEST(BuildSourceAddress, AnAddressThatWouldNotFitTheDatagramIsLeftOff) {
  const SourceAddressMode add = SourceAddressMode::kAddWhenMissing;
  // The fill that makes the datagram with the address exactly as large as one can be.
  Padded p;
  const size_t probe = BuildPadded(60000, add, &p);
  ASSERT_GT(probe, 0u);
  const size_t fits = 60000 + (snmp::kMaxDatagram - probe);
  std::span<const uint8_t> datagram;
  auto encode = [&](const snmp::MessageView& m) { return snmp::EncodeInPlace(m, &datagram); };
  auto last_oid = [&] {
    Message decoded;
    EXPECT_TRUE(snmp::Decode(datagram, &decoded).ok());
    return decoded.variables.empty() ? std::string() : decoded.variables.back().oid;
  };

  ASSERT_EQ(BuildPadded(fits, add, &p), snmp::kMaxDatagram);
  ASSERT_TRUE(p.out.EncodeFitting(encode).ok());
  EXPECT_EQ(datagram.size(), snmp::kMaxDatagram);
  EXPECT_EQ(last_oid(), kSnmpTrapAddressOid);

  // One byte more: it goes without the address, as without the option, and so do the
  // records made of message().
  EXPECT_EQ(BuildPadded(fits + 1, add, &p), 0u);  // too large with the address
  ASSERT_TRUE(p.out.added_source_address());
  ASSERT_TRUE(p.out.EncodeFitting(encode).ok());
  EXPECT_EQ(last_oid(), "1.3.6.1.4.1.99.1");
  EXPECT_EQ(p.out.message().variables.size(), 3u);
  Padded keep;
  ASSERT_GT(BuildPadded(fits + 1, kKeep, &keep), 0u);
  EXPECT_EQ(keep.out.message().variables.size(), 3u);
  // Each encoding starts from the trap as built: another station's may take the address.
  int calls = 0;
  EXPECT_TRUE(p.out
                  .EncodeFitting([&](const snmp::MessageView& m) {
                    ++calls;
                    return m.variables.size() == 4 ? Status::Ok()
                                                   : Status::Error(kErrorInternal, "");
                  })
                  .ok());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(p.out.message().variables.size(), 4u);

  // A failure that the address does not cause stays the first one, with the trap as built.
  calls = 0;
  const Status failed = p.out.EncodeFitting([&](const snmp::MessageView&) {
    return Status::Error(kErrorInvalidArgument, "refused " + std::to_string(++calls));
  });
  EXPECT_EQ(failed.description(), "refused 1");
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(p.out.message().variables.size(), 4u);
  // A binding the trap carried is never left off: without the option it would go too.
  p.received.variables.push_back({kSnmpTrapAddressOid, 4, "10.9.9.9"});
  ASSERT_FALSE(FillCurrentTrap(p.received, "192.0.2.7", p.trap).malformed);
  ASSERT_TRUE(BuildForwarded(p.trap, false, SourceAddressMode::kReplace, &p.out).ok());
  EXPECT_FALSE(p.out.added_source_address());
  EXPECT_FALSE(p.out.EncodeFitting(encode).ok());
}

}  // namespace
}  // namespace tervane::relay
