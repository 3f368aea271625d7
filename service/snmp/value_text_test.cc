#include "service/snmp/value_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service/snmp/ber_reader.h"
#include "tests/hex_file.h"

namespace tervane::snmp {
namespace {

std::vector<uint8_t> Bytes(std::string_view hex) {
  auto bytes = testing::ParseHex(hex);
  EXPECT_TRUE(bytes.ok()) << hex;
  return bytes.ok() ? *bytes : std::vector<uint8_t>{};
}

// Encodes one value alone and returns its element, or the Status description on refusal.
std::string EncodeValue(int32_t type, std::string_view text, bool snmp_v1,
                        std::vector<uint8_t>* element) {
  BerWriter writer;
  Status status = ValueToBer(type, text, snmp_v1, &writer);
  element->assign(writer.data().begin(), writer.data().end());
  return status.ok() ? "" : status.description();
}

// Decodes one value element into type and text; returns the refusal reason or "".
std::string DecodeValue(const std::vector<uint8_t>& element, bool snmp_v1, int32_t* type,
                        std::string* text) {
  BerReader reader(element);
  uint8_t tag;
  std::span<const uint8_t> content;
  if (!reader.ReadElement(&tag, &content)) return reader.error();
  if (!reader.empty()) return "trailing bytes";
  const char* why = ValueFromBer(tag, content, snmp_v1, type, text);
  return why == nullptr ? "" : why;
}

TEST(ValueText, EveryTypeCodeBothWays) {
  struct Case {
    int32_t type;
    std::string text;
    const char* element;
    const char* decoded;  // the text decoding gives back; nullptr: `text` itself
  };
  const std::vector<Case> cases = {
      {kTypeNoValue, "", "05 00", nullptr},
      {kTypeInteger32, "0", "02 01 00", nullptr},
      {kTypeInteger32, "-2147483648", "02 04 80 00 00 00", nullptr},
      {kTypeInteger32, "2147483647", "02 04 7F FF FF FF", nullptr},
      {kTypeInteger32, "-129", "02 02 FF 7F", nullptr},
      {kTypeInteger32, "042", "02 01 2A", "42"},
      {kTypeInteger32, "-0", "02 01 00", "0"},
      {kTypeDisplayString, "PORT 042 DOWN", "04 0D 50 4F 52 54 20 30 34 32 20 44 4F 57 4E",
       nullptr},
      {kTypeDisplayString, "", "04 00", nullptr},
      {kTypeDisplayString, std::string("a\0\r\n\xff", 5), "04 05 61 00 0D 0A FF", nullptr},
      {kTypeObjectId, "1.3.6.1.4.1.32473", "06 08 2B 06 01 04 01 81 FD 59", nullptr},
      {kTypeObjectId, ".1.3.6.1", "06 03 2B 06 01", "1.3.6.1"},
      {kTypeObjectId, "0.0", "06 01 00", nullptr},
      {kTypeObjectId, "1.3.4294967295", "06 06 2B 8F FF FF FF 7F", nullptr},
      {kTypeObjectId, "2.4294967215", "06 05 8F FF FF FF 7F", nullptr},
      {kTypeObjectId, "2.999.5", "06 03 88 37 05", nullptr},
      {kTypeObjectId, "1.3.127.128.16383.16384.2097151.2097152",
       "06 10 2B 7F 81 00 FF 7F 81 80 00 FF FF 7F 81 80 80 00", nullptr},
      {kTypeObjectId, "1.3.06.0001", "06 03 2B 06 01", "1.3.6.1"},
      {kTypeObjectId, "1.3.000000000000000000004294967295", "06 06 2B 8F FF FF FF 7F",
       "1.3.4294967295"},
      {kTypeInteger32, "-0000000000000000000000002147483648", "02 04 80 00 00 00", "-2147483648"},
      {kTypeCounter64, "0000000000000000000018446744073709551615",
       "46 09 00 FF FF FF FF FF FF FF FF", "18446744073709551615"},
      {kTypeIpAddress, "192.0.2.7", "40 04 C0 00 02 07", nullptr},
      {kTypeIpAddress, "0.0.0.0", "40 04 00 00 00 00", nullptr},
      {kTypeIpAddress, "255.255.255.255", "40 04 FF FF FF FF", nullptr},
      {kTypeIpAddress, "010.000.002.007", "40 04 0A 00 02 07", "10.0.2.7"},
      {kTypeCounter32, "4294967295", "41 05 00 FF FF FF FF", nullptr},
      {kTypeCounter32, "0", "41 01 00", nullptr},
      {kTypeGauge32, "2147483648", "42 05 00 80 00 00 00", nullptr},
      {kTypeTimeTicks, "987", "43 02 03 DB", nullptr},
      {kTypeTimeTicks, "4294967295", "43 05 00 FF FF FF FF", nullptr},
      {kTypeCounter64, "18446744073709551615", "46 09 00 FF FF FF FF FF FF FF FF", nullptr},
      {kTypeCounter64, "4294967296", "46 05 01 00 00 00 00", nullptr},
      {kTypeOpaque, std::string("\x9f\x78\x04\x3f\x80\x00\x00", 7), "44 07 9F 78 04 3F 80 00 00",
       nullptr},
      {kTypeOpaque, "", "44 00", nullptr},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> element;
    EXPECT_EQ(EncodeValue(c.type, c.text, /*snmp_v1=*/false, &element), "") << c.element;
    EXPECT_EQ(element, Bytes(c.element)) << TypeName(c.type) << " " << c.text;
    int32_t type = -1;
    std::string text = "stale";
    EXPECT_EQ(DecodeValue(element, /*snmp_v1=*/false, &type, &text), "") << c.element;
    EXPECT_EQ(type, c.type) << c.element;
    EXPECT_EQ(text, c.decoded == nullptr ? c.text : std::string(c.decoded)) << c.element;
  }
}

TEST(ValueText, OctetStringsKeepEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (int32_t type : {kTypeDisplayString, kTypeOpaque}) {
    std::vector<uint8_t> element;
    ASSERT_EQ(EncodeValue(type, all, false, &element), "");
    ASSERT_EQ(element.size(), 4u + 256u);
    EXPECT_EQ(element[1], 0x82);  // long form, two octets
    for (int b = 0; b < 256; ++b) ASSERT_EQ(element[4 + b], b);
    int32_t decoded_type = 0;
    std::string text;
    ASSERT_EQ(DecodeValue(element, false, &decoded_type, &text), "");
    EXPECT_EQ(decoded_type, type);
    EXPECT_EQ(text, all);
  }
}

TEST(ValueText, ReceivedExceptionsAndNullHaveNoValue) {
  struct Case {
    const char* element;
    bool snmp_v1;
    const char* error;  // "" when accepted as type 0 with an empty text
  };
  const Case cases[] = {
      {"05 00", false, ""},
      {"05 00", true, ""},
      {"80 00", false, ""},
      {"81 00", false, ""},
      {"82 00", false, ""},
      {"80 00", true, "exception value in an SNMPv1 message"},
      {"82 01 00", false, "exception value with content"},
      {"05 01 00", false, "NULL with content"},
      {"46 01 05", true, "Counter64 value in an SNMPv1 message"},
  };
  for (const Case& c : cases) {
    int32_t type = -1;
    std::string text = "stale";
    EXPECT_EQ(DecodeValue(Bytes(c.element), c.snmp_v1, &type, &text), c.error) << c.element;
    if (*c.error == '\0') {
      EXPECT_EQ(type, kTypeNoValue) << c.element;
      EXPECT_EQ(text, "") << c.element;
    }
  }
}

TEST(ValueText, RefusesUnknownOrIllFittingWireValues) {
  struct Case {
    const char* element;
    const char* error;
  };
  const Case cases[] = {
      {"45 06 01 02 03 04 05 06", "value of an unknown type"},  // NsapAddress
      {"47 01 05", "value of an unknown type"},                 // UInteger32
      {"01 01 FF", "value of an unknown type"},                 // BOOLEAN
      {"24 03 04 01 61", "value of an unknown type"},           // constructed OCTET STRING
      {"30 00", "value of an unknown type"},
      {"83 00", "value of an unknown type"},
      {"40 03 0A 00 01", "IpAddress not of 4 octets"},
      {"40 05 0A 00 00 01 00", "IpAddress not of 4 octets"},
      {"02 05 00 80 00 00 00", "Integer32 value outside the 32-bit range"},
      {"02 00", "empty INTEGER"},
      {"41 05 01 00 00 00 00", "value outside the 32-bit range"},
      {"43 00", "empty INTEGER"},
      {"46 09 01 00 00 00 00 00 00 00 00", "value outside the 64-bit range"},
      {"06 00", "empty OBJECT IDENTIFIER"},
  };
  for (const Case& c : cases) {
    int32_t type = -1;
    std::string text;
    EXPECT_EQ(DecodeValue(Bytes(c.element), false, &type, &text), c.error) << c.element;
  }
}

TEST(ValueText, RefusesTextsItsTypeDoesNotAccept) {
  struct Case {
    int32_t type;
    std::string text;
    bool snmp_v1;
    std::string description;
  };
  const std::string oid129 = "1.3" + [] {
    std::string s;
    for (int i = 0; i < 127; ++i) s += ".1";
    return s;
  }();
  const std::vector<Case> cases = {
      {kTypeInteger32, "12x", false, R"(Integer32 value "12x" is not a decimal number)"},
      {kTypeInteger32, "", false, R"(Integer32 value "" is not a decimal number)"},
      {kTypeInteger32, "-", false, R"(Integer32 value "-" is not a decimal number)"},
      {kTypeInteger32, "+5", false, R"(Integer32 value "+5" is not a decimal number)"},
      {kTypeInteger32, " 5", false, R"(Integer32 value " 5" is not a decimal number)"},
      {kTypeInteger32, "5 ", false, R"(Integer32 value "5 " is not a decimal number)"},
      {kTypeInteger32, "1.5", false, R"(Integer32 value "1.5" is not a decimal number)"},
      {kTypeInteger32, "99999999999999999999x", false,
       R"(Integer32 value "99999999999999999999x" is not a decimal number)"},
      {kTypeInteger32, "2147483648", false,
       R"(Integer32 value "2147483648" is out of range (-2147483648 to 2147483647))"},
      {kTypeInteger32, "-2147483649", false,
       R"(Integer32 value "-2147483649" is out of range (-2147483648 to 2147483647))"},
      {kTypeCounter32, "-1", false, R"(Counter32 value "-1" is not an unsigned decimal number)"},
      {kTypeCounter32, "4294967296", false,
       R"(Counter32 value "4294967296" is out of range (0 to 4294967295))"},
      {kTypeGauge32, "1e3", false, R"(Gauge32 value "1e3" is not an unsigned decimal number)"},
      {kTypeTimeTicks, "4294967296", false,
       R"(TimeTicks value "4294967296" is out of range (0 to 4294967295))"},
      {kTypeCounter64, "18446744073709551616", false,
       R"(Counter64 value "18446744073709551616" is out of range (0 to 18446744073709551615))"},
      {kTypeCounter64, "5", true, R"(Counter64 value "5" cannot be sent in an SNMPv1 message)"},
      {kTypeObjectId, "1", false,
       R"(OBJECT IDENTIFIER value "1" has fewer than two sub-identifiers)"},
      {kTypeObjectId, "", false, R"(OBJECT IDENTIFIER value "" is not a dotted OID)"},
      {kTypeObjectId, "1.3.6.", false, R"(OBJECT IDENTIFIER value "1.3.6." is not a dotted OID)"},
      {kTypeObjectId, "1..3", false, R"(OBJECT IDENTIFIER value "1..3" is not a dotted OID)"},
      {kTypeObjectId, "..1.3", false, R"(OBJECT IDENTIFIER value "..1.3" is not a dotted OID)"},
      {kTypeObjectId, "3.1", false,
       R"(OBJECT IDENTIFIER value "3.1" starts with a sub-identifier other than 0, 1 or 2)"},
      {kTypeObjectId, "1.40", false,
       R"(OBJECT IDENTIFIER value "1.40" has a second sub-identifier of 40 or more under 0 or 1)"},
      {kTypeObjectId, "1.3.4294967296", false,
       R"(OBJECT IDENTIFIER value "1.3.4294967296" has a sub-identifier above 4294967295)"},
      {kTypeObjectId, "1.3.00000000000000000004294967296", false,
       R"(OBJECT IDENTIFIER value "1.3.00000000000000000004294967296" has a sub-identifier above 4294967295)"},
      {kTypeObjectId, "1.3.99999999999999999999", false,
       R"(OBJECT IDENTIFIER value "1.3.99999999999999999999" has a sub-identifier above 4294967295)"},
      {kTypeCounter64, "99999999999999999999", false,
       R"(Counter64 value "99999999999999999999" is out of range (0 to 18446744073709551615))"},
      {kTypeCounter64, "00000000000000000000018446744073709551616", false,
       R"(Counter64 value "00000000000000000000018446744073709551616" is out of range (0 to 18446744073709551615))"},
      {kTypeObjectId, "2.4294967216", false,
       R"(OBJECT IDENTIFIER value "2.4294967216" has a second sub-identifier too large to encode)"},
      {kTypeObjectId, oid129, false,
       "OBJECT IDENTIFIER value " + QuoteText(oid129) + " has more than 128 sub-identifiers"},
      {kTypeIpAddress, "1.2.3", false, R"(IpAddress value "1.2.3" is not a dotted IPv4 address)"},
      {kTypeIpAddress, "1.2.3.4.5", false,
       R"(IpAddress value "1.2.3.4.5" is not a dotted IPv4 address)"},
      {kTypeIpAddress, "256.1.1.1", false,
       R"(IpAddress value "256.1.1.1" is not a dotted IPv4 address)"},
      {kTypeIpAddress, "1..2.3", false, R"(IpAddress value "1..2.3" is not a dotted IPv4 address)"},
      {kTypeIpAddress, "1.2.3.0004", false,
       R"(IpAddress value "1.2.3.0004" is not a dotted IPv4 address)"},
      {kTypeIpAddress, "", false, R"(IpAddress value "" is not a dotted IPv4 address)"},
      {kTypeNoValue, "x", false,
       R"(a binding of type 0 (no value) takes an empty value text, not "x")"},
      {10, "1", false, "unknown type code 10"},
      {-1, "", false, "unknown type code -1"},
      {kTypeInteger32, std::string("1\n\0", 3), false,
       R"(Integer32 value "1\x0A\x00" is not a decimal number)"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> element;
    EXPECT_EQ(EncodeValue(c.type, c.text, c.snmp_v1, &element), c.description);
    EXPECT_TRUE(element.empty()) << c.description;
    Status check = ValueToBer(c.type, c.text, c.snmp_v1, nullptr);
    EXPECT_EQ(check.error(), kErrorInvalidArgument) << c.description;
  }
}

// Conversions are remembered per thread; a remembered result must always be exactly the
// computed one, whatever the other OIDs that share its slot.
// The shortcut the decoder takes agrees with the two checks it stands for, on every tag and
// on contents around each boundary of length and sign.
TEST(ValueText, TheCombinedCheckAgreesWithTheTypeAndCanonicalChecks) {
  std::vector<std::vector<uint8_t>> contents;
  constexpr uint8_t kFirst[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
  constexpr uint8_t kSecond[] = {0x00, 0x7F, 0x80, 0xFF};
  for (size_t n = 0; n <= 10; ++n) {
    for (uint8_t first : kFirst) {
      for (uint8_t second : kSecond) {
        std::vector<uint8_t> c(n, 0x2B);
        if (n > 0) c[0] = first;
        if (n > 1) c[1] = second;
        contents.push_back(c);
      }
    }
  }
  int accepted = 0;
  for (int tag = 0; tag <= 0xFF; ++tag) {
    for (const std::vector<uint8_t>& c : contents) {
      for (bool v1 : {false, true}) {
        int32_t want = -1;
        int32_t got = -1;
        const bool expected = ValueType(static_cast<uint8_t>(tag), c, v1, &want) == nullptr &&
                              CanonicalValue(static_cast<uint8_t>(tag), c);
        ASSERT_EQ(CanonicalValueType(static_cast<uint8_t>(tag), c, v1, &got), expected)
            << "tag " << tag << " length " << c.size() << " leading " << (c.empty() ? -1 : c[0])
            << " v1 " << v1;
        if (expected) {
          EXPECT_EQ(got, want) << "tag " << tag << " length " << c.size();
          ++accepted;
        }
      }
    }
  }
  EXPECT_GT(accepted, 100);
}

TEST(ValueText, OidConversionsStayExactAcrossTheMemo) {
  auto base128 = [](uint32_t v, std::vector<uint8_t>* out) {
    std::vector<uint8_t> groups;
    do {
      groups.push_back(static_cast<uint8_t>(v & 0x7F));
      v >>= 7;
    } while (v != 0);
    for (size_t i = groups.size(); i-- > 0;) {
      out->push_back(static_cast<uint8_t>(groups[i] | (i != 0 ? 0x80 : 0)));
    }
  };
  for (int pass = 0; pass < 3; ++pass) {
    for (uint32_t i = 0; i < 3000; ++i) {
      const uint32_t j = i * 7919 % 100003;
      const std::string text = "1.3.6.1.4.1." + std::to_string(i) + "." + std::to_string(j);
      std::vector<uint8_t> expected = {0x06, 0, 0x2B, 6, 1, 4, 1};
      base128(i, &expected);
      base128(j, &expected);
      expected[1] = static_cast<uint8_t>(expected.size() - 2);
      // A non-canonical spelling of the same OID on the first pass must not become the
      // text that decoding gives.
      const std::string spelled = pass == 0 && i % 2 == 0 ? "." + text : text;
      std::vector<uint8_t> element;
      ASSERT_EQ(EncodeValue(kTypeObjectId, spelled, false, &element), "") << spelled;
      ASSERT_EQ(element, expected) << spelled;
      int32_t type = 0;
      std::string decoded;
      ASSERT_EQ(DecodeValue(element, false, &type, &decoded), "") << text;
      ASSERT_EQ(decoded, text);
    }
  }
}

TEST(ValueText, QuotesTextForDescriptions) {
  EXPECT_EQ(QuoteText("abc"), "\"abc\"");
  EXPECT_EQ(QuoteText("a\"b\\c\x7f"), R"("a\x22b\x5Cc\x7F")");
  EXPECT_EQ(QuoteText(std::string(70, 'z')), "\"" + std::string(64, 'z') + "\"...");
}

}  // namespace
}  // namespace tervane::snmp
