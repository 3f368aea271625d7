#include "platform/systemd_services.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/file.h"
#include "platform/run_state_report.h"
#include "platform/service_account.h"
#include "platform/service_record.h"
#include "platform/sys_error.h"
#include "platform/systemd_show_sample.h"
#include "tests/subprocess.h"

namespace tervane::svc {
namespace {

class SystemdBackEnd : public ::testing::Test {
 protected:
  void SetUp() override { UseFolders(dir_.path()); }

  // Program, unit and polkit folders under `root`; the polkit folder is left to Install.
  void UseFolders(const std::filesystem::path& root) {
    program_dir_ = (root / "program").string();
    unit_dir_ = (root / "units").string();
    polkit_dir_ = (root / "polkit-1/rules.d").string();
    ASSERT_TRUE(MakeFolders(program_dir_, 0755).ok());
    ASSERT_TRUE(MakeFolders(unit_dir_, 0755).ok());
  }

  SystemdServices Services() {
    return SystemdServices(unit_dir_, polkit_dir_, [this](const std::vector<std::string>& argv) {
      const std::string line = Join(argv);
      calls_.push_back(line);
      CommandResult result;
      if (!fail_.empty() && line.find(fail_) != std::string::npos) {
        result.exit_code = 1;
        result.err = argv[0] + ": Permission denied.\n";
      } else if (argv.size() > 1 && argv[1] == "show") {
        result.out = show_;
        if (!shows_.empty()) {
          result.out = shows_.front();
          shows_.pop_front();
        }
      } else if (argv.size() > 2 && argv[2] == "start" && !starts_.empty()) {
        result = starts_.front();
        starts_.pop_front();
      } else if (argv[0] == "dpkg-query") {
        if (dpkg_.exit_code < 0) return Result<CommandResult>(SysError(ENOENT, "dpkg-query"));
        result = dpkg_;
      } else if (line == "getent group tervane") {
        result.exit_code = group_exists_ ? 0 : 2;
        if (group_exists_) result.out = "tervane:x:" + std::to_string(getegid()) + ":\n";
      } else if (line == "getent passwd tervane") {
        result.exit_code = user_exists_ ? 0 : 2;
      } else if (argv[0] == "groupadd") {
        group_exists_ = true;
      } else if (argv[0] == "useradd") {
        user_exists_ = true;
      }
      return Result<CommandResult>(result);
    });
  }

  static std::string Join(const std::vector<std::string>& argv) {
    std::string text;
    for (const std::string& a : argv) text += (text.empty() ? "" : " ") + a;
    return text;
  }
  std::string Program() const { return program_dir_ + "/TervixSrv"; }
  std::string UnitFile() const { return unit_dir_ + "/Tervane.service"; }
  std::string RuleFile() const { return polkit_dir_ + "/50-Tervane.rules"; }
  // The running service, its unit file in the test's folder.
  std::string RunningShow() const {
    std::string text = kRunningShow;
    const std::string from = "/etc/systemd/system/Tervane.service";
    return text.replace(text.find(from), from.size(), UnitFile());
  }

