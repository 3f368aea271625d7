#include "config/service_control.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/child_process.h"
#include "platform/program_folder.h"
#include "platform/sys_error.h"

namespace tervane::config {
namespace {

// TervixSrv's exit status when another copy of it runs in the program folder.
constexpr int kExitAlreadyRunning = 3;

}  // namespace

std::optional<int> InstallErrorNumber(const std::string& err) {
  static constexpr std::string_view kEvent = "Tervane: error 106: [";
  size_t line = 0;
  while (line < err.size()) {
    const size_t end = std::min(err.find('\n', line), err.size());
    const std::string_view text(err.data() + line, end - line);
    if (text.substr(0, kEvent.size()) == kEvent) {
      const std::string number(text.substr(kEvent.size()));
      char* stop = nullptr;
      errno = 0;
      const long n = std::strtol(number.c_str(), &stop, 10);
      if (stop != number.c_str() && *stop == ']' && errno == 0 && n >= INT32_MIN &&
          n <= INT32_MAX) {
        return static_cast<int>(n);
      }
    }
    line = end + 1;
  }
  return std::nullopt;
}

int ServiceControl::ResultOf(const Status& status) {
  if (status.ok()) return 0;
  last_failure_ = status;
  return status.code();
}

void ServiceControl::Step(int progress) {
  steps_.WaitWithEvents(kStepMs);
  steps_.SetProgress(progress);
}

int ServiceControl::CheckServiceConfig() {
  Result<svc::ServiceManager> scm = open_(svc::kScManagerConnect);
  Step(2);
  int result = 0;
  if (!scm.ok()) {
    result = ResultOf(scm.status());
  } else if (Result<svc::ServiceHandle> service =
                 scm->OpenService(svc::kServiceName, svc::kServiceQueryConfig);
             !service.ok()) {
    result = ResultOf(service.status());
  } else {
    // Only whether it can be read counts; what it says is not used.
    result = ResultOf(service->QueryConfig().status());
  }
  Step(3);
  return result;
}

int ServiceControl::GetServiceState() {
  Result<svc::ServiceManager> scm = open_(svc::kScManagerConnect);
  Step(4);
  int state = 0;
  if (scm.ok()) {
    Result<svc::ServiceHandle> service =
        scm->OpenService(svc::kServiceName, svc::kServiceQueryStatus);
    if (service.ok()) {
      Result<int> queried = service->QueryStatus();
      if (queried.ok()) state = *queried;
    }
  }
  Step(5);
  return state;
}

int ServiceControl::QueryState() {
  Result<svc::ServiceManager> scm = open_(svc::kScManagerConnect);
  if (!scm.ok()) return 0;
  Result<svc::ServiceHandle> service =
      scm->OpenService(svc::kServiceName, svc::kServiceQueryStatus);
  if (!service.ok()) return 0;
  Result<int> state = service->QueryStatus();
  return state.ok() ? *state : 0;
}

int ServiceControl::ChangeService(uint32_t access,
                                  const std::function<Status(const svc::ServiceHandle&)>& call) {
  Result<svc::ServiceManager> scm = open_(svc::kScManagerConnect);
  Step(1);
  int result = 0;
  if (!scm.ok()) {
    result = ResultOf(scm.status());
  } else {
    Result<svc::ServiceHandle> service = scm->OpenService(svc::kServiceName, access);
    Step(2);
    result = service.ok() ? ResultOf(call(*service)) : ResultOf(service.status());
    Step(3);
  }
  Step(4);
  return result;
}

int ServiceControl::RemoveService() {
  return ChangeService(svc::kServiceAllAccess, [](const svc::ServiceHandle& service) {
    // A stopped service refuses the stop control; the delete is what counts.
    (void)service.Stop();
    return service.Delete();
  });
}

int ServiceControl::RequestServiceStart() {
  return ChangeService(svc::kServiceStart,
                       [](const svc::ServiceHandle& service) { return service.Start(); });
}

int ServiceControl::RequestServiceStop() {
  return ChangeService(svc::kServiceStop,
                       [](const svc::ServiceHandle& service) { return service.Stop(); });
}

InstallOutcome ServiceControl::InstallService(const std::string& folder) {
  InstallOutcome outcome;
  Result<ChildProcess> child =
      ChildProcess::Start({JoinPath(folder, "TervixSrv"), "-install_noMsg"}, folder);
  if (!child.ok()) {
    const int err = child.status().code();
    outcome.problem = err == ENOENT
                          ? "TervixSrv is missing from the program folder; the "
                            "service was not installed."
                          : "TervixSrv could not be run (" + SysError(err, "").description() +
                                "); the service was not installed.";
    return outcome;
  }
  // Bounded twice: by the clock, and by the number of waits for a wait that returns early.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(install_timeout_ms_);
  const int max_waits = install_timeout_ms_ / 20;
  for (int waits = 0; !child->Poll(); ++waits) {
    if (waits >= max_waits || std::chrono::steady_clock::now() >= deadline) {
      child->Kill();
      outcome.problem = "TervixSrv did not finish within " +
                        std::to_string(install_timeout_ms_ / 1000) +
                        " seconds and was ended; the service may not be installed.";
      return outcome;
    }
    steps_.WaitWithEvents(20);
  }
  const int code = child->exit_code().value_or(-1);
  if (code == 0) {
    outcome.error = CheckServiceConfig();
    return outcome;
  }
  if (std::optional<int> number = InstallErrorNumber(child->err()); number && *number != 0) {
    outcome.error = *number;
  } else if (code == kExitAlreadyRunning) {
    outcome.problem =
        "TervixSrv is already running in the program folder; the service was not installed.";
  } else if (code > 128) {
    outcome.problem = "TervixSrv was ended by signal " + std::to_string(code - 128) +
                      "; the service was not installed.";
  } else {
    outcome.problem = "TervixSrv ended with exit status " + std::to_string(code) +
                      "; the service was not installed.";
  }
  return outcome;
}

}  // namespace tervane::config
