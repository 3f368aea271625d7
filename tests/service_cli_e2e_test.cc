// TervixSrv's command line end to end: what each argument text does to the registration,
// what it prints where, and its exit status; and the one-copy-per-folder rule.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/service_fixture.h"

namespace tervane::testing {
namespace {

constexpr char kInstalled[] = "Tervix: Tervane Service installed successfully.\n";
constexpr char kUninstalled[] = "Tervix: Tervane Service uninstalled successfully.\n";
constexpr char kInvalid[] = "Tervix: Invalid command option.\n";
constexpr char kAlreadyRunning[] = "Tervix: The Tervane Service is already running.\n";
constexpr char kInstalledEvent[] = "Tervane: information 107: The service was installed.\n";
constexpr char kUninstalledEvent[] = "Tervane: information 107: The service was uninstalled.\n";

using ServiceCommandLine = ServiceTest;

TEST_F(ServiceCommandLine, EachArgumentTextDoesWhatTheTableSays) {
  struct Row {
    std::vector<std::string> args;
    bool installed_before;
    int exit;
    std::string out;
    std::string err;
    bool installed_after;
  };
  const std::vector<Row> rows = {
      {{"-install"}, false, 0, kInstalled, kInstalledEvent, true},
      {{"-install_noMsg"}, false, 0, "", kInstalledEvent, true},
      // Any text that begins with "-install" installs; only the exact text is silent.
      {{"-install_nomsg"}, false, 0, kInstalled, kInstalledEvent, true},
      {{"-installed"}, false, 0, kInstalled, kInstalledEvent, true},
      {{"-install", "now"}, false, 0, kInstalled, kInstalledEvent, true},
      {{"-INSTALL"}, false, 2, kInvalid, "", false},
      {{"install"}, false, 2, kInvalid, "", false},
      {{"-instal"}, false, 2, kInvalid, "", false},
      {{"-uninstall"}, true, 0, kUninstalled, kUninstalledEvent, false},
      {{"-uninstall "}, true, 2, kInvalid, "", true},
      {{"-uninstall", "now"}, true, 2, kInvalid, "", true},
      {{"-UNINSTALL"}, true, 2, kInvalid, "", true},
      {{"uninstall"}, true, 2, kInvalid, "", true},
      {{"-uninstall"},
       false,
       1,
       "",
       "Tervane: error 106: [1060] The specified service does not exist as an installed "
       "service. (Module: Form_Load)\n"
       "Tervix: The Tervane Service failed to uninstall.\n",
       false},
      {{"-install"},
       true,
       1,
       "",
       "Tervane: error 106: [1073] The specified service already exists. (Module: Form_Load)\n"
       "Tervix: The Tervane Service failed to install.\n",
       true},
  };
  for (const Row& row : rows) {
    std::string label;
    for (const std::string& a : row.args) label += "[" + a + "]";
    SCOPED_TRACE(label + (row.installed_before ? " installed" : " not installed"));
    std::filesystem::remove_all(registry_);
    if (row.installed_before) {
      ProgramRun install = Program("TervixSrv", {"-install_noMsg"});
      ASSERT_EQ(install.exit, 0) << install.out << install.err;
      ASSERT_TRUE(Registered());
    }
    ProgramRun run = Program("TervixSrv", row.args);
    EXPECT_EQ(run.exit, row.exit);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(Registered(), row.installed_after);
  }
}

TEST_F(ServiceCommandLine, InstallRegistersThisProgramToStartWithoutArgumentsInItsFolder) {
  ProgramRun install = Program("TervixSrv", {"-install"});
  ASSERT_EQ(install.exit, 0) << install.err;
  ProgramRun config = Svc("config");
  ASSERT_EQ(config.exit, 0) << config.err;
  const std::string folder = std::filesystem::canonical(folder_).string();
  EXPECT_EQ(config.out,
            "SERVICE_NAME: Tervane\n"
            "DISPLAY_NAME: Tervane\n"
            "BINARY_PATH_NAME: " +
                folder +
                "/TervixSrv\n"
                "WORKING_DIRECTORY: " +
                folder +
                "\n"
                "START_TYPE: 3 DEMAND_START\n"
                "MANAGER: built-in\n");
}

TEST_F(ServiceCommandLine, ASecondCopyOnlySaysThatOneIsRunning) {
  ASSERT_NO_FATAL_FAILURE(Configure({}));
  ASSERT_NO_FATAL_FAILURE(StartRelay());  // the first copy, in the foreground
  const std::vector<std::vector<std::string>> argument_lists = {
      {}, {"-install"}, {"-install_noMsg"}, {"-uninstall"}, {"-INSTALL"}, {"bogus", "x"}};
  for (const std::vector<std::string>& args : argument_lists) {
    SCOPED_TRACE(args.empty() ? std::string("no arguments") : args[0]);
    ProgramRun run = Program("TervixSrv", args);
    EXPECT_EQ(run.exit, 3);
    EXPECT_EQ(run.out, kAlreadyRunning);
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(Registered());
  }
  // The first copy is undisturbed: it still relays.
  Send(V2Trap("1.3.6.1.4.1.32473.5.0.1", {}));
  std::optional<std::vector<Received>> before = Flush();
  ASSERT_TRUE(before.has_value());
  EXPECT_EQ(before->size(), 1u);

  ASSERT_NO_FATAL_FAILURE(StopRelay());
  // Its lock went with it.
  ProgramRun install = Program("TervixSrv", {"-install_noMsg"});
  EXPECT_EQ(install.exit, 0) << install.out << install.err;
  EXPECT_TRUE(Registered());
}

}  // namespace
}  // namespace tervane::testing
