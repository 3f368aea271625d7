#include "admin/health_check.h"

#include "gtest/gtest.h"

namespace tervane::svc {
namespace {

snmp::IpAddress Ip(const char* text) {
  snmp::IpAddress address;
  EXPECT_EQ(snmp::ParseAddressText(text, &address), nullptr) << text;
  return address;
}

// /proc/net/udp as a little-endian host prints it.
constexpr char kTable[] =
    "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
    "timeout inode ref pointer drops            \n"
    "  103: 00000000:00A2 00000000:0000 07 00000000:00000000 00:00000000 00000000   999        0 "
    "41001 2 0000000000000000 0        \n"
    "  104: 6400000A:00A2 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "41002 2 0000000000000000 0        \n"
    // Connected to 10.0.0.9:162: it takes datagrams from that peer only.
    "  105: 6500000A:00A2 0900000A:00A2 01 00000000:00000000 00:00000000 00000000     0        0 "
    "41003 2 0000000000000000 0        \n"
    "  106: 0100007F:2F44 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "41004 2 0000000000000000 0        \n"
    "garbage line\n"
    "  107: 0100007F:XYZ1 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "41005 2 0000000000000000 0\n";

TEST(HealthCheck, ReadsTheKernelsUdpTable) {
  const std::vector<UdpSocket> little = ParseUdpTable(kTable, std::endian::little);
  ASSERT_EQ(little.size(), 4u);
  EXPECT_EQ(little[0], (UdpSocket{Ip("0.0.0.0"), 162, 7, 41001}));
  EXPECT_EQ(little[1], (UdpSocket{Ip("10.0.0.100"), 162, 7, 41002}));
  EXPECT_EQ(little[2], (UdpSocket{Ip("10.0.0.101"), 162, 1, 41003}));
  EXPECT_EQ(little[3], (UdpSocket{Ip("127.0.0.1"), 12100, 7, 41004}));
  // A big-endian host prints the octets in their order.
  EXPECT_EQ(ParseUdpTable(kTable, std::endian::big)[1].address, Ip("100.0.0.10"));
  EXPECT_TRUE(ParseUdpTable("").empty());
}

// /proc/net/udp6: four 32-bit words, each in the host's byte order.
TEST(HealthCheck, ReadsTheKernelsUdp6Table) {
  const struct {
    const char* local;
    std::endian order;
    std::optional<std::string> address;  // nothing: the line is no row
    uint16_t port = 0;
  } cases[] = {
      {"00000000000000000000000000000000:00A2", std::endian::little, "::", 162},
      {"00000000000000000000000001000000:2F44", std::endian::little, "::1", 12100},
      {"00000000000000000000000000000001:2F44", std::endian::big, "::1", 12100},
      {"B80D0120000000000000000007000000:00A2", std::endian::little, "2001:db8::7", 162},
      {"0000000000000000FFFF00000100007F:00A2", std::endian::little, "::ffff:127.0.0.1", 162},
      {"B80D012000000000000000000700000:00A2", std::endian::little, std::nullopt},  // 31 digits
      {"B80D0120000000000000000007000000:10000", std::endian::little, std::nullopt},
      {"B80D012000000000000000000700000G:00A2", std::endian::little, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.local);
    const std::string line = std::string("   12: ") + c.local +
                             " 00000000000000000000000000000000:0000 07 00000000:00000000 "
                             "00:00000000 00000000     0        0 52001 2 0000000000000000 0\n";
    const std::vector<UdpSocket> sockets = ParseUdpTable(line, c.order);
    ASSERT_EQ(sockets.size(), c.address ? 1u : 0u);
    if (!c.address) continue;
    EXPECT_EQ(sockets[0], (UdpSocket{Ip(c.address->c_str()), c.port, 7, 52001}));
    EXPECT_EQ(EndpointText(sockets[0].address, c.port),
              "[" + *c.address + "]:" + std::to_string(c.port));
  }
}

TEST(HealthCheck, ListenersAreUnconnectedSocketsOnThePortAndAddressOrEvery) {
  // The udp and udp6 tables together: each family's listeners are found in its own.
  const std::vector<UdpSocket> table = {
      {Ip("0.0.0.0"), 162, 7, 1},     {Ip("10.0.0.100"), 162, 7, 2},  {Ip("10.0.0.101"), 162, 1, 3},
      {Ip("10.0.0.102"), 162, 7, 4},  {Ip("10.0.0.100"), 163, 7, 5},  {Ip("::"), 162, 7, 6},
      {Ip("2001:db8::7"), 162, 7, 7}, {Ip("2001:db8::8"), 162, 1, 8}, {Ip("::1"), 1162, 7, 9},
  };
  const struct {
    const char* address;
    uint16_t port;
    std::vector<uint64_t> inodes;
  } cases[] = {
      {"10.0.0.100", 162, {1, 2}},  // its own address, and every address
      {"0.0.0.0", 162, {1}},        // receiving on every address: only a socket on every
      {"10.0.0.101", 162, {1}},     // the connected one does not count
      {"10.0.0.100", 163, {5}},
      {"10.0.0.100", 164, {}},
      {"2001:db8::7", 162, {6, 7}},
      {"::", 162, {6}},  // a socket on :: is the service's; one on 0.0.0.0 is not
      {"2001:db8::8", 162, {6}},
      {"::1", 1162, {9}},
      {"127.0.0.1", 1162, {}},  // the service binds the family configured
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(EndpointText(Ip(c.address), c.port));
    std::vector<uint64_t> inodes;
    for (const UdpSocket& s : ListenersOn(table, Ip(c.address), c.port)) inodes.push_back(s.inode);
    EXPECT_EQ(inodes, c.inodes);
  }
  EXPECT_EQ(SocketInode("socket:[41002]"), 41002u);
  EXPECT_EQ(SocketInode("pipe:[41002]"), std::nullopt);
  EXPECT_EQ(SocketInode("socket:[]"), std::nullopt);
  EXPECT_EQ(SocketInode("/dev/null"), std::nullopt);
}

TEST(HealthCheck, CountersMustBeFreshOnceTheServiceHasRunThirtySeconds) {
  constexpr int64_t kNow = 1796770308;
  const struct {
    std::optional<int64_t> written;
    std::optional<int64_t> age;
    std::optional<std::string> problem;
  } cases[] = {
      {kNow - 4, 3600, std::nullopt},
      {kNow - 30, 3600, std::nullopt},
      {kNow - 31, 3600, "counters last written 31 s ago"},
      {kNow - 47, std::nullopt, "counters last written 47 s ago"},
      {kNow + 600, 3600, std::nullopt},  // the clock was set back
      // Just started: stamps of an earlier run, or none, are no verdict yet.
      {kNow - 500, 5, std::nullopt},
      {std::nullopt, 29, std::nullopt},
      {std::nullopt, 35, "no counters written in the 35 s since the service started"},
      {std::nullopt, std::nullopt, "no counters written"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "written " << c.written.value_or(-1) << ", age " << c.age.value_or(-1));
    EXPECT_EQ(CountersProblem(kNow, c.written, c.age), c.problem);
  }
}

}  // namespace
}  // namespace tervane::svc
