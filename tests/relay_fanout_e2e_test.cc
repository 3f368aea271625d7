// TervixSrv with several management stations, end to end over 127.0.0.1: two net-snmp
// snmptrapd stations (one converting to SNMPv1 with a community of its own) and a closed port
// that refuses every trap; the counters the service writes to RelayStatistics at stop; the
// per-station report of the refusals; the debug records' TrapDestination lines; and the starts
// that a station or a newer database make fail with status 4.
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

using snmp::kTypeCounter64;
using snmp::kTypeDisplayString;

// One record per trap: the PDU's security line (version and community), then for SNMPv1
// the enterprise and specific-trap, then the bindings.
constexpr char kTrapdConfig[] =
    "disableAuthorization yes\n"
    "format1 V1|%P|%N|%q|%V~%v|END\\n\n"
    "format2 V2|%P|%V~%v|END\\n\n";

class FanOutTest : public RelayTest {
 protected:
  // The station events of `endpoint`: the counts they report, in order.
  std::vector<int> StationReports(const std::string& endpoint) const {
    std::vector<int> counts;
    const std::string head = "] Station " + endpoint + ": ";
    for (const std::string& event : Events()) {
      const size_t at = event.find(head);
      if (at == std::string::npos) continue;
      EXPECT_TRUE(IsFailureEvent(event, "SendToStation")) << event;
      EXPECT_NE(event.find("since the last report; last failure: "), std::string::npos) << event;
      counts.push_back(std::stoi(event.substr(at + head.size())));
    }
    return counts;
  }
};

// A closed port on 127.0.0.1: a bound socket closed again, so that nothing listens there.
uint16_t ClosedPort() { return FreeUdpPort(); }

