#include "platform/single_instance.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "gtest/gtest.h"
#include "tests/subprocess.h"

namespace tervane {
namespace {

using Outcome = InstanceLock::Outcome;

TEST(SingleInstance, OneHolderPerFolder) {
  testing::TempDir a, b;
  ASSERT_TRUE(a.ok() && b.ok());
  InstanceLock first, second, other_folder;
  Result<Outcome> got = first.Acquire(a.path().string());
  ASSERT_TRUE(got.ok()) << got.status().ToString();
  EXPECT_EQ(*got, Outcome::kAcquired);
  EXPECT_TRUE(std::filesystem::exists(a.path() / kInstanceLockFile));

  got = second.Acquire(a.path().string());
  ASSERT_TRUE(got.ok()) << got.status().ToString();
  EXPECT_EQ(*got, Outcome::kHeldByAnother);
  EXPECT_FALSE(second.held());

  got = other_folder.Acquire(b.path().string());
  ASSERT_TRUE(got.ok()) << got.status().ToString();
  EXPECT_EQ(*got, Outcome::kAcquired);

  first.Release();
  got = second.Acquire(a.path().string());
  ASSERT_TRUE(got.ok()) << got.status().ToString();
  EXPECT_EQ(*got, Outcome::kAcquired);
}

TEST(SingleInstance, ProgramsStartedByTheHolderDoNotKeepTheLock) {
  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  InstanceLock lock;
  Result<Outcome> got = lock.Acquire(dir.path().string());
  ASSERT_TRUE(got.ok() && *got == Outcome::kAcquired);

  // A child that outlives the holder's release (as a spawned helper might).
  std::string error;
  std::unique_ptr<testing::Subprocess> child =
      testing::Subprocess::Spawn({"/bin/sleep", "30"}, {}, &error);
  ASSERT_NE(child, nullptr) << error;

  lock.Release();
  InstanceLock next;
  got = next.Acquire(dir.path().string());
  ASSERT_TRUE(got.ok()) << got.status().ToString();
  EXPECT_EQ(*got, Outcome::kAcquired) << "the child inherited the lock";
}

TEST(SingleInstance, AKilledHolderLeavesNoLockBehind) {
  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstanceLock held;
    Result<Outcome> got = held.Acquire(dir.path().string());
    const char answer = got.ok() && *got == Outcome::kAcquired ? 'y' : 'n';
    if (write(ready[1], &answer, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  ASSERT_EQ(answer, 'y');

  InstanceLock mine;
  Result<Outcome> got = mine.Acquire(dir.path().string());
  ASSERT_TRUE(got.ok());
  EXPECT_EQ(*got, Outcome::kHeldByAnother);

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  got = mine.Acquire(dir.path().string());
  ASSERT_TRUE(got.ok());
  EXPECT_EQ(*got, Outcome::kAcquired);
}

TEST(SingleInstance, AMissingFolderIsAnErrorAndHoldsNothing) {
  testing::TempDir dir;
  ASSERT_TRUE(dir.ok());
  InstanceLock lock;
  Result<Outcome> got = lock.Acquire((dir.path() / "missing").string());
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.status().error(), ErrnoCode(ENOENT));
  EXPECT_FALSE(lock.held());
}

}  // namespace
}  // namespace tervane
