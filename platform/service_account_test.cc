#include "platform/service_account.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "gtest/gtest.h"
#include "platform/file.h"
#include "platform/run_command.h"
#include "tests/subprocess.h"

namespace tervane::svc {
namespace {

struct stat Stat(const std::filesystem::path& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

TEST(ServiceAccount, SharesTheFolderAndTheFilesTheProgramsWriteNotLinksOrOthers) {
  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::filesystem::path folder = dir.path() / "program", outside = dir.path() / "outside";
  ASSERT_TRUE(MakeFolders(folder.string(), 0755).ok());
  ASSERT_TRUE(ReplaceFile(outside.string(), "x", 0600).ok());
  // Root may give files to any group, so the change shows; others only to their own.
  const gid_t gid = geteuid() == 0 ? 54321 : getegid();
  const struct {
    const char* name;
    int mode;      // 0: a link to `outside`
    mode_t after;  // the mode it has afterwards
    bool shared;   // given to the group
  } files[] = {
      {"Tervix.mdb", 0644, 0664, true},  {".TervixSrv.lock", 0600, 0660, true},
      {"Debug.txt", 0664, 0664, true},   {"Debug-Error.txt", 0, 0, false},
      {"readme.txt", 0644, 0644, false}, {"TervixSrv", 04755, 04755, false},
  };
  for (const auto& f : files) {
    const std::filesystem::path path = folder / f.name;
    const bool made = f.mode == 0 ? symlink(outside.c_str(), path.c_str()) == 0
                                  : ReplaceFile(path.string(), "x", f.mode).ok();
    ASSERT_TRUE(made) << f.name;
  }
  const gid_t outside_gid = Stat(outside).st_gid;
  // A member's file: root gives it to the folder's owner.
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((folder / "Debug.txt").c_str(), 65534, 65534), 0);
  }

  ASSERT_TRUE(ShareFolderWithGroup(folder.string(), gid).ok());
  EXPECT_EQ(Stat(folder).st_mode & 07777, 03775u);
  EXPECT_EQ(Stat(folder / "Debug.txt").st_uid, Stat(folder).st_uid);
  // Root makes the database's companions the folder owner's before anyone else makes them.
  for (const char* name : {"Tervix.mdb-wal", "Tervix.mdb-shm"}) {
    EXPECT_EQ(std::filesystem::exists(folder / name), root) << name;
    if (root) {
      EXPECT_EQ(Stat(folder / name).st_mode & 07777, 0660u) << name;
      EXPECT_EQ(Stat(folder / name).st_gid, gid) << name;
      EXPECT_EQ(Stat(folder / name).st_size, 0) << name;
    }
  }
  EXPECT_EQ(Stat(folder).st_gid, gid);
  for (const auto& f : files) {
    if (f.mode != 0) {
      EXPECT_EQ(Stat(folder / f.name).st_mode & 07777, f.after) << f.name;
    }
    EXPECT_EQ(Stat(folder / f.name).st_gid == gid, f.shared || gid == getegid()) << f.name;
  }
  // The link's target is untouched, and what is missing is not made.
  EXPECT_EQ(Stat(outside).st_mode & 07777, 0600u);
  EXPECT_EQ(Stat(outside).st_gid, outside_gid);
  EXPECT_FALSE(std::filesystem::exists(folder / "Tervix.mib"));
  EXPECT_EQ(ShareFolderWithGroup((dir.path() / "none").string(), gid).error(), ErrnoCode(ENOENT));
}

TEST(ServiceAccount, PolkitRuleAllowsTheGroupToStartAndStopThatUnitOnly) {
  EXPECT_EQ(PolkitRuleText("Tervane.service", "tervane"),
            "// The rule of the service Tervane, from TervixSrv -install or its package.\n"
            "// Members of the group \"tervane\" may start, stop and restart \"Tervane.service\", "
            "and reset its failed state, without being root.\n"
            "polkit.addRule(function(action, subject) {\n"
            "    if (action.id == \"org.freedesktop.systemd1.manage-units\" &&\n"
            "        action.lookup(\"unit\") == \"Tervane.service\" &&\n"
            "        subject.isInGroup(\"tervane\")) {\n"
            "        var verb = action.lookup(\"verb\");\n"
            "        if (verb == \"start\" || verb == \"stop\" || verb == \"restart\" ||\n"
            "            verb == \"reset-failed\") {\n"
            "            return polkit.Result.YES;\n"
            "        }\n"
            "    }\n"
            "});\n");
  EXPECT_NE(PolkitRuleText("a\"b\\c", "g").find("== \"a\\\"b\\\\c\""), std::string::npos);
}

// The rule run by duktape, the JavaScript engine of Debian's polkitd, against stand-ins for
// polkit's action and subject: the group's members may start and stop the unit, as the window
// and tervane-svc do (`systemctl start`, `systemctl stop --no-block`, and `systemctl
// reset-failed` after the start limit: the verbs "start", "stop" and "reset-failed"), and
// nobody gets anything else from it.
TEST(ServiceAccount, PolkitRuleUnderDuktapeGrantsTheGroupStartAndStopOfItsUnitOnly) {
  const std::string duk = testing::FindProgram("duk");
  if (duk.empty()) GTEST_SKIP() << "duktape's duk is not installed";
  struct Case {
    const char* action;
    const char* unit;
    const char* verb;
    const char* group;  // the subject's one group
    const char* result;
  };
  constexpr char kManage[] = "org.freedesktop.systemd1.manage-units";
  const Case cases[] = {
      {kManage, "Tervane.service", "start", "tervane", "yes"},
      {kManage, "Tervane.service", "stop", "tervane", "yes"},
      {kManage, "Tervane.service", "restart", "tervane", "yes"},
      {kManage, "Tervane.service", "reset-failed", "tervane", "yes"},
      {kManage, "Tervane.service", "kill", "tervane", "none"},
      {kManage, "Tervane.service", "reload", "tervane", "none"},
      {kManage, "Tervane.service", "start", "users", "none"},
      {kManage, "ssh.service", "start", "tervane", "none"},
      {"org.freedesktop.systemd1.manage-unit-files", "Tervane.service", "start", "tervane", "none"},
      {"org.freedesktop.login1.reboot", "", "", "tervane", "none"},
  };
  std::string script =
      "var rules = [];\n"
      "var polkit = { Result: { YES: 'yes', NO: 'no' },\n"
      "               addRule: function (rule) { rules.push(rule); } };\n" +
      PolkitRuleText("Tervane.service", "tervane") +
      "function check(id, unit, verb, group) {\n"
      "  var action = { id: id, lookup: function (key) {\n"
      "    return key == 'unit' ? unit : key == 'verb' ? verb : undefined; } };\n"
      "  var subject = { isInGroup: function (g) { return g == group; } };\n"
      "  var result = rules[0](action, subject);\n"
      "  print(result === undefined ? 'none' : result);\n"
      "}\n";
  std::string expected;
  for (const Case& c : cases) {
    script += std::string("check('") + c.action + "', '" + c.unit + "', '" + c.verb + "', '" +
              c.group + "');\n";
    expected += std::string(c.result) + "\n";
  }
  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string path = (dir.path() / "rule.js").string();
  ASSERT_TRUE(ReplaceFile(path, script, 0644).ok());
  Result<CommandResult> ran = RunCommand({duk, path}, 10000);
  ASSERT_TRUE(ran.ok()) << ran.status().ToString();
  EXPECT_EQ(ran->exit_code, 0) << ran->err;
  EXPECT_EQ(ran->out, expected) << script;
}

}  // namespace
}  // namespace tervane::svc
