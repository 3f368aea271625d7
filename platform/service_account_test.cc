#include "platform/service_account.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/file.h"
#include "platform/service_manager.h"
#include "tests/subprocess.h"

namespace tervane::svc {
namespace {

std::string Join(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& a : argv) text += (text.empty() ? "" : " ") + a;
  return text;
}

constexpr char kUseradd[] =
    "useradd --system --gid tervane --no-create-home --home-dir /nonexistent --shell "
    "/usr/sbin/nologin --comment Tervane SNMP trap relay tervane";

TEST(ServiceAccount, CreatesOnlyWhatIsMissingAndStopsAtTheFirstFailure) {
  struct Case {
    const char* name;
    bool group_exists;
    bool user_exists;
    const char* group_line;  // what getent prints for the group once it exists
    const char* fail;        // the command that fails, if any
    CommandResult failure;   // and how
    std::vector<std::string> calls;
    ErrorCode error;  // number 0: success with group id 998
  };
  const CommandResult refused{10, "", "groupadd: Permission denied.\ngroupadd: cannot lock\n"};
  const Case cases[] = {
      {"both there",
       true,
       true,
       "tervane:x:998:alice\n",
       "",
       {},
       {"getent group tervane", "getent passwd tervane"},
       {}},
      {"user missing",
       true,
       false,
       "tervane:x:998:\n",
       "",
       {},
       {"getent group tervane", "getent passwd tervane", kUseradd},
       {}},
      {"both missing",
       false,
       false,
       "tervane:x:998:\n",
       "",
       {},
       {"getent group tervane", "groupadd --system tervane", "getent group tervane",
        "getent passwd tervane", kUseradd},
       {}},
      {"group refused",
       false,
       false,
       "",
       "groupadd",
       refused,
       {"getent group tervane", "groupadd --system tervane"},
       kErrorAccessDenied},
      {"useradd fails",
       true,
       false,
       "tervane:x:998:\n",
       "useradd",
       CommandResult{9, "", "useradd: user 'tervane' already exists\n"},
       {"getent group tervane", "getent passwd tervane", kUseradd},
       ExitStatusCode(9)},
      {"getent fails",
       true,
       true,
       "",
       "getent group",
       CommandResult{3, "", ""},
       {"getent group tervane"},
       ExitStatusCode(3)},
      {"no group id",
       true,
       true,
       "tervane:x::\n",
       "",
       {},
       {"getent group tervane"},
       kErrorMalformed},
      {"group id not a number",
       true,
       true,
       "tervane:x:9x8:\n",
       "",
       {},
       {"getent group tervane"},
       kErrorMalformed},
  };
  for (const Case& c : cases) {
    bool group = c.group_exists;
    bool user = c.user_exists;
    std::vector<std::string> calls;
    auto run = [&](const std::vector<std::string>& argv) -> Result<CommandResult> {
      const std::string line = Join(argv);
      calls.push_back(line);
      if (*c.fail != '\0' && line.rfind(c.fail, 0) == 0) return c.failure;
      CommandResult result;
      if (line == "getent group tervane") {
        result.exit_code = group ? 0 : 2;
        if (group) result.out = c.group_line;
      } else if (line == "getent passwd tervane") {
        result.exit_code = user ? 0 : 2;
        if (user) result.out = "tervane:x:998:998::/nonexistent:/usr/sbin/nologin\n";
      } else if (argv[0] == "groupadd") {
        group = true;
      } else if (argv[0] == "useradd") {
        user = true;
      }
      return result;
    };
    Result<gid_t> gid = EnsureServiceAccount(run, "tervane");
    EXPECT_EQ(calls, c.calls) << c.name;
    if (c.error.number == 0) {
      ASSERT_TRUE(gid.ok()) << c.name << ": " << gid.status().ToString();
      EXPECT_EQ(*gid, 998u) << c.name;
      EXPECT_TRUE(group && user) << c.name;
    } else {
      EXPECT_EQ(gid.status().error(), c.error) << c.name << ": " << gid.status().ToString();
    }
  }

  // The tools themselves missing.
  auto missing = [](const std::vector<std::string>&) -> Result<CommandResult> {
    return Status::Error(ErrnoCode(ENOENT), "getent: No such file or directory");
  };
  EXPECT_EQ(EnsureServiceAccount(missing, "tervane").status().error(), ErrnoCode(ENOENT));
}

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

gid_t GroupOf(const std::filesystem::path& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_gid : static_cast<gid_t>(-1);
}

TEST(ServiceAccount, SharesTheFolderAndTheFilesTheProgramsWrite) {
  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::filesystem::path folder = dir.path() / "program";
  const std::filesystem::path outside = dir.path() / "outside";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  // Root may give files to any group, so the change shows; others only to their own.
  const gid_t gid = geteuid() == 0 ? 54321 : getegid();

  struct File {
    const char* name;
    mode_t mode;      // 0: a link to `outside`; 1: a folder
    mode_t expected;  // its mode afterwards
    bool shared;      // given to the group
  };
  const File files[] = {
      {"Tervix.mdb", 0644, 0664, true},      {"Tervix.mdb-wal", 0600, 0660, true},
      {".TervixSrv.lock", 0640, 0660, true}, {"Debug.txt", 0664, 0664, true},
      {"Debug-Error.txt", 0, 0, false},      {"Tervix.mib", 1, 0755, false},
      {"readme.txt", 0644, 0644, false},     {"TervixSrv", 04755, 04755, false},
  };
  ASSERT_TRUE(ReplaceFile(outside.string(), "x", 0600).ok());
  for (const File& f : files) {
    const std::filesystem::path path = folder / f.name;
    if (f.mode == 0) {
      ASSERT_EQ(symlink(outside.c_str(), path.c_str()), 0);
    } else if (f.mode == 1) {
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
      ASSERT_EQ(chmod(path.c_str(), 0755), 0);
    } else {
      ASSERT_TRUE(ReplaceFile(path.string(), "x", static_cast<int>(f.mode)).ok()) << f.name;
    }
  }
  const gid_t before = GroupOf(outside);

  ASSERT_TRUE(ShareFolderWithGroup(folder.string(), gid).ok());
  EXPECT_EQ(ModeOf(folder), 02775u);
  EXPECT_EQ(GroupOf(folder), gid);
  for (const File& f : files) {
    const std::filesystem::path path = folder / f.name;
    if (f.mode != 0) {
      EXPECT_EQ(ModeOf(path), f.expected) << f.name;
    }
    if (f.shared) {
      EXPECT_EQ(GroupOf(path), gid) << f.name;
    }
  }
  // The link's target is not touched, and what is missing is not made.
  EXPECT_EQ(ModeOf(outside), 0600u);
  EXPECT_EQ(GroupOf(outside), before);
  EXPECT_FALSE(std::filesystem::exists(folder / "Tervix.mdb-shm"));

  EXPECT_EQ(ShareFolderWithGroup((dir.path() / "none").string(), gid).error(), ErrnoCode(ENOENT));
}

TEST(ServiceAccount, PolkitRuleAllowsTheGroupToStartAndStopThatUnitOnly) {
  EXPECT_EQ(PolkitRuleText("Tervane.service", "tervane"),
            "// Written by TervixSrv -install; removed by TervixSrv -uninstall.\n"
            "// Members of the group \"tervane\" may start, stop and restart \"Tervane.service\" "
            "without being root.\n"
            "polkit.addRule(function(action, subject) {\n"
            "    if (action.id == \"org.freedesktop.systemd1.manage-units\" &&\n"
            "        action.lookup(\"unit\") == \"Tervane.service\" &&\n"
            "        subject.isInGroup(\"tervane\")) {\n"
            "        var verb = action.lookup(\"verb\");\n"
            "        if (verb == \"start\" || verb == \"stop\" || verb == \"restart\") {\n"
            "            return polkit.Result.YES;\n"
            "        }\n"
            "    }\n"
            "});\n");
  // Names are JavaScript strings, whatever they hold: no line of theirs ends the comment.
  const std::string odd = PolkitRuleText("a\"b\\c\nd.service", "g");
  EXPECT_NE(odd.find("action.lookup(\"unit\") == \"a\\\"b\\\\c\\u000ad.service\""),
            std::string::npos)
      << odd;
  EXPECT_EQ(odd.find("\nd.service"), std::string::npos) << odd;
}

}  // namespace
}  // namespace tervane::svc
