#include "platform/service_record.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/subprocess.h"

namespace tervane::svc {
namespace {

std::string SelfExe() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

TEST(ServiceRecord, RoundTripsEveryField) {
  ServiceConfig config;
  config.display_name = "Tervane relay";
  config.binary_path = "/opt/ter vane/TervixSrv";
  config.working_directory = "/opt/ter vane";
  config.start_type = kStartDemand;
  std::optional<ServiceConfig> back = ParseRecord(FormatRecord(config));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->display_name, config.display_name);
  EXPECT_EQ(back->binary_path, config.binary_path);
  EXPECT_EQ(back->working_directory, config.working_directory);
  EXPECT_EQ(back->start_type, config.start_type);

  // A line break in a value must not smuggle in a key of its own.
  config.display_name = "x\nBinaryPath=/bin/sh";
  back = ParseRecord(FormatRecord(config));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->binary_path, "/opt/ter vane/TervixSrv");
}

TEST(ServiceRecord, RejectsRecordsThatCannotBeStarted) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"BinaryPath=/a/b\n", true},
      {"# comment\nStartType=2\nBinaryPath=/a/b\nLater=1\n", true},  // unknown keys ignored
      {"DisplayName=x\n", false},                                    // no program
      {"BinaryPath=\n", false},
      {"BinaryPath=/a/b\nStartType=9\n", false},
      {"BinaryPath=/a/b\nStartType=two\n", false},
      {"", false},
  };
  for (const auto& [text, ok] : cases) {
    EXPECT_EQ(ParseRecord(text).has_value(), ok) << text;
  }
}

TEST(ServiceRecord, PidAndStateFiles) {
  std::optional<ProcessId> id = ParsePidFile(FormatPidFile({4242, 987654321}));
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(id->pid, 4242);
  EXPECT_EQ(id->start_time, 987654321u);
  for (const char* bad : {"", "4242", "0 5", "-1 5", "x 5", "4242 5 6", "99999999999 5"}) {
    EXPECT_FALSE(ParsePidFile(bad).has_value()) << bad;
  }

  std::optional<StateReport> report = ParseStateReport(FormatStateReport({kServiceRunning, 77}));
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->state, kServiceRunning);
  EXPECT_EQ(report->pid, 77);
  for (const char* bad : {"", "0 77", "8 77", "4", "4 0", "4 x", "running 77"}) {
    EXPECT_FALSE(ParseStateReport(bad).has_value()) << bad;
  }
}

TEST(ServiceRecord, ParsesProcStatPastAnAwkwardCommandName) {
  // The command name may hold blanks and parentheses; the fields are counted after the
  // last ")". Field 22 (start time) is 123456 here.
  const std::string text =
      "4711 (a) b (c) S 1 4711 4711 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 123456 1000 50 "
      "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
  std::optional<ProcStat> stat = ParseProcStat(text);
  ASSERT_TRUE(stat.has_value());
  EXPECT_EQ(stat->state, 'S');
  EXPECT_EQ(stat->start_time, 123456u);
  EXPECT_FALSE(ParseProcStat("4711 (a) S 1 2 3").has_value());
  EXPECT_FALSE(ParseProcStat("no parenthesis").has_value());
}

TEST(ServiceRecord, TellsALiveProcessFromEndedAndReusedOnes) {
  std::optional<ProcStat> self = ReadProcStat(getpid());
  ASSERT_TRUE(self.has_value());
  const std::string exe = SelfExe();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(IsLiveProcess({getpid(), self->start_time}, exe));
  // The same pid with another start time is a later process that got the number.
  EXPECT_FALSE(IsLiveProcess({getpid(), self->start_time + 1}, exe));
  // Another program under the recorded pid is not the service.
  EXPECT_FALSE(IsLiveProcess({getpid(), self->start_time}, "/bin/true"));
  EXPECT_FALSE(IsLiveProcess({0, 0}, exe));

  // A child that has ended but is not reaped yet (a zombie) has ended.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  std::optional<ProcStat> stat;
  for (int i = 0; i < 500; ++i) {  // at most 5 s for the child to end
    stat = ReadProcStat(child);
    if (stat && stat->state == 'Z') break;
    usleep(10000);
  }
  ASSERT_TRUE(stat.has_value());
  ASSERT_EQ(stat->state, 'Z');
  EXPECT_FALSE(IsLiveProcess({child, stat->start_time}, exe));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_FALSE(IsLiveProcess({child, stat->start_time}, exe));  // gone altogether
}

TEST(ServiceRecord, AtomicWriteReplacesWholeAndLeavesNoTemporaryFile) {
  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string path = (dir.path() / "x.state").string();
  ASSERT_TRUE(WriteTextFileAtomic(path, "first, longer text\n", 0644).ok());
  ASSERT_TRUE(WriteTextFileAtomic(path, "2 1\n", 0644).ok());
  Result<std::string> text = ReadTextFile(path);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, "2 1\n");
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    ++files;
  }
  EXPECT_EQ(files, 1u);

  Status missing = WriteTextFileAtomic((dir.path() / "no" / "x").string(), "x", 0644);
  EXPECT_EQ(missing.error(), ErrnoCode(ENOENT)) << missing.ToString();
  EXPECT_EQ(ReadTextFile((dir.path() / "none").string()).status().error(), ErrnoCode(ENOENT));
}

TEST(ServiceRecord, RegistryLockNeedsTheFolderUnlessAskedToMakeIt) {
  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string registry = (dir.path() / "a" / "b").string();
  Result<RegistryLock> absent = RegistryLock::Take(registry, false);
  EXPECT_EQ(absent.status().error(), kErrorServiceDoesNotExist);
  EXPECT_FALSE(std::filesystem::exists(registry));
  {
    Result<RegistryLock> made = RegistryLock::Take(registry, true);
    ASSERT_TRUE(made.ok()) << made.status().ToString();
    EXPECT_TRUE(std::filesystem::exists(registry + "/.lock"));
  }
  // Released with the object: taking it again does not wait.
  Result<RegistryLock> again = RegistryLock::Take(registry, false);
  EXPECT_TRUE(again.ok()) << again.status().ToString();
}

}  // namespace
}  // namespace tervane::svc
