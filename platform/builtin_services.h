// The built-in service manager, for machines without systemd: a registry folder with one
// record per service (see service_record.h for its files).
//
// Start spawns the registered program detached, without arguments, in its folder, with its
// output appended to NAME.log, and passes it TERVANE_SERVICE_NAME and TERVANE_SERVICE_DIR so
// that the running program can report its state into NAME.state (ReportBuiltinState). The
// state is read from the process's liveness and that report: start pending until the
// program reports running, stop pending from its stop request until the process has ended,
// stopped once it has ended (however it ended: a process killed with SIGKILL leaves a stale
// NAME.pid that reads as stopped and is cleared). Stop sends SIGTERM.
//
// Delete of a running service only marks it (NAME.delete); whoever next sees it stopped
// (the program itself at its end, or any later call) removes the record. NAME.log stays.
#ifndef TERVANE_PLATFORM_BUILTIN_SERVICES_H_
#define TERVANE_PLATFORM_BUILTIN_SERVICES_H_

#include <sys/types.h>

#include <string>

#include "platform/service_manager.h"
#include "platform/service_record.h"

namespace tervane::svc {

class BuiltinServices : public ServiceBackEnd {
 public:
  explicit BuiltinServices(std::string dir) : dir_(std::move(dir)) {}

  const char* Kind() const override { return "built-in"; }
  Status Exists(const std::string& name) override;
  Status Install(const std::string& name, const std::string& program,
                 const std::string& display_name) override;
  Result<ServiceConfig> QueryConfig(const std::string& name) override;
  Result<int> QueryState(const std::string& name) override;
  Status Start(const std::string& name) override;
  Status Stop(const std::string& name) override;
  Status Delete(const std::string& name) override;

  const std::string& dir() const { return dir_; }
  // dir/NAME + suffix (".service", ".pid", ".state", ".delete", ".log").
  std::string FilePath(const std::string& name, const char* suffix) const;

 private:
  struct Observed {
    bool exists = false;  // false once a stopped, marked service has been removed
    bool marked = false;
    int state = kServiceStopped;
    ProcessId process;
  };
  // With the registry locked: the record of `name` (1060 when missing).
  Result<ServiceConfig> ReadRecord(const std::string& name) const;
  // With the registry locked: what `name` is doing now. Clears what a stopped service left
  // behind, and removes a stopped service that is marked for delete.
  Observed Observe(const std::string& name, const ServiceConfig& config);

  // A service as the operations that need it running or stopped see it: the registry lock,
  // held for as long as this lives, the record and what the service is doing.
  struct Looked {
    RegistryLock lock;
    ServiceConfig config;
    Observed seen;
  };
  // Checks the name, takes the lock and observes the service; fails as ReadRecord does.
  Result<Looked> Look(const std::string& name);

  std::string dir_;
};

// The running program's side: records `state` (1 to 7) as the state of the process `pid`,
// the one the manager started as service `name` in the registry `dir`. When it reports
// kServiceStopped and the service is marked for delete, removes the service. Does nothing
// (and succeeds) when NAME.pid names another process, so that a copy started by hand with
// these variables set cannot speak for the service. Fails with errno when the files cannot
// be written; the state then reads as start pending while the process lives.
Status ReportBuiltinState(const std::string& dir, const std::string& name, int state, pid_t pid);

}  // namespace tervane::svc

#endif  // TERVANE_PLATFORM_BUILTIN_SERVICES_H_
