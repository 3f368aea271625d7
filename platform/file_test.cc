#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "gtest/gtest.h"
#include "platform/run_command.h"
#include "tests/alarms.h"
#include "tests/run_as_nobody.h"

namespace tervane {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/tervane-file-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string Content(const std::string& path) {
  Result<std::string> text = ReadFile(path);
  return text.ok() ? *text : "<" + text.status().ToString() + ">";
}

TEST(File, MakeFoldersMakesTheMissingOnesWithTheirModeWhateverTheUmask) {
  TempFolder dir;
  const mode_t old_mask = umask(077);
  const Status made = MakeFolders(dir / "a/b", 0755);
  umask(old_mask);
  ASSERT_TRUE(made.ok()) << made.ToString();
  for (const char* path : {"a", "a/b"}) {
    struct stat st {};
    ASSERT_EQ(stat((dir / path).c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_mode & 07777, 0755u) << path;
  }
  std::ofstream(dir / "file") << "x";
  EXPECT_EQ(MakeFolders(dir / "file/sub", 0755).error(), ErrnoCode(ENOTDIR));
}

TEST(File, AppendReplaceAndDeleteReportEveryFailureWithTheFile) {
  TempFolder dir;
  const std::string log = dir / "Debug.txt";
  ASSERT_TRUE(AppendToFile(log, "one\r\n").ok());
  ASSERT_TRUE(AppendToFile(log, "two\r\n").ok());
  EXPECT_EQ(Content(log), "one\r\ntwo\r\n");

  // A folder in the file's place, and a full disk: both refused, naming the file.
  fs::create_directory(dir / "folder");
  const Status on_folder = AppendToFile(dir / "folder", "x");
  EXPECT_EQ(on_folder.error(), ErrnoCode(EISDIR));
  EXPECT_NE(on_folder.description().find("folder"), std::string::npos);
  EXPECT_EQ(AppendToFile("/dev/full", "x").error(), ErrnoCode(ENOSPC));

  // A replacement that cannot be renamed into place leaves the old file and no temporary.
  ASSERT_TRUE(ReplaceFile(dir / "unit", "first\n", 0640).ok());
  struct stat st {};
  ASSERT_EQ(stat((dir / "unit").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  fs::create_directory(dir / "busy");
  std::ofstream(dir / "busy/inside") << "x";
  EXPECT_FALSE(ReplaceFile(dir / "busy", "second\n", 0644).ok());
  EXPECT_TRUE(fs::is_directory(dir / "busy"));
  EXPECT_EQ(Content(dir / "unit"), "first\n");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir / "")) ++entries;
  EXPECT_EQ(entries, 4u);  // Debug.txt, folder, unit, busy: no temporary file left

  EXPECT_TRUE(DeleteFileIfExists(log).ok());
  EXPECT_TRUE(DeleteFileIfExists(log).ok());  // already gone
  EXPECT_EQ(DeleteFileIfExists(dir / "folder").error(), ErrnoCode(EISDIR));
  EXPECT_EQ(ReadFile(log).status().error(), ErrnoCode(ENOENT));
}

// In a sticky folder shared by a group, a member may write but not replace another member's
// file: the replacement is written in place, keeping the file's owner and mode.
TEST(File, ReplaceInAStickyFolderWritesAnotherUsersFileInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of other users";
  TempFolder dir;
  const std::string shared = dir / "shared", mib = dir / "shared/Tervix.mib";
  ASSERT_EQ(chmod((dir / "").c_str(), 0755), 0);  // for nobody to reach the folder
  ASSERT_EQ(mkdir(shared.c_str(), 01777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_TRUE(ReplaceFile(mib, "old module, longer than the new one\n", 0666).ok());
  ASSERT_EQ(chown(mib.c_str(), 1, 1), 0);
  ASSERT_TRUE(ReplaceFile(dir / "shared/TervixSrv", "program", 0755).ok());

  const std::string child = testing::RunAsNobody([&] {
    std::string out = ReplaceFile(mib, "new\n", 0664).ToString() + ";";
    // The program, root's and not writable for us, stays as it is.
    out += ReplaceFile(dir / "shared/TervixSrv", "x", 0755).ok() ? "replaced" : "kept";
    return out;
  });
  EXPECT_EQ(child, Status::Ok().ToString() + ";kept");
  EXPECT_EQ(Content(mib), "new\n");
  struct stat st {};
  ASSERT_EQ(stat(mib.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 1u);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  EXPECT_EQ(Content(dir / "shared/TervixSrv"), "program");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(shared)) ++entries;
  EXPECT_EQ(entries, 2u);  // no temporary file left
}

TEST(File, LockFileIsExclusiveAcrossOpensAndGoesWithItsDescriptor) {
  TempFolder dir;
  Result<UniqueFd> first = LockFile(dir / ".lock", false);
  ASSERT_TRUE(first.ok()) << first.status().ToString();
  ASSERT_TRUE(first->valid());
  Result<UniqueFd> second = LockFile(dir / ".lock", false);
  ASSERT_TRUE(second.ok());
  EXPECT_FALSE(second->valid());  // held by the first
  first->Reset();
  Result<UniqueFd> third = LockFile(dir / ".lock", false);
  ASSERT_TRUE(third.ok());
  EXPECT_TRUE(third->valid());
  EXPECT_EQ(LockFile(dir / "none/.lock", true).status().error(), ErrnoCode(ENOENT));
}

TEST(File, ExecutablePathNamesThisTestProgram) {
  Result<std::string> exe = ExecutablePath();
  ASSERT_TRUE(exe.ok());
  EXPECT_EQ(fs::path(*exe).filename(), "platform_test");
  EXPECT_EQ((*exe)[0], '/');
}

TEST(RunCommand, SignalsNeitherLoseOutputNorStretchTheTimeLimit) {
  {
    testing::Alarms storm(1000, 1000);
    Result<CommandResult> done =
        RunCommand({"sh", "-c", "echo out; sleep 0.2; echo err >&2; exit 3"}, 10000);
    ASSERT_TRUE(done.ok()) << done.status().ToString();
    EXPECT_EQ(done->out, "out\n");
    EXPECT_EQ(done->err, "err\n");
    EXPECT_EQ(done->exit_code, 3);
  }

  // One signal once the first line has been read: the interrupted poll must not be taken
  // for readable output, which would block in read until the program ends, long after the
  // time limit.
  testing::Alarms once(100000, 0);
  const auto start = std::chrono::steady_clock::now();
  Result<CommandResult> slow = RunCommand({"sh", "-c", "echo first; exec sleep 20"}, 300);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(slow.status().error(), ErrnoCode(ETIMEDOUT));
  EXPECT_LT(took, std::chrono::seconds(15));
}

}  // namespace
}  // namespace tervane
