// TervixSrv over IPv6 end to end, with net-snmp as the peers: receiving on [::1] from snmptrap
// and snmpinform over udp6, forwarding to an snmptrapd on udp6:[::1] and to an IPv4 one that
// converts; receiving on :: for both families, where an IPv4 sender counts as IPv4 (its
// records, its snmpTrapAddress.0, the status systemd is told); and an IPv4 receive address
// with IPv6 stations, one of which refuses, counted under its bracketed label, without an
// allocation per trap. Skips where the machine has no ::1.
#include <signal.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "service/snmp/socket_util.h"
#include "tests/listen_peers.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

constexpr char kLinkDown[] = "1.3.6.1.6.3.1.1.5.3";
constexpr char kIfIndex7[] = "1.3.6.1.2.1.2.2.1.1.7";

// One record per trap: SNMPv1 with its agent-addr, SNMPv2 with its bindings.
constexpr char kTrapdConfig[] =
    "disableAuthorization yes\n"
    "format1 V1|%A|%V~%v|END\\n\n"
    "format2 V2|%V~%v|END\\n\n";

class Ipv6RelayTest : public RelayTest {
 protected:
  void SetUp() override {
    if (!snmp::IsLocalAddress("::1")) GTEST_SKIP() << "this machine has no ::1 (IPv6 loopback)";
    RelayTest::SetUp();
  }

  void AddStation(const std::string& address, uint16_t port, bool convert) {
    Result<store::Store> db = store::Store::Open(folder_.string());
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    Result<int64_t> added = db->AddStation({{"Address", store::Value(address)},
                                            {"Port", store::Value(static_cast<int>(port))},
                                            {"ConvV2ToV1", store::Value(convert ? 1 : 0)},
                                            {"Enabled", store::Value(1)}});
    ASSERT_TRUE(added.ok()) << added.status().ToString();
  }

  // Pumps until `trapd` has printed `count` records; returns them.
  std::vector<std::string> Records(Subprocess& trapd, size_t count) {
    PumpUntil(
        [&] {
          trapd.Drain();
          return snmp::TrapdRecords(trapd.output()).size() >= count;
        },
        10000);
    return snmp::TrapdRecords(trapd.output());
  }

  // RelayStatistics as "name/label" -> value.
  std::map<std::string, int64_t> Counters() const {
    std::map<std::string, int64_t> counters;
    Result<store::Store> db = store::Store::Open(folder_.string(), store::Access::kReadOnly);
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) return counters;
    Result<std::vector<store::StatisticRow>> rows = db->ReadStatistics();
    EXPECT_TRUE(rows.ok()) << rows.status().ToString();
    if (!rows.ok()) return counters;
    for (const store::StatisticRow& row : *rows) counters[row.name + "/" + row.label] = row.value;
    return counters;
  }
};

const std::vector<std::string> kPortDown = {"-v",      "2c",      "-c", "public", "987",
                                            kLinkDown, kIfIndex7, "i",  "7"};

