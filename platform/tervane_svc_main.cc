// tervane-svc: drives the service manager from a shell, in the manner of Windows' sc.
//
//   tervane-svc query  [NAME]           prints the state:         "Tervane: RUNNING (4)"
//   tervane-svc config [NAME]           prints the registration:  program, folder, start type
//   tervane-svc start  [--wait] [NAME]  starts it, prints the state: "Tervane: START_PENDING (2)"
//   tervane-svc stop   [--wait] [NAME]  asks it to stop (SIGTERM), prints the state
//   tervane-svc delete [NAME]           removes it, or marks it for delete while it runs
//   tervane-svc unit [--folder DIR] [NAME]
//                                       prints the systemd unit that TervixSrv -install would
//                                       write for the TervixSrv beside this program (or for
//                                       DIR/TervixSrv), for review and for packaging
//   tervane-svc rule [NAME]             prints the polkit rule that TervixSrv -install writes
//   tervane-svc --help                  prints the usage on standard output
//
// With --wait, start and stop wait up to 30 s for the state to settle (running, stopped)
// before printing it; see service_wait.h. NAME defaults to "Tervane". It uses the same back
// end as TervixSrv and the window: systemd when it is the running init, else the built-in
// registry (TERVANE_SERVICE_DIR moves it and selects it). A failure prints
// "error <number>: <text>" on standard error, a usage error the usage.
// Exit status: 0 on success, 1 on failure, 2 on a usage error.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/program_folder.h"
#include "platform/service_account.h"
#include "platform/service_manager.h"
#include "platform/service_wait.h"
#include "platform/svc_command_line.h"
#include "platform/systemd_services.h"

namespace tervane::svc {
namespace {

int Fail(const Status& status) {
  std::fprintf(stderr, "error %d: %s\n", status.code(), status.description().c_str());
  return 1;
}

int Usage() {
  std::fputs(kSvcUsage, stderr);
  return 2;
}

const char* StartTypeName(int type) {
  switch (type) {
    case kStartAuto:
      return "AUTO_START";
    case kStartDemand:
      return "DEMAND_START";
    case kStartDisabled:
      return "DISABLED";
    default:
      return "UNKNOWN";
  }
}

void PrintStateLine(const std::string& name, int state) {
  std::printf("%s: %s (%d)\n", name.c_str(), StateName(state), state);
}

// Prints "NAME: STATE (n)" as the service reads now.
int PrintState(const ServiceHandle& service) {
  Result<int> state = service.QueryStatus();
  if (!state.ok()) return Fail(state.status());
  PrintStateLine(service.name(), *state);
  return 0;
}

// After a start or stop control: waits until the service reads `want`, then prints the state
// it read last, not a state read anew (a service marked for delete is gone once it has
// stopped), and the reason when it did not get there.
int WaitAndPrintState(const ServiceHandle& service, int want) {
  const Settled settled =
      WaitForState([&service] { return service.QueryStatus(); }, want,
                   [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); });
  if (settled.state != 0) PrintStateLine(service.name(), settled.state);
  return settled.status.ok() ? 0 : Fail(settled.status);
}

// The unit for the TervixSrv in `folder` (made absolute with the current directory), or in
// this program's folder when `folder` is empty, as the systemd install writes it.
int PrintUnit(const std::string& name, const std::string& folder) {
  if (!IsValidServiceName(name)) return Fail(ServiceError(kErrorInvalidName));
  std::string dir;
  if (folder.empty()) {
    Result<std::string> self = ExecutablePath();
    if (!self.ok()) return Fail(self.status());
    dir = self->substr(0, std::max<size_t>(self->rfind('/'), 1));
  } else {
    std::error_code ec;
    dir = std::filesystem::absolute(folder, ec).lexically_normal().string();
    if (ec) return Fail(Status::Error(ErrnoCode(ec.value()), folder + ": " + ec.message()));
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  }
  const std::string program = JoinPath(dir == "/" ? "" : dir, "TervixSrv");
  if (const char* problem = ProgramPathProblem(program); problem != nullptr) {
    return Fail(
        Status::Error(ErrnoCode(EINVAL), "systemd cannot start " + program + ": " + problem));
  }
  std::fputs(UnitText(program, dir, name).c_str(), stdout);
  return 0;
}

int Run(const SvcCommandLine& line) {
  const std::string& name = line.name;
  if (line.command == SvcCommand::kHelp) {
    std::fputs(kSvcUsage, stdout);
    return 0;
  }
  if (line.command == SvcCommand::kUnit) return PrintUnit(name, line.folder);
  if (line.command == SvcCommand::kRule) {
    if (!IsValidServiceName(name)) return Fail(ServiceError(kErrorInvalidName));
    std::fputs(PolkitRuleText(name + ".service", kServiceAccount).c_str(), stdout);
    return 0;
  }
  uint32_t access = 0;
  switch (line.command) {
    case SvcCommand::kQuery:
      access = kServiceQueryStatus;
      break;
    case SvcCommand::kConfig:
      access = kServiceQueryConfig;
      break;
    case SvcCommand::kStart:
      access = kServiceStart | kServiceQueryStatus;
      break;
    case SvcCommand::kStop:
      access = kServiceStop | kServiceQueryStatus;
      break;
    default:
      access = kServiceDelete;
      break;
  }
  Result<ServiceManager> scm = ServiceManager::Open(kScManagerConnect);
  if (!scm.ok()) return Fail(scm.status());
  Result<ServiceHandle> service = scm->OpenService(name, access);
  if (!service.ok()) return Fail(service.status());

  switch (line.command) {
    case SvcCommand::kQuery:
      return PrintState(*service);
    case SvcCommand::kConfig: {
      Result<ServiceConfig> config = service->QueryConfig();
      if (!config.ok()) return Fail(config.status());
      std::printf("SERVICE_NAME: %s\n", name.c_str());
      std::printf("DISPLAY_NAME: %s\n", config->display_name.c_str());
      std::printf("BINARY_PATH_NAME: %s\n", config->binary_path.c_str());
      std::printf("WORKING_DIRECTORY: %s\n", config->working_directory.c_str());
      std::printf("START_TYPE: %d %s\n", config->start_type, StartTypeName(config->start_type));
      std::printf("MANAGER: %s\n", scm->Kind());
      return 0;
    }
    case SvcCommand::kStart:
      if (Status s = service->Start(); !s.ok()) return Fail(s);
      return line.wait ? WaitAndPrintState(*service, kServiceRunning) : PrintState(*service);
    case SvcCommand::kStop:
      if (Status s = service->Stop(); !s.ok()) return Fail(s);
      return line.wait ? WaitAndPrintState(*service, kServiceStopped) : PrintState(*service);
    default:
      break;
  }
  if (Status s = service->Delete(); !s.ok()) return Fail(s);
  // Still there: it runs, and goes once it has stopped.
  Result<ServiceHandle> again = scm->OpenService(name, kServiceQueryStatus);
  std::printf("%s: %s\n", name.c_str(), again.ok() ? "MARKED_FOR_DELETE" : "DELETED");
  return 0;
}

}  // namespace
}  // namespace tervane::svc

int main(int argc, char** argv) {
  std::optional<tervane::svc::SvcCommandLine> line =
      tervane::svc::ParseSvcCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!line) return tervane::svc::Usage();
  return tervane::svc::Run(*line);
}
