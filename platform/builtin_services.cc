#include "platform/builtin_services.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/detached_spawn.h"

namespace tervane::svc {
namespace {

bool FileExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Removes every file of `name` but its log; the registry must be locked.
void RemoveServiceFiles(const std::string& dir, const std::string& name) {
  const std::string base = dir + "/" + name;
  for (const char* suffix : {".service", ".pid", ".state", ".delete"}) {
    unlink((base + suffix).c_str());
  }
}

Status CheckName(const std::string& name) {
  return IsValidServiceName(name) ? Status::Ok() : ServiceError(kErrorInvalidName);
}

}  // namespace

std::string BuiltinServices::FilePath(const std::string& name, const char* suffix) const {
  return dir_ + "/" + name + suffix;
}

Result<ServiceConfig> BuiltinServices::ReadRecord(const std::string& name) const {
  Result<std::string> text = ReadTextFile(FilePath(name, ".service"));
  if (!text.ok()) {
    if (text.status().error() == ErrnoCode(ENOENT)) return ServiceError(kErrorServiceDoesNotExist);
    return text.status();
  }
  std::optional<ServiceConfig> config = ParseRecord(*text);
  if (!config)
    return Status::Error(ErrnoCode(EINVAL), FilePath(name, ".service") + ": damaged record");
  return *config;
}

BuiltinServices::Observed BuiltinServices::Observe(const std::string& name,
                                                   const ServiceConfig& config) {
  Observed seen;
  seen.exists = true;
  seen.marked = FileExists(FilePath(name, ".delete"));
  Result<std::string> pid_text = ReadTextFile(FilePath(name, ".pid"));
  std::optional<ProcessId> id = pid_text.ok() ? ParsePidFile(*pid_text) : std::nullopt;
  if (id && IsLiveProcess(*id, config.binary_path)) {
    seen.process = *id;
    Result<std::string> state_text = ReadTextFile(FilePath(name, ".state"));
    std::optional<StateReport> report =
        state_text.ok() ? ParseStateReport(*state_text) : std::nullopt;
    if (!report || report->pid != id->pid) {
      seen.state = kServiceStartPending;  // not reported yet
    } else if (report->state == kServiceStopped) {
      seen.state = kServiceStopPending;  // reported its end, but has not ended yet
    } else {
      seen.state = report->state;
    }
    return seen;
  }
  // Stopped, however it ended. Failures to clear are harmless: the stale files read as
  // stopped again next time (a reader may lack write access to the registry).
  unlink(FilePath(name, ".pid").c_str());
  unlink(FilePath(name, ".state").c_str());
  if (seen.marked) {
    RemoveServiceFiles(dir_, name);
    seen.exists = false;
  }
  return seen;
}

Status BuiltinServices::Exists(const std::string& name) {
  Result<Looked> looked = Look(name);
  if (!looked.ok()) return looked.status();
  if (!looked->seen.exists) return ServiceError(kErrorServiceDoesNotExist);
  return Status::Ok();
}

Result<BuiltinServices::Looked> BuiltinServices::Look(const std::string& name) {
  if (Status s = CheckName(name); !s.ok()) return s;
  Result<RegistryLock> lock = RegistryLock::Take(dir_, false);
  if (!lock.ok()) return lock.status();
  Result<ServiceConfig> config = ReadRecord(name);
  if (!config.ok()) return config.status();
  Observed seen = Observe(name, *config);
  return Looked{std::move(lock).value(), std::move(config).value(), seen};
}

Status BuiltinServices::Install(const std::string& name, const std::string& program,
                                const std::string& display_name) {
  if (Status s = CheckName(name); !s.ok()) return s;
  if (program.empty() || program[0] != '/') {
    return Status::Error(ErrnoCode(EINVAL), "the program path must be absolute: " + program);
  }
  Result<RegistryLock> lock = RegistryLock::Take(dir_, true);
  if (!lock.ok()) return lock.status();
  Result<ServiceConfig> existing = ReadRecord(name);
  if (existing.ok()) {
    const Observed seen = Observe(name, *existing);
    if (seen.exists) {
      return ServiceError(seen.marked ? kErrorServiceMarkedForDelete : kErrorServiceExists);
    }
    // It was marked for delete and has stopped, so it is gone now and the name is free.
  } else if (existing.status().error() != kErrorServiceDoesNotExist) {
    return existing.status();
  }
  ServiceConfig config;
  config.binary_path = program;
  config.working_directory = std::filesystem::path(program).parent_path().string();
  config.display_name = display_name;
  config.start_type = kStartDemand;
  return WriteTextFileAtomic(FilePath(name, ".service"), FormatRecord(config), 0644);
}

Result<ServiceConfig> BuiltinServices::QueryConfig(const std::string& name) {
  if (Status s = CheckName(name); !s.ok()) return s;
  Result<RegistryLock> lock = RegistryLock::Take(dir_, false);
  if (!lock.ok()) return lock.status();
  return ReadRecord(name);
}

Result<int> BuiltinServices::QueryState(const std::string& name) {
  Result<Looked> looked = Look(name);
  if (!looked.ok()) return looked.status();
  // A service removed by this very look was there until now, and stopped.
  return looked->seen.state;
}

Status BuiltinServices::Start(const std::string& name) {
  Result<Looked> looked = Look(name);
  if (!looked.ok()) return looked.status();
  const Observed& seen = looked->seen;
  const ServiceConfig& config = looked->config;
  if (!seen.exists) return ServiceError(kErrorServiceDoesNotExist);
  if (seen.marked) return ServiceError(kErrorServiceMarkedForDelete);
  if (seen.state != kServiceStopped) return ServiceError(kErrorServiceAlreadyRunning);

  SpawnRequest request;
  request.program = config.binary_path;
  request.working_directory = config.working_directory;
  request.log_path = FilePath(name, ".log");
  request.environment = {std::string(kServiceNameVariable) + "=" + name,
                         std::string(kServiceDirVariable) + "=" + dir_};
  Result<ProcessId> started = SpawnDetached(request);
  if (!started.ok()) return started.status();
  if (started->start_time == 0) return Status::Ok();  // ended at once: reads as stopped
  // The program's first report waits for the lock held here, so NAME.pid is always there
  // before it.
  Status written = WriteTextFileAtomic(FilePath(name, ".pid"), FormatPidFile(*started), 0644);
  if (!written.ok()) {
    kill(started->pid, SIGKILL);  // a service nobody could find again must not run
    return written;
  }
  return Status::Ok();
}

Status BuiltinServices::Stop(const std::string& name) {
  Result<Looked> looked = Look(name);
  if (!looked.ok()) return looked.status();
  const Observed& seen = looked->seen;
  if (!seen.exists || seen.state == kServiceStopped) return ServiceError(kErrorServiceNotActive);
  if (kill(seen.process.pid, SIGTERM) != 0) {
    if (errno == ESRCH) return ServiceError(kErrorServiceNotActive);
    return ServiceErrno(errno, "kill " + std::to_string(seen.process.pid));
  }
  // The stop request is on its way: report stop pending at once, as a Windows service does
  // before its control call returns, instead of "running" until the program gets to it.
  // A service still starting reports for itself and handles the stop after its start.
  if (seen.state == kServiceRunning) {
    (void)WriteTextFileAtomic(FilePath(name, ".state"),
                              FormatStateReport({kServiceStopPending, seen.process.pid}), 0644);
  }
  return Status::Ok();
}

Status BuiltinServices::Delete(const std::string& name) {
  Result<Looked> looked = Look(name);
  if (!looked.ok()) return looked.status();
  const Observed& seen = looked->seen;
  if (!seen.exists) return ServiceError(kErrorServiceDoesNotExist);
  if (seen.marked) return ServiceError(kErrorServiceMarkedForDelete);
  if (seen.state == kServiceStopped) {
    // Removing the record is the deletion; check that it really went.
    if (unlink(FilePath(name, ".service").c_str()) != 0 && errno != ENOENT) {
      return ServiceErrno(errno, FilePath(name, ".service"));
    }
    RemoveServiceFiles(dir_, name);
    return Status::Ok();
  }
  return WriteTextFileAtomic(FilePath(name, ".delete"), "marked for delete\n", 0644);
}

Status ReportBuiltinState(const std::string& dir, const std::string& name, int state, pid_t pid) {
  if (!IsValidServiceName(name)) return ServiceError(kErrorInvalidName);
  Result<RegistryLock> lock = RegistryLock::Take(dir, false);
  if (!lock.ok()) return lock.status();
  BuiltinServices services(dir);
  Result<std::string> pid_text = ReadTextFile(services.FilePath(name, ".pid"));
  std::optional<ProcessId> id = pid_text.ok() ? ParsePidFile(*pid_text) : std::nullopt;
  if (!id || id->pid != pid) return Status::Ok();
  if (state == kServiceStopped && FileExists(services.FilePath(name, ".delete"))) {
    RemoveServiceFiles(dir, name);
    return Status::Ok();
  }
  return WriteTextFileAtomic(services.FilePath(name, ".state"), FormatStateReport({state, pid}),
                             0644);
}

}  // namespace tervane::svc
