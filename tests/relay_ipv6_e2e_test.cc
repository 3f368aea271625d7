// TervixSrv over IPv6 end to end, with net-snmp as the peers: receiving on [::1] from snmptrap
// and snmpinform over udp6, forwarding to an snmptrapd on udp6:[::1] and to an IPv4 one that
// converts; receiving on :: for both families, where an IPv4 sender counts as IPv4 (its
// records, its snmpTrapAddress.0, the status systemd is told); and an IPv4 receive address
// with IPv6 stations, one of which refuses, counted under its bracketed label, without an
// allocation per trap. Skips where the machine has no ::1.
#include <signal.h>

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

  // Checks that the debug records of the traps received name `sources` as their senders, in
  // the order received.
  void ExpectSources(const std::vector<std::string>& sources) {
    const std::vector<std::string> lines = FileLines("Debug.txt");
    for (size_t nth = 0; nth < sources.size(); ++nth) {
      const std::optional<std::vector<std::string>> in =
          Record(lines, kTrapInHeader, static_cast<int>(nth));
      ASSERT_TRUE(in.has_value()) << nth << ": "
                                  << Escaped(ReadProgramFile("Debug.txt").value_or(""));
      const std::string source = "TrapSourceNetwork=" + sources[nth];
      EXPECT_NE(std::find(in->begin(), in->end(), source), in->end()) << source;
    }
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

  ASSERT_NO_FATAL_FAILURE(ExpectSources({"::1", "::1"}));
  std::vector<std::string> destinations;
  for (const std::string& line : FileLines("Debug.txt")) {
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

  ExpectSources({"127.0.0.1", "::1"});
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
    bool counting = false;
    if (refusing) {
      ASSERT_NO_FATAL_FAILURE(AddStation("::1", closed6, false));
    } else {
      counting = CountAllocations();
    }
    ASSERT_NO_FATAL_FAILURE(StartRelay());
    // The first rounds warm the buffers; after them nothing more is allocated.
    ASSERT_TRUE(round(kPerRound, !refusing)) << got6 << " " << received_.size();
    ASSERT_TRUE(round(2 * kPerRound, !refusing)) << got6 << " " << received_.size();
    auto rounds = [&] {
      for (int r = 3; r <= 6; ++r) ASSERT_TRUE(round(r * kPerRound, !refusing)) << r;
    };
    if (counting) {
      ASSERT_NO_FATAL_FAILURE(ExpectNoAllocationsDuring(rounds, "relaying to an IPv6 station"));
    } else {
      ASSERT_NO_FATAL_FAILURE(rounds());
    }
    ASSERT_NO_FATAL_FAILURE(StopRelay());
    if (!refusing) continue;
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