  testing::TempDir dir_;
  std::string program_dir_, unit_dir_, polkit_dir_;
  std::string show_ = "LoadState=not-found\nActiveState=inactive\n";
  // What the next calls of systemctl show and systemctl start print, before show_ and success.
  std::deque<std::string> shows_;
  std::deque<CommandResult> starts_;
  // dpkg-query -S; exit status -1: it cannot be run.
  CommandResult dpkg_{1, "", "dpkg-query: no path found matching pattern\n"};
  std::string fail_;
  bool group_exists_ = true;
  bool user_exists_ = true;
  std::vector<std::string> calls_;
};

TEST_F(SystemdBackEnd, InstallMakesOnlyWhatIsMissingAndLeavesNoUnitOrRuleOnFailure) {
  const std::string group = "getent group tervane", user = "getent passwd tervane",
                    groupadd = "groupadd --system tervane",
                    useradd =
                        "useradd --system --gid tervane --no-create-home --home-dir "
                        "/nonexistent --shell /usr/sbin/nologin --comment Tervane SNMP trap "
                        "relay tervane",
                    reload = "systemctl --no-ask-password daemon-reload",
                    enable = "systemctl --no-ask-password enable Tervane.service";
  const struct {
    bool account_exists;
    std::string fail;  // a command that fails, or the folder ("units", "rules.d") made a file
    std::vector<std::string> calls;  // after systemctl show
    bool shared;                     // the program folder was handed to the group
    ErrorCode error;                 // number 0: success
  } cases[] = {
      {true, "", {group, user, reload, enable}, true, {}},
      {false, "", {group, groupadd, group, user, useradd, reload, enable}, true, {}},
      {false, "groupadd", {group, groupadd}, false, kErrorAccessDenied},
      {false, "useradd", {group, groupadd, group, user, useradd}, false, kErrorAccessDenied},
      {true, "rules.d", {group, user}, true, ErrnoCode(ENOTDIR)},
      {true, "units", {group, user}, true, ErrnoCode(ENOTDIR)},
      {true, "enable", {group, user, reload, enable, reload}, true, kErrorAccessDenied},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fail);
    testing::TempDir scratch;
    ASSERT_TRUE(scratch.ok());
    UseFolders(scratch.path());
    const std::string blocked = c.fail == "units"     ? unit_dir_
                                : c.fail == "rules.d" ? polkit_dir_
                                                      : "";
    if (!blocked.empty()) {
      // A file in place of the folder: nothing can be written into it.
      std::filesystem::remove_all(blocked);
      ASSERT_TRUE(MakeFolders(scratch.path() / "polkit-1", 0755).ok());
      ASSERT_TRUE(WriteTextFileAtomic(blocked, "x", 0644).ok());
    }
    group_exists_ = user_exists_ = c.account_exists;
    fail_ = blocked.empty() ? c.fail : "";
    calls_.clear();

    const Status s = Services().Install("Tervane", Program(), "Tervane");
    EXPECT_EQ(s.error(), c.error) << s.ToString();
    ASSERT_FALSE(calls_.empty());
    EXPECT_EQ(calls_.front().rfind("systemctl show", 0), 0u) << calls_.front();
    EXPECT_EQ(std::vector<std::string>(calls_.begin() + 1, calls_.end()), c.calls);
    Result<std::string> unit = ReadTextFile(UnitFile());
    Result<std::string> rule = ReadTextFile(RuleFile());
    EXPECT_EQ(unit.ok(), s.ok());
    EXPECT_EQ(rule.ok(), s.ok());
    if (s.ok() && unit.ok() && rule.ok()) {
      EXPECT_EQ(*unit, UnitText(Program(), program_dir_, "Tervane"));
      EXPECT_EQ(*rule, PolkitRuleText("Tervane.service", "tervane"));
      struct stat st {};
      ASSERT_EQ(stat(polkit_dir_.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0755u);  // made, whatever the umask
    }
    // The folder is handed to the group before the unit is written, and stays so.
    struct stat st {};
    ASSERT_EQ(stat(program_dir_.c_str(), &st), 0);
    EXPECT_EQ((st.st_mode & 07777) == 03775, c.shared) << std::oct << st.st_mode;
  }
}

TEST_F(SystemdBackEnd, InstallRefusesATakenNameOrAPathSystemdWouldNotStart) {
  SystemdServices services = Services();
  ASSERT_TRUE(WriteTextFileAtomic(UnitFile(), "x", 0644).ok());
  show_ = RunningShow();
  EXPECT_EQ(services.Install("Tervane", Program(), "Tervane").error(), kErrorServiceExists);
  show_ = "LoadState=not-found\nActiveState=active\n";
  EXPECT_EQ(services.Install("Tervane", Program(), "Tervane").error(),
            kErrorServiceMarkedForDelete);
  // The unit of the Debian package.
  show_ =
      "LoadState=loaded\nActiveState=inactive\nFragmentPath=/lib/systemd/system/Tervane.service\n";
  EXPECT_EQ(services.Install("Tervane", Program(), "Tervane").error(), kErrorServiceExists);
  for (const char* path : {"relative/TervixSrv", "/opt/it's/TervixSrv", "/opt/\"q\"/TervixSrv",
                           "/opt/a\\b/TervixSrv", "/opt/a\tb/TervixSrv"}) {
    EXPECT_EQ(services.Install("Tervane", path, "Tervane").error(), ErrnoCode(EINVAL)) << path;
  }
  // Refused before anything was made.
  for (const std::string& call : calls_) EXPECT_EQ(call.rfind("systemctl show", 0), 0u) << call;
}

TEST_F(SystemdBackEnd, StartStopAndDeleteByState) {
  SystemdServices services = Services();
  EXPECT_EQ(services.Start("Tervane").error(), kErrorServiceDoesNotExist);
  EXPECT_EQ(services.Stop("Tervane").error(), kErrorServiceDoesNotExist);
  EXPECT_EQ(services.Delete("Tervane").error(), kErrorServiceDoesNotExist);
  EXPECT_EQ(services.QueryState("Tervane").status().error(), kErrorServiceDoesNotExist);

  ASSERT_TRUE(WriteTextFileAtomic(UnitFile(), "x", 0644).ok());
  show_ = RunningShow();
  EXPECT_EQ(services.Start("Tervane").error(), kErrorServiceAlreadyRunning);
  Result<ServiceConfig> config = services.QueryConfig("Tervane");
  ASSERT_TRUE(config.ok());
  EXPECT_EQ(config->binary_path, "/opt/tervane/TervixSrv");
  EXPECT_EQ(config->working_directory, "/opt/tervane");
  EXPECT_EQ(config->start_type, kStartAuto);
  calls_.clear();
  ASSERT_TRUE(services.Stop("Tervane").ok());
  EXPECT_EQ(calls_.back(), "systemctl --no-ask-password stop --no-block Tervane.service");

  // Delete of a running unit: disabled, its file and rule removed, systemd reloaded; it runs
  // on.
  ASSERT_TRUE(MakeFolders(polkit_dir_, 0755).ok());
  ASSERT_TRUE(WriteTextFileAtomic(RuleFile(), "x", 0644).ok());
  calls_.clear();
  ASSERT_TRUE(services.Delete("Tervane").ok());
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
  EXPECT_FALSE(std::filesystem::exists(RuleFile()));
  ASSERT_EQ(calls_.size(), 3u);
  EXPECT_EQ(calls_[1], "systemctl --no-ask-password disable Tervane.service");
  EXPECT_EQ(calls_[2], "systemctl --no-ask-password daemon-reload");
  show_ = "LoadState=not-found\nActiveState=active\nSubState=running\n";
  EXPECT_EQ(services.Delete("Tervane").error(), kErrorServiceMarkedForDelete);
  EXPECT_EQ(services.Start("Tervane").error(), kErrorServiceMarkedForDelete);

  show_ = "LoadState=loaded\nActiveState=inactive\n";
  EXPECT_EQ(services.Stop("Tervane").error(), kErrorServiceNotActive);
  calls_.clear();
  ASSERT_TRUE(services.Start("Tervane").ok());
  EXPECT_EQ(calls_.back(), "systemctl --no-ask-password start Tervane.service");
  show_ = "LoadState=masked\nActiveState=inactive\n";
  EXPECT_EQ(services.Start("Tervane").error(), kErrorServiceDisabled);
}

// systemd counts successful starts against the start limit too: a start it refuses for that is
// reset and made again, once.
TEST_F(SystemdBackEnd, StartResetsTheStartLimitAndTriesOnceMore) {
  const std::string see =
      "\nSee \"systemctl status Tervane.service\" and \"journalctl -xeu Tervane.service\" for "
      "details.\n";
  const std::string stopped = "LoadState=loaded\nActiveState=inactive\nResult=success\n";
  const std::string limited = "LoadState=loaded\nActiveState=failed\nResult=start-limit-hit\n";
  const CommandResult limit_252{1, "", "Job for Tervane.service failed." + see};
  const CommandResult limit_words{
      1, "",
      "Job for Tervane.service failed because start of the service was attempted too often." + see};
  const CommandResult ended{
      1, "",
      "Job for Tervane.service failed because the control process exited with error code." + see};
  const CommandResult timeout{
      1, "", "Job for Tervane.service failed because a timeout was exceeded." + see};
  const std::string show = "show", start = "systemctl --no-ask-password start Tervane.service",
                    reset = "systemctl --no-ask-password reset-failed Tervane.service";
  const struct {
    const char* name;
    std::vector<std::string> shows;  // one after the other
    std::vector<CommandResult> starts;
    std::string fail;
    std::vector<std::string> calls;
    ErrorCode error;
    const char* words;  // the failure's description, when it has no Windows number
  } cases[] = {
      {"found at the limit", {limited}, {}, "", {show, reset, start}, {}, nullptr},
      {"given up after its restarts",
       {"LoadState=loaded\nActiveState=failed\nResult=exit-code\n"},
       {},
       "",
       {show, reset, start},
       {},
       nullptr},
      {"refused by the limit",
       {stopped, limited},
       {limit_252},
       "",
       {show, start, show, reset, start},
       {},
       nullptr},
      {"refused in words",
       {stopped, stopped},
       {limit_words},
       "",
       {show, start, show, reset, start},
       {},
       nullptr},
      {"refused again",
       {stopped, limited, limited},
       {limit_252, limit_252},
       "",
       {show, start, show, reset, start, show},
       ExitStatusCode(1),
       "systemctl start: Job for Tervane.service failed because start of the service was "
       "attempted too often."},
      {"program ended", {stopped}, {ended}, "", {show, start}, kErrorProcessAborted, nullptr},
      {"timed out",
       {stopped, "LoadState=loaded\nActiveState=failed\nResult=timeout\n"},
       {timeout},
       "",
       {show, start, show},
       ExitStatusCode(1),
       "systemctl start: Job for Tervane.service failed because a timeout was exceeded."},
      {"reset refused", {limited}, {}, "reset-failed", {show, reset}, kErrorAccessDenied, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    shows_.assign(c.shows.begin(), c.shows.end());
    starts_.assign(c.starts.begin(), c.starts.end());
    fail_ = c.fail;
    calls_.clear();
    const Status s = Services().Start("Tervane");
    EXPECT_EQ(s.error(), c.error) << s.ToString();
    if (c.words != nullptr) {
      EXPECT_EQ(s.description(), c.words);
    }
    std::vector<std::string> calls = calls_;
    for (std::string& call : calls) {
      if (call.rfind("systemctl show", 0) == 0) call = show;
    }
    EXPECT_EQ(calls, c.calls);
  }
}

// A unit file that a package installed stays, with everything else; one that no package
// owns is removed where systemd found it.
TEST_F(SystemdBackEnd, DeleteLeavesAPackagesUnitAlone) {
  const std::string lib = (dir_.path() / "lib").string();
  ASSERT_TRUE(MakeFolders(lib, 0755).ok());
  const std::string fragment = lib + "/Tervane.service";
  const std::string owned = "tervane: " + fragment + "\n";
  const struct {
    const char* name;
    CommandResult dpkg;
    bool removed;
  } cases[] = {
      {"owned", {0, owned, ""}, false},
      {"owned by another path only", {0, "tervane: " + fragment + ".d/x.conf\n", ""}, true},
      {"no owner", {1, "", "dpkg-query: no path found matching pattern " + fragment + "\n"}, true},
      {"no dpkg-query", {-1, "", ""}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteTextFileAtomic(fragment, "x", 0644).ok());
    ASSERT_TRUE(MakeFolders(polkit_dir_, 0755).ok());
    ASSERT_TRUE(WriteTextFileAtomic(RuleFile(), "x", 0644).ok());
    show_ = "LoadState=loaded\nActiveState=inactive\nFragmentPath=" + fragment + "\n";
    dpkg_ = c.dpkg;
    calls_.clear();
    const Status s = Services().Delete("Tervane");
    ASSERT_GE(calls_.size(), 2u);
    EXPECT_EQ(calls_[1], "dpkg-query -S " + fragment);
    EXPECT_EQ(std::filesystem::exists(fragment), !c.removed);
    EXPECT_EQ(std::filesystem::exists(RuleFile()), !c.removed);
    if (c.removed) {
      EXPECT_TRUE(s.ok()) << s.ToString();
      EXPECT_EQ(calls_.size(), 4u);  // disable, daemon-reload
    } else {
      EXPECT_EQ(s.error(), ErrnoCode(EPERM));
      EXPECT_EQ(s.description(), "Tervane.service is installed by the package tervane (" +
                                     fragment + "): remove it with apt remove tervane");
      EXPECT_EQ(calls_.size(), 2u);  // nothing disabled
    }
  }
}

TEST(SystemdNotify, ReportsReadyAndStoppingOnTheNotifySocket) {
  const std::pair<std::pair<int, const char*>, const char*> messages[] = {
      {{kServiceRunning, ""}, "READY=1\nSTATUS=Running"},
      {{kServiceRunning, "Listening on 0.0.0.0:162"}, "READY=1\nSTATUS=Listening on 0.0.0.0:162"},
      // One status line, whatever the text holds.
      {{kServiceRunning, "Not listening: a\nMAINPID=1"},
       "READY=1\nSTATUS=Not listening: a MAINPID=1"},
      {{kServiceStartPending, "x"}, "STATUS=Starting"},
      {{kServiceStopPending, "Listening on 0.0.0.0:162"}, "STOPPING=1\nSTATUS=Stopping"},
      {{kServiceStopped, "x"}, ""},
  };
  for (const auto& [in, message] : messages) {
    EXPECT_EQ(NotifyMessage(in.first, in.second), message) << in.second;
  }

  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string path = (dir.path() / "notify").string();
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  SystemdNotifier notifier(path);
  ASSERT_TRUE(notifier.Report(kServiceRunning, "Listening on 127.0.0.1:1162").ok());
  ASSERT_TRUE(notifier.Report(kServiceStopped, "").ok());  // nothing to send
  ASSERT_TRUE(notifier.Report(kServiceStopPending, "").ok());
  char buf[256];
  ssize_t n = recv(fd, buf, sizeof buf, 0);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)),
            "READY=1\nSTATUS=Listening on 127.0.0.1:1162");
  n = recv(fd, buf, sizeof buf, 0);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "STOPPING=1\nSTATUS=Stopping");
  EXPECT_LT(recv(fd, buf, sizeof buf, 0), 0);  // nothing more
  close(fd);

  EXPECT_FALSE(SystemdNotifier("relative").Report(kServiceRunning, "").ok());
  EXPECT_FALSE(SystemdNotifier(path + "-none").Report(kServiceRunning, "").ok());
}

}  // namespace
}  // namespace tervane::svc
