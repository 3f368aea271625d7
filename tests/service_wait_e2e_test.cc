// tervane-svc start --wait and stop --wait against the built-in manager, with the service in
// a program folder of the test's own; the unit it prints for another folder; and the usage
// both programs print for --help.
#include <string>
#include <vector>

#include "admin/svc_command_line.h"
#include "gtest/gtest.h"
#include "platform/systemd_services.h"
#include "tests/service_fixture.h"

namespace tervane::testing {
namespace {

using ServiceWait = ServiceTest;

TEST_F(ServiceWait, WaitingStopAndStartWorkBackToBackAndAStartThatEndsFails) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ASSERT_EQ(Program("TervixSrv", {"-install_noMsg"}).exit, 0);

  // A configuration that cannot work (forward to its own receive port): the program ends.
  ASSERT_NO_FATAL_FAILURE(WriteSetting("TrapForwPort", store::Value(static_cast<int>(recv_port_))));
  ProgramRun ended = Program("tervane-svc", {"start", "--wait"});
  EXPECT_EQ(ended.exit, 1);
  EXPECT_EQ(ended.out, "Tervane: STOPPED (1)\n");
  EXPECT_EQ(ended.err, "error 1067: The process terminated unexpectedly.\n");
  ASSERT_NO_FATAL_FAILURE(
      WriteSetting("TrapForwPort", store::Value(static_cast<int>(sink_.LocalPort()))));

  // Each returns once the state has settled, so the next control finds it settled too.
  for (const char* round : {"first", "second"}) {
    SCOPED_TRACE(round);
    ProgramRun start = Program("tervane-svc", {"start", "--wait"});
    ServiceProcess();
    EXPECT_EQ(start.exit, 0) << start.err << ServiceLog();
    EXPECT_EQ(start.out, "Tervane: RUNNING (4)\n");
    ProgramRun stop = Program("tervane-svc", {"stop", "--wait", "Tervane"});
    EXPECT_EQ(stop.exit, 0) << stop.err << ServiceLog();
    EXPECT_EQ(stop.out, "Tervane: STOPPED (1)\n");
  }
  ASSERT_EQ(Program("tervane-svc", {"start", "--wait"}).exit, 0);
  ServiceProcess();
  ASSERT_NO_FATAL_FAILURE(ExpectRelayed("1.3.6.1.4.1.32473.5.0.1"));

  // A service marked for delete goes with its stop, and so reads stopped.
  ASSERT_EQ(Svc("delete").out, "Tervane: MARKED_FOR_DELETE\n");
  ProgramRun gone = Program("tervane-svc", {"stop", "--wait"});
  EXPECT_EQ(gone.exit, 0) << gone.err;
  EXPECT_EQ(gone.out, "Tervane: STOPPED (1)\n");
  EXPECT_FALSE(Registered());
}

TEST_F(ServiceWait, UnitForAFolderNamesTheProgramInThatFolder) {
  const std::string cwd = std::filesystem::current_path().string();
  const struct {
    const char* given;
    std::string folder;
  } cases[] = {
      {"/opt/tervane", "/opt/tervane"},
      {"/opt/x/../tervane/", "/opt/tervane"},
      {"relative/dir", cwd + "/relative/dir"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    ProgramRun unit = Program("tervane-svc", {"unit", "--folder", c.given});
    EXPECT_EQ(unit.exit, 0) << unit.err;
    EXPECT_EQ(unit.out, svc::UnitText(c.folder + "/TervixSrv", c.folder, "Tervane"));
  }
  ProgramRun quoted = Program("tervane-svc", {"unit", "--folder", "/a\"b"});
  EXPECT_EQ(quoted.exit, 1);
  EXPECT_EQ(quoted.out, "");
}

TEST_F(ServiceWait, HelpPrintsTheUsageOnStandardOutput) {
  for (const char* option : {"--help", "-h"}) {
    SCOPED_TRACE(option);
    ProgramRun help = Program("tervane-svc", {option});
    EXPECT_EQ(help.exit, 0);
    EXPECT_EQ(help.out, svc::kSvcUsage);
    EXPECT_EQ(help.err, "");
  }
  ProgramRun usage = Program("tervane-svc", {"query", "--wait"});
  EXPECT_EQ(usage.exit, 2);
  EXPECT_EQ(usage.out, "");
  EXPECT_EQ(usage.err, svc::kSvcUsage);

  // Answered even while another copy holds the program folder.
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ASSERT_NO_FATAL_FAILURE(StartRelay());
  ProgramRun help = Program("TervixSrv", {"--help"});
  EXPECT_EQ(help.exit, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(
      help.out.rfind("Usage: TervixSrv [-install | -install_noMsg | -uninstall | --help]\n", 0), 0u)
      << help.out;
  for (const char* word : {"-install_noMsg ", "-uninstall ", "(no argument) ",
                           "Exit status: ", "4 a configuration", "man TervixSrv"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
  // Only the exact argument: anything else is still refused, here by the running copy.
  EXPECT_EQ(Program("TervixSrv", {"--help", "x"}).exit, 3);
  ASSERT_NO_FATAL_FAILURE(StopRelay());
  ProgramRun other = Program("TervixSrv", {"--HELP"});
  EXPECT_EQ(other.exit, 2);
  EXPECT_EQ(other.out, "Tervix: Invalid command option.\n");
}

}  // namespace
}  // namespace tervane::testing
