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

  const std::vector<std::pair<store::SettingsRow, std::string>> failures = {
      {Row(Value(), "0.0.0.0", 162, "127.0.0.1", 1162, 0), "DebugMode: no value"},
      {Row(0, "0.0.0.0", 70000, "127.0.0.1", 1162, 0),
       "TrapRecvPort: 70000 is not a port number (1 to 65535)"},
      {Row(0, "0.0.0.0", 162, "localhost", 1162, 0),
       "TrapForwIpAddr: \"localhost\" is not a dotted IPv4 address"},
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

TEST(CheckForwardEndpoint, RefusesOnlyTheListenersOwnEndpoint) {
  struct Case {
    const char* recv_ip;
    uint16_t recv_port;
    const char* forw_ip;
    uint16_t forw_port;
    bool loops;
  };
  const Case cases[] = {
      {"0.0.0.0", 162, "127.0.0.1", 162, true},   // every address includes loopback
      {"0.0.0.0", 162, "127.0.0.9", 162, true},   // all of 127/8 is this machine
      {"0.0.0.0", 162, "10.0.0.5", 162, true},    // an address of this machine
      {"0.0.0.0", 162, "0.0.0.0", 162, true},     // sent to this machine
      {"0.0.0.0", 162, "192.0.2.1", 162, false},  // another machine
      {"0.0.0.0", 162, "127.0.0.1", 1162, false},  {"10.0.0.5", 162, "10.0.0.5", 162, true},
      {"10.0.0.5", 162, "127.0.0.1", 162, false},  // the listener is not on loopback
      {"127.0.0.1", 162, "127.0.0.1", 163, false},
  };
  const auto is_local = [](const std::string& ip) {
    return ip.rfind("127.", 0) == 0 || ip == "10.0.0.5" || ip == "0.0.0.0";
  };
  for (const Case& c : cases) {
    Settings s;
    s.TrapRecvIpAddr = c.recv_ip;
    s.TrapRecvPort = c.recv_port;
    s.TrapForwIpAddr = c.forw_ip;
    s.TrapForwPort = c.forw_port;
    const Status checked = CheckForwardEndpoint(s, is_local);
    EXPECT_EQ(!checked.ok(), c.loops) << c.recv_ip << " -> " << c.forw_ip << ":" << c.forw_port;
    if (!checked.ok()) {
      EXPECT_EQ(checked.description().rfind("TrapForwIpAddr: " + std::string(c.forw_ip) + ":", 0),
                0u)
          << checked.description();
    }
  }
}

}  // namespace
}  // namespace tervane::relay
