// The service manager's handles and the built-in back end, in a registry folder of the
// test's own. A "running service" here is this test process itself: its pid and start time
// in the record's pid file, as Start would write them, so the state machine can be driven
// without starting anything. Start itself is tested with short-lived programs; the real
// service is tested end to end in tests/.
#include "platform/service_manager.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "gtest/gtest.h"
#include "platform/builtin_services.h"
#include "platform/service_record.h"
#include "tests/subprocess.h"

namespace tervane::svc {
namespace {

std::string SelfExe() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

class BuiltinManager : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    registry_ = (dir_.path() / "services").string();
    back_end_ = std::make_shared<BuiltinServices>(registry_);
    scm_ = ServiceManager(back_end_, kScManagerAllAccess);
  }

  // Registers this test program as "Tervane" and makes it the service's running process.
  void FakeRunning() {
    ASSERT_TRUE(scm_.Install(kServiceName, SelfExe(), "Tervane").ok());
    std::optional<ProcStat> self = ReadProcStat(getpid());
    ASSERT_TRUE(self.has_value());
    ASSERT_TRUE(WriteTextFileAtomic(back_end_->FilePath(kServiceName, ".pid"),
                                    FormatPidFile({getpid(), self->start_time}), 0644)
                    .ok());
  }

  int State(const std::string& name = kServiceName) {
    Result<int> state = back_end_->QueryState(name);
    EXPECT_TRUE(state.ok()) << state.status().ToString();
    return state.ok() ? *state : 0;
  }

  ErrorCode OpenCode(const std::string& name = kServiceName) {
    return scm_.OpenService(name, kServiceQueryStatus).status().error();
  }

  bool HasFile(const char* suffix) const {
    return std::filesystem::exists(back_end_->FilePath(kServiceName, suffix));
  }

  testing::TempDir dir_;
  std::string registry_;
  std::shared_ptr<BuiltinServices> back_end_;
  ServiceManager scm_;
};

TEST_F(BuiltinManager, InstallQueryConfigurationAndDeleteWhenStopped) {
  ASSERT_TRUE(scm_.Install(kServiceName, "/opt/ter vane/TervixSrv", "Tervane").ok());
  EXPECT_EQ(scm_.Install(kServiceName, "/opt/other/TervixSrv", "Tervane").error(),
            kErrorServiceExists);
  EXPECT_EQ(scm_.Install("Other", "relative/TervixSrv", "Other").error(), ErrnoCode(EINVAL));

  Result<ServiceHandle> service = scm_.OpenService(kServiceName, kServiceAllAccess);
  ASSERT_TRUE(service.ok()) << service.status().ToString();
  Result<ServiceConfig> config = service->QueryConfig();
  ASSERT_TRUE(config.ok()) << config.status().ToString();
  EXPECT_EQ(config->binary_path, "/opt/ter vane/TervixSrv");
  EXPECT_EQ(config->working_directory, "/opt/ter vane");
  EXPECT_EQ(config->display_name, "Tervane");
  EXPECT_EQ(config->start_type, kStartDemand);

  Result<int> state = service->QueryStatus();
  ASSERT_TRUE(state.ok());
  EXPECT_EQ(*state, kServiceStopped);
  EXPECT_EQ(service->Stop().error(), kErrorServiceNotActive);

  ASSERT_TRUE(service->Delete().ok());  // stopped: gone at once
  EXPECT_EQ(OpenCode(), kErrorServiceDoesNotExist);
  EXPECT_EQ(service->QueryStatus().status().error(), kErrorServiceDoesNotExist);
  EXPECT_FALSE(HasFile(".service"));
  // The name is free again.
  EXPECT_TRUE(scm_.Install(kServiceName, "/opt/tervane/TervixSrv", "Tervane").ok());
}

TEST_F(BuiltinManager, MissingServicesAndBadNames) {
  // No registry folder at all yet.
  EXPECT_EQ(OpenCode(), kErrorServiceDoesNotExist);
  EXPECT_FALSE(std::filesystem::exists(registry_));
  EXPECT_EQ(back_end_->Start(kServiceName).error(), kErrorServiceDoesNotExist);
  EXPECT_EQ(back_end_->Stop(kServiceName).error(), kErrorServiceDoesNotExist);
  EXPECT_EQ(back_end_->Delete(kServiceName).error(), kErrorServiceDoesNotExist);
  EXPECT_EQ(back_end_->QueryConfig(kServiceName).status().error(), kErrorServiceDoesNotExist);
  EXPECT_EQ(back_end_->QueryState(kServiceName).status().error(), kErrorServiceDoesNotExist);
  EXPECT_EQ(scm_.Uninstall(kServiceName).error(), kErrorServiceDoesNotExist);

  ASSERT_TRUE(scm_.Install("Other", "/opt/x/y", "Other").ok());
  EXPECT_EQ(OpenCode(), kErrorServiceDoesNotExist);
  for (const char* bad : {"", "../Tervane", ".lock", "a/b", "a b", "x\n"}) {
    EXPECT_EQ(OpenCode(bad), kErrorInvalidName) << bad;
    EXPECT_EQ(scm_.Install(bad, "/opt/x/y", "x").error(), kErrorInvalidName) << bad;
  }
  EXPECT_STREQ(ServiceErrorText(kErrorServiceDoesNotExist),
               "The specified service does not exist as an installed service.");
  EXPECT_STREQ(ServiceErrorText(kErrorProcessAborted), "The process terminated unexpectedly.");
}

