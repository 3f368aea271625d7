// The systemd back end's pure parts: the unit text, the reading of systemctl's and
// dpkg-query's answers, and the mapping of its failures to service errors.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/service_manager.h"
#include "platform/systemd_services.h"
#include "platform/systemd_show_sample.h"

namespace tervane::svc {
namespace {

// What the unit must say; systemd-analyze checks the rest of it (tests/systemd_unit_e2e_test).
TEST(SystemdUnit, RunsTheProgramFolderProgramAsItsOwnUserWithOnlyWhatItNeeds) {
  const std::string unit = "\n" + UnitText("/opt/tervane/TervixSrv", "/opt/tervane", "Tervane");
  for (const char* line :
       {"StartLimitIntervalSec=60", "StartLimitBurst=5", "Type=notify", "NotifyAccess=main",
        "ExecStart=\"/opt/tervane/TervixSrv\"", "WorkingDirectory=/opt/tervane",
        "Restart=on-failure", "RestartSec=5", "RestartPreventExitStatus=2 3 4", "User=tervane",
        "Group=tervane", "UMask=0007", "AmbientCapabilities=CAP_NET_BIND_SERVICE",
        "CapabilityBoundingSet=CAP_NET_BIND_SERVICE", "ReadWritePaths=\"/opt/tervane\"",
        "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX", "WantedBy=multi-user.target"}) {
    EXPECT_NE(unit.find("\n" + std::string(line) + "\n"), std::string::npos) << line;
  }
}

TEST(SystemdUnit, EscapesWhatSystemdWouldExpand) {
  const std::string unit =
      UnitText("/srv/my relay 100%/$HOME/TervixSrv", "/srv/my relay 100%/$HOME", "Tervane 100%");
  // "%" specifiers are expanded everywhere, "$" variables nowhere in these settings.
  EXPECT_NE(unit.find("ExecStart=\"/srv/my relay 100%%/$HOME/TervixSrv\"\n"), std::string::npos)
      << unit;
  EXPECT_NE(unit.find("WorkingDirectory=/srv/my relay 100%%/$HOME\n"), std::string::npos) << unit;
  // A list of paths: one quoted word, its blanks inside.
  EXPECT_NE(unit.find("ReadWritePaths=\"/srv/my relay 100%%/$HOME\"\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("Description=Tervane 100%%\n"), std::string::npos) << unit;
}

TEST(SystemctlShow, ParsesTheProperties) {
  UnitStatus unit = ParseUnitStatus(kRunningShow);
  EXPECT_EQ(unit.load_state, "loaded");
  EXPECT_EQ(unit.active_state, "active");
  EXPECT_EQ(unit.sub_state, "running");
  EXPECT_EQ(unit.freezer_state, "running");
  EXPECT_EQ(unit.result, "success");
  EXPECT_EQ(unit.main_pid, 4711);
  EXPECT_EQ(unit.fragment_path, "/etc/systemd/system/Tervane.service");
  EXPECT_EQ(unit.unit_file_state, "enabled");
  EXPECT_EQ(unit.description, "Tervane");
  EXPECT_EQ(ExecStartPath(unit.exec_start), "/opt/tervane/TervixSrv");
  EXPECT_EQ(unit.working_directory, "/opt/tervane");

  // Warnings and blank lines between the properties are not properties.
  std::map<std::string, std::string> p =
      ParseShowOutput("\nWarning: unit file changed on disk, run 'x=y'\nA=1\r\n=2\nB=\n");
  EXPECT_EQ(p.size(), 2u);
  EXPECT_EQ(p["A"], "1");
  EXPECT_EQ(p["B"], "");

  EXPECT_EQ(ExecStartPath("{ path=/a b/c ; argv[]=/a b/c }"), "/a b/c");
  EXPECT_EQ(ExecStartPath(""), "");
}

TEST(SystemctlShow, MapsUnitStatesToServiceStates) {
  struct Case {
    const char* active;
    const char* sub;
    const char* freezer;
    int state;  // 0: not a state we know
  };
  const Case cases[] = {
      {"inactive", "dead", "running", kServiceStopped},
      {"failed", "failed", "running", kServiceStopped},
      {"activating", "start", "running", kServiceStartPending},
      {"activating", "auto-restart", "running", kServiceStartPending},
      {"active", "running", "running", kServiceRunning},
      {"active", "running", "", kServiceRunning},  // systemd before 246: no freezer
      {"reloading", "reload", "running", kServiceRunning},
      {"deactivating", "stop-sigterm", "running", kServiceStopPending},
      {"active", "running", "freezing", kServicePausePending},
      {"active", "running", "frozen", kServicePaused},
      {"active", "running", "thawing", kServiceContinuePending},
      {"maintenance", "", "", 0},
      {"", "", "", 0},
  };
  for (const Case& c : cases) {
    UnitStatus unit;
    unit.load_state = "loaded";
    unit.active_state = c.active;
    unit.sub_state = c.sub;
    unit.freezer_state = c.freezer;
    Result<int> state = UnitState(unit);
    if (c.state == 0) {
      EXPECT_FALSE(state.ok()) << c.active;
    } else {
      ASSERT_TRUE(state.ok()) << c.active << ": " << state.status().ToString();
      EXPECT_EQ(*state, c.state) << c.active << "/" << c.sub << "/" << c.freezer;
    }
  }
}

TEST(SystemctlShow, ExistenceAndMarkForDelete) {
  struct Case {
    const char* load;
    const char* active;
    bool exists;
    bool marked;
  };
  const Case cases[] = {
      {"loaded", "inactive", true, false},
      {"loaded", "active", true, false},
      {"masked", "inactive", true, false},
      {"bad-setting", "inactive", true, false},
      {"not-found", "inactive", false, false},
      {"not-found", "failed", false, false},
      // Its file removed and systemd reloaded while it runs: still there until it stops.
      {"not-found", "active", true, true},
      {"not-found", "deactivating", true, true},
      {"", "", false, false},
  };
  for (const Case& c : cases) {
    UnitStatus unit;
    unit.load_state = c.load;
    unit.active_state = c.active;
    EXPECT_EQ(UnitExists(unit), c.exists) << c.load << "/" << c.active;
    EXPECT_EQ(UnitMarkedForDelete(unit), c.marked) << c.load << "/" << c.active;
  }
  // Removed but not reloaded yet: systemd still names the file that is gone.
  UnitStatus stale = ParseUnitStatus(kRunningShow);
  stale.fragment_path = "/nonexistent/Tervane.service";
  EXPECT_TRUE(UnitMarkedForDelete(stale));
}

TEST(SystemctlShow, StartTypes) {
  const std::pair<const char*, int> cases[] = {
      {"enabled", kStartAuto},    {"enabled-runtime", kStartAuto},
      {"static", kStartAuto},     {"disabled", kStartDemand},
      {"", kStartDemand},         {"indirect", kStartDemand},
      {"masked", kStartDisabled}, {"masked-runtime", kStartDisabled},
  };
  for (const auto& [text, type] : cases) EXPECT_EQ(StartTypeOf(text), type) << text;
}

TEST(SystemctlShow, FailuresBecomeServiceErrors) {
  // What systemctl 252 prints after a failed start job ends in these hints.
  const std::string see =
      "\nSee \"systemctl status Tervane.service\" and \"journalctl -xeu Tervane.service\" for "
      "details.\n";
  struct Case {
    int exit_code;
    std::string err;
    ErrorCode code;
    const char* words;  // after "systemctl start: "; null for a Windows number
  };
  const Case cases[] = {
      {4, "", kErrorAccessDenied, nullptr},
      {1, "Failed to start Tervane.service: Access denied\n", kErrorAccessDenied, nullptr},
      {1, "Failed to start Tervane.service: Interactive authentication required.\n",
       kErrorAccessDenied, nullptr},
      {5, "Failed to start Tervane.service: Unit Tervane.service not found.\n",
       kErrorServiceDoesNotExist, nullptr},
      {1, "Failed to start Tervane.service: Unit Tervane.service is masked.\n",
       kErrorServiceDisabled, nullptr},
      // The program ended before it reported running.
      {1,
       "Job for Tervane.service failed because the control process exited with error code." + see,
       kErrorProcessAborted, nullptr},
      {1,
       "Job for Tervane.service failed because a fatal signal was delivered to the control "
       "process." +
           see,
       kErrorProcessAborted, nullptr},
      {1,
       "Job for Tervane.service failed because a fatal signal was delivered causing the control "
       "process to dump core." +
           see,
       kErrorProcessAborted, nullptr},
      // Any other failed job: no process ended, and systemctl says what happened.
      {1, "Job for Tervane.service failed because a timeout was exceeded." + see, ExitStatusCode(1),
       "Job for Tervane.service failed because a timeout was exceeded."},
      {1,
       "Job for Tervane.service failed because start of the service was attempted too often." +
           see + "To force a start use \"systemctl reset-failed Tervane.service\"\n",
       ExitStatusCode(1),
       "Job for Tervane.service failed because start of the service was attempted too often."},
      {1,
       "Job for Tervane.service failed because of unavailable resources or another system "
       "error." +
           see,
       ExitStatusCode(1),
       "Job for Tervane.service failed because of unavailable resources or another system "
       "error."},
      // systemctl 252 after the start limit: no reason given.
      {1, "Job for Tervane.service failed." + see, ExitStatusCode(1),
       "Job for Tervane.service failed."},
      {1, "A dependency job for Tervane.service failed. See 'journalctl -xe' for details.\n",
       ExitStatusCode(1), "A dependency job for Tervane.service failed."},
      {1, "Job for Tervane.service canceled.\n", ExitStatusCode(1),
       "Job for Tervane.service canceled."},
      {1,
       "Warning: The unit file of Tervane.service changed on disk. Run 'systemctl "
       "daemon-reload' to reload units.\nJob for Tervane.service timed out.\n",
       ExitStatusCode(1), "Job for Tervane.service timed out."},
      {3, "", ExitStatusCode(3), "exit status 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    Status s = SystemctlFailure("systemctl start", c.exit_code, c.err);
    EXPECT_EQ(s.error(), c.code);
    if (c.words != nullptr) {
      EXPECT_EQ(s.description(), std::string("systemctl start: ") + c.words);
    }
  }
}

TEST(DpkgQuery, NamesTheOwnerOfThatPathOnly) {
  const std::string path = "/lib/systemd/system/Tervane.service";
  const std::pair<std::string, const char*> cases[] = {
      {"tervane: " + path + "\n", "tervane"},
      {"tervane:amd64: " + path + "\n", "tervane:amd64"},
      {"diversion by local from: " + path + "\ndiversion by local to: " + path +
           ".distrib\ntervane: " + path + "\n",
       "tervane"},
      {"tervane, tervane-extra: " + path + "\n", "tervane"},
      // A pattern's other matches are not the file's owners.
      {"other: " + path + ".d/override.conf\n", ""},
      {"", ""},
  };
  for (const auto& [out, package] : cases) EXPECT_EQ(OwningPackage(out, path), package) << out;
}

// The back end's calls, against a recording stand-in for systemctl and the account tools, with
// a unit folder and a program folder of the test's own.
}  // namespace
}  // namespace tervane::svc
