#include "admin/service_commands.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "admin/svc_common.h"
#include "platform/program_folder.h"
#include "platform/service_account.h"
#include "platform/service_manager.h"
#include "platform/service_wait.h"
#include "platform/systemd_services.h"

namespace tervane::svc {
namespace {

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

// The unit for the TervixSrv of the program folder, as the systemd install writes it.
int PrintUnit(const std::string& name, const std::string& folder) {
  if (!IsValidServiceName(name)) return Fail(ServiceError(kErrorInvalidName));
  Result<std::string> dir = ProgramFolderFor(folder);
  if (!dir.ok()) return Fail(dir.status());
  const std::string program = JoinPath(*dir == "/" ? "" : *dir, "TervixSrv");
  if (const char* problem = ProgramPathProblem(program); problem != nullptr) {
    return Fail(
        Status::Error(ErrnoCode(EINVAL), "systemd cannot start " + program + ": " + problem));
  }
  std::fputs(UnitText(program, *dir, name).c_str(), stdout);
  return 0;
}

uint32_t AccessFor(SvcCommand command) {
  switch (command) {
    case SvcCommand::kQuery:
      return kServiceQueryStatus;
    case SvcCommand::kConfig:
      return kServiceQueryConfig;
    case SvcCommand::kStart:
      return kServiceStart | kServiceQueryStatus;
    case SvcCommand::kStop:
      return kServiceStop | kServiceQueryStatus;
    default:
      return kServiceDelete;
  }
}

int PrintConfig(const ServiceManager& scm, const ServiceHandle& service) {
  Result<ServiceConfig> config = service.QueryConfig();
  if (!config.ok()) return Fail(config.status());
  std::printf("SERVICE_NAME: %s\n", service.name().c_str());
  std::printf("DISPLAY_NAME: %s\n", config->display_name.c_str());
  std::printf("BINARY_PATH_NAME: %s\n", config->binary_path.c_str());
  std::printf("WORKING_DIRECTORY: %s\n", config->working_directory.c_str());
  std::printf("START_TYPE: %d %s\n", config->start_type, StartTypeName(config->start_type));
  std::printf("MANAGER: %s\n", scm.Kind());
  return 0;
}

}  // namespace

int RunServiceCommand(const SvcCommandLine& line) {
  const std::string& name = line.name;
  if (line.command == SvcCommand::kUnit) return PrintUnit(name, line.folder);
  if (line.command == SvcCommand::kRule) {
    if (!IsValidServiceName(name)) return Fail(ServiceError(kErrorInvalidName));
    std::fputs(PolkitRuleText(name + ".service", kServiceAccount).c_str(), stdout);
    return 0;
  }
  Result<ServiceManager> scm = ServiceManager::Open(kScManagerConnect);
  if (!scm.ok()) return Fail(scm.status());
  Result<ServiceHandle> service = scm->OpenService(name, AccessFor(line.command));
  if (!service.ok()) return Fail(service.status());

  switch (line.command) {
    case SvcCommand::kQuery:
      return PrintState(*service);
    case SvcCommand::kConfig:
      return PrintConfig(*scm, *service);
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

}  // namespace tervane::svc