TEST_F(BuiltinManager, HandlesCheckTheirAccessRights) {
  ASSERT_TRUE(scm_.Install(kServiceName, "/opt/tervane/TervixSrv", "Tervane").ok());
  Result<ServiceHandle> query = scm_.OpenService(kServiceName, kServiceQueryStatus);
  ASSERT_TRUE(query.ok());
  EXPECT_TRUE(query->QueryStatus().ok());
  EXPECT_EQ(query->QueryConfig().status().error(), kErrorAccessDenied);
  EXPECT_EQ(query->Start().error(), kErrorAccessDenied);
  EXPECT_EQ(query->Stop().error(), kErrorAccessDenied);
  EXPECT_EQ(query->Delete().error(), kErrorAccessDenied);
  EXPECT_TRUE(scm_.OpenService(kServiceName, kServiceQueryStatus).ok());  // still there

  query->Close();
  EXPECT_EQ(query->QueryStatus().status().error(), kErrorInvalidHandle);
  EXPECT_EQ(ServiceHandle().Start().error(), kErrorInvalidHandle);
  ServiceManager closed = scm_;
  closed.Close();
  EXPECT_EQ(closed.OpenService(kServiceName, kServiceQueryStatus).status().error(),
            kErrorInvalidHandle);
  ServiceManager connect_only(back_end_, kScManagerConnect);
  EXPECT_EQ(connect_only.Install("Other", "/opt/x/y", "x").error(), kErrorAccessDenied);

  EXPECT_EQ(ServiceErrno(EACCES, "x").error(), kErrorAccessDenied);
  EXPECT_EQ(ServiceErrno(EPERM, "x").description(), "Access is denied.");
  EXPECT_EQ(ServiceErrno(ENOSPC, "x").error(), ErrnoCode(ENOSPC));
}

TEST_F(BuiltinManager, StatesReportedByTheRunningProgram) {
  ASSERT_NO_FATAL_FAILURE(FakeRunning());
  EXPECT_EQ(State(), kServiceStartPending);  // alive, nothing reported yet
  EXPECT_EQ(back_end_->Start(kServiceName).error(), kErrorServiceAlreadyRunning);

  ASSERT_TRUE(ReportBuiltinState(registry_, kServiceName, kServiceRunning, getpid()).ok());
  EXPECT_EQ(State(), kServiceRunning);
  // Another process cannot speak for the service.
  ASSERT_TRUE(ReportBuiltinState(registry_, kServiceName, kServiceStopPending, getpid() + 1).ok());
  EXPECT_EQ(State(), kServiceRunning);

  ASSERT_TRUE(ReportBuiltinState(registry_, kServiceName, kServiceStopPending, getpid()).ok());
  EXPECT_EQ(State(), kServiceStopPending);
  // Reported stopped but still alive: it is on its way out.
  ASSERT_TRUE(ReportBuiltinState(registry_, kServiceName, kServiceStopped, getpid()).ok());
  EXPECT_EQ(State(), kServiceStopPending);
  EXPECT_EQ(back_end_->Start(kServiceName).error(), kErrorServiceAlreadyRunning);
}

TEST_F(BuiltinManager, DeleteWhileRunningMarksAndTheServiceGoesWhenItStops) {
  ASSERT_NO_FATAL_FAILURE(FakeRunning());
  ASSERT_TRUE(ReportBuiltinState(registry_, kServiceName, kServiceRunning, getpid()).ok());
  Result<ServiceHandle> service = scm_.OpenService(kServiceName, kServiceAllAccess);
  ASSERT_TRUE(service.ok());
  ASSERT_TRUE(service->Delete().ok());
  EXPECT_EQ(OpenCode(), ErrorCode());  // still there while it runs
  EXPECT_EQ(State(), kServiceRunning);
  EXPECT_EQ(service->Delete().error(), kErrorServiceMarkedForDelete);
  EXPECT_EQ(service->Start().error(), kErrorServiceMarkedForDelete);
  EXPECT_EQ(scm_.Install(kServiceName, "/opt/x/y", "x").error(), kErrorServiceMarkedForDelete);

  // The program's own report of its end removes it.
  ASSERT_TRUE(ReportBuiltinState(registry_, kServiceName, kServiceStopped, getpid()).ok());
  EXPECT_EQ(OpenCode(), kErrorServiceDoesNotExist);
  for (const char* suffix : {".service", ".pid", ".state", ".delete"}) {
    EXPECT_FALSE(HasFile(suffix)) << suffix;
  }
}

