// TervixSrv end to end: how the listener starts when it cannot listen at once. A port in use
// is waited for and listened on once it is free, without a restart; an address that no
// interface has yet is bound all the same and the status says so until it arrives; and an
// inform's answer leaves from the address the inform was sent to, also when the listener is
// bound to every address.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/listen_peers.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

Message InformRequest(const std::string& trap_oid) {
  Message m = V2Trap(trap_oid, {{"1.3.6.1.2.1.1.5.0", snmp::kTypeDisplayString, "inform"}});
  m.kind = snmp::kKindInform;
  return m;
}

size_t CountEvents(const std::vector<std::string>& events, const std::string& part) {
  size_t n = 0;
  for (const std::string& e : events) n += e.find(part) != std::string::npos ? 1 : 0;
  return n;
}

TEST_F(RelayTest, APortInUseIsWaitedForAndListenedOnOnceItIsFree) {
  HeldPort taken;
  ASSERT_NE(taken.port(), 0);
  const std::string port = std::to_string(taken.port());
  RelayConfig config;
  config.debug = true;
  ASSERT_NO_FATAL_FAILURE(Configure(config, taken.port()));
  NotifySocket notify((dir_.path() / "notify").string());
  ASSERT_TRUE(notify.ok());
  relay_env_ = {notify.Variable()};
  ASSERT_NO_FATAL_FAILURE(StartRelay());  // event 101 is still logged

  // It runs, waits, and says so: to systemd, in the database and in the debug file.
  const std::string waiting =
      "READY=1\nSTATUS=Waiting to listen: port " + port + " on 127.0.0.1 is in use";
  EXPECT_TRUE(PumpUntil([&] { return notify.Received(waiting); }, 5000))
      << ::testing::PrintToString(notify.Messages());
  EXPECT_EQ(Events(), (std::vector<std::string>{"Tervane: error 106: SNMP Trap Port was in use",
                                                "Tervane: information 101"}));
  store::SettingsRow row = Settings();
  EXPECT_TRUE(LineMatches(row.ByName("TrapRecvStatus").AsText(),
                          "{stamp}\r\nWaiting to Listen\r\nPort was in use"))
      << Escaped(row.ByName("TrapRecvStatus").AsText());
  EXPECT_EQ(row.ByName("TrapRecvIpAddr").AsText(), "127.0.0.1");
  EXPECT_TRUE(LinesMatch(FileLines("Debug.txt"), {"{stamp}", "SNMP Agent Started", "IP=127.0.0.1",
                                                  "Port={num}", "", "{stamp}", "Waiting to Listen",
                                                  "Port was in use", "", kTrapDbHeader, ""}));

  // The holder lets go: within the schedule's first delays it listens, says so once, and
  // relays.
  taken.Release();
  ASSERT_TRUE(WaitLogged(
      "Tervane: information 107: SNMP Trap Server Started on 127.0.0.1:" + port + " after waiting ",
      20000))
      << relay_->output();
  EXPECT_EQ(CountEvents(Events(), " 106: "), 1u) << relay_->output();
  row = Settings();
  EXPECT_TRUE(LineMatches(row.ByName("TrapRecvStatus").AsText(),
                          "{stamp}\r\nTrap Server Started\r\nIP=127.0.0.1\r\nPort=" + port))
      << Escaped(row.ByName("TrapRecvStatus").AsText());
  EXPECT_EQ(row.ByName("TrapRecvIpAddr").AsText(), "127.0.0.1");
  const std::string listening = "READY=1\nSTATUS=Listening on 127.0.0.1:" + port;
  EXPECT_TRUE(PumpUntil([&] { return notify.Received(listening); }, 5000))
      << ::testing::PrintToString(notify.Messages());

  const std::optional<Message> answer = Inform(InformRequest("1.3.6.1.4.1.32473.7.8.1"));
  ASSERT_TRUE(answer.has_value()) << relay_->output();
  EXPECT_EQ(answer->kind, snmp::kKindResponse);
  const std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ(TrapOidOf((*got)[0].message), "1.3.6.1.4.1.32473.7.8.1");

  ASSERT_NO_FATAL_FAILURE(StopRelay());
  EXPECT_EQ(Settings().ByName("TrapRecvStatus").AsText(), "Not Started");
  EXPECT_EQ(notify.Messages(), (std::vector<std::string>{"STATUS=Starting", waiting, listening,
                                                         "STOPPING=1\nSTATUS=Stopping"}));
}

