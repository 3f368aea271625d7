// TervixSrv end to end: what a start and a stop leave in the database and the debug files,
// how a start on a taken port or a foreign address is reported, pause and resume, and how
// a trap that cannot be sent on is reported.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

using snmp::kTypeDisplayString;
using snmp::kTypeInteger32;

// A UDP socket on 127.0.0.1 and a port of the kernel's choice, closed when it goes.
class HeldPort {
 public:
  HeldPort() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
      port_ = ntohs(sa.sin_port);
    }
  }
  ~HeldPort() {
    if (fd_ >= 0) close(fd_);
  }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST_F(RelayTest, StatusTextAfterStartAndStopAndOldDebugFilesDeleted) {
  RelayConfig config;  // DebugMode off
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  for (const char* name : {"Debug.txt", "Debug-Error.txt"}) {
    std::ofstream(folder_ / name) << "left from an earlier run\r\n";
  }
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  EXPECT_FALSE(ReadProgramFile("Debug.txt").has_value());
  EXPECT_FALSE(ReadProgramFile("Debug-Error.txt").has_value());

  store::SettingsRow row = Settings();
  EXPECT_TRUE(LineMatches(
      row.ByName("TrapRecvStatus").AsText(),
      "{stamp}\r\nTrap Server Started\r\nIP=127.0.0.1\r\nPort=" + std::to_string(recv_port_)))
      << Escaped(row.ByName("TrapRecvStatus").AsText());
  EXPECT_EQ(row.ByName("TrapRecvIpAddr").AsText(), "127.0.0.1");

  // Relaying works and, with DebugMode off, writes nothing.
  const std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(got->empty());
  EXPECT_FALSE(ReadProgramFile("Debug.txt").has_value());

  ASSERT_NO_FATAL_FAILURE(StopRelay());
  EXPECT_EQ(Settings().ByName("TrapRecvStatus").AsText(), "Not Started");
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"Tervane: information 101", "Tervane: information 102"}));
}

// A setting that does not convert fails the start request: an error event of
// svcHost_State, no component started, no event 101, the status left alone; the debug
// files are gone all the same. The stop request still ends the service cleanly.
TEST_F(RelayTest, UnusableSettingFailsTheStart) {
  struct Case {
    const char* column;
    store::Value value;
  } const cases[] = {{"TrapRecvPort", store::Value(0)},
                     {"TrapForwPort", store::Value("seventy")},
                     {"DebugMode", store::Value()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    ASSERT_NO_FATAL_FAILURE(Configure(RelayConfig()));
    ASSERT_NO_FATAL_FAILURE(WriteSetting(c.column, c.value));
    ASSERT_NO_FATAL_FAILURE(WriteSetting("TrapRecvStatus", store::Value("left alone")));
    std::ofstream(folder_ / "Debug.txt") << "left from an earlier run\r\n";
    ASSERT_NO_FATAL_FAILURE(SpawnRelay());
    ASSERT_TRUE(WaitLogged(" (Module: svcHost_State)\n")) << relay_->output();
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 1u) << relay_->output();
    EXPECT_TRUE(IsFailureEvent(events[0], "svcHost_State")) << events[0];
    EXPECT_NE(events[0].find(c.column), std::string::npos) << events[0];
    EXPECT_EQ(Settings().ByName("TrapRecvStatus").AsText(), "left alone");
    EXPECT_FALSE(ReadProgramFile("Debug.txt").has_value());
    {
      // Nothing listens on the receive port: it can still be bound.
      snmp::Manager probe(loop_);
      const Status bound = probe.Listen(recv_port_, "127.0.0.1");
      EXPECT_TRUE(bound.ok()) << bound.ToString();
    }
    ASSERT_NO_FATAL_FAILURE(StopRelay());
    EXPECT_EQ(Events().size(), 2u) << relay_->output();
    EXPECT_EQ(Settings().ByName("TrapRecvStatus").AsText(), "Not Started");
    relay_.reset();
  }
}

TEST_F(RelayTest, StartOnAPortInUseIsReportedAndTheStartGoesOn) {
  HeldPort taken;
  ASSERT_NE(taken.port(), 0);
  RelayConfig config;
  config.debug = true;
  ASSERT_NO_FATAL_FAILURE(Configure(config, taken.port()));
  ASSERT_NO_FATAL_FAILURE(StartRelay());  // event 101 is still logged

  EXPECT_EQ(Events(), (std::vector<std::string>{"Tervane: error 106: SNMP Trap Port was in use",
                                                "Tervane: information 101"}));
  store::SettingsRow row = Settings();
  EXPECT_TRUE(LineMatches(row.ByName("TrapRecvStatus").AsText(),
                          "{stamp}\r\nFailed to Start\r\nPort was in use"))
      << Escaped(row.ByName("TrapRecvStatus").AsText());
  EXPECT_EQ(row.ByName("TrapRecvIpAddr").AsText(), "127.0.0.1");
  EXPECT_TRUE(LinesMatch(FileLines("Debug.txt"),
                         {"{stamp}", "SNMP Agent Started", "IP=127.0.0.1", "Port={num}", "",
                          "{stamp}", "Failed to Start", "Port was in use", "", kTrapDbHeader, ""}));
  ASSERT_NO_FATAL_FAILURE(StopRelay());
  EXPECT_EQ(Settings().ByName("TrapRecvStatus").AsText(), "Not Started");
}