TEST_F(FanOutTest, EveryStationGetsEveryTrapInItsFormAndARefusingOneIsCounted) {
  uint16_t port_a = 0;
  uint16_t port_b = 0;
  std::unique_ptr<Subprocess> trapd_a = StartTrapd(kTrapdConfig, {"-On", "-Ox"}, &port_a);
  ASSERT_NE(trapd_a, nullptr);
  std::unique_ptr<Subprocess> trapd_b = StartTrapd(kTrapdConfig, {"-On", "-Ox"}, &port_b);
  ASSERT_NE(trapd_b, nullptr);
  const uint16_t port_c = ClosedPort();
  ASSERT_NE(port_c, 0);

  RelayConfig config;
  config.forw_port = port_a;
  config.definitions = {Definition("1.3.6.1.4.1.32473.7.1", 1, {Piece(1, 4)}, 1200)};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(AddStation("127.0.0.1", port_b, true, "other"));
  ASSERT_NO_FATAL_FAILURE(AddStation("127.0.0.1", port_c, false, ""));
  ASSERT_NO_FATAL_FAILURE(AddStation("127.0.0.1", 9, false, "", false));  // disabled
  ASSERT_NO_FATAL_FAILURE(StartRelay());

  // 8 wrapped, 8 passed on, 1 with a Counter64 (no SNMPv1 form), 1 inform, 1 malformed
  // datagram, 1 with a null value.
  constexpr int kWrapped = 8;
  constexpr int kPassed = 8;
  const Variable text = {"1.3.6.1.2.1.2.2.1.2.7", kTypeDisplayString, "PORTDOWN"};
  for (int i = 0; i < kWrapped + kPassed; ++i) {
    Send(V2Trap(i < kWrapped ? "1.3.6.1.4.1.32473.7.1" : "1.3.6.1.4.1.32473.7.2", {text}));
    loop_.RunOnce(2);  // spaced, so each refusal comes back before the next trap
  }
  Send(V2Trap("1.3.6.1.4.1.32473.7.3", {{"1.3.6.1.2.1.31.1.1.1.6.1", kTypeCounter64, "7"}}));
  Message inform = V2Trap("1.3.6.1.4.1.32473.7.4", {text});
  inform.kind = snmp::kKindInform;
  ASSERT_TRUE(Inform(inform).has_value());
  ASSERT_TRUE(RoundTrip({0x30, 0x03, 0x02, 0x01}, 200) == std::nullopt);
  Send(V2Trap("1.3.6.1.4.1.32473.7.5", {{"1.3.6.1.2.1.1.5.0", snmp::kTypeNoValue, ""}}));
  constexpr size_t kTraps = kWrapped + kPassed + 2;

  auto arrived = [](Subprocess& trapd) { return snmp::TrapdRecords(trapd.output()).size(); };
  EXPECT_TRUE(PumpUntil(
      [&] {
        trapd_a->Drain();
        trapd_b->Drain();
        return arrived(*trapd_a) >= kTraps && arrived(*trapd_b) >= kTraps;
      },
      10000));
  ASSERT_NO_FATAL_FAILURE(StopRelay());

  const std::vector<std::string> a = snmp::TrapdRecords(trapd_a->output());
  const std::vector<std::string> b = snmp::TrapdRecords(trapd_b->output());
  ASSERT_EQ(a.size(), kTraps) << trapd_a->output();
  ASSERT_EQ(b.size(), kTraps) << trapd_b->output();
  for (size_t i = 0; i < kTraps; ++i) {
    SCOPED_TRACE(i);
    const bool wrapped = i < kWrapped;
    const bool counter64 = i == kWrapped + kPassed;
    // The first station keeps SNMPv2c and the trap's community.
    EXPECT_EQ(a[i].rfind("V2|", 0), 0u) << a[i];
    EXPECT_NE(a[i].find("community public"), std::string::npos) << a[i];
    // The second converts, with its own community, except the Counter64 trap.
    EXPECT_EQ(b[i].rfind(counter64 ? "V2|" : "V1|", 0), 0u) << b[i];
    EXPECT_NE(b[i].find("community other"), std::string::npos) << b[i];
    if (wrapped) {
      EXPECT_NE(a[i].find(std::string(kWrappedTrapPrefix) + "1200"), std::string::npos) << a[i];
      // snmptrapd prints the specific-trap as ".1200".
      EXPECT_NE(b[i].find(std::string(kWrappedEnterprise) + "|.1200|"), std::string::npos) << b[i];
    }
  }

  const std::string closed = "127.0.0.1:" + std::to_string(port_c);
  const std::string a_end = "127.0.0.1:" + std::to_string(port_a);
  const std::string b_end = "127.0.0.1:" + std::to_string(port_b);
  std::map<std::string, int64_t> c = Counters();
  EXPECT_EQ(c["datagrams_received/"], static_cast<int64_t>(kTraps + 2));
  EXPECT_EQ(c["snmpv1_traps_received/"], 0);
  EXPECT_EQ(c["snmpv2_traps_received/"], static_cast<int64_t>(kTraps));  // and the null one
  EXPECT_EQ(c["informs_received/"], 1);
  EXPECT_EQ(c["informs_answered/"], 1);
  EXPECT_EQ(c["traps_wrapped/"], kWrapped);
  EXPECT_EQ(c["traps_passed_through/"], kPassed + 2);
  EXPECT_EQ(c["traps_converted_to_v1/"], kWrapped + kPassed + 1);
  EXPECT_EQ(c["traps_dropped/malformed_datagram"], 1);
  EXPECT_EQ(c["traps_dropped/null_values"], 1);
  EXPECT_EQ(c["traps_dropped/malformed_snmpv2_message"], 0);
  EXPECT_EQ(c["traps_dropped/wrapping_failed"], 0);
  EXPECT_EQ(c["traps_dropped/other"], 0);
  EXPECT_EQ(c["station_traps_sent/" + a_end], static_cast<int64_t>(kTraps));
  EXPECT_EQ(c["station_send_failures/" + a_end], 0);
  EXPECT_EQ(c["station_traps_sent/" + b_end], static_cast<int64_t>(kTraps));
  EXPECT_EQ(c["station_send_failures/" + b_end], 0);
  // Every trap to the closed port came back refused, and was counted for it alone.
  EXPECT_EQ(c["station_send_failures/" + closed], static_cast<int64_t>(kTraps));
  EXPECT_EQ(c["station_traps_sent/" + closed], 0);
  EXPECT_EQ(c.count("station_traps_sent/127.0.0.1:9"), 0u);

  // Reported at once for the first refusal, then once more at stop for all the others.
  const std::vector<int> reports = StationReports(closed);
  ASSERT_EQ(reports.size(), 2u) << relay_->output();
  EXPECT_EQ(reports[0], 1);
  EXPECT_EQ(reports[1], static_cast<int>(kTraps) - 1);
  EXPECT_TRUE(StationReports(a_end).empty());
  EXPECT_TRUE(StationReports(b_end).empty());
  kill(trapd_a->pid(), SIGTERM);
  kill(trapd_b->pid(), SIGTERM);
}

