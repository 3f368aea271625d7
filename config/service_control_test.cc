// Installing through TervixSrv -install_noMsg, with stand-ins for TervixSrv (shell scripts
// that print and end as TervixSrv does) in a program folder of the test's own, and the number
// read from TervixSrv's error event. The real TervixSrv installs in tests/'s window test.
#include "config/service_control.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/service_page.h"
#include "config/service_test_fakes.h"

namespace tervane::config {
namespace {

namespace fs = std::filesystem;
using testing::FakeManager;

TEST(InstallErrorNumber, IsTheNumberInBracketsOfTheFirstErrorEvent) {
  struct Case {
    const char* err;
    std::optional<int> number;
  };
  const Case cases[] = {
      {"Tervane: error 106: [1073] The specified service already exists. (Module: Form_Load)\n"
       "Tervix: The Tervane Service failed to install.\n",
       1073},
      {"Tervane: information 107: The service was installed.\n"
       "Tervane: error 106: [5] Access is denied. (Module: Form_Load)\n"
       "Tervane: error 106: [6] The handle is invalid. (Module: Form_Load)\n",
       5},
      {"Tervane: error 106: [-1] no value and no error (Module: Form_Load)", -1},
      {"Tervane: error 106: SNMP Trap Port was in use\nTervane: error 106: [28] full\n", 28},
      {"Tervix: The Tervane Service failed to install.\n", std::nullopt},
      {"Tervane: information 107: [5] not an error\n", std::nullopt},
      {" Tervane: error 106: [5] not at the start of its line\n", std::nullopt},
      {"Tervane: error 106: [12x] Not a number\n", std::nullopt},
      {"Tervane: error 106: [] Empty\n", std::nullopt},
      {"Tervane: error 106: [99999999999] Too large\n", std::nullopt},
      {"Tervane: error 106: [5", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(InstallErrorNumber(c.err), c.number) << c.err;
}

class InstallTest : public ::testing::Test, private ServiceSteps {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tervix-install-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = fs::canonical(pattern).string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  // A TervixSrv that runs `body` when it is run as the window runs it (with -install_noMsg,
  // in the program folder), and ends with 99 otherwise.
  void StandIn(const std::string& body, int mode = 0755) {
    const std::string path = folder_ + "/TervixSrv";
    std::ofstream(path) << "#!/bin/sh\n"
                        << "[ \"$*\" = \"-install_noMsg\" ] && [ \"$(pwd -P)\" = \"" << folder_
                        << "\" ] || exit 99\n"
                        << body << "\n";
    ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(mode)), 0);
  }

  // The window's waits, for real: the stand-in runs meanwhile.
  void WaitWithEvents(int ms) override {
    ++waits_;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  void SetProgress(int value) override { progress_.push_back(value); }

  ServiceControl Control() { return ServiceControl(manager_.Opener(), *this); }

  std::string folder_;
  FakeManager manager_;
  int waits_ = 0;
  std::vector<int> progress_;
};

TEST_F(InstallTest, ReportsWhatTervixSrvAndTheManagerSay) {
  struct Case {
    const char* name;
    std::string body;  // empty: no TervixSrv at all
    bool registered;
    InstallOutcome outcome;
  };
  const Case cases[] = {
      {"installed", "exit 0", true, {0, ""}},
      // It said it installed, but the manager does not know the service.
      {"installed but not found", "exit 0", false, {1060, ""}},
      {"exists already",
       "echo 'Tervane: error 106: [1073] The specified service already exists. (Module: "
       "Form_Load)' >&2\necho 'Tervix: The Tervane Service failed to install.' >&2\nexit 1",
       true,
       {1073, ""}},
      {"access denied",
       "echo 'Tervane: error 106: [5] Access is denied. (Module: Form_Load)' >&2\nexit 1",
       false,
       {5, ""}},
      {"a copy runs in the folder",
       "echo 'Tervix: The Tervane Service is already running.'\nexit 3",
       true,
       {0, "TervixSrv is already running in the program folder; the service was not installed."}},
      {"failed without an event",
       "echo 'something else' >&2\nexit 1",
       false,
       {0, "TervixSrv ended with exit status 1; the service was not installed."}},
      {"killed",
       "kill -KILL $$",
       false,
       {0, "TervixSrv was ended by signal 9; the service was not installed."}},
      {"missing",
       "",
       false,
       {0, "TervixSrv is missing from the program folder; the service was not installed."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(folder_ + "/TervixSrv");
    if (!c.body.empty()) {
      ASSERT_NO_FATAL_FAILURE(StandIn(c.body));
    }
    manager_.back_end->exists =
        c.registered ? Status::Ok() : svc::ServiceError(svc::kErrorServiceDoesNotExist);
    const InstallOutcome got = Control().InstallService(folder_);
    EXPECT_EQ(got.error, c.outcome.error);
    EXPECT_EQ(got.problem, c.outcome.problem);
    EXPECT_EQ(got.ok(), c.outcome.ok());
  }
}

TEST_F(InstallTest, ATervixSrvThatCannotRunOrDoesNotEndIsReportedInWords) {
  // Not executable for anyone, root included.
  ASSERT_NO_FATAL_FAILURE(StandIn("exit 0", 0644));
  InstallOutcome got = Control().InstallService(folder_);
  EXPECT_EQ(got.problem,
            "TervixSrv could not be run (Permission denied); the service was not "
            "installed.");

  // One that hangs is ended after the time limit, and reaped: its marker file says it ran,
  // and no process of it is left.
  ASSERT_NO_FATAL_FAILURE(StandIn("echo $$ > pid\nexec sleep 30"));
  ServiceControl control = Control();
  control.set_install_timeout_ms(2000);
  waits_ = 0;
  got = control.InstallService(folder_);
  EXPECT_EQ(got.problem,
            "TervixSrv did not finish within 2 seconds and was ended; the service may not be "
            "installed.");
  EXPECT_GE(waits_, 1);
  EXPECT_LE(waits_, 2000 / 20);
  std::ifstream pid_file(folder_ + "/pid");
  pid_t pid = 0;
  ASSERT_TRUE(pid_file >> pid);
  EXPECT_NE(kill(pid, 0), 0) << "process " << pid << " still there";
  EXPECT_EQ(errno, ESRCH);
}

}  // namespace
}  // namespace tervane::config