// Received on [::1] from snmptrap and snmpinform over udp6: the inform is answered, both reach
// the snmptrapd on udp6:[::1] without an snmpTrapAddress.0 (the sender is no IPv4 address)
// and the IPv4 snmptrapd in SNMPv1 with the agent-addr 0.0.0.0; the records and the statuses
// write the addresses as IPv6 and the stations in brackets.
TEST_F(Ipv6RelayTest, ReceivesOnIpv6LoopbackAndForwardsToStationsOfBothFamilies) {
  uint16_t port6 = 0;
  uint16_t port4 = 0;
  std::unique_ptr<Subprocess> trapd6 = StartTrapd(kTrapdConfig, {"-n", "-On"}, &port6, true);
  ASSERT_NE(trapd6, nullptr);
  std::unique_ptr<Subprocess> trapd4 = StartTrapd(kTrapdConfig, {"-n", "-On"}, &port4);
  ASSERT_NE(trapd4, nullptr);
  RelayConfig config;
  config.debug = true;
  config.recv_ip = "0:0::1";  // written back in its RFC 5952 form
  config.send_to = "::1";
  config.forw_ip = "::1";
  config.forw_port = port6;
  config.add_source_address = "1";
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(AddStation("127.0.0.1", port4, true));
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  const store::SettingsRow row = Settings();
  EXPECT_EQ(row.ByName("TrapRecvIpAddr").AsText(), "::1");
  EXPECT_TRUE(
      LineMatches(row.ByName("TrapRecvStatus").AsText(),
                  "{stamp}\r\nTrap Server Started\r\nIP=::1\r\nPort=" + std::to_string(recv_port_)))
      << Escaped(row.ByName("TrapRecvStatus").AsText());

  std::string output;
  ASSERT_EQ(RunTool(snmptrap_, kPortDown, &output), 0) << output;
  ASSERT_EQ(RunTool(snmpinform_, kPortDown, &output), 0)
      << "the inform was not answered: " << output;
  const std::vector<std::string> v6 = Records(*trapd6, 2);
  const std::vector<std::string> v4 = Records(*trapd4, 2);
  ASSERT_NO_FATAL_FAILURE(StopRelay());
  ASSERT_EQ(v6.size(), 2u) << trapd6->output();
  ASSERT_EQ(v4.size(), 2u) << trapd4->output();
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(v6[i].starts_with("V2|")) << v6[i];
    EXPECT_TRUE(v6[i].ends_with("~." + std::string(kIfIndex7) + " = INTEGER: 7")) << v6[i];
    EXPECT_EQ(v6[i].find(kSnmpTrapAddress), std::string::npos) << v6[i];
    EXPECT_TRUE(v4[i].starts_with("V1|0.0.0.0|")) << v4[i];
  }

  const std::vector<std::string> lines = FileLines("Debug.txt");
  const std::optional<std::vector<std::string>> in = Record(lines, kTrapInHeader);
  ASSERT_TRUE(in.has_value()) << Escaped(ReadProgramFile("Debug.txt").value_or(""));
  EXPECT_NE(std::find(in->begin(), in->end(), "TrapSourceNetwork=::1"), in->end());
  std::vector<std::string> destinations;
  for (const std::string& line : lines) {
    if (line.starts_with("TrapDestination=")) destinations.push_back(line);
  }
  ASSERT_GE(destinations.size(), 2u);
  EXPECT_EQ(destinations[0], "TrapDestination=[::1]:" + std::to_string(port6));
  EXPECT_EQ(destinations[1], "TrapDestination=127.0.0.1:" + std::to_string(port4));
  kill(trapd6->pid(), SIGTERM);
  kill(trapd4->pid(), SIGTERM);
}

// On :: one socket takes both families. An IPv4 trap to 127.0.0.1 counts as IPv4: its record
// names 127.0.0.1, and it goes on with snmpTrapAddress.0 127.0.0.1 added; an inform over udp6
// is answered and goes on without one. systemd is told "Listening on [::]:PORT".
TEST_F(Ipv6RelayTest, ListensOnAnyForBothFamiliesAndAnIpv4SenderCountsAsIpv4) {
  RelayConfig config;
  config.debug = true;
  config.recv_ip = "::";
  config.add_source_address = "1";
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  NotifySocket notify((dir_.path() / "notify").string());
  ASSERT_TRUE(notify.ok());
  relay_env_ = {notify.Variable()};
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  EXPECT_EQ(Settings().ByName("TrapRecvIpAddr").AsText(), "::");
  const std::string ready = "READY=1\nSTATUS=Listening on [::]:" + std::to_string(recv_port_);
  EXPECT_TRUE(PumpUntil([&] { return notify.Received(ready); }, 5000))
      << ::testing::PrintToString(notify.Messages());

  std::string output;
  ASSERT_EQ(RunTool(snmptrap_, kPortDown, &output), 0) << output;  // to 127.0.0.1
  send_to_ = "::1";
  ASSERT_EQ(RunTool(snmpinform_, kPortDown, &output), 0)
      << "the inform was not answered: " << output;
  const std::vector<Received> got = Receive(2);
  ASSERT_NO_FATAL_FAILURE(StopRelay());
  ASSERT_EQ(got.size(), 2u);
  const std::vector<Variable>& ipv4 = got[0].message.variables;
  ASSERT_FALSE(ipv4.empty());
  EXPECT_EQ(ipv4.back(), (Variable{kSnmpTrapAddress, snmp::kTypeIpAddress, "127.0.0.1"}));
  ASSERT_FALSE(got[1].message.variables.empty());
  EXPECT_EQ(got[1].message.variables.back().oid, kIfIndex7);

  const std::vector<std::string> lines = FileLines("Debug.txt");
  for (int nth = 0; nth < 2; ++nth) {
    const std::optional<std::vector<std::string>> in = Record(lines, kTrapInHeader, nth);
    ASSERT_TRUE(in.has_value()) << nth;
    const std::string source = nth == 0 ? "TrapSourceNetwork=127.0.0.1" : "TrapSourceNetwork=::1";
    EXPECT_NE(std::find(in->begin(), in->end(), source), in->end()) << source;
  }
}

