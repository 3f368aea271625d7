// Starting a program as a background service: detached from whoever asked (its own session,
// reparented to init by a double fork), without arguments, in its working directory, with
// standard input on /dev/null and standard output and error appended to a log file.
//
// The caller may have threads (the window does), so the children run only async-signal-safe
// calls: everything they need is prepared before the first fork. The children report back
// through a close-on-exec pipe: the grandchild's pid, or the errno of the step that failed;
// the pipe's end of file then means the program is running.
#ifndef TERVANE_PLATFORM_DETACHED_SPAWN_H_
#define TERVANE_PLATFORM_DETACHED_SPAWN_H_

#include <string>
#include <vector>

#include "platform/service_record.h"
#include "platform/status.h"

namespace tervane::svc {

struct SpawnRequest {
  std::string program;            // absolute path, started without arguments
  std::string working_directory;  // its current directory
  std::string log_path;           // created when missing (mode 0640), appended to
  // Added to (or replacing in) the caller's environment, "NAME=value" each.
  std::vector<std::string> environment;
};

// Starts the program and returns its pid and start time once it has replaced the child
// (the start time is 0 when the program ended at once). On failure nothing runs; the log
// file may have been created.
Result<ProcessId> SpawnDetached(const SpawnRequest& request);

}  // namespace tervane::svc

#endif  // TERVANE_PLATFORM_DETACHED_SPAWN_H_