// With debug mode on, each station's "Trap Out" record names it on its second line.
TEST_F(FanOutTest, DebugRecordsNameEachStation) {
  snmp::Manager second(loop_);
  int second_got = 0;
  second.SetTrapHandler([&] { ++second_got; });
  ASSERT_TRUE(second.Listen(0, "127.0.0.1").ok());
  RelayConfig config;
  config.debug = true;
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(AddStation("127.0.0.1", second.LocalPort(), true, "c2"));
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  Send(V2Trap("1.3.6.1.6.3.1.1.5.3", {}));
  ASSERT_TRUE(PumpUntil([&] { return received_.size() == 1 && second_got == 1; }, 5000));
  ASSERT_NO_FATAL_FAILURE(StopRelay());

  const std::vector<std::string> lines = FileLines("Debug.txt");
  std::vector<std::vector<std::string>> records;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(kNotWrappedHeader, 0) == 0) {
      records.emplace_back(lines.begin() + static_cast<long>(i),
                           lines.begin() + static_cast<long>(std::min(i + 9, lines.size())));
    }
  }
  ASSERT_EQ(records.size(), 2u);
  const std::string first = "127.0.0.1:" + std::to_string(sink_.LocalPort());
  const std::string other = "127.0.0.1:" + std::to_string(second.LocalPort());
  EXPECT_TRUE(LinesMatch(
      records[0],
      {std::string(kNotWrappedHeader) + "{stamp}", "TrapDestination=" + first,
       "TrapVersion=SNMPv2Trap", "TrapOid=1.3.6.1.6.3.1.1.5.3", "TrapSourceAgent=0.0.0.0",
       "TrapSourceNetwork=127.0.0.1", "TrapCommunity=public", "TrapSysUpTime=987", ""}));
  EXPECT_TRUE(LinesMatch(
      records[1],
      {std::string(kNotWrappedHeader) + "{stamp}", "TrapDestination=" + other,
       "TrapVersion=SNMPv1Trap", "TrapOid=1.3.6.1.6.3.1.1.5.3", "TrapSourceAgent=127.0.0.1",
       "TrapSourceNetwork=127.0.0.1", "TrapCommunity=c2", "TrapSysUpTime=987", ""}));
}

// A station that cannot work, a relay option of a value it does not take, and a database of a
// newer program end the start with status 4 and the reason in event 106.
TEST_F(FanOutTest, BadStationOptionOrNewerDatabaseEndsTheStartWithStatus4) {
  struct Case {
    const char* name;
    std::string address;
    int port;
    int schema_version;          // 0: leave it
    const char* source_address;  // AddSourceAddress
    const char* reason;
  } const cases[] = {
      {"address", "10.1", 162, 0, "0", "\"10.1\""},
      {"port", "127.0.0.1", 0, 0, "0", "ForwardTarget"},
      {"own endpoint", "127.0.0.1", -1, 0, "0", "own receive"},
      {"source address option", "127.0.0.1", 162, 0, "2",
       "RelayOption AddSourceAddress: '2' is not one of 0, 1 or replace"},
      {"newer schema", "127.0.0.1", 162, 9, "0",
       "Tervix.mdb has schema version 9; this program reads versions 0 to 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RelayConfig config;
    config.add_source_address = c.source_address;
    ASSERT_NO_FATAL_FAILURE(Configure(config));
    ASSERT_NO_FATAL_FAILURE(
        AddStation(c.address, static_cast<uint16_t>(c.port < 0 ? recv_port_ : c.port), false, ""));
    if (c.schema_version != 0) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open((folder_ / "Tervix.mdb").c_str(), &db), SQLITE_OK);
      const std::string pragma = "PRAGMA user_version=" + std::to_string(c.schema_version);
      EXPECT_EQ(sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    }
    ASSERT_NO_FATAL_FAILURE(SpawnRelay());
    const std::optional<int> code = relay_->WaitExit(10000);
    ASSERT_TRUE(code.has_value()) << "still running:\n" << relay_->output();
    EXPECT_EQ(*code, 4) << relay_->output();
    relay_->Drain();
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 1u) << relay_->output();
    EXPECT_TRUE(IsFailureEvent(events[0], "svcHost_State")) << events[0];
    EXPECT_NE(events[0].find(c.reason), std::string::npos) << events[0];
    relay_.reset();
  }
}

}  // namespace
}  // namespace tervane::testing
