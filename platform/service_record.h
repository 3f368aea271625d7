// The files of the built-in service manager's registry folder, and how a process is told
// apart from a later one that got the same pid.
//
// One service NAME is a handful of files in the registry folder:
//   NAME.service  the record: display name, program, working directory, start type;
//   NAME.pid      "<pid> <start time>" of the process the manager started;
//   NAME.state    "<state> <pid>", the state that the running program last reported;
//   NAME.delete   present while the service is marked for delete;
//   NAME.log      the program's standard output and standard error, appended.
// Writers replace NAME.service, NAME.pid and NAME.state whole (a temporary file renamed over
// the old one), so a reader never sees half a file. Every change happens under an exclusive
// lock on the folder's ".lock" file.
//
// The pid alone does not identify a process: it may have ended and the number been given to
// another. NAME.pid therefore also holds the process's start time (field 22 of
// /proc/PID/stat), and a zombie counts as ended.
#ifndef TERVANE_PLATFORM_SERVICE_RECORD_H_
#define TERVANE_PLATFORM_SERVICE_RECORD_H_

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/file.h"
#include "platform/service_manager.h"
#include "platform/status.h"

namespace tervane::svc {

// Moves the registry folder (tests, trials); its presence also selects the built-in back end.
inline constexpr char kServiceDirVariable[] = "TERVANE_SERVICE_DIR";
// Set by the built-in manager for the program it starts: the name it runs under.
inline constexpr char kServiceNameVariable[] = "TERVANE_SERVICE_NAME";
inline constexpr char kDefaultServiceDir[] = "/var/lib/tervane/services";

// TERVANE_SERVICE_DIR when set and not empty, else the default folder.
std::string RegistryDir();

// NAME.service as text ("Key=Value" lines) and back. Parsing fails on a record without a
// program path; unknown keys are ignored so that later versions can add some.
std::string FormatRecord(const ServiceConfig& config);
std::optional<ServiceConfig> ParseRecord(const std::string& text);

struct ProcessId {
  pid_t pid = 0;
  unsigned long long start_time = 0;  // clock ticks after boot; 0 when unknown
};
std::string FormatPidFile(const ProcessId& id);
std::optional<ProcessId> ParsePidFile(const std::string& text);

struct StateReport {
  int state = 0;
  pid_t pid = 0;
};
std::string FormatStateReport(const StateReport& report);
std::optional<StateReport> ParseStateReport(const std::string& text);

// The run state letter (R, S, Z, ...) and start time of /proc/PID/stat's text.
struct ProcStat {
  char state = '?';
  unsigned long long start_time = 0;
};
std::optional<ProcStat> ParseProcStat(const std::string& text);
// The same for a live process; nothing when there is no process `pid`.
std::optional<ProcStat> ReadProcStat(pid_t pid);

// True while `id` names a live (not zombie) process, started at id.start_time when that is
// known, whose executable is `binary` when that can be read (it cannot for another user's
// process without privileges; the start time still tells processes apart).
bool IsLiveProcess(const ProcessId& id, const std::string& binary);

// The whole content of a file; errno on failure.
Result<std::string> ReadTextFile(const std::string& path);
// Replaces `path` with `text` through a temporary file in the same folder renamed over it.
// On failure `path` is unchanged and no temporary file is left.
Status WriteTextFileAtomic(const std::string& path, const std::string& text, int mode);

// An exclusive lock on a registry folder, released when the object goes.
class RegistryLock {
 public:
  // Takes the lock on `dir`/.lock, creating the folder (and its parents) and the lock file
  // when `create` is set. Waits while another process holds it. Fails (5 for EACCES) when
  // the lock file can be neither opened nor created; 1060 when the folder does not exist and
  // `create` is not set.
  static Result<RegistryLock> Take(const std::string& dir, bool create);

 private:
  explicit RegistryLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;  // closing it releases the lock
};

}  // namespace tervane::svc

#endif  // TERVANE_PLATFORM_SERVICE_RECORD_H_
