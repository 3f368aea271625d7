// The fixture of the end-to-end tests of TervixSrv's command line and of the service
// manager: the relay fixture's program folder (a copy of TervixSrv, a fresh Tervix.mdb, a
// sink for what the relay forwards), with tervane-svc beside TervixSrv and the built-in
// manager's registry in the test's temporary folder (TERVANE_SERVICE_DIR, set for this
// process and so for every program it runs).
//
// A service started through the manager belongs to nobody: its starter has ended. The test
// process makes itself the subreaper of its descendants so that such a service becomes its
// child, and the end of every test stops whatever service still runs (SIGTERM, then
// SIGKILL) and reaps it, whatever the test's outcome.
#ifndef TERVANE_TESTS_SERVICE_FIXTURE_H_
#define TERVANE_TESTS_SERVICE_FIXTURE_H_

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/run_command.h"
#include "platform/service_manager.h"
#include "platform/service_record.h"
#include "tests/relay_fixture.h"

namespace tervane::testing {

// What a short-lived program printed and how it ended.
struct ProgramRun {
  std::optional<int> exit;  // none when it could not be run or did not end in time
  std::string out;
  std::string err;
};

class ServiceTest : public RelayTest {
 protected:
  void SetUp() override {
    RelayTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    registry_ = (dir_.path() / "services").string();
    ASSERT_EQ(setenv(svc::kServiceDirVariable, registry_.c_str(), 1), 0);
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    std::error_code ec;
    std::filesystem::copy_file(TERVANE_SVC_PATH, folder_ / "tervane-svc", ec);
    ASSERT_FALSE(ec) << "copying " << TERVANE_SVC_PATH << ": " << ec.message();
    std::filesystem::permissions(folder_ / "tervane-svc", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
  }

  void TearDown() override {
    StopServices();
    RelayTest::TearDown();
    unsetenv(svc::kServiceDirVariable);
  }

  // Runs a program of the program folder with `args`; at most 20 s.
  ProgramRun Program(const std::string& name, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {(folder_ / name).string()};
    argv.insert(argv.end(), args.begin(), args.end());
    Result<CommandResult> ran = RunCommand(argv, 20000);
    ProgramRun run;
    if (!ran.ok()) {
      ADD_FAILURE() << argv[0] << ": " << ran.status().ToString();
      return run;
    }
    run.exit = ran->exit_code;
    run.out = ran->out;
    run.err = ran->err;
    return run;
  }
  ProgramRun Svc(const std::string& command, const std::string& name = svc::kServiceName) {
    return Program("tervane-svc", {command, name});
  }

  // The state of the service "Tervane" through the library, as the window reads it; 0 when
  // it cannot be read.
  static int State() {
    Result<svc::ServiceManager> scm = svc::ServiceManager::Open();
    if (!scm.ok()) return 0;
    Result<svc::ServiceHandle> service =
        scm->OpenService(svc::kServiceName, svc::kServiceQueryStatus);
    if (!service.ok()) return 0;
    Result<int> state = service->QueryStatus();
    return state.ok() ? *state : 0;
  }

  // Waits (pumping the sink) until the service reads `state`; at most `timeout_ms`.
  bool WaitState(int state, int timeout_ms = 20000) {
    return PumpUntil([&] { return State() == state; }, timeout_ms);
  }

  // The process the manager started for "Tervane", from its record; remembered so that the
  // end of the test stops it even when the record has gone.
  std::optional<svc::ProcessId> ServiceProcess() {
    Result<std::string> text = svc::ReadTextFile(registry_ + "/" + svc::kServiceName + ".pid");
    if (!text.ok()) return std::nullopt;
    std::optional<svc::ProcessId> id = svc::ParsePidFile(*text);
    if (id) seen_[id->pid] = id->start_time;
    return id;
  }

  // Sends a trap that no definition matches and expects it at the sink unchanged.
  void ExpectRelayed(const std::string& oid) {
    Send(V2Trap(oid, {{"1.3.6.1.2.1.1.5.0", snmp::kTypeDisplayString, "relayed"}}));
    std::vector<Received> got = Receive(1);
    ASSERT_EQ(got.size(), 1u) << "nothing forwarded; service log:\n" << ServiceLog();
    EXPECT_EQ(TrapOidOf(got[0].message), oid);
    ASSERT_EQ(got[0].message.variables.size(), 3u);
    EXPECT_EQ(got[0].message.variables[2].value, "relayed");
    received_.clear();
  }

  std::string ServiceLog() const {
    return ReadWholeFile(registry_ + "/" + svc::kServiceName + ".log").value_or("");
  }
  bool Registered() const {
    return std::filesystem::exists(registry_ + "/" + svc::kServiceName + ".service");
  }

  // Stops every service process this test started: SIGTERM, at most 10 s for it to end,
  // then SIGKILL; and reaps them.
  void StopServices() {
    ServiceProcess();
    for (const auto& [pid, start_time] : seen_) {
      std::optional<svc::ProcStat> stat = svc::ReadProcStat(pid);
      if (!stat || stat->start_time != start_time) continue;  // gone; the pid may be reused
      if (stat->state != 'Z') kill(pid, SIGTERM);
      auto ended = [pid = pid] {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
        std::optional<svc::ProcStat> now = svc::ReadProcStat(pid);
        return !now.has_value() || now->state == 'Z';  // a zombie of someone else's
      };
      bool done = ended();
      for (int i = 0; i < 1000 && !done; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        done = ended();
      }
      if (!done) {
        ADD_FAILURE() << "service process " << pid << " did not end after SIGTERM";
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    seen_.clear();
  }

  std::string registry_;
  std::map<pid_t, unsigned long long> seen_;  // pid -> start time
};

}  // namespace tervane::testing

#endif  // TERVANE_TESTS_SERVICE_FIXTURE_H_
