// Runs a piece of a test as the user nobody, in a child process: what root may do and an
// ordinary user may not (permissions, sticky folders) shows only there.
#ifndef TERVANE_TESTS_RUN_AS_NOBODY_H_
#define TERVANE_TESTS_RUN_AS_NOBODY_H_

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace tervane::testing {

// Runs `body` in a child process as the user nobody (uid and gid 65534, no other groups) and
// returns the text it gave back, with "child failed" added when the child could not become
// nobody or did not end normally. Forking is safe: the test process runs no other thread.
inline std::string RunAsNobody(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
    const std::string text = body();
    _exit(write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0) text += "child failed";
  return text;
}

}  // namespace tervane::testing

#endif  // TERVANE_TESTS_RUN_AS_NOBODY_H_