// Received on IPv4 and sent to an IPv6 station besides the IPv4 one: every trap reaches both
// from the agent's second socket, without an allocation per trap. Then with an IPv6 port that
// refuses: its refusals are read from that socket's error queue and counted, and reported,
// under "[::1]:PORT".
TEST_F(Ipv6RelayTest, Ipv4ReceiveAddressWithIpv6StationsSendsAndCountsTheirRefusals) {
  snmp::Manager station6(loop_);
  int got6 = 0;
  station6.SetTrapHandler([&] { ++got6; });
  ASSERT_TRUE(station6.Listen(0, "::1").ok());
  const uint16_t closed6 = FreeUdp6Port();
  ASSERT_NE(closed6, 0);
  const std::filesystem::path counts = dir_.path() / "alloc.counts";
  auto allocations = [&]() -> std::optional<uint64_t> {
    std::ifstream file(counts, std::ios::binary);
    uint64_t count = 0;
    if (!file.read(reinterpret_cast<char*>(&count), sizeof count)) return std::nullopt;
    return count;
  };
  constexpr int kPerRound = 16;
  // Sends one round and waits until both the sink and station6 have it. Counting allocations,
  // the round is one burst that waits in full while the service is stopped, so that every
  // round is handled in the same batches; else the traps are spaced, so that each refusal
  // comes back before the next trap.
  auto round = [&](int expected, bool burst) {
    if (burst && kill(relay_->pid(), SIGSTOP) != 0) return false;
    for (int n = 0; n < kPerRound; ++n) {
      Send(V2Trap(kLinkDown, {{kIfIndex7, snmp::kTypeInteger32, std::to_string(n)}}));
      if (!burst) loop_.RunOnce(2);
    }
    if (burst && kill(relay_->pid(), SIGCONT) != 0) return false;
    return PumpUntil(
        [&] { return got6 == expected && received_.size() == static_cast<size_t>(expected); },
        5000);
  };
  for (const bool refusing : {false, true}) {
    SCOPED_TRACE(refusing ? "with a refusing station" : "counting allocations");
    got6 = 0;
    received_.clear();
    RelayConfig config;
    ASSERT_NO_FATAL_FAILURE(Configure(config));
    ASSERT_NO_FATAL_FAILURE(AddStation("::1", station6.LocalPort(), false));
    relay_env_.clear();
    if (refusing) {
      ASSERT_NO_FATAL_FAILURE(AddStation("::1", closed6, false));
    } else {
#ifdef ALLOC_COUNTER_PATH
      relay_env_ = {std::string("LD_PRELOAD=") + ALLOC_COUNTER_PATH,
                    "TERVANE_ALLOC_COUNTS=" + counts.string()};
#endif
    }
    ASSERT_NO_FATAL_FAILURE(StartRelay());
    // The first rounds warm the buffers; after them nothing more is allocated.
    ASSERT_TRUE(round(kPerRound, !refusing)) << got6 << " " << received_.size();
    ASSERT_TRUE(round(2 * kPerRound, !refusing)) << got6 << " " << received_.size();
    [[maybe_unused]] const std::optional<uint64_t> before = allocations();
    for (int r = 3; r <= 6; ++r) ASSERT_TRUE(round(r * kPerRound, !refusing)) << r;
    [[maybe_unused]] const std::optional<uint64_t> after = allocations();
    ASSERT_NO_FATAL_FAILURE(StopRelay());
    if (!refusing) {
#ifdef ALLOC_COUNTER_PATH
      ASSERT_TRUE(before.has_value() && after.has_value()) << "no counts in " << counts;
      EXPECT_EQ(*after - *before, 0u) << "allocations while relaying to an IPv6 station";
#endif
      continue;
    }
    std::map<std::string, int64_t> c = Counters();
    const std::string open6 = "[::1]:" + std::to_string(station6.LocalPort());
    const std::string closed = "[::1]:" + std::to_string(closed6);
    const int64_t total = int64_t{6} * kPerRound;
    EXPECT_EQ(c["station_traps_sent/" + open6], total);
    EXPECT_EQ(c["station_send_failures/" + open6], 0);
    EXPECT_EQ(c["station_send_failures/" + closed], total);
    EXPECT_EQ(c["station_traps_sent/" + closed], 0);
    bool reported = false;
    for (const std::string& event : Events()) {
      reported = reported || event.find("] Station " + closed + ": ") != std::string::npos;
    }
    EXPECT_TRUE(reported) << relay_->output();
  }
}

}  // namespace
}  // namespace tervane::testing
