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
  const size_t label = report.find("Overall exposure level for ");
  const size_t at = label == std::string::npos ? label : report.find(": ", label);
  return at == std::string::npos ? -1 : std::strtod(report.c_str() + at + 2, nullptr);
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
    std::string path = folder + "/Tervane.service";
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

TEST_F(SystemdUnit, VerifyAcceptsItAndSecurityRatesItTwoOrLower) {
  // A program folder whose name has blanks, "%", "$" and other signs, with the built TervixSrv
  // in it (through a link, which systemd follows).
  const std::filesystem::path odd = dir_.path() / "my relay 100% $HOME ;&|*?[]{}()<>~!#=@^`,:+";
  ASSERT_TRUE(MakeFolders(odd.string(), 0755).ok());
  std::filesystem::create_symlink(std::filesystem::canonical(TERVIX_SRV_PATH), odd / "TervixSrv");
  // tervane-svc prints the unit for the TervixSrv in its own folder.
  const std::string folder = BuiltFolder();
  Result<CommandResult> printed = RunCommand({TERVANE_SVC_PATH, "unit"}, kTimeoutMs);
  ASSERT_TRUE(printed.ok());
  EXPECT_EQ(printed->exit_code, 0) << printed->err;
  EXPECT_EQ(printed->out, svc::UnitText(folder + "/TervixSrv", folder, "Tervane"));
  // The same unit with its path list unquoted, which systemd splits at the blank.
  std::string split = printed->out;
  const std::string quoted = "ReadWritePaths=\"" + folder + "\"\n";
  ASSERT_NE(split.find(quoted), std::string::npos);
  split.replace(split.find(quoted), quoted.size(), "ReadWritePaths=" + folder + " relative\n");

  const struct {
    const char* name;
    std::string unit;
    bool clean;   // verify says nothing
    bool within;  // rated 2.0 or lower
  } cases[] = {
      {"printed by tervane-svc", printed->out, true, true},
      {"odd folder", svc::UnitText((odd / "TervixSrv").string(), odd.string(), "Tervane"), true,
       true},
      // The checks can fail.
      {"split path list", split, false, true},
      {"no sandbox", "[Service]\nType=notify\nExecStart=" + folder + "/TervixSrv\n", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string unit = WriteUnit(c.unit);
    const CommandResult verified = Analyze({"verify"}, unit);
    EXPECT_EQ(verified.exit_code == 0 && verified.out.empty(), c.clean) << verified.out;
    const CommandResult rated = Analyze({"security", "--offline=true", "--threshold=20"}, unit);
    const double exposure = Exposure(rated.out);
    EXPECT_GE(exposure, 0.0) << rated.out;
    EXPECT_EQ(exposure <= 2.0, c.within) << rated.out;
    EXPECT_EQ(rated.exit_code == 0, c.within) << rated.out;
  }
}

}  // namespace
}  // namespace tervane::testing