TEST_F(BuiltinManager, AProcessThatDiedReadsStoppedAndAMarkedOneGoesOnTheNextLook) {
  ASSERT_TRUE(scm_.Install(kServiceName, SelfExe(), "Tervane").ok());
  // The pid and start time of a process that has ended (killed, say, so it never reported).
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    pause();
    _exit(0);
  }
  std::optional<ProcStat> stat = ReadProcStat(child);
  ASSERT_TRUE(stat.has_value());
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  const std::string stale = FormatPidFile({child, stat->start_time});
  ASSERT_TRUE(WriteTextFileAtomic(back_end_->FilePath(kServiceName, ".pid"), stale, 0644).ok());
  ASSERT_TRUE(WriteTextFileAtomic(back_end_->FilePath(kServiceName, ".state"),
                                  FormatStateReport({kServiceRunning, child}), 0644)
                  .ok());

  EXPECT_EQ(State(), kServiceStopped);
  EXPECT_FALSE(HasFile(".pid"));
  EXPECT_FALSE(HasFile(".state"));
  EXPECT_EQ(back_end_->Stop(kServiceName).error(), kErrorServiceNotActive);

  // Marked while "running", then found dead: the next look removes it.
  ASSERT_TRUE(WriteTextFileAtomic(back_end_->FilePath(kServiceName, ".pid"), stale, 0644).ok());
  ASSERT_TRUE(WriteTextFileAtomic(back_end_->FilePath(kServiceName, ".delete"), "x", 0644).ok());
  EXPECT_EQ(State(), kServiceStopped);
  EXPECT_EQ(OpenCode(), kErrorServiceDoesNotExist);
}

// A program that writes what it was given, then ends.
void WriteProbe(const std::filesystem::path& path) {
  std::ofstream out(path);
  out << "#!/bin/sh\n"
      << "echo \"args=$# cwd=$(pwd) name=$TERVANE_SERVICE_NAME dir=$TERVANE_SERVICE_DIR\"\n"
      << "echo \"stdin=$(readlink /proc/$$/fd/0) session=$(cut -d' ' -f6 /proc/$$/stat)\"\n"
      << "echo to-stderr >&2\n";
  out.close();
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

TEST_F(BuiltinManager, StartRunsTheProgramDetachedInItsFolderWithItsOutputInTheLog) {
  const std::filesystem::path folder = dir_.path() / "program folder";
  std::filesystem::create_directories(folder);
  WriteProbe(folder / "probe");
  ASSERT_TRUE(scm_.Install(kServiceName, (folder / "probe").string(), "Tervane").ok());

  const std::string log = back_end_->FilePath(kServiceName, ".log");
  for (long round = 1; round <= 2; ++round) {
    ASSERT_TRUE(back_end_->Start(kServiceName).ok());
    const long lines = 3 * round;  // each run appends its three lines
    std::string text;
    for (int i = 0; i < 500; ++i) {  // at most 5 s for the probe to have written all
      Result<std::string> read = ReadTextFile(log);
      text = read.ok() ? *read : "";
      if (std::count(text.begin(), text.end(), '\n') >= lines) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), lines) << text;
    EXPECT_NE(text.find("args=0 cwd=" + folder.string() + " name=Tervane dir=" + registry_ + "\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("stdin=/dev/null session="), std::string::npos) << text;
    EXPECT_EQ(text.find("session=" + std::to_string(getsid(0)) + "\n"), std::string::npos)
        << "not detached from our session: " << text;
    EXPECT_NE(text.find("to-stderr\n"), std::string::npos) << text;
    // It has ended (or is about to): the service reads stopped once it has.
    int state = 0;
    for (int i = 0; i < 500 && state != kServiceStopped; ++i) {
      state = State();
      if (state != kServiceStopped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(state, kServiceStopped);
  }
}

TEST_F(BuiltinManager, AProgramThatCannotBeStartedLeavesTheServiceStopped) {
  ASSERT_TRUE(scm_.Install(kServiceName, (dir_.path() / "missing").string(), "Tervane").ok());
  Status started = back_end_->Start(kServiceName);
  EXPECT_EQ(started.error(), ErrnoCode(ENOENT)) << started.ToString();
  EXPECT_EQ(State(), kServiceStopped);
  EXPECT_FALSE(HasFile(".pid"));
}

TEST(ServiceManagerChoice, TheRegistryVariableSelectsTheBuiltInManagerThere) {
  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string registry = (dir.path() / "reg").string();
  ASSERT_EQ(setenv(kServiceDirVariable, registry.c_str(), 1), 0);
  Result<ServiceManager> scm = ServiceManager::Open(kScManagerAllAccess);
  ASSERT_TRUE(scm.ok());
  EXPECT_STREQ(scm->Kind(), "built-in");
  EXPECT_TRUE(scm->Install("Probe", "/opt/x/y", "Probe").ok());
  EXPECT_TRUE(std::filesystem::exists(registry + "/Probe.service"));
  unsetenv(kServiceDirVariable);
}

}  // namespace
}  // namespace tervane::svc
