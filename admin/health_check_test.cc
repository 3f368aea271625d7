#include "admin/health_check.h"

#include "gtest/gtest.h"

namespace tervane::svc {
namespace {

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
  EXPECT_EQ(little[0], (UdpSocket{{0, 0, 0, 0}, 162, 7, 41001}));
  EXPECT_EQ(little[1], (UdpSocket{{10, 0, 0, 100}, 162, 7, 41002}));
  EXPECT_EQ(little[2], (UdpSocket{{10, 0, 0, 101}, 162, 1, 41003}));
  EXPECT_EQ(little[3], (UdpSocket{{127, 0, 0, 1}, 12100, 7, 41004}));
  // A big-endian host prints the octets in their order.
  EXPECT_EQ(ParseUdpTable(kTable, std::endian::big)[1].address,
            (std::array<uint8_t, 4>{100, 0, 0, 10}));
  EXPECT_TRUE(ParseUdpTable("").empty());
}

TEST(HealthCheck, ListenersAreUnconnectedSocketsOnThePortAndAddressOrEvery) {
  const std::vector<UdpSocket> table = {
      {{0, 0, 0, 0}, 162, 7, 1},    {{10, 0, 0, 100}, 162, 7, 2}, {{10, 0, 0, 101}, 162, 1, 3},
      {{10, 0, 0, 102}, 162, 7, 4}, {{10, 0, 0, 100}, 163, 7, 5},
  };
  const struct {
    std::array<uint8_t, 4> address;
    uint16_t port;
    std::vector<uint64_t> inodes;
  } cases[] = {
      {{10, 0, 0, 100}, 162, {1, 2}},  // its own address, and every address
      {{0, 0, 0, 0}, 162, {1}},        // receiving on every address: only a socket on every
      {{10, 0, 0, 101}, 162, {1}},     // the connected one does not count
      {{10, 0, 0, 100}, 163, {5}},    {{10, 0, 0, 100}, 164, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(EndpointText(c.address, c.port));
    std::vector<uint64_t> inodes;
    for (const UdpSocket& s : ListenersOn(table, c.address, c.port)) inodes.push_back(s.inode);
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
