// Child processes for tests that run real peers (net-snmp's tools, our own programs): a
// child is spawned with its standard output and standard error captured in one pipe and
// its standard input on /dev/null; its output is read with a deadline, its exit is waited
// for with a deadline, and whatever still runs when the object goes is killed and reaped.
// Header-only so that any test program can use it without a library of its own.
#ifndef TERVANE_TESTS_SUBPROCESS_H_
#define TERVANE_TESTS_SUBPROCESS_H_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tervane::testing {

class Subprocess {
 public:
  // Starts `argv` (argv[0] is a path) with the current environment, in which each
  // "NAME=value" of `env` replaces or adds that variable. Returns null, with *error set,
  // when it cannot be started.
  static std::unique_ptr<Subprocess> Spawn(const std::vector<std::string>& argv,
                                           const std::vector<std::string>& env,
                                           std::string* error) {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry(*e);
      const std::string name = entry.substr(0, entry.find('='));
      bool replaced = false;
      for (const std::string& over : env) replaced |= over.substr(0, over.find('=')) == name;
      if (!replaced) environment.push_back(entry);
    }
    environment.insert(environment.end(), env.begin(), env.end());

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      *error = std::string("pipe: ") + std::strerror(errno);
      return nullptr;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    // fork and exec rather than posix_spawn, for PR_SET_PDEATHSIG: a test process that dies
    // before its destructors run (a crash, a ctest time-out) takes its children with it.
    // Between fork and exec only async-signal-safe calls are made. Spawn returns only once
    // the child has exec'd (the close-on-exec pipe `exec` reads end of file then), so the
    // child holds none of the parent's descriptors after Spawn, as with posix_spawn.
    int exec[2];
    if (pipe2(exec, O_CLOEXEC) != 0) {
      *error = std::string("pipe: ") + std::strerror(errno);
      close(out[0]);
      close(out[1]);
      return nullptr;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
      int failure = 0;
      if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
        failure = ESRCH;
      } else {
        const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (in < 0 || dup2(in, 0) < 0 || dup2(out[1], 1) < 0 || dup2(out[1], 2) < 0) {
          failure = errno;
        } else {
          execve(args[0], args.data(), envp.data());
          failure = errno;
        }
      }
      ssize_t ignored = write(exec[1], &failure, sizeof failure);
      (void)ignored;
      _exit(127);
    }
    const int fork_errno = errno;
    close(out[1]);
    close(exec[1]);
    if (pid < 0) {
      close(exec[0]);
      close(out[0]);
      *error = "fork " + argv[0] + ": " + std::strerror(fork_errno);
      return nullptr;
    }
    int child_errno = 0;
    ssize_t n;
    while ((n = read(exec[0], &child_errno, sizeof child_errno)) < 0 && errno == EINTR) {
    }
    close(exec[0]);
    if (n > 0) {
      waitpid(pid, nullptr, 0);
      close(out[0]);
      *error = "exec " + argv[0] + ": " + std::strerror(child_errno);
      return nullptr;
    }
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    return std::unique_ptr<Subprocess>(new Subprocess(pid, out[0]));
  }

  ~Subprocess() {
    Kill();
    if (out_ >= 0) close(out_);
  }
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  pid_t pid() const { return pid_; }
  // Everything the child has written so far that was read.
  const std::string& output() const { return output_; }

  // Reads output until `done(output())` holds or `timeout_ms` has passed, or the child
  // closed its end; returns done(output()).
  bool ReadUntil(const std::function<bool(const std::string&)>& done, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done(output_)) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || out_ < 0) break;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) > 0 && !Drain()) break;
    }
    return done(output_);
  }

  // Reads whatever output is available now; false once the child closed its end.
  bool Drain() {
    char buf[4096];
    for (int round = 0; round < 1024 && out_ >= 0; ++round) {
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n > 0) {
        output_.append(buf, static_cast<size_t>(n));
      } else if (n == 0) {
        close(out_);
        out_ = -1;
      } else {
        return errno == EAGAIN || errno == EINTR;
      }
    }
    return out_ >= 0;
  }

  // The exit status once the child has exited (128 + signal when a signal ended it);
  // nothing while it still runs. Never blocks.
  std::optional<int> TryExit() {
    if (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    return exit_;
  }

  // Waits at most `timeout_ms` for the child to exit, reading its output meanwhile.
  std::optional<int> WaitExit(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!TryExit() && Clock::now() < deadline) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, out_ >= 0 ? 1 : 0, 10) > 0) Drain();
    }
    Drain();
    return TryExit();
  }

  // Kills the child if it still runs and reaps it.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    exit_ = 128 + SIGKILL;
  }

 private:
  using Clock = std::chrono::steady_clock;
  Subprocess(pid_t pid, int out) : pid_(pid), out_(out) {}

  pid_t pid_;
  int out_;
  std::string output_;
  std::optional<int> exit_;
};

// A private directory under the system's temporary directory, removed with its contents
// when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tervane-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The full path of the executable `name` on PATH or in the system program folders, or
// empty when there is none.
inline std::string FindProgram(const std::string& name) {
  const char* path_variable = getenv("PATH");
  std::string dirs = path_variable != nullptr ? path_variable : "";
  dirs += ":/usr/sbin:/usr/bin:/sbin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty()) {
      std::string path = dir;
      path += '/';
      path += name;
      if (access(path.c_str(), X_OK) == 0) return path;
    }
    start = end + 1;
  }
  return "";
}

}  // namespace tervane::testing

#endif  // TERVANE_TESTS_SUBPROCESS_H_
