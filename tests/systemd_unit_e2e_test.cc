// The systemd unit end to end: `tervane-svc unit` prints the unit that the systemd install
// would write for its own program folder, and systemd's own tools accept that unit:
// `systemd-analyze verify` has nothing to say about it and `systemd-analyze security` rates its
// exposure 2.0 or lower, also for a program folder whose name needs quoting. Both run offline,
// without systemd as init.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/file.h"
#include "platform/run_command.h"
#include "platform/systemd_services.h"
#include "tests/subprocess.h"

namespace tervane::testing {
namespace {

constexpr int kTimeoutMs = 60000;

// The folder of the built TervixSrv, as the running program sees it (links resolved).
std::string BuiltFolder() {
  return std::filesystem::canonical(TERVIX_SRV_PATH).parent_path().string();
}

// The exposure systemd-analyze security reports for the unit, or -1 when it says none.
double Exposure(const std::string& report) {
  const std::string label = "Overall exposure level for ";
  size_t at = report.find(label);
  if (at == std::string::npos) return -1;
  at = report.find(": ", at);
  if (at == std::string::npos) return -1;
  char* end = nullptr;
  const double value = std::strtod(report.c_str() + at + 2, &end);
  return end == report.c_str() + at + 2 ? -1 : value;
}

// tervane-svc prints the unit for the TervixSrv beside it, wherever its folder is.
TEST(TervaneSvc, PrintsTheUnitOfItsOwnProgramFolder) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::filesystem::path folder = std::filesystem::canonical(dir.path()) / "my relay 100%";
  ASSERT_TRUE(MakeFolders(folder.string(), 0755).ok());
  std::filesystem::copy_file(TERVANE_SVC_PATH, folder / "tervane-svc");
  const std::string program = (folder / "TervixSrv").string();

  Result<CommandResult> ran = RunCommand({(folder / "tervane-svc").string(), "unit"}, kTimeoutMs);
  ASSERT_TRUE(ran.ok()) << ran.status().ToString();
  EXPECT_EQ(ran->exit_code, 0) << ran->err;
  EXPECT_EQ(ran->err, "");
  EXPECT_EQ(ran->out, svc::UnitText(program, folder.string(), "Tervane"));

  ran = RunCommand({(folder / "tervane-svc").string(), "unit", "Relay"}, kTimeoutMs);
  ASSERT_TRUE(ran.ok());
  EXPECT_EQ(ran->exit_code, 0);
  EXPECT_EQ(ran->out, svc::UnitText(program, folder.string(), "Relay"));

  ran = RunCommand({(folder / "tervane-svc").string(), "unit", "a/b"}, kTimeoutMs);
  ASSERT_TRUE(ran.ok());
  EXPECT_EQ(ran->exit_code, 1);
  EXPECT_EQ(ran->out, "");
  EXPECT_EQ(ran->err.rfind("error 123: ", 0), 0u) << ran->err;
}

class SystemdUnit : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindProgram("systemd-analyze").empty()) GTEST_SKIP() << "systemd-analyze is missing";
    ASSERT_TRUE(dir_.ok());
  }

  // Writes `text` as Tervane.service into a folder of its own; its path.
  std::string WriteUnit(const std::string& text) {
    const std::string folder = (dir_.path() / ("units" + std::to_string(++units_))).string();
    EXPECT_TRUE(MakeFolders(folder, 0755).ok());
    const std::string path = folder + "/Tervane.service";
    EXPECT_TRUE(ReplaceFile(path, text, 0644).ok());
    return path;
  }

  // What `systemd-analyze args... unit` prints, standard output and error together, with its
  // exit status.
  static CommandResult Analyze(std::vector<std::string> args, const std::string& unit) {
    args.insert(args.begin(), "systemd-analyze");
    args.push_back(unit);
    Result<CommandResult> ran = RunCommand(args, kTimeoutMs);
    EXPECT_TRUE(ran.ok()) << ran.status().ToString();
    if (!ran.ok()) return CommandResult{-1, "", ""};
    CommandResult both = *ran;
    both.out += both.err;
    return both;
  }

  TempDir dir_;
  int units_ = 0;
};

TEST_F(SystemdUnit, VerifiesCleanAndRatesTwoOrLower) {
  // A program folder whose name has blanks, "%", "$" and other signs, with the built TervixSrv
  // in it (through a link, which systemd follows).
  const std::filesystem::path odd = dir_.path() / "my relay 100% $HOME ;&|*?[]{}()<>~!#=@^`,:+";
  ASSERT_TRUE(MakeFolders(odd.string(), 0755).ok());
  std::filesystem::create_symlink(std::filesystem::canonical(TERVIX_SRV_PATH), odd / "TervixSrv");

  Result<CommandResult> printed = RunCommand({TERVANE_SVC_PATH, "unit"}, kTimeoutMs);
  ASSERT_TRUE(printed.ok());
  struct Case {
    const char* name;
    std::string unit;
  };
  const Case cases[] = {
      {"printed by tervane-svc", printed->out},
      {"odd folder name", svc::UnitText((odd / "TervixSrv").string(), odd.string(), "Tervane")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string unit = WriteUnit(c.unit);
    const CommandResult verified = Analyze({"verify"}, unit);
    EXPECT_EQ(verified.exit_code, 0);
    EXPECT_EQ(verified.out, "") << "systemd-analyze verify complains";
    const CommandResult rated = Analyze({"security", "--offline=true", "--threshold=20"}, unit);
    EXPECT_EQ(rated.exit_code, 0) << rated.out;
    const double exposure = Exposure(rated.out);
    EXPECT_GE(exposure, 0.0) << rated.out;
    EXPECT_LE(exposure, 2.0) << rated.out;
  }
}

// The two checks above can fail: verify speaks up about a path list that systemd splits at
// its blank, and the rating refuses a unit without the sandbox.
TEST_F(SystemdUnit, TheChecksCatchABadUnit) {
  const std::string folder = BuiltFolder();
  std::string unit = svc::UnitText(folder + "/TervixSrv", folder, "Tervane");
  const std::string quoted = "ReadWritePaths=\"" + folder + "\"\n";
  const size_t at = unit.find(quoted);
  ASSERT_NE(at, std::string::npos);
  unit.replace(at, quoted.size(), "ReadWritePaths=" + folder + " relative\n");
  const CommandResult verified = Analyze({"verify"}, WriteUnit(unit));
  EXPECT_NE(verified.out.find("ReadWritePaths="), std::string::npos) << verified.out;

  const std::string bare = "[Service]\nType=notify\nExecStart=" + folder + "/TervixSrv\n";
  const CommandResult rated =
      Analyze({"security", "--offline=true", "--threshold=20"}, WriteUnit(bare));
  EXPECT_NE(rated.exit_code, 0) << rated.out;
  EXPECT_GT(Exposure(rated.out), 2.0) << rated.out;
}

}  // namespace
}  // namespace tervane::testing
