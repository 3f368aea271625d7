// The built-in service manager end to end: TervixSrv installs itself, tervane-svc and the
// library (as the window will use it) start, query, stop and delete it, and the service
// started in the background relays traps as a foreground run does.
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "admin/svc_command_line.h"
#include "gtest/gtest.h"
#include "tests/service_fixture.h"

namespace tervane::testing {
namespace {

constexpr char kMissing[] =
    "error 1060: The specified service does not exist as an installed service.\n";

using BuiltinServiceManager = ServiceTest;

TEST_F(BuiltinServiceManager, InstallStartRelayStopAndDelete) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ProgramRun install = Program("TervixSrv", {"-install_noMsg"});
  ASSERT_EQ(install.exit, 0) << install.err;

  // The configuration and state, as the window reads them.
  Result<svc::ServiceManager> scm = svc::ServiceManager::Open();
  ASSERT_TRUE(scm.ok());
  Result<svc::ServiceHandle> service =
      scm->OpenService(svc::kServiceName, svc::kServiceQueryConfig | svc::kServiceQueryStatus);
  ASSERT_TRUE(service.ok()) << service.status().ToString();
  Result<svc::ServiceConfig> config = service->QueryConfig();
  ASSERT_TRUE(config.ok()) << config.status().ToString();
  const std::string folder = std::filesystem::canonical(folder_).string();
  EXPECT_EQ(config->binary_path, folder + "/TervixSrv");
  EXPECT_EQ(config->working_directory, folder);
  EXPECT_EQ(config->display_name, "Tervane");
  EXPECT_EQ(State(), svc::kServiceStopped);

  // Start pending until its start request has been handled (that takes its two 500 ms
  // waits), then running.
  ProgramRun start = Svc("start");
  ASSERT_EQ(start.exit, 0) << start.err;
  EXPECT_EQ(start.out, "Tervane: START_PENDING (2)\n");
  ASSERT_TRUE(WaitState(svc::kServiceRunning)) << "state " << State() << "\n" << ServiceLog();
  ASSERT_TRUE(ServiceProcess().has_value());
  EXPECT_EQ(Svc("query").out, "Tervane: RUNNING (4)\n");
  const std::string status = Settings().ByName("TrapRecvStatus").AsText();
  EXPECT_TRUE(LineMatches(status, "{stamp}\r\nTrap Server Started\r\nIP=127.0.0.1\r\nPort=" +
                                      std::to_string(recv_port_)))
      << Escaped(status);

  ASSERT_NO_FATAL_FAILURE(ExpectRelayed("1.3.6.1.4.1.32473.5.0.1"));

  // The background copy holds the program folder: no second copy, whatever it is asked.
  ProgramRun second = Program("TervixSrv", {"-uninstall"});
  EXPECT_EQ(second.exit, 3);
  EXPECT_EQ(second.out, "Tervix: The Tervane Service is already running.\n");
  EXPECT_TRUE(Registered());

  ProgramRun again = Svc("start");
  EXPECT_EQ(again.exit, 1);
  EXPECT_EQ(again.err, "error 1056: An instance of the service is already running.\n");

  ProgramRun stop = Svc("stop");
  ASSERT_EQ(stop.exit, 0) << stop.err;
  EXPECT_EQ(stop.out, "Tervane: STOP_PENDING (3)\n");
  ASSERT_TRUE(WaitState(svc::kServiceStopped)) << "state " << State() << "\n" << ServiceLog();
  EXPECT_EQ(Settings().ByName("TrapRecvStatus").AsText(), "Not Started");
  const std::string log = ServiceLog();
  EXPECT_NE(log.find("Tervane: information 101\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Tervane: information 102\n"), std::string::npos) << log;

  ProgramRun stopped = Svc("stop");
  EXPECT_EQ(stopped.exit, 1);
  EXPECT_EQ(stopped.err, "error 1062: The service has not been started.\n");

  ProgramRun deleted = Svc("delete");
  ASSERT_EQ(deleted.exit, 0) << deleted.err;
  EXPECT_EQ(deleted.out, "Tervane: DELETED\n");
  EXPECT_FALSE(Registered());
  EXPECT_EQ(service->QueryStatus().status().error(), svc::kErrorServiceDoesNotExist);
  ProgramRun query = Svc("query");
  EXPECT_EQ(query.exit, 1);
  EXPECT_EQ(query.err, kMissing);
}

TEST_F(BuiltinServiceManager, DeleteWhileRunningMarksItAndTheStopRemovesIt) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ASSERT_EQ(Program("TervixSrv", {"-install_noMsg"}).exit, 0);
  ASSERT_EQ(Svc("start").exit, 0);
  ASSERT_TRUE(WaitState(svc::kServiceRunning)) << ServiceLog();
  std::optional<svc::ProcessId> process = ServiceProcess();
  ASSERT_TRUE(process.has_value());

