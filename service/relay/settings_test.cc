#include "service/relay/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tervane::relay {
namespace {

using store::Value;

store::SettingsRow Row(const Value& debug, const Value& recv_ip, const Value& recv_port,
                       const Value& forw_ip, const Value& forw_port, const Value& convert) {
  return store::SettingsRow(
      {debug, recv_ip, recv_port, Value("Not Started"), forw_ip, forw_port, convert});
}

TEST(SettingsFromRow, ConvertsEachColumnAndNamesTheOneThatFails) {
  Result<Settings> s = SettingsFromRow(Row(1, "0.0.0.0", 162, "127.0.0.1", "1162", "True"));
  ASSERT_TRUE(s.ok()) << s.status().ToString();
  EXPECT_TRUE(s->DebugMode);
  EXPECT_EQ(s->TrapRecvIpAddr, "0.0.0.0");
  EXPECT_EQ(s->TrapRecvPort, 162);
  EXPECT_EQ(s->TrapForwIpAddr, "127.0.0.1");
  EXPECT_EQ(s->TrapForwPort, 1162);
  EXPECT_TRUE(s->ConvV2ToV1);
  // Either family, as written.
  Result<Settings> v6 = SettingsFromRow(Row(0, "::", 162, "2001:db8::7", 162, 0));
  ASSERT_TRUE(v6.ok()) << v6.status().ToString();
  EXPECT_EQ(v6->TrapRecvIpAddr, "::");
  EXPECT_EQ(v6->TrapForwIpAddr, "2001:db8::7");

  const std::vector<std::pair<store::SettingsRow, std::string>> failures = {
      {Row(Value(), "0.0.0.0", 162, "127.0.0.1", 1162, 0), "DebugMode: no value"},
      {Row(0, "10.1", 162, "127.0.0.1", 1162, 0),
       "TrapRecvIpAddr: \"10.1\" is not an IPv4 or IPv6 address (a.b.c.d or x:x::x)"},
      {Row(0, "fe80::1%eth0", 162, "127.0.0.1", 1162, 0),
       "TrapRecvIpAddr: \"fe80::1%eth0\" has a zone ID (%...); zone IDs are not supported: give "
       "the address alone"},
      {Row(0, "0.0.0.0", 70000, "127.0.0.1", 1162, 0),
       "TrapRecvPort: 70000 is not a port number (1 to 65535)"},
      {Row(0, "0.0.0.0", 162, "localhost", 1162, 0),
       "TrapForwIpAddr: \"localhost\" is not an IPv4 or IPv6 address (a.b.c.d or x:x::x)"},
      {Row(0, "0.0.0.0", 162, "127.0.0.1", "x", 0), "TrapForwPort: \"x\" is not a number"},
      {Row(0, "0.0.0.0", 162, "127.0.0.1", 1162, "maybe"),
       "ConvV2ToV1: \"maybe\" is not a Boolean (True or False, Yes or No, On or Off, or a "
       "number)"},
  };
  for (const auto& [row, description] : failures) {
    Result<Settings> bad = SettingsFromRow(row);
    ASSERT_FALSE(bad.ok()) << description;
    EXPECT_EQ(bad.status().description(), description);
  }
}

}  // namespace
}  // namespace tervane::relay
