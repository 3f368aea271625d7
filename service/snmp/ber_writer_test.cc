#include "service/snmp/ber_writer.h"

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

std::vector<uint8_t> Written(const BerWriter& writer) {
  return {writer.data().begin(), writer.data().end()};
}

TEST(BerWriter, WritesMinimalLengths) {
  struct Case {
    size_t length;
    const char* header;
  };
  const Case cases[] = {
      {0, "04 00"},         {127, "04 7F"},         {128, "04 81 80"},         {255, "04 81 FF"},
      {256, "04 82 01 00"}, {65535, "04 82 FF FF"}, {65536, "04 83 01 00 00"},
  };
  BerWriter writer;
  for (const Case& c : cases) {
    writer.Clear();
    writer.PutHeader(kTagOctetString, c.length);
    EXPECT_EQ(Written(writer), Bytes(c.header)) << c.length;
  }
}

TEST(BerWriter, WritesMinimalIntegers) {
  struct Case {
    int64_t value;
    const char* element;
  };
  const Case cases[] = {
      {0, "02 01 00"},
      {127, "02 01 7F"},
      {128, "02 02 00 80"},
      {-128, "02 01 80"},
      {-129, "02 02 FF 7F"},
      {-1, "02 01 FF"},
      {INT32_MIN, "02 04 80 00 00 00"},
      {INT32_MAX, "02 04 7F FF FF FF"},
      {INT64_MIN, "02 08 80 00 00 00 00 00 00 00"},
  };
  BerWriter writer;
  for (const Case& c : cases) {
    writer.Clear();
    writer.PutInteger(kTagInteger, c.value);
    EXPECT_EQ(Written(writer), Bytes(c.element)) << c.value;
  }
  struct UnsignedCase {
    uint64_t value;
    const char* element;
  };
  const UnsignedCase unsigned_cases[] = {
      {0, "43 01 00"},
      {127, "43 01 7F"},
      {128, "43 02 00 80"},
      {255, "43 02 00 FF"},
      {256, "43 02 01 00"},
      {4294967295u, "43 05 00 FF FF FF FF"},
      {UINT64_MAX, "43 09 00 FF FF FF FF FF FF FF FF"},
  };
  for (const UnsignedCase& c : unsigned_cases) {
    writer.Clear();
    writer.PutUnsigned(kTagTimeTicks, c.value);
    EXPECT_EQ(Written(writer), Bytes(c.element)) << c.value;
  }
}

TEST(BerWriter, IntegersReadBackUnchanged) {
  // Every boundary around each octet count, both signs.
  std::vector<int64_t> values = {0, INT64_MIN, INT64_MAX};
  for (int bits = 1; bits < 63; ++bits) {
    const int64_t p = int64_t{1} << bits;
    for (int64_t v : {p - 1, p, p + 1, -p - 1, -p, -p + 1}) values.push_back(v);
  }
  BerWriter writer;
  for (int64_t v : values) {
    writer.Clear();
    writer.PutInteger(kTagInteger, v);
    BerReader reader(writer.data());
    int64_t back = 0;
    ASSERT_TRUE(reader.ReadInteger(&back)) << v;
    EXPECT_EQ(back, v);
    const auto u = static_cast<uint64_t>(v);
    writer.Clear();
    writer.PutUnsigned(kTagCounter64, u);
    std::span<const uint8_t> content;
    BerReader reader64(writer.data());
    ASSERT_TRUE(reader64.ReadElement(kTagCounter64, &content));
    uint64_t back64 = 0;
    ASSERT_EQ(DecodeUnsigned64(content, &back64), nullptr) << u;
    EXPECT_EQ(back64, u);
  }
}

TEST(BerWriter, BuildsBackToFrontAcrossGrowth) {
  // SEQUENCE { OCTET STRING of 70000 bytes, INTEGER 5 }, written last child first, after a
  // small message so the buffer has to grow with data already in it.
  BerWriter writer;
  writer.PutInteger(kTagInteger, 1);
  writer.Clear();
  writer.PutInteger(kTagInteger, 5);
  const std::string big(70000, 'x');
  writer.PutOctets(kTagOctetString, big);
  writer.PutHeader(kTagSequence, writer.size());
  std::vector<uint8_t> expected = Bytes("30 83 01 11 78 04 83 01 11 70");
  expected.insert(expected.end(), big.begin(), big.end());
  for (uint8_t b : Bytes("02 01 05")) expected.push_back(b);
  EXPECT_EQ(Written(writer), expected);
  // Cleared, the same writer starts over.
  writer.Clear();
  writer.PutOctets(kTagOctetString, "");
  EXPECT_EQ(Written(writer), Bytes("04 00"));
}

}  // namespace
}  // namespace tervane::snmp