// Devices that check where an answer comes from drop one from another address of this
// machine: on 0.0.0.0 the answer leaves from the address each inform was sent to, whether
// answers leave at once (debug mode) or at the end of their batch.
TEST_F(RelayTest, AnInformIsAnsweredFromTheAddressItWasSentTo) {
  for (const bool debug : {false, true}) {
    SCOPED_TRACE(debug ? "debug mode" : "batched answers");
    RelayConfig config;
    config.debug = debug;
    config.recv_ip = "0.0.0.0";
    ASSERT_NO_FATAL_FAILURE(Configure(config));
    ASSERT_NO_FATAL_FAILURE(StartRelay());

    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> datagram;
    ASSERT_TRUE(snmp::Encode(InformRequest("1.3.6.1.4.1.32473.7.8.2"), &datagram).ok());
    // All of 127/8 is this machine's; none of these is the address a reply to 127.0.0.1
    // would leave from by the routing table.
    const std::vector<std::string> targets = {"127.0.0.2", "127.0.0.3", "127.0.0.1"};
    for (const std::string& target : targets) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(recv_port_);
      ASSERT_TRUE(snmp::ParseIpv4(target, &to.sin_addr));
      ASSERT_EQ(sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to),
                static_cast<ssize_t>(datagram.size()));
    }
    std::vector<std::string> answered_from;
    PumpUntil(
        [&] {
          uint8_t buffer[2048];
          sockaddr_in from{};
          socklen_t len = sizeof from;
          const ssize_t n =
              recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
          if (n > 0) {
            Message answer;
            EXPECT_TRUE(
                snmp::Decode(std::span<const uint8_t>(buffer, static_cast<size_t>(n)), &answer)
                    .ok());
            EXPECT_EQ(answer.kind, snmp::kKindResponse);
            EXPECT_EQ(ntohs(from.sin_port), recv_port_);
            answered_from.push_back(snmp::FormatIpv4(from.sin_addr));
          }
          return answered_from.size() == targets.size();
        },
        5000);
    close(fd);
    EXPECT_EQ(answered_from, targets) << relay_->output();
    ASSERT_NO_FATAL_FAILURE(StopRelay());
    relay_.reset();
  }
}

// A standby relay binds the virtual address before it holds it. Here the service runs in a
// network namespace of its own whose loopback is down, so 127.0.0.1 is nobody's there: it
// binds all the same and says so, and once the test brings the loopback up (as keepalived
// adds the address), the next tick says it listens plainly.
TEST_F(RelayTest, AnAddressNotOnThisMachineYetIsBoundAndItsArrivalSeen) {
  const std::string unshare = FindProgram("unshare");
  const std::string nsenter = FindProgram("nsenter");
  const std::string ip = FindProgram("ip");
  auto runs = [&](const std::vector<std::string>& argv) {
    std::string error;
    std::unique_ptr<Subprocess> child = Subprocess::Spawn(argv, Env(), &error);
    if (!child) return false;
    const std::optional<int> code = child->WaitExit(10000);
    return code.has_value() && *code == 0;
  };
  if (unshare.empty() || nsenter.empty() || ip.empty() ||
      !runs({unshare, "-n", FindProgram("true")})) {
    GTEST_SKIP() << "no network namespaces here (unshare -n needs CAP_SYS_ADMIN)";
  }
  ASSERT_NO_FATAL_FAILURE(Configure(RelayConfig()));
  const std::string port = std::to_string(recv_port_);
  NotifySocket notify((dir_.path() / "notify").string());
  ASSERT_TRUE(notify.ok());
  std::vector<std::string> env = Env();
  env.push_back(notify.Variable());
  std::string error;
  relay_ = Subprocess::Spawn({unshare, "-n", "--", (folder_ / "TervixSrv").string()}, env, &error);
  ASSERT_NE(relay_, nullptr) << error;
  ASSERT_TRUE(WaitLogged("Tervane: information 101\n", 10000)) << relay_->output();

  EXPECT_EQ(Events(), (std::vector<std::string>{"Tervane: information 101"}));
  std::string status = Settings().ByName("TrapRecvStatus").AsText();
  EXPECT_TRUE(LineMatches(status, "{stamp}\r\nTrap Server Started\r\nIP=127.0.0.1\r\nPort=" + port +
                                      "\r\nThe address is not on this machine yet"))
      << Escaped(status);
  const std::string absent = "READY=1\nSTATUS=Listening on 127.0.0.1:" + port +
                             " (the address is not on this machine yet)";
  EXPECT_TRUE(PumpUntil([&] { return notify.Received(absent); }, 5000))
      << ::testing::PrintToString(notify.Messages());

  ASSERT_TRUE(
      runs({nsenter, "-t", std::to_string(relay_->pid()), "-n", ip, "link", "set", "lo", "up"}));
  const std::string here = "READY=1\nSTATUS=Listening on 127.0.0.1:" + port;
  EXPECT_TRUE(PumpUntil([&] { return notify.Received(here); }, 25000))
      << ::testing::PrintToString(notify.Messages());
  status = Settings().ByName("TrapRecvStatus").AsText();
  EXPECT_TRUE(LineMatches(status, "{stamp}\r\nTrap Server Started\r\nIP=127.0.0.1\r\nPort=" + port))
      << Escaped(status);
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

}  // namespace
}  // namespace tervane::testing
