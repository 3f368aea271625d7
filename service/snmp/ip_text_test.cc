#include "service/snmp/ip_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tervane::snmp {
namespace {

IpAddress Parsed(std::string_view text) {
  IpAddress a;
  EXPECT_EQ(ParseAddressText(text, &a), nullptr) << text;
  return a;
}

TEST(IpText, ParsesBothFamiliesAndWritesTheRfc5952Form) {
  struct Case {
    std::string_view text;
    const char* written;  // nullptr: refused
  };
  const Case cases[] = {
      {"192.0.2.7", "192.0.2.7"},
      {"0.0.0.0", "0.0.0.0"},
      {"::", "::"},
      {"::1", "::1"},
      {"2001:DB8:0:0:0:0:0:7", "2001:db8::7"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},     // the first of two equal runs
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group stays
      {"2001:0db8::0001", "2001:db8::1"},
      {"::FFFF:192.0.2.7", "::ffff:192.0.2.7"},
      {"1.2.3", nullptr},
      {"256.0.0.1", nullptr},
      {"localhost", nullptr},
      {"", nullptr},
      {"1::2::3", nullptr},
      {"[::1]", nullptr},
      {"::1:162x", nullptr},
      {"0000:0000:0000:0000:0000:0000:0000:0000:0", nullptr},
      {"fe80::1%eth0", nullptr},
  };
  for (const Case& c : cases) {
    IpAddress a;
    const char* why = ParseAddressText(c.text, &a);
    if (c.written == nullptr) {
      EXPECT_NE(why, nullptr) << c.text;
      EXPECT_EQ(a.family, IpAddress::Family::kNone) << c.text;
      continue;
    }
    ASSERT_EQ(why, nullptr) << c.text;
    EXPECT_EQ(FormatAddress(a), c.written) << c.text;
    EXPECT_EQ(CanonicalAddressText(c.text), c.written);
  }
  IpAddress a;
  EXPECT_STREQ(ParseAddressText("fe80::1%eth0", &a),
               "has a zone ID (%...); zone IDs are not supported: give the address alone");
  EXPECT_EQ(CanonicalAddressText("not an address"), "not an address");
}

TEST(IpText, EndpointsAndWhatABoundAddressCovers) {
  EXPECT_EQ(FormatEndpoint("192.0.2.7", 162), "192.0.2.7:162");
  EXPECT_EQ(FormatEndpoint("2001:db8::7", 162), "[2001:db8::7]:162");
  EXPECT_EQ(FormatEndpoint("::", 1), "[::]:1");

  EXPECT_TRUE(Parsed("::ffff:10.0.0.1").IsV4Mapped());
  EXPECT_TRUE(SameHost(Parsed("::ffff:10.0.0.1"), Parsed("10.0.0.1")));
  EXPECT_FALSE(SameHost(Parsed("::10.0.0.1"), Parsed("10.0.0.1")));
  EXPECT_TRUE(Parsed("::").IsAny());
  EXPECT_FALSE(Parsed("::1").IsAny());

  struct Case {
    std::string_view bound, to;
    bool covers;
  };
  const Case cases[] = {
      {"0.0.0.0", "10.0.0.1", true},
      {"0.0.0.0", "::ffff:10.0.0.1", true},
      {"0.0.0.0", "::1", false},
      {"::", "10.0.0.1", true},
      {"::", "::1", true},
      {"::ffff:0.0.0.0", "10.0.0.1", true},
      {"10.0.0.1", "::ffff:10.0.0.1", true},
      {"10.0.0.1", "10.0.0.2", false},
      {"::1", "::1", true},
      {"::1", "127.0.0.1", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BoundAddressCovers(Parsed(c.bound), Parsed(c.to)), c.covers)
        << c.bound << " " << c.to;
  }
}

}  // namespace
}  // namespace tervane::snmp
