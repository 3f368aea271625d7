// TervixSrv end to end: what a start and a stop leave in the database and the debug files,
// and tell systemd (through NOTIFY_SOCKET), pause and resume, and how a trap that cannot be
// sent on is reported. A start on a taken port or a foreign address: relay_listen_e2e_test.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/listen_peers.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {
namespace {

using snmp::kTypeDisplayString;
using snmp::kTypeInteger32;

TEST_F(RelayTest, StatusTextAfterStartAndStopAndOldDebugFilesDeleted) {
  RelayConfig config;  // DebugMode off
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  NotifySocket notify((dir_.path() / "notify").string());
  ASSERT_TRUE(notify.ok());
  relay_env_ = {notify.Variable()};
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
  // systemd learns where it listens.
  const std::string ready = "READY=1\nSTATUS=Listening on 127.0.0.1:" + std::to_string(recv_port_);
  EXPECT_TRUE(PumpUntil([&] { return notify.Received(ready); }, 5000))
      << ::testing::PrintToString(notify.Messages());

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
// A start that cannot open the listener ends the process instead of leaving one that looks
// running and listens nowhere: a configuration that cannot work with status 4 (not worth
// restarting), a database that cannot be read with status 1 (it may be back later). Where the
// database can be written, the status text says why.
TEST_F(RelayTest, StartThatCannotWorkEndsTheProcessWithItsReason) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, store::Value>> settings;  // over a working config
    bool remove_database;
    int exit_status;
    const char* reason;  // the status text's last line, also in the event
  };
  const Case cases[] = {
      {"port 0",
       {{"TrapRecvPort", store::Value(0)}},
       false,
       4,
       "TrapRecvPort: 0 is not a port number (1 to 65535)"},
      {"port text",
       {{"TrapForwPort", store::Value("seventy")}},
       false,
       4,
       "TrapForwPort: \"seventy\" is not a number"},
      {"no DebugMode", {{"DebugMode", store::Value()}}, false, 4, "DebugMode: no value"},
      {"forward address",
       {{"TrapForwIpAddr", store::Value("no.such.address")}},
       false,
       4,
       "TrapForwIpAddr: \"no.such.address\" is not an IPv4 or IPv6 address (a.b.c.d or x:x::x)"},
      // The forward endpoint is the receive endpoint: set below to the receive port.
      {"loop",
       {{"TrapForwIpAddr", store::Value("127.0.0.1")}},
       false,
       4,
       "is this service's own receive address and port"},
      {"no database", {}, true, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(Configure(RelayConfig()));
    for (const auto& [column, value] : c.settings) {
      ASSERT_NO_FATAL_FAILURE(WriteSetting(column, value));
    }
    if (std::string(c.name) == "loop") {
      ASSERT_NO_FATAL_FAILURE(
          WriteSetting("TrapForwPort", store::Value(static_cast<int>(recv_port_))));
    }
    ASSERT_NO_FATAL_FAILURE(WriteSetting("TrapRecvStatus", store::Value("left alone")));
    if (c.remove_database) std::filesystem::remove(folder_ / "Tervix.mdb");
    std::ofstream(folder_ / "Debug.txt") << "left from an earlier run\r\n";
    ASSERT_NO_FATAL_FAILURE(SpawnRelay());
    const std::optional<int> code = relay_->WaitExit(10000);
    ASSERT_TRUE(code.has_value()) << "still running:\n" << relay_->output();
    EXPECT_EQ(*code, c.exit_status) << relay_->output();
    relay_->Drain();
    const std::vector<std::string> events = Events();
    ASSERT_EQ(events.size(), 1u) << relay_->output();
    EXPECT_TRUE(IsFailureEvent(events[0], "svcHost_State")) << events[0];
    if (c.reason == nullptr) {
      EXPECT_NE(events[0].find("Tervix.mdb"), std::string::npos) << events[0];
    } else {
      EXPECT_NE(events[0].find(c.reason), std::string::npos) << events[0];
      const std::string status = Settings().ByName("TrapRecvStatus").AsText();
      const size_t last = status.rfind("\r\n");
      ASSERT_NE(last, std::string::npos) << Escaped(status);
      EXPECT_TRUE(LineMatches(status.substr(0, last), "{stamp}\r\nFailed to Start"))
          << Escaped(status);
      EXPECT_NE(status.find(c.reason, last), std::string::npos) << Escaped(status);
      EXPECT_FALSE(ReadProgramFile("Debug.txt").has_value());
    }
    // Nothing listens on the receive port: it can still be bound.
    snmp::Manager probe(loop_);
    const Status bound = probe.Listen(recv_port_, "127.0.0.1");
    EXPECT_TRUE(bound.ok()) << bound.ToString();
    relay_.reset();
  }
}

TEST_F(RelayTest, PauseAndResumeAreRefusedAndAHangUpStops) {
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
  // The terminal of a run in the foreground closing is a stop request like any other.
  ASSERT_EQ(kill(relay_->pid(), SIGHUP), 0);
  const std::optional<int> code = relay_->WaitExit(10000);
  ASSERT_TRUE(code.has_value()) << relay_->output();
  EXPECT_EQ(*code, 0);
  relay_->Drain();
  EXPECT_TRUE(Logged("Tervane: information 102\n")) << relay_->output();
  EXPECT_EQ(Settings().ByName("TrapRecvStatus").AsText(), "Not Started");
}

// Debug files that cannot be written (here folders in their places) cost no trap and no
// part of the start: each failure is reported once as the writing procedure's, and the
// service goes on as with debug mode off.
TEST_F(RelayTest, DebugFilesThatCannotBeWrittenNeverCostATrap) {
  RelayConfig config;
  config.debug = true;
  config.definitions = {Definition("1.3.6.1.4.1.32473.7.9.1", 1, {Piece(1, 3)}, 1000)};
  ASSERT_NO_FATAL_FAILURE(Configure(config));
  std::filesystem::create_directory(folder_ / "Debug.txt");
  std::filesystem::create_directory(folder_ / "Debug-Error.txt");
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  const Variable binding = {"1.3.6.1.4.1.32473.7.9.2", kTypeDisplayString, "ABCDEF"};
  for (int i = 0; i < 3; ++i) {
    Send(V2Trap("1.3.6.1.4.1.32473.7.9.1", {binding}));
    Send(V2Trap("1.3.6.1.4.1.32473.7.9.3", {binding}));
  }
  std::optional<std::vector<Received>> got = Flush();
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->size(), 6u);
  for (size_t i = 0; i < 6; i += 2) {
    EXPECT_EQ(TrapOidOf((*got)[i].message), kWrappedTrapPrefix + std::string("1000"));
    EXPECT_EQ(TrapOidOf((*got)[i + 1].message), "1.3.6.1.4.1.32473.7.9.3");
  }
  // One event per procedure and file, however often it failed; then the start's own 101.
  std::vector<std::string> failures;
  for (const std::string& event : Events()) {
    if (event == "Tervane: information 101") continue;
    const size_t module = event.find(" (Module: ");
    ASSERT_NE(module, std::string::npos) << event;
    const size_t file = event.rfind('/', module);
    ASSERT_NE(file, std::string::npos) << event;
    failures.push_back(event.substr(file + 1));
  }
  EXPECT_EQ(failures,
            (std::vector<std::string>{"Debug.txt: Is a directory (Module: svcHost_State)",
                                      "Debug-Error.txt: Is a directory (Module: svcHost_State)",
                                      "Debug.txt: Is a directory (Module: ReadSnmpTrapDB)",
                                      "Debug.txt: Is a directory (Module: snmpManager_Trap)",
                                      "Debug.txt: Is a directory (Module: SendTrapWrapped)",
                                      "Debug.txt: Is a directory (Module: SendTrapNotWrapped)"}))
      << relay_->output();
  EXPECT_TRUE(Logged("Tervane: information 101\n"));
  EXPECT_EQ(Settings().ByName("TrapRecvStatus").AsText().find("Trap Server Started"), 21u);
  ASSERT_NO_FATAL_FAILURE(StopRelay());
}

// The broadcast address refuses every send of a socket not made for broadcasting. A trap
// passed on reports its sender in an error event and, with DebugMode on, leaves the trap in
// Debug-Error.txt; a wrapped trap reports only the event.
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
    config.forw_ip = "255.255.255.255";
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
