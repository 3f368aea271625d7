#include "service/snmp/ber_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "service/snmp/codec.h"
#include "tests/hex_file.h"

namespace tervane::snmp {
namespace {

std::vector<uint8_t> Bytes(std::string_view hex) {
  auto bytes = testing::ParseHex(hex);
  EXPECT_TRUE(bytes.ok()) << hex;
  return bytes.ok() ? *bytes : std::vector<uint8_t>{};
}

TEST(BerReader, AcceptsEveryDefiniteLengthForm) {
  struct Case {
    const char* name;
    const char* input;
    size_t content_length;
  };
  const Case cases[] = {
      {"short form", "04 03 61 62 63", 3},
      {"empty content", "04 00", 0},
      {"long form for a short length", "04 81 03 61 62 63", 3},
      {"long form with a leading zero", "04 82 00 03 61 62 63", 3},
      {"four length octets", "04 84 00 00 00 03 61 62 63", 3},
      {"ten length octets, mostly zero", "04 8A 00 00 00 00 00 00 00 00 00 03 61 62 63", 3},
      {"long form zero", "04 81 00", 0},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> input = Bytes(c.input);
    BerReader reader(input);
    uint8_t tag = 0;
    std::span<const uint8_t> content;
    ASSERT_TRUE(reader.ReadElement(&tag, &content)) << c.name << ": " << reader.ErrorText();
    EXPECT_EQ(tag, kTagOctetString) << c.name;
    EXPECT_EQ(content.size(), c.content_length) << c.name;
    EXPECT_TRUE(reader.empty()) << c.name;
  }
  // A length of 128 and more needs the long form; its content must be returned whole.
  std::vector<uint8_t> big = Bytes("04 82 01 00");
  big.resize(4 + 256, 0x5A);
  BerReader reader(big);
  std::span<const uint8_t> content;
  ASSERT_TRUE(reader.ReadElement(kTagOctetString, &content));
  EXPECT_EQ(content.size(), 256u);
  EXPECT_EQ(content.data(), big.data() + 4);
}

TEST(BerReader, RefusesBadHeadersWithoutConsuming) {
  struct Case {
    const char* name;
    const char* input;
    const char* error;
    size_t error_offset;
  };
  const Case cases[] = {
      {"no input", "", "element expected but the input ended", 0},
      {"tag without length", "04", "input ended inside an element header", 0},
      {"high tag number", "1F 01 00", "high tag numbers are not used in SNMP", 0},
      {"high tag number, context class", "BF 81 01 00", "high tag numbers are not used in SNMP", 0},
      {"indefinite length", "30 80 02 01 00 00 00", "indefinite length", 1},
      {"reserved length octet", "04 FF 00", "reserved length octet 0xFF", 1},
      {"content shorter than its length", "04 05 61 62", "length exceeds the remaining input", 1},
      {"long form cut short", "04 82 01", "input ended inside a length", 1},
      {"length far beyond the input", "04 88 FF FF FF FF FF FF FF FF 00",
       "length exceeds the remaining input", 1},
      {"length one past the input", "04 81 02 61", "length exceeds the remaining input", 1},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> input = Bytes(c.input);
    BerReader reader(input);
    uint8_t tag = 0x77;
    std::span<const uint8_t> content;
    EXPECT_FALSE(reader.ReadElement(&tag, &content)) << c.name;
    ASSERT_NE(reader.error(), nullptr) << c.name;
    EXPECT_STREQ(reader.error(), c.error) << c.name;
    EXPECT_EQ(reader.error_offset(), c.error_offset) << c.name;
    EXPECT_EQ(reader.offset(), 0u) << c.name;
    EXPECT_EQ(reader.remaining(), input.size()) << c.name;
    EXPECT_EQ(tag, 0x77) << c.name;
  }
}

TEST(BerReader, NestedCursorMustEndEmpty) {
  // SEQUENCE { INTEGER 5, INTEGER 6 } read exactly.
  std::vector<uint8_t> input = Bytes("30 06 02 01 05 02 01 06");
  BerReader top(input);
  BerReader inner;
  ASSERT_TRUE(top.ReadConstructed(kTagSequence, &inner));
  EXPECT_TRUE(top.empty());
  int64_t a = 0, b = 0;
  ASSERT_TRUE(inner.ReadInteger(&a));
  EXPECT_FALSE(inner.ExpectEnd());
  EXPECT_STREQ(inner.error(), "unexpected bytes after the last element");
  EXPECT_EQ(inner.error_offset(), 5u);
  ASSERT_TRUE(inner.ReadInteger(&b));
  EXPECT_TRUE(inner.ExpectEnd());
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, 6);

