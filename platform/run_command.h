// Running a helper program (systemctl) and collecting what it prints: its standard output
// and standard error apart, its exit status, all within a time limit.
#ifndef TERVANE_PLATFORM_RUN_COMMAND_H_
#define TERVANE_PLATFORM_RUN_COMMAND_H_

#include <functional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace tervane {

struct CommandResult {
  int exit_code = 0;  // 128 + the signal number when a signal ended it
  std::string out;    // standard output
  std::string err;    // standard error
};

// Runs argv (argv[0] looked up on PATH) with standard input on /dev/null and waits for it
// to end. When it runs longer than `timeout_ms` it is killed and the call fails with
// ETIMEDOUT; it fails with errno when the program cannot be started. Nothing of the child
// is left behind either way.
Result<CommandResult> RunCommand(const std::vector<std::string>& argv, int timeout_ms);

// What runs helper programs for a module: RunCommand with a time limit of its choice, or a
// stand-in in tests.
using CommandRunner = std::function<Result<CommandResult>(const std::vector<std::string>& argv)>;

}  // namespace tervane

#endif  // TERVANE_PLATFORM_RUN_COMMAND_H_