TEST_F(RelayTest, ReceiveAddressNotOnThisMachineIsReported) {
  RelayConfig config;
  config.recv_ip = "192.0.2.1";  // TEST-NET-1: assigned to no machine
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"Tervane: error 106: SNMP Agent IP Address is not valid",
                                      "Tervane: error 106: SNMP Trap IP Address is not valid",
                                      "Tervane: information 101"}));
  store::SettingsRow row = Settings();
  EXPECT_TRUE(LineMatches(row.ByName("TrapRecvStatus").AsText(),
                          "{stamp}\r\nFailed to Start\r\nIP Address is not valid"))
      << Escaped(row.ByName("TrapRecvStatus").AsText());
  EXPECT_EQ(row.ByName("TrapRecvIpAddr").AsText(), "192.0.2.1");
  ASSERT_NO_FATAL_FAILURE(StopRelay());
  EXPECT_TRUE(received_.empty());
}

TEST_F(RelayTest, PauseAndResumeAreRefusedAndTrapsStillRelay) {
  ASSERT_NO_FATAL_FAILURE(Configure(RelayConfig()));
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  ASSERT_EQ(kill(relay_->pid(), SIGUSR1), 0);
  EXPECT_TRUE(WaitLogged("Tervane: warning 107: Pause is not implemented.\n"));
  std::optional<std::vector<Received>> got = Flush();
  EXPECT_TRUE(got.has_value() && got->empty());
  ASSERT_EQ(kill(relay_->pid(), SIGUSR2), 0);
  EXPECT_TRUE(WaitLogged("Tervane: warning 107: Resume is not implemented.\n"));
  got = Flush();
  EXPECT_TRUE(got.has_value() && got->empty());
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

// A forward address that is no address makes every send fail. A trap passed on reports
// its sender in an error event and, with DebugMode on, leaves the trap in Debug-Error.txt;
// a wrapped trap reports only the event.
TEST_F(RelayTest, FailedSendsAreReported) {
  struct Case {
    bool debug;
    bool convert;
  } const cases[] = {{true, false}, {true, true}, {false, false}};
  const Variable binding = {"1.3.6.1.2.1.2.2.1.2.7", kTypeDisplayString, "eth\r\n7"};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.debug ? "debug" : "no debug") + (c.convert ? ", converting" : ""));
    RelayConfig config;
    config.debug = c.debug;
    config.convert = c.convert;
    config.forw_ip = "no.such.address";
    config.definitions = {Definition("1.3.6.1.4.1.32473.7.5.1", 1, {Piece(1, 3)}, 1000)};
    ASSERT_NO_FATAL_FAILURE(Configure(config));
    ASSERT_NO_FATAL_FAILURE(StartRelay());

    const std::string passer = c.convert ? "SendTrapNotWrappedAndConvToV1" : "SendTrapNotWrapped";
    const std::string wrapper = c.convert ? "SendTrapWrappedAndConvToV1" : "SendTrapWrapped";
    Send(V2Trap("1.3.6.1.4.1.32473.7.5.2", {binding}, "pub"));
    ASSERT_TRUE(WaitLogged(" (Module: " + passer + ")\n")) << relay_->output();
    Send(V2Trap("1.3.6.1.4.1.32473.7.5.1", {binding}, "pub"));
    ASSERT_TRUE(WaitLogged(" (Module: " + wrapper + ")\n")) << relay_->output();
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 3u) << relay_->output();
    EXPECT_TRUE(IsFailureEvent(events[1], passer)) << events[1];
    EXPECT_TRUE(IsFailureEvent(events[2], wrapper)) << events[2];

    const std::optional<std::string> errors = ReadProgramFile("Debug-Error.txt");
    if (!c.debug) {
      EXPECT_FALSE(errors.has_value());
    } else {
      ASSERT_TRUE(errors.has_value());
      std::vector<std::string> expected =
          ExpectedDump(kNotWrappedHeader,
                       {c.convert ? "SNMPv1Trap" : "SNMPv2Trap", "1.3.6.1.4.1.32473.7.5.2",
                        c.convert ? "127.0.0.1" : "0.0.0.0", "127.0.0.1", "pub", "987"},
                       {binding});
      expected.push_back("Module: " + passer);
      std::vector<std::string> lines = Lines(*errors);
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back().rfind("Error: ", 0), 0u) << lines.back();
      EXPECT_GT(lines.back().size(), 7u);
      lines.pop_back();
      EXPECT_TRUE(LinesMatch(lines, expected));
      EXPECT_EQ(errors->substr(errors->size() - 2), "\r\n");
      EXPECT_NE(errors->substr(errors->size() - 4), "\r\n\r\n");
    }
    ASSERT_NO_FATAL_FAILURE(StopRelay());
    relay_.reset();
  }
}

}  // namespace
}  // namespace tervane::testing
