#include "platform/child_process.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace tervane {
namespace {

namespace fs = std::filesystem;

// Polls until the child has ended; at most 10 s (a failure then, and the child is killed).
bool WaitEnded(ChildProcess& child) {
  for (int i = 0; i < 1000; ++i) {
    if (child.Poll()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(ChildProcess, CollectsStandardErrorAndTheExitCodeOfWhatRunsInItsFolder) {
  struct Case {
    const char* name;
    std::string script;
    int exit_code;
    std::string err;
  };
  const std::string folder = fs::temp_directory_path().string();
  const Case cases[] = {
      {"status and text", "echo to-out; echo 'to err' >&2; exit 3", 3, "to err\n"},
      {"silent success", "exit 0", 0, ""},
      {"its working directory", "pwd >&2", 0, fs::canonical(folder).string() + "\n"},
      {"no standard input", "cat >&2; exit 0", 0, ""},
      {"ended by a signal", "kill -TERM $$", 128 + SIGTERM, ""},
      // More than the pipe holds: read while it runs, kept up to the limit.
      {"more than the limit", "head -c 200000 /dev/zero | tr '\\0' x >&2; echo done >&2; exit 7", 7,
       std::string(ChildProcess::kErrLimit, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<ChildProcess> child = ChildProcess::Start({"/bin/sh", "-c", c.script}, folder);
    ASSERT_TRUE(child.ok()) << child.status().ToString();
    ASSERT_TRUE(WaitEnded(*child));
    EXPECT_EQ(child->exit_code(), c.exit_code);
    EXPECT_EQ(child->err(), c.err);
    EXPECT_TRUE(child->Poll()) << "stays ended";
  }
}

TEST(ChildProcess, AProgramThatCannotRunIsAFailureWithItsErrno) {
  char pattern[] = "/tmp/tervane-child-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  // Not executable for anyone: even root may not run it.
  const std::string plain = dir + "/TervixSrv";
  std::ofstream(plain) << "#!/bin/sh\nexit 0\n";
  ASSERT_EQ(chmod(plain.c_str(), 0644), 0);

  Result<ChildProcess> missing = ChildProcess::Start({dir + "/missing"}, dir);
  EXPECT_EQ(missing.status().error(), ErrnoCode(ENOENT)) << missing.status().ToString();
  EXPECT_NE(missing.status().description().find(dir + "/missing"), std::string::npos);
  Result<ChildProcess> refused = ChildProcess::Start({plain}, dir);
  EXPECT_EQ(refused.status().error(), ErrnoCode(EACCES)) << refused.status().ToString();
  Result<ChildProcess> nowhere = ChildProcess::Start({"/bin/sh", "-c", "exit 0"}, dir + "/gone");
  EXPECT_EQ(nowhere.status().error(), ErrnoCode(ENOENT)) << nowhere.status().ToString();
  fs::remove_all(dir);
}

TEST(ChildProcess, KillEndsAndReapsAChildThatStillRuns) {
  pid_t pid = -1;
  {
    Result<ChildProcess> child =
        ChildProcess::Start({"/bin/sh", "-c", "echo started >&2; exec sleep 30"}, "/");
    ASSERT_TRUE(child.ok()) << child.status().ToString();
    pid = child->pid();
    for (int i = 0; i < 1000 && child->err().empty(); ++i) {
      EXPECT_FALSE(child->Poll());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(child->err(), "started\n");
    child->Kill();
    EXPECT_EQ(child->exit_code(), 128 + SIGKILL);
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1) << "reaped already";

    // Moved out, then dropped while running: the destructor kills and reaps it.
    Result<ChildProcess> second = ChildProcess::Start({"/bin/sh", "-c", "exec sleep 30"}, "/");
    ASSERT_TRUE(second.ok()) << second.status().ToString();
    pid = second->pid();
    ChildProcess moved = std::move(*second);
    EXPECT_FALSE(moved.Poll());
  }
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_NE(kill(pid, 0), 0) << "process " << pid << " still there";
}

}  // namespace
}  // namespace tervane
