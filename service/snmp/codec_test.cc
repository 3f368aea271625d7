#include "service/snmp/codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/snmp/ber_reader.h"
#include "service/snmp/ber_writer.h"
#include "service/snmp/message_printer.h"
#include "tests/hex_file.h"

namespace tervane::snmp {
namespace {

std::vector<uint8_t> Bytes(std::string_view hex) {
  auto bytes = testing::ParseHex(hex);
  EXPECT_TRUE(bytes.ok()) << hex;
  return bytes.ok() ? *bytes : std::vector<uint8_t>{};
}

// SNMPv2c trap, community "c", request-id 1, one binding 1.3 = NULL.
constexpr const char* kV2Trap =
    "30 1A 02 01 01 04 01 63 A7 12 02 01 01 02 01 00 02 01 00 30 07 30 05 06 01 2B 05 00";
// SNMPv1 trap, community "c", enterprise 1.3, agent 127.0.0.1, generic 6, specific 5,
// time stamp 0, one binding 1.3 = NULL.
constexpr const char* kV1Trap =
    "30 23 02 01 00 04 01 63 A4 1B 06 01 2B 40 04 7F 00 00 01 02 01 06 02 01 05 43 01 00 "
    "30 07 30 05 06 01 2B 05 00";

Message V1Trap() {
  Message m;
  m.community = "public";
  m.kind = kKindTrapV1;
  m.enterprise = "1.3.6.1.4.1.32473.1.100.2";
  m.agent_address = "192.0.2.7";
  m.generic_trap = 6;
  m.specific_trap = 1000;
  m.time_stamp = 4294967295u;
  m.variables = {{"1.3.6.1.4.1.32473.1.100.1.1001", kTypeDisplayString, "PORT"},
                 {"1.3.6.1.4.1.32473.1.100.1.1002", kTypeInteger32, "-42"},
                 {"1.3.6.1.2.1.1.5.0", kTypeNoValue, ""}};
  return m;
}

Message V2(int32_t kind) {
  Message m;
  m.community = std::string("pu\0b", 4);
  m.kind = kind;
  m.request_id = kind == kKindResponse ? INT32_MIN : 2147483647;
  m.error_status = kind == kKindResponse ? 5 : 0;
  m.error_index = kind == kKindResponse ? 2 : 0;
  m.variables = {{"1.3.6.1.2.1.1.3.0", kTypeTimeTicks, "987"},
                 {"1.3.6.1.6.3.1.1.4.1.0", kTypeObjectId, "1.3.6.1.6.3.1.1.5.3"},
                 {"1.3.6.1.2.1.31.1.1.1.6.7", kTypeCounter64, "18446744073709551615"},
                 {"1.3.6.1.6.3.18.1.3.0", kTypeIpAddress, "10.0.0.1"},
                 {"1.3.6.1.4.1.32473.9", kTypeOpaque, std::string("\x9f\x78\0", 3)},
                 {"1.3.6.1.4.1.32473.9.1", kTypeGauge32, "0"},
                 {"1.3.6.1.4.1.32473.9.2", kTypeCounter32, "4294967295"}};
  return m;
}

TEST(Codec, EveryKindRoundTrips) {
  Message empty_v2 = V2(kKindTrapV2);
  empty_v2.variables.clear();
  empty_v2.community.clear();
  for (const Message& m :
       {V1Trap(), V2(kKindTrapV2), V2(kKindInform), V2(kKindResponse), empty_v2}) {
    std::vector<uint8_t> wire;
    ASSERT_TRUE(Encode(m, &wire).ok()) << m.kind;
    Message back;
    Status status = Decode(wire, &back);
    ASSERT_TRUE(status.ok()) << m.kind << ": " << status.ToString();
    EXPECT_EQ(back, m) << m.kind;
  }
  // The version follows the kind.
  std::vector<uint8_t> wire;
  ASSERT_TRUE(Encode(V1Trap(), &wire).ok());
  EXPECT_EQ(wire[4], 0x00);
  ASSERT_TRUE(Encode(V2(kKindInform), &wire).ok());
  EXPECT_EQ(wire[4], 0x01);
}

TEST(Codec, EncodesTheExactLayout) {
  Message m;
  m.community = "c";
  m.kind = kKindTrapV1;
  m.enterprise = "1.3";
  m.agent_address = "127.0.0.1";
  m.generic_trap = 6;
  m.specific_trap = 5;
  m.variables = {{"1.3", kTypeNoValue, ""}};
  std::vector<uint8_t> wire;
  ASSERT_TRUE(Encode(m, &wire).ok());
  EXPECT_EQ(wire, Bytes(kV1Trap));
  m = Message();
  m.community = "c";
  m.kind = kKindTrapV2;
  m.request_id = 1;
  m.variables = {{"1.3", kTypeNoValue, ""}};
  ASSERT_TRUE(Encode(m, &wire).ok());
  EXPECT_EQ(wire, Bytes(kV2Trap));
}

TEST(Codec, RefusesMalformedDatagrams) {
  struct Case {
    const char* name;
    std::string input;
    const char* description;
  };
  const std::string v2_tail = "02 01 01 02 01 00 02 01 00 30 07 30 05 06 01 2B 05 00";
  const std::vector<Case> cases = {
      {"empty datagram", "", "element expected but the input ended at offset 0"},
      {"not a SEQUENCE", "04 00", "SEQUENCE expected at offset 0"},
      {"indefinite length", "30 80 02 01 01 00 00", "indefinite length at offset 1"},
      {"trailing garbage", std::string(kV2Trap) + " 00",
       "unexpected bytes after the last element at offset 28"},
      {"SNMPv3", "30 1A 02 01 03 04 01 63 A7 12 " + v2_tail, "unsupported SNMP version 3"},
      {"version 2", "30 1A 02 01 02 04 01 63 A7 12 " + v2_tail, "unsupported SNMP version 2"},
      {"version -1", "30 1A 02 01 FF 04 01 63 A7 12 " + v2_tail, "unsupported SNMP version -1"},
      {"GetRequest", "30 1A 02 01 01 04 01 63 A0 12 " + v2_tail,
       "PDU type 0xA0 in an SNMPv2c message, only SNMPv2-Trap, InformRequest and Response"},
      {"GetBulkRequest", "30 1A 02 01 01 04 01 63 A5 12 " + v2_tail,
       "PDU type 0xA5 in an SNMPv2c message, only SNMPv2-Trap, InformRequest and Response"},
      {"Trap-PDU in SNMPv2c", "30 1A 02 01 01 04 01 63 A4 12 " + v2_tail,
       "PDU type 0xA4 in an SNMPv2c message, only SNMPv2-Trap, InformRequest and Response"},
      {"SNMPv2-Trap-PDU in SNMPv1", "30 1A 02 01 00 04 01 63 A7 12 " + v2_tail,
       "PDU type 0xA7 in an SNMPv1 message, only Trap-PDU"},
      {"primitive PDU tag", "30 1A 02 01 01 04 01 63 87 12 " + v2_tail,
       "constructed element expected at offset 8"},
      {"community not an OCTET STRING", "30 1A 02 01 01 02 01 63 A7 12 " + v2_tail,
       "OCTET STRING expected at offset 5"},
      {"bytes after the PDU", "30 1B 02 01 01 04 01 63 A7 12 " + v2_tail + " 00",
       "unexpected bytes after the last element at offset 28"},
      {"bytes after the bindings", "30 1B 02 01 01 04 01 63 A7 13 " + v2_tail + " 00",
       "unexpected bytes after the last element at offset 28"},
      {"binding with three elements",
       "30 1C 02 01 01 04 01 63 A7 14 02 01 01 02 01 00 02 01 00 30 09 30 07 06 01 2B 05 00 "
       "05 00",
       "unexpected bytes after the last element at offset 28"},
      {"binding without a value",
       "30 18 02 01 01 04 01 63 A7 10 02 01 01 02 01 00 02 01 00 30 05 30 03 06 01 2B",
       "element expected but the input ended at offset 26"},
      {"bindings not a SEQUENCE",
       "30 1A 02 01 01 04 01 63 A7 12 02 01 01 02 01 00 02 01 00 31 07 30 05 06 01 2B 05 00",
       "SEQUENCE expected at offset 19"},
      {"NsapAddress value",
       "30 1A 02 01 01 04 01 63 A7 12 02 01 01 02 01 00 02 01 00 30 07 30 05 06 01 2B 45 00",
       "value of an unknown type at offset 26"},
      {"binding name not an OID",
       "30 1A 02 01 01 04 01 63 A7 12 02 01 01 02 01 00 02 01 00 30 07 30 05 04 01 2B 05 00",
       "OBJECT IDENTIFIER expected at offset 23"},
      {"request-id beyond 32 bits",
       "30 1E 02 01 01 04 01 63 A7 16 02 05 01 00 00 00 00 02 01 00 02 01 00 30 07 30 05 06 01 "
       "2B 05 00",
       "INTEGER outside the 32-bit range at offset 10"},
      {"generic-trap 7",
       "30 23 02 01 00 04 01 63 A4 1B 06 01 2B 40 04 7F 00 00 01 02 01 07 02 01 05 43 01 00 30 "
       "07 30 05 06 01 2B 05 00",
       "generic-trap 7 outside 0 to 6"},
      {"generic-trap -1",
       "30 23 02 01 00 04 01 63 A4 1B 06 01 2B 40 04 7F 00 00 01 02 01 FF 02 01 05 43 01 00 30 "
       "07 30 05 06 01 2B 05 00",
       "generic-trap -1 outside 0 to 6"},
      {"agent-addr of 3 octets",
       "30 22 02 01 00 04 01 63 A4 1A 06 01 2B 40 03 7F 00 01 02 01 06 02 01 05 43 01 00 30 07 "
       "30 05 06 01 2B 05 00",
       "agent-addr not of 4 octets at offset 13"},
      {"agent-addr as OCTET STRING",
       "30 23 02 01 00 04 01 63 A4 1B 06 01 2B 04 04 7F 00 00 01 02 01 06 02 01 05 43 01 00 30 "
       "07 30 05 06 01 2B 05 00",
       "IpAddress expected at offset 13"},
      {"time stamp as INTEGER",
       "30 23 02 01 00 04 01 63 A4 1B 06 01 2B 40 04 7F 00 00 01 02 01 06 02 01 05 02 01 00 30 "
       "07 30 05 06 01 2B 05 00",
       "TimeTicks expected at offset 25"},
      {"time stamp beyond 32 bits",
       "30 27 02 01 00 04 01 63 A4 1F 06 01 2B 40 04 7F 00 00 01 02 01 06 02 01 05 43 05 01 00 "
       "00 00 00 30 07 30 05 06 01 2B 05 00",
       "value outside the 32-bit range at offset 25"},
      {"exception value in SNMPv1",
       "30 23 02 01 00 04 01 63 A4 1B 06 01 2B 40 04 7F 00 00 01 02 01 06 02 01 05 43 01 00 30 "
       "07 30 05 06 01 2B 80 00",
       "exception value in an SNMPv1 message at offset 35"},
      {"Counter64 in SNMPv1",
       "30 24 02 01 00 04 01 63 A4 1C 06 01 2B 40 04 7F 00 00 01 02 01 06 02 01 05 43 01 00 30 "
       "08 30 06 06 01 2B 46 01 05",
       "Counter64 value in an SNMPv1 message at offset 35"},
  };
  for (const Case& c : cases) {
    Message m;
    Status status = Decode(Bytes(c.input), &m);
    EXPECT_EQ(status.error(), kErrorMalformed) << c.name;
    EXPECT_EQ(status.description(), c.description) << c.name;
  }
  // The bases of the table are themselves well-formed.
  Message m;
  EXPECT_TRUE(Decode(Bytes(kV2Trap), &m).ok());
  EXPECT_TRUE(Decode(Bytes(kV1Trap), &m).ok());
}

TEST(Codec, AcceptsNonMinimalLengths) {
  // kV2Trap with every length in a long form: 0x81 nn, and 0x82 00 nn for the message.
  const std::vector<uint8_t> long_form = Bytes(
      "30 82 00 24 02 81 01 01 04 81 01 63 A7 81 19 02 01 01 02 01 00 02 01 00 "
      "30 81 0D 30 84 00 00 00 07 06 81 01 2B 05 81 00");
  Message minimal, lenient;
  ASSERT_TRUE(Decode(Bytes(kV2Trap), &minimal).ok());
  Status status = Decode(long_form, &lenient);
  ASSERT_TRUE(status.ok()) << status.ToString();
  EXPECT_EQ(lenient, minimal);
  // Non-minimal integers too: request-id 1 as 00 00 00 01.
  Message padded;
  ASSERT_TRUE(Decode(Bytes("30 1D 02 01 01 04 01 63 A7 15 02 04 00 00 00 01 02 01 00 02 01 00 "
                           "30 07 30 05 06 01 2B 05 00"),
                     &padded)
                  .ok());
  EXPECT_EQ(padded, minimal);
}

// A v2c trap, community "c", request-id 1, whose one binding is `binding` (hex, at most
// 127 bytes long).
std::vector<uint8_t> TrapWithBinding(std::string_view binding) {
  const std::vector<uint8_t> b = Bytes(binding);
  std::vector<uint8_t> pdu = Bytes("02 01 01 02 01 00 02 01 00");
  pdu.push_back(0x30);
  pdu.push_back(static_cast<uint8_t>(b.size()));
  pdu.insert(pdu.end(), b.begin(), b.end());
  std::vector<uint8_t> body = Bytes("02 01 01 04 01 63");
  body.push_back(0xA7);
  body.push_back(static_cast<uint8_t>(pdu.size()));
  body.insert(body.end(), pdu.begin(), pdu.end());
  std::vector<uint8_t> message = {0x30, static_cast<uint8_t>(body.size())};
  message.insert(message.end(), body.begin(), body.end());
  return message;
}

TEST(Codec, ABindingInTheEncodersFormCarriesItsEncodingAndAnyOtherDoesNot) {
  struct Case {
    const char* name;
    const char* binding;
    bool carried;
  };
  const Case cases[] = {
      {"INTEGER 5", "30 06 06 01 2B 02 01 05", true},
      {"INTEGER -129", "30 07 06 01 2B 02 02 FF 7F", true},
      {"INTEGER 5 with a padding octet", "30 07 06 01 2B 02 02 00 05", false},
      {"INTEGER -1 with a padding octet", "30 07 06 01 2B 02 02 FF FF", false},
      {"Counter32 4294967295", "30 0A 06 01 2B 41 05 00 FF FF FF FF", true},
      {"Counter32 255 without its zero octet, read as -1", "30 06 06 01 2B 41 01 FF", false},
      {"TimeTicks 5 with a padding octet", "30 07 06 01 2B 43 02 00 05", false},
      {"Counter64 2^63", "30 0E 06 01 2B 46 09 00 80 00 00 00 00 00 00 00", true},
      {"OCTET STRING", "30 08 06 01 2B 04 03 61 62 63", true},
      {"OCTET STRING in a long length form", "30 09 06 01 2B 04 81 03 61 62 63", false},
      {"binding in a long length form", "30 81 08 06 01 2B 04 03 61 62 63", false},
      {"OID name in a long length form", "30 09 06 81 01 2B 04 03 61 62 63", false},
      {"OID value", "30 09 06 01 2B 06 04 2B 06 01 04", true},
      {"IpAddress", "30 09 06 01 2B 40 04 0A 00 00 01", true},
      {"NULL", "30 05 06 01 2B 05 00", true},
      {"noSuchObject, sent on as NULL", "30 05 06 01 2B 80 00", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> datagram = TrapWithBinding(c.binding);
    DecodedMessage decoded;
    const Status status = Decode(datagram, &decoded);
    ASSERT_TRUE(status.ok()) << status.ToString();
    ASSERT_EQ(decoded.view().variables.size(), 1u);
    const VariableView& v = decoded.view().variables[0];
    EXPECT_EQ(!v.encoding.empty(), c.carried);
    if (c.carried) {
      EXPECT_EQ(std::vector<uint8_t>(v.encoding.begin(), v.encoding.end()), Bytes(c.binding));
    }
    // Carried or not, the views encode as their texts do.
    std::vector<uint8_t> from_views, from_texts;
    ASSERT_TRUE(Encode(decoded.view(), &from_views).ok());
    ASSERT_TRUE(Encode(ToMessage(decoded.view()), &from_texts).ok());
    EXPECT_EQ(from_views, from_texts);
    EXPECT_EQ(from_views == datagram, c.carried);  // the rest of the datagram is minimal
  }
}

// The number a binding holds reads the same from its text and, with texts on demand, from
// its encoding; the first binding of an SNMPv2 trap (sysUpTime.0's place) is read that way.
TEST(Codec, ANumberReadsAlikeFromItsTextAndFromItsEncoding) {
  struct Case {
    const char* binding;
    std::optional<uint64_t> number;
    bool on_demand;  // canonical: its texts are left unmade
  };
  const Case cases[] = {
      {"30 06 06 01 2B 43 01 05", 5, true},
      {"30 0A 06 01 2B 43 05 00 FF FF FF FF", UINT32_MAX, true},
      {"30 06 06 01 2B 02 01 05", 5, true},
      {"30 07 06 01 2B 02 02 FF 7F", std::nullopt, true},
      {"30 0E 06 01 2B 46 09 00 FF FF FF FF FF FF FF FF", UINT64_MAX, true},
      {"30 07 06 01 2B 42 02 00 05", 5, false},         // padded: read the general way
      {"30 06 06 01 2B 41 01 FF", UINT32_MAX, false},   // negative, taken modulo 2^32
      {"30 06 06 01 2B 04 01 35", std::nullopt, true},  // "5", but a string
      {"30 09 06 01 2B 40 04 00 00 00 05", std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.binding);
    const std::vector<uint8_t> datagram = TrapWithBinding(c.binding);
    DecodedMessage all, on_demand;
    ASSERT_TRUE(Decode(datagram, &all).ok());
    ASSERT_TRUE(Decode(datagram, &on_demand, Texts::kOnDemand).ok());
    const VariableView& lazy = on_demand.view().variables[0];
    EXPECT_EQ(lazy.oid.empty(), c.on_demand);
    EXPECT_EQ(UnsignedNumber(all.view().variables[0]), c.number);
    EXPECT_EQ(UnsignedNumber(lazy), c.number);
  }
}

// Found by decode_fuzz: decoding with the texts made on demand asked whether an empty
// INTEGER was in its minimal form before refusing it, and read the octet after it.
TEST(Codec, AnEmptyNumberIsRefusedAlikeWithTextsOnDemand) {
  for (const char* binding : {"30 05 06 01 2B 02 00", "30 05 06 01 2B 43 00"}) {
    SCOPED_TRACE(binding);
    // Third binding, so that its texts are not made at once; it ends the datagram.
    std::vector<uint8_t> datagram = TrapWithBinding(binding);
    const std::vector<uint8_t> first = Bytes("30 05 06 01 2B 05 00 30 05 06 01 2B 05 00");
    datagram.insert(datagram.end() - static_cast<long>(Bytes(binding).size()), first.begin(),
                    first.end());
    for (size_t length_at : {1, 9, 20}) {  // the message's, the PDU's and the list's length
      datagram[length_at] = static_cast<uint8_t>(datagram[length_at] + first.size());
    }
    Message message;
    const Status eager = Decode(datagram, &message);
    EXPECT_NE(eager.description().find("empty INTEGER"), std::string::npos) << eager.ToString();
    DecodedMessage views;
    const Status on_demand = Decode(datagram, &views, Texts::kOnDemand);
    EXPECT_FALSE(on_demand.ok());
    EXPECT_EQ(on_demand.ToString(), eager.ToString());
  }
}

TEST(Codec, RefusesEveryTruncationAndLengthSlip) {
  for (const Message& m : {V1Trap(), V2(kKindTrapV2), V2(kKindInform), V2(kKindResponse)}) {
    std::vector<uint8_t> wire;
    ASSERT_TRUE(Encode(m, &wire).ok());
    Message out;
    for (size_t n = 0; n < wire.size(); ++n) {
      EXPECT_FALSE(Decode(std::span(wire).first(n), &out).ok()) << m.kind << " prefix " << n;
    }
    // The outer length one too long or too short.
    for (int delta : {-1, +1}) {
      std::vector<uint8_t> slipped = wire;
      slipped[1] = static_cast<uint8_t>(slipped[1] + delta);
      EXPECT_FALSE(Decode(slipped, &out).ok()) << m.kind << " delta " << delta;
    }
  }
}

// An SNMPv2c trap with `count` copies of a binding with the OID content `oid` and NULL.
std::vector<uint8_t> TrapWithBindings(size_t count, const std::vector<uint8_t>& oid = {0x2B}) {
  BerWriter w;
  for (size_t i = 0; i < count; ++i) {
    const size_t mark = w.size();
    w.PutHeader(kTagNull, 0);
    w.PutElement(kTagOid, oid);
    w.PutHeader(kTagSequence, w.size() - mark);
  }
  w.PutHeader(kTagSequence, w.size());
  for (int i = 0; i < 3; ++i) w.PutInteger(kTagInteger, 0);
  w.PutHeader(kTagTrapV2Pdu, w.size());
  w.PutOctets(kTagOctetString, "c");
  w.PutInteger(kTagInteger, 1);
  w.PutHeader(kTagSequence, w.size());
  return {w.data().begin(), w.data().end()};
}

TEST(Codec, BindingsAreBoundOnlyByTheDatagramAndOidsAndSizeAreCapped) {
  // The shortest binding takes 7 octets: 9,000 of them fill most of a datagram, and a
  // well-formed message is never refused for how many it holds.
  Message m;
  const std::vector<uint8_t> many = TrapWithBindings(9000);
  Status status = Decode(many, &m);
  ASSERT_TRUE(status.ok()) << status.ToString();
  EXPECT_EQ(m.variables.size(), 9000u);
  std::vector<uint8_t> wire = {1, 2, 3};
  ASSERT_TRUE(Encode(m, &wire).ok());
  EXPECT_EQ(wire, many);

  std::vector<uint8_t> oid(kMaxOidSubIds - 1, 7);  // 1.3.7.7...: the first octet holds two
  oid[0] = 0x2B;
  ASSERT_TRUE(Decode(TrapWithBindings(1, oid), &m).ok());
  oid.push_back(7);
  EXPECT_EQ(Decode(TrapWithBindings(1, oid), &m).description(),
            "OBJECT IDENTIFIER with too many sub-identifiers at offset 27");

  // Exactly the largest datagram encodes and decodes; one byte more is refused both ways.
  m = Message();
  m.kind = kKindTrapV2;
  m.variables = {{"1.3", kTypeDisplayString, ""}};
  m.variables[0].value.assign(60000, 'x');
  ASSERT_TRUE(Encode(m, &wire).ok());
  // Every length already takes its three-octet form, so the size grows with the value.
  m.variables[0].value.append(kMaxDatagram - wire.size(), 'x');
  ASSERT_TRUE(Encode(m, &wire).ok());
  ASSERT_EQ(wire.size(), kMaxDatagram);
  Message back;
  ASSERT_TRUE(Decode(wire, &back).ok());
  EXPECT_EQ(back, m);
  m.variables[0].value += 'x';
  EXPECT_EQ(Encode(m, &wire).description(),
            "encoded message of 65508 bytes exceeds the largest datagram (65507 bytes)");
  std::vector<uint8_t> too_big(kMaxDatagram + 1, 0);
  EXPECT_EQ(Decode(too_big, &back).description(),
            "datagram of 65508 bytes exceeds the largest datagram (65507 bytes)");
}

TEST(Codec, EncodeRefusesWhatItCannotSend) {
  struct Case {
    const char* name;
    Message message;
    const char* description;
  };
  std::vector<Case> cases;
  auto add = [&cases](const char* name, Message m, const char* description) {
    cases.push_back({name, std::move(m), description});
  };
  Message m = V2(kKindTrapV2);
  m.kind = 0;
  add("kind not set", m, "unknown message kind 0");
  m.kind = 167;
  add("unknown kind", m, "unknown message kind 167");
  m = V1Trap();
  m.enterprise = "";
  add("no enterprise", m, R"(enterprise "" is not a dotted OID)");
  m = V1Trap();
  m.agent_address = "192.0.2";
  add("short agent address", m, R"(agent address "192.0.2" is not a dotted IPv4 address)");
  m = V1Trap();
  m.generic_trap = 7;
  add("generic-trap 7", m, "generic-trap 7 is outside 0 to 6");
  m = V1Trap();
  m.variables[1].value = "12x";
  m.variables[2].value = "not empty";
  add("first of two bad bindings", m,
      R"(binding 2 (1.3.6.1.4.1.32473.1.100.1.1002): Integer32 value "12x" is not a decimal number)");
  m = V1Trap();
  m.variables[2].oid = "1.3.6.1.2.1.1.5.0.";
  add("bad binding OID", m, R"(binding 3 OID "1.3.6.1.2.1.1.5.0." is not a dotted OID)");
  m = V1Trap();
  m.variables.push_back({"1.3.6.1.2.1.31.1.1.1.6.7", kTypeCounter64, "5"});
  add("Counter64 in SNMPv1", m,
      R"(binding 4 (1.3.6.1.2.1.31.1.1.1.6.7): Counter64 value "5" cannot be sent in an SNMPv1 message)");
  m = V2(kKindInform);
  m.variables[0].type = 12;
  add("unknown type code", m, "binding 1 (1.3.6.1.2.1.1.3.0): unknown type code 12");

  for (const Case& c : cases) {
    std::vector<uint8_t> wire = {0x30};
    Status status = Encode(c.message, &wire);
    EXPECT_EQ(status.error(), kErrorInvalidArgument) << c.name;
    EXPECT_EQ(status.description(), c.description) << c.name;
    EXPECT_TRUE(wire.empty()) << c.name;
  }
  // The SNMPv1 fields of an SNMPv2c message are not used, so they are not checked.
  m = V2(kKindTrapV2);
  m.enterprise = "junk";
  m.generic_trap = 99;
  std::vector<uint8_t> wire;
  EXPECT_TRUE(Encode(m, &wire).ok());
}

TEST(Codec, DecodeOverwritesAReusedMessage) {
  std::vector<uint8_t> v1_wire, v2_wire;
  ASSERT_TRUE(Encode(V1Trap(), &v1_wire).ok());
  Message small = V2(kKindInform);
  small.variables.resize(2);
  ASSERT_TRUE(Encode(small, &v2_wire).ok());
  Message reused = V2(kKindResponse);
  ASSERT_TRUE(Decode(v1_wire, &reused).ok());
  EXPECT_EQ(reused, V1Trap());
  ASSERT_TRUE(Decode(v2_wire, &reused).ok());
  EXPECT_EQ(reused, small);
}

TEST(Codec, ValidateValueAppliesTheEncodingRules) {
  EXPECT_TRUE(ValidateValue(kTypeCounter64, "18446744073709551615").ok());
  EXPECT_TRUE(ValidateValue(kTypeTimeTicks, "4294967295").ok());
  Status status = ValidateValue(kTypeInteger32, "12x");
  EXPECT_EQ(status.error(), kErrorInvalidArgument);
  EXPECT_EQ(status.description(), R"(Integer32 value "12x" is not a decimal number)");
  EXPECT_FALSE(ValidateValue(kTypeIpAddress, "1.2.3.4.").ok());
}

}  // namespace
}  // namespace tervane::snmp
