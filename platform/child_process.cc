#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/sys_error.h"

namespace tervane {

Result<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                         const std::string& working_directory) {
  if (argv.empty()) return Status::Error(ErrnoCode(EINVAL), "no program");
  int err[2];
  // Non-blocking on our side, so that Poll can read what is there and no more.
  if (pipe2(err, O_CLOEXEC) != 0) return SysError(errno, "pipe");
  UniqueFd err_read(err[0]), err_write(err[1]);
  if (fcntl(err_read.get(), F_SETFL, O_NONBLOCK) != 0) return SysError(errno, "fcntl");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, err_write.get(), STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  // glibc's posix_spawn reports a failed chdir or exec as its own result, and then no child
  // is left.
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return SysError(rc, argv[0]);
  return ChildProcess(pid, std::move(err_read));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      err_fd_(std::move(other.err_fd_)),
      err_(std::move(other.err_)),
      exit_code_(other.exit_code_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = std::exchange(other.pid_, -1);
    err_fd_ = std::move(other.err_fd_);
    err_ = std::move(other.err_);
    exit_code_ = other.exit_code_;
  }
  return *this;
}

void ChildProcess::ReadErr() {
  // Bounded: a pipe holds at most 64 KiB by default, and a child that keeps writing only
  // delays its own end, not this call.
  for (int i = 0; i < 64 && err_fd_.valid(); ++i) {
    char buf[4096];
    const ssize_t got = read(err_fd_.get(), buf, sizeof buf);
    if (got > 0) {
      const size_t room = kErrLimit - std::min(kErrLimit, err_.size());
      err_.append(buf, std::min(room, static_cast<size_t>(got)));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      err_fd_.Reset();  // end of file, or a pipe that cannot be read any more
    } else if (errno == EAGAIN) {
      return;
    }
  }
}

void ChildProcess::Reaped(int status) {
  pid_ = -1;
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // What it wrote before it ended is in the pipe; a process it left behind may hold the pipe
  // open, so no more is waited for.
  ReadErr();
  err_fd_.Reset();
}

bool ChildProcess::Poll() {
  if (pid_ < 0) return true;
  ReadErr();
  int status = 0;
  pid_t got = 0;
  do {
    got = waitpid(pid_, &status, WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == pid_) {
    Reaped(status);
    return true;
  }
  if (got < 0) {
    // ECHILD: someone else reaped it (a SIGCHLD handler set to ignore); it has ended, how is
    // unknown.
    pid_ = -1;
    exit_code_ = 128 + SIGKILL;
    err_fd_.Reset();
    return true;
  }
  return false;
}

void ChildProcess::Kill() {
  if (pid_ < 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  pid_t got = 0;
  do {
    got = waitpid(pid_, &status, 0);
  } while (got < 0 && errno == EINTR);
  if (got == pid_) {
    Reaped(status);
  } else {
    pid_ = -1;
    exit_code_ = 128 + SIGKILL;
    err_fd_.Reset();
  }
}

}  // namespace tervane