  ProgramRun marked = Svc("delete");
  ASSERT_EQ(marked.exit, 0) << marked.err;
  EXPECT_EQ(marked.out, "Tervane: MARKED_FOR_DELETE\n");
  ProgramRun twice = Svc("delete");
  EXPECT_EQ(twice.exit, 1);
  EXPECT_EQ(twice.err, "error 1072: The specified service has been marked for deletion.\n");
  EXPECT_EQ(Svc("query").out, "Tervane: RUNNING (4)\n");
  ASSERT_NO_FATAL_FAILURE(ExpectRelayed("1.3.6.1.4.1.32473.5.0.2"));

  ASSERT_EQ(Svc("stop").exit, 0);
  // Gone once stopped, and the process has ended.
  EXPECT_TRUE(PumpUntil([&] { return !Registered(); }, 20000)) << ServiceLog();
  EXPECT_TRUE(PumpUntil(
      [&] {
        return waitpid(process->pid, nullptr, WNOHANG) == process->pid ||
               !svc::ReadProcStat(process->pid).has_value();
      },
      20000));
  ProgramRun query = Svc("query");
  EXPECT_EQ(query.exit, 1);
  EXPECT_EQ(query.err, kMissing);
  EXPECT_NE(ServiceLog().find("Tervane: information 102\n"), std::string::npos);

  // The name is free again.
  ProgramRun install = Program("TervixSrv", {"-install"});
  EXPECT_EQ(install.exit, 0) << install.out << install.err;
}

TEST_F(BuiltinServiceManager, AServiceKilledWithSigkillReadsStoppedAndStartsAgain) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ASSERT_EQ(Program("TervixSrv", {"-install_noMsg"}).exit, 0);
  ASSERT_EQ(Svc("start").exit, 0);
  ASSERT_TRUE(WaitState(svc::kServiceRunning)) << ServiceLog();
  std::optional<svc::ProcessId> first = ServiceProcess();
  ASSERT_TRUE(first.has_value());

  ASSERT_EQ(kill(first->pid, SIGKILL), 0);
  // Dead but not reaped yet (a zombie, while this test is its parent), then reaped: both
  // read as stopped.
  ASSERT_TRUE(PumpUntil(
      [&] {
        std::optional<svc::ProcStat> stat = svc::ReadProcStat(first->pid);
        return !stat || stat->state == 'Z';
      },
      10000));
  EXPECT_EQ(Svc("query").out, "Tervane: STOPPED (1)\n");
  waitpid(first->pid, nullptr, WNOHANG);
  EXPECT_EQ(State(), svc::kServiceStopped);

  ProgramRun start = Svc("start");
  ASSERT_EQ(start.exit, 0) << start.err;
  ASSERT_TRUE(WaitState(svc::kServiceRunning)) << ServiceLog();
  std::optional<svc::ProcessId> second = ServiceProcess();
  ASSERT_TRUE(second.has_value());
  EXPECT_NE(second->start_time, first->start_time);
  ASSERT_NO_FATAL_FAILURE(ExpectRelayed("1.3.6.1.4.1.32473.5.0.3"));

  ASSERT_EQ(Svc("stop").exit, 0);
  EXPECT_TRUE(WaitState(svc::kServiceStopped)) << ServiceLog();
}

TEST_F(BuiltinServiceManager, OperationsOnAMissingServiceAndBadRequests) {
  for (const char* command : {"query", "config", "start", "stop", "delete"}) {
    SCOPED_TRACE(command);
    ProgramRun run = Svc(command);
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kMissing);
  }
  ProgramRun bad_name = Svc("query", "../Tervane");
  EXPECT_EQ(bad_name.exit, 1);
  EXPECT_EQ(bad_name.err,
            "error 123: The filename, directory name, or volume label syntax is incorrect.\n");
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"restart"}, {"query", "Tervane", "extra"}}) {
    ProgramRun usage = Program("tervane-svc", args);
    EXPECT_EQ(usage.exit, 2);
    EXPECT_EQ(usage.err, svc::kSvcUsage);
  }
}

}  // namespace
}  // namespace tervane::testing
