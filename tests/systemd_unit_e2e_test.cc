// The systemd unit end to end: `tervane-svc unit` prints the unit that the systemd install
// would write for its own program folder.
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

}  // namespace
}  // namespace tervane::testing