  // A SEQUENCE whose length stops inside its last child: the child cannot be read from the
  // sub-cursor even though the bytes exist after it.
  input = Bytes("30 04 02 01 05 02 01 06");
  BerReader top2(input);
  ASSERT_TRUE(top2.ReadConstructed(kTagSequence, &inner));
  ASSERT_TRUE(inner.ReadInteger(&a));
  EXPECT_FALSE(inner.ReadInteger(&b));
  EXPECT_STREQ(inner.error(), "input ended inside an element header");
  EXPECT_EQ(inner.error_offset(), 5u);
  EXPECT_FALSE(top2.ExpectEnd());

  // The tag must match and must be constructed.
  input = Bytes("31 00 04 00");
  BerReader top3(input);
  EXPECT_FALSE(top3.ReadConstructed(kTagSequence, &inner));
  EXPECT_STREQ(top3.error(), "SEQUENCE expected");
  EXPECT_TRUE(top3.ReadConstructed(0x31, &inner));
  uint8_t tag = 0;
  EXPECT_FALSE(top3.ReadAnyConstructed(&tag, &inner));
  EXPECT_STREQ(top3.error(), "constructed element expected");
  EXPECT_EQ(top3.offset(), 2u);
}

TEST(BerReader, CapsNestingDepth) {
  // kMaxNesting + 1 SEQUENCEs, each holding the next.
  std::vector<uint8_t> input;
  for (int i = 0; i <= kMaxNesting; ++i) {
    input.insert(input.begin(), {kTagSequence, static_cast<uint8_t>(input.size())});
  }
  BerReader level(input);
  for (int depth = 1; depth <= kMaxNesting; ++depth) {
    BerReader inner;
    ASSERT_TRUE(level.ReadConstructed(kTagSequence, &inner)) << "depth " << depth;
    level = inner;
  }
  BerReader too_deep;
  EXPECT_FALSE(level.ReadConstructed(kTagSequence, &too_deep));
  EXPECT_STREQ(level.error(), "elements nested too deeply");
  EXPECT_EQ(level.error_offset(), 2u * kMaxNesting);
}

TEST(BerReader, ReadsIntegers) {
  struct Case {
    const char* content;
    bool ok;
    int64_t value;
  };
  const Case cases[] = {
      {"00", true, 0},
      {"7F", true, 127},
      {"80", true, -128},
      {"00 80", true, 128},
      {"FF 7F", true, -129},
      {"FF", true, -1},
      {"80 00 00 00", true, INT32_MIN},
      {"7F FF FF FF", true, INT32_MAX},
      {"00 00 00 05", true, 5},      // non-minimal, accepted
      {"FF FF FF FF FF", true, -1},  // non-minimal negative
      {"80 00 00 00 00 00 00 00", true, INT64_MIN},
      {"7F FF FF FF FF FF FF FF", true, INT64_MAX},
      {"", false, 0},
      {"00 00 00 00 00 00 00 00 01", false, 0},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> content = Bytes(c.content);
    int64_t value = 42;
    const char* why = DecodeSigned(content, &value);
    EXPECT_EQ(why == nullptr, c.ok) << c.content;
    EXPECT_EQ(value, c.ok ? c.value : 42) << c.content;
  }

  // ReadInteger32 refuses what does not fit and consumes nothing.
  const std::vector<uint8_t> input = Bytes("02 05 00 80 00 00 00 02 04 80 00 00 00");
  BerReader reader(input);
  int32_t v = 7;
  EXPECT_FALSE(reader.ReadInteger32(&v));
  EXPECT_STREQ(reader.error(), "INTEGER outside the 32-bit range");
  EXPECT_EQ(reader.offset(), 0u);
  EXPECT_EQ(v, 7);
  std::string s;
  EXPECT_FALSE(reader.ReadOctetString(&s));
  EXPECT_STREQ(reader.error(), "OCTET STRING expected");
}

TEST(BerReader, ReadsUnsignedValues) {
  struct Case32 {
    const char* content;
    bool ok;
    uint32_t value;
  };
  const Case32 cases32[] = {
      {"00", true, 0},
      {"00 FF FF FF FF", true, 4294967295u},
      {"00 80 00 00 00", true, 2147483648u},
      {"00 00 00 00 00 00 00 2A", true, 42},
      {"FF", true, 4294967295u},           // negative: modulo 2^32
      {"80 00 00 00", true, 2147483648u},  // -2147483648 modulo 2^32
      {"01 00 00 00 00", false, 0},        // 2^32
      {"FF 7F FF FF FF", false, 0},        // below -2^31
      {"", false, 0},
  };
  for (const Case32& c : cases32) {
    const std::vector<uint8_t> content = Bytes(c.content);
    uint32_t value = 9;
    EXPECT_EQ(DecodeUnsigned32(content, &value) == nullptr, c.ok) << c.content;
    EXPECT_EQ(value, c.ok ? c.value : 9) << c.content;
  }
  struct Case64 {
    const char* content;
    bool ok;
    uint64_t value;
  };
  const Case64 cases64[] = {
      {"00", true, 0},
      {"00 FF FF FF FF FF FF FF FF", true, UINT64_MAX},
      {"7F FF FF FF FF FF FF FF", true, INT64_MAX},
      {"FF", true, UINT64_MAX},  // negative: modulo 2^64
      {"01 00 00 00 00 00 00 00 00", false, 0},
      {"00 00 FF FF FF FF FF FF FF FF", false, 0},
      {"", false, 0},
  };
  for (const Case64& c : cases64) {
    const std::vector<uint8_t> content = Bytes(c.content);
    uint64_t value = 9;
    EXPECT_EQ(DecodeUnsigned64(content, &value) == nullptr, c.ok) << c.content;
    EXPECT_EQ(value, c.ok ? c.value : 9) << c.content;
  }
}

TEST(BerReader, ReadsObjectIdentifiers) {
  struct Case {
    const char* content;
    const char* dotted;  // nullptr: refused with `error`
    const char* error;
  };
  const Case cases[] = {
      {"2B 06 01 04 01", "1.3.6.1.4.1", nullptr},
      {"00", "0.0", nullptr},
      {"27", "0.39", nullptr},
      {"28", "1.0", nullptr},
      {"4F", "1.39", nullptr},
      {"50", "2.0", nullptr},
      {"88 37 05", "2.999.5", nullptr},
      {"8F FF FF FF 7F", "2.4294967215", nullptr},
      {"2B 8F FF FF FF 7F", "1.3.4294967295", nullptr},
      {"2B 81 FD 59", "1.3.32473", nullptr},
      {"2B 90 80 80 80 00", nullptr, "OBJECT IDENTIFIER sub-identifier above 32 bits"},
      {"2B 80 01", nullptr, "OBJECT IDENTIFIER sub-identifier padded with 0x80"},
      {"2B 06 81", nullptr, "OBJECT IDENTIFIER ends inside a sub-identifier"},
      {"", nullptr, "empty OBJECT IDENTIFIER"},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> content = Bytes(c.content);
    std::string dotted = "untouched";
    const char* why = DecodeOid(content, &dotted);
    if (c.dotted != nullptr) {
      EXPECT_EQ(why, nullptr) << c.content << ": " << why;
      EXPECT_EQ(dotted, c.dotted) << c.content;
    } else {
      EXPECT_STREQ(why, c.error) << c.content;
      EXPECT_EQ(dotted, "untouched") << c.content;
    }
  }

  // kMaxOidSubIds sub-identifiers pass (the first octet counts for two); one more does not.
  std::vector<uint8_t> longest(kMaxOidSubIds - 1, 0x01);
  longest[0] = 0x2B;
  std::string dotted;
  ASSERT_EQ(DecodeOid(longest, &dotted), nullptr);
  EXPECT_EQ(std::count(dotted.begin(), dotted.end(), '.'),
            static_cast<std::ptrdiff_t>(kMaxOidSubIds) - 1);
  longest.push_back(0x01);
  EXPECT_STREQ(DecodeOid(longest, &dotted), "OBJECT IDENTIFIER with too many sub-identifiers");

  // Through the reader: a refused OID consumes nothing.
  const std::vector<uint8_t> input = Bytes("06 03 2B 80 01");
  BerReader reader(input);
  EXPECT_FALSE(reader.ReadOid(&dotted));
  EXPECT_EQ(reader.offset(), 0u);
  EXPECT_EQ(reader.error_offset(), 0u);
}

}  // namespace
}  // namespace tervane::snmp
