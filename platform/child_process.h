// A helper program run in the background while its caller goes on with other work (the
// window keeps painting and answering its user): started with its standard error collected
// through a pipe, looked at without ever blocking, and always reaped.
//
// RunCommand (run_command.h) is the blocking form, for callers that may wait in one call.
#ifndef TERVANE_PLATFORM_CHILD_PROCESS_H_
#define TERVANE_PLATFORM_CHILD_PROCESS_H_

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/status.h"

namespace tervane {

class ChildProcess {
 public:
  // What Poll keeps of the standard error; the rest is read and dropped, so that a child that
  // writes without end neither blocks on the pipe nor fills the caller's memory.
  static constexpr size_t kErrLimit = size_t{64} * 1024;

  // Runs the program at the path argv[0] (no PATH lookup) with the other elements as its
  // arguments, in `working_directory`, with standard input and output on /dev/null and
  // standard error into a pipe that Poll reads. Fails with errno, and nothing runs, when the
  // program cannot be run: ENOENT when it is missing, EACCES when it may not be executed.
  static Result<ChildProcess> Start(const std::vector<std::string>& argv,
                                    const std::string& working_directory);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Kills and reaps a child that still runs.
  ~ChildProcess() { Kill(); }

  // Collects what the child has written to standard error so far, and reaps it once it has
  // ended. Returns true once it has ended. Never blocks.
  bool Poll();
  // Ends the child with SIGKILL when it still runs, and reaps it. Its exit code then says
  // that SIGKILL ended it.
  void Kill();

  // How it ended, once Poll has returned true (or after Kill): its exit status, or 128 + the
  // number of the signal that ended it.
  std::optional<int> exit_code() const { return exit_code_; }
  // Its standard error so far, at most kErrLimit bytes.
  const std::string& err() const { return err_; }
  pid_t pid() const { return pid_; }

 private:
  ChildProcess(pid_t pid, UniqueFd err) : pid_(pid), err_fd_(std::move(err)) {}
  // Reads what the pipe holds now; closes it at its end of file.
  void ReadErr();
  // Takes the status that waitpid reported for the child.
  void Reaped(int status);

  pid_t pid_ = -1;  // -1 once reaped, or after a move
  UniqueFd err_fd_;
  std::string err_;
  std::optional<int> exit_code_;
};

}  // namespace tervane

#endif  // TERVANE_PLATFORM_CHILD_PROCESS_H_
