// tervane-svc: drives the service manager from a shell, in the manner of Windows' sc.
//
//   tervane-svc query  [NAME]   prints the state:            "Tervane: RUNNING (4)"
//   tervane-svc config [NAME]   prints the registration:     program, folder, start type
//   tervane-svc start  [NAME]   starts it, prints the state: "Tervane: START_PENDING (2)"
//   tervane-svc stop   [NAME]   asks it to stop (SIGTERM), prints the state
//   tervane-svc delete [NAME]   removes it, or marks it for delete while it runs
//   tervane-svc unit   [NAME]   prints the systemd unit that TervixSrv -install would write
//                               for the TervixSrv beside this program, for review
//
// NAME defaults to "Tervane". It uses the same back end as TervixSrv and the window: systemd
// when it is the running init, else the built-in registry (TERVANE_SERVICE_DIR moves it and
// selects it). A failure prints "error <number>: <text>" on standard error.
// Exit status: 0 on success, 1 on failure, 2 on a usage error.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/program_folder.h"
#include "platform/service_manager.h"
#include "platform/systemd_services.h"

namespace tervane::svc {
namespace {

int Fail(const Status& status) {
  std::fprintf(stderr, "error %d: %s\n", status.code(), status.description().c_str());
  return 1;
}

int Usage() {
  std::fputs("usage: tervane-svc query|config|start|stop|delete|unit [NAME]\n", stderr);
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

// Prints "NAME: STATE (n)" as the service reads now.
int PrintState(const ServiceHandle& service) {
  Result<int> state = service.QueryStatus();
  if (!state.ok()) return Fail(state.status());
  std::printf("%s: %s (%d)\n", service.name().c_str(), StateName(*state), *state);
  return 0;
}

// The unit for the TervixSrv in this program's folder, as the systemd install writes it.
int PrintUnit(const std::string& name) {
  if (!IsValidServiceName(name)) return Fail(ServiceError(kErrorInvalidName));
  Result<std::string> self = ExecutablePath();
  if (!self.ok()) return Fail(self.status());
  const std::string folder = self->substr(0, std::max<size_t>(self->rfind('/'), 1));
  std::fputs(UnitText(JoinPath(folder, "TervixSrv"), folder, name).c_str(), stdout);
  return 0;
}

int Run(const std::string& command, const std::string& name) {
  if (command == "unit") return PrintUnit(name);
  uint32_t access = 0;
  if (command == "query") {
    access = kServiceQueryStatus;
  } else if (command == "config") {
    access = kServiceQueryConfig;
  } else if (command == "start") {
    access = kServiceStart | kServiceQueryStatus;
  } else if (command == "stop") {
    access = kServiceStop | kServiceQueryStatus;
  } else if (command == "delete") {
    access = kServiceDelete;
  } else {
    return Usage();
  }
  Result<ServiceManager> scm = ServiceManager::Open(kScManagerConnect);
  if (!scm.ok()) return Fail(scm.status());
  Result<ServiceHandle> service = scm->OpenService(name, access);
  if (!service.ok()) return Fail(service.status());

  if (command == "query") return PrintState(*service);
  if (command == "config") {
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
  if (command == "start") {
    if (Status s = service->Start(); !s.ok()) return Fail(s);
    return PrintState(*service);
  }
  if (command == "stop") {
    if (Status s = service->Stop(); !s.ok()) return Fail(s);
    return PrintState(*service);
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
  if (argc < 2 || argc > 3) return tervane::svc::Usage();
  return tervane::svc::Run(argv[1], argc == 3 ? argv[2] : tervane::svc::kServiceName);
}
