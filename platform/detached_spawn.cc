#include "platform/detached_spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/file.h"

namespace tervane::svc {
namespace {

// What the children write to the report pipe: one message each, at most.
enum Report : int { kPid = 1, kForkFailed = 2, kChdirFailed = 3, kExecFailed = 4 };
struct Message {
  int kind;
  int value;
};

// Async-signal-safe: one write of a message that fits the pipe's atomic size.
void Send(int fd, int kind, int value) {
  const Message m{kind, value};
  ssize_t ignored = write(fd, &m, sizeof m);
  (void)ignored;
}

// The grandchild: becomes the program. Only async-signal-safe calls from here on.
[[noreturn]] void BecomeProgram(int report, int null_fd, int log_fd, const char* dir,
                                char* const* argv, char* const* envp) {
  if (chdir(dir) != 0) {
    Send(report, kChdirFailed, errno);
    _exit(127);
  }
  dup2(null_fd, STDIN_FILENO);
  dup2(log_fd, STDOUT_FILENO);
  dup2(log_fd, STDERR_FILENO);
  // Whatever else the caller had open must not live on in the service.
  if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < 1024; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  // Blocked and ignored signals survive exec; the service expects the defaults (its host
  // blocks what it routes itself).
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
  execve(argv[0], argv, envp);
  Send(report, kExecFailed, errno);
  _exit(127);
}

}  // namespace

Result<ProcessId> SpawnDetached(const SpawnRequest& request) {
  // Everything the children need, made before the fork.
  std::vector<std::string> env_text;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string key = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& over : request.environment) replaced |= over.rfind(key, 0) == 0;
    if (!replaced) env_text.push_back(entry);
  }
  env_text.insert(env_text.end(), request.environment.begin(), request.environment.end());
  std::vector<char*> envp;
  envp.reserve(env_text.size() + 1);
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = request.program;
  char* argv[] = {program.data(), nullptr};

  Result<UniqueFd> null_fd = OpenFile("/dev/null", O_RDWR);
  if (!null_fd.ok()) return ServiceErrno(null_fd.status().code(), "/dev/null");
  Result<UniqueFd> log_fd = OpenFile(request.log_path, O_WRONLY | O_APPEND | O_CREAT);
  if (!log_fd.ok()) return ServiceErrno(log_fd.status().code(), request.log_path);
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return ServiceErrno(errno, "pipe");
  UniqueFd read_end(pipe_fds[0]);
  UniqueFd write_end(pipe_fds[1]);

  const pid_t middle = fork();
  if (middle < 0) return ServiceErrno(errno, "fork");
  if (middle == 0) {
    // The middle child: a session of its own, then the grandchild, then gone, so that the
    // grandchild is nobody's child here and has no controlling terminal.
    close(read_end.get());
    setsid();
    const pid_t grandchild = fork();
    if (grandchild < 0) {
      Send(write_end.get(), kForkFailed, errno);
      _exit(1);
    }
    if (grandchild == 0) {
      BecomeProgram(write_end.get(), null_fd->get(), log_fd->get(),
                    request.working_directory.c_str(), argv, envp.data());
    }
    Send(write_end.get(), kPid, grandchild);
    _exit(0);
  }
  write_end.Reset();

  // Read until both children have closed their ends: the middle one by exiting, the
  // grandchild by its exec (or by exiting after a failure it reported).
  pid_t pid = 0;
  int failure = 0, failed_step = 0;
  Message m{};
  size_t have = 0;
  for (;;) {
    const ssize_t n = read(read_end.get(), reinterpret_cast<char*>(&m) + have, sizeof m - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    have += static_cast<size_t>(n);
    if (have < sizeof m) continue;
    have = 0;
    if (m.kind == kPid) {
      pid = m.value;
    } else {
      failed_step = m.kind;
      failure = m.value;
    }
  }
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }

  if (failed_step == kChdirFailed) return ServiceErrno(failure, request.working_directory);
  if (failed_step == kExecFailed) return ServiceErrno(failure, request.program);
  if (failed_step == kForkFailed) return ServiceErrno(failure, "fork");
  if (pid <= 0) return ServiceErrno(ECHILD, "starting " + request.program);

  std::optional<ProcStat> stat = ReadProcStat(pid);
  if (!stat || stat->state == 'Z') return ProcessId{pid, 0};  // ended already
  return ProcessId{pid, stat->start_time};
}

}  // namespace tervane::svc
