#include "platform/run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/file.h"
#include "platform/sys_error.h"

namespace tervane {

Result<CommandResult> RunCommand(const std::vector<std::string>& argv, int timeout_ms) {
  if (argv.empty()) return Status::Error(ErrnoCode(EINVAL), "no command");
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return SysError(errno, "pipe");
  UniqueFd out_read(out[0]), out_write(out[1]);
  if (pipe2(err, O_CLOEXEC) != 0) return SysError(errno, "pipe");
  UniqueFd err_read(err[0]), err_write(err[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_write.get(), STDERR_FILENO);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  out_write.Reset();
  err_write.Reset();
  if (rc != 0) return SysError(rc, argv[0]);

  CommandResult result;
  UniqueFd* ends[2] = {&out_read, &err_read};
  std::string* sinks[2] = {&result.out, &result.err};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int failure = 0;  // ETIMEDOUT, or what made poll fail
  while (out_read.valid() || err_read.valid()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) {
      failure = ETIMEDOUT;
      break;
    }
    // poll ignores negative descriptors, so a closed end drops out by itself.
    pollfd fds[2] = {{out_read.get(), POLLIN, 0}, {err_read.get(), POLLIN, 0}};
    const int n = poll(fds, 2, static_cast<int>(left));
    if (n < 0) {
      if (errno == EINTR) continue;  // nothing was reported; ask again
      failure = errno;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      const ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ends[i]->Reset();
      }
    }
  }
  out_read.Reset();
  err_read.Reset();
  if (failure != 0) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (failure != 0) return SysError(failure, argv[0]);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace tervane
