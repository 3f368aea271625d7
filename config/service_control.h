// modServiceControl: what the "Service Control" page asks of the service manager for the
// service "Tervane", in the shape of the Windows service control manager's calls (open the
// manager, open the service with an access right, make the call, close both), and the launch
// of TervixSrv -install_noMsg that installs it.
//
// The operations move the page's progress bar at fixed steps and wait 200 ms with the
// window's events before each move, so that the window stays painted and answers its user
// while the service manager works. Their results are the service manager's error numbers
// (the Windows numbers of platform/service_manager.h, or errno values where there is none),
// 0 for success.
#ifndef TERVANE_CONFIG_SERVICE_CONTROL_H_
#define TERVANE_CONFIG_SERVICE_CONTROL_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/service_manager.h"
#include "platform/status.h"

namespace tervane::config {

// What the operations do between their steps; the page implements it.
class ServiceSteps {
 public:
  virtual ~ServiceSteps() = default;
  // Waits `ms` milliseconds in 20 ms steps, letting the window handle its events after each.
  virtual void WaitWithEvents(int ms) = 0;
  // Sets the progress bar pgbInfo (0 to 6).
  virtual void SetProgress(int value) = 0;
};

// Opens the service manager with an access right: svc::ServiceManager::Open, or a manager on
// another back end.
using OpenManager = std::function<Result<svc::ServiceManager>(uint32_t access)>;

// What installing came to.
struct InstallOutcome {
  // 0 once installed. Else the number of the error event that TervixSrv printed, or the
  // query's error when TervixSrv reported success but the service cannot be found.
  int error = 0;
  // What went wrong when there is no number to tell: TervixSrv missing or not executable,
  // not ending in time, ending without an error event, or refusing because a copy already
  // runs in the program folder.
  std::string problem;
  bool ok() const { return error == 0 && problem.empty(); }
};

// The number in brackets of the first error event 106 on TervixSrv's standard error
// ("Tervane: error 106: [1073] The specified service already exists. ..."); nothing when
// there is none.
std::optional<int> InstallErrorNumber(const std::string& err);

class ServiceControl {
 public:
  static constexpr int kStepMs = 200;
  // How long TervixSrv -install_noMsg may take.
  static constexpr int kInstallTimeoutMs = 10000;

  ServiceControl(OpenManager open, ServiceSteps& steps) : open_(std::move(open)), steps_(steps) {}

  // 0 when the service's configuration can be read: it is installed. Progress 2, 3.
  int CheckServiceConfig();
  // The service's state, 1 to 7; 0 when any step failed. Progress 4, 5.
  int GetServiceState();
  // Sends the stop control (its result ignored), then deletes the service; a service that
  // still runs goes once it has stopped. Progress 1 to 4.
  int RemoveService();
  // Asks the manager to start the service; returns once the manager has taken the request.
  // Progress 1 to 4.
  int RequestServiceStart();
  // Sends the stop control; returns without waiting for the service to end. Progress 1 to 4.
  int RequestServiceStop();

  // The state now, without pauses or progress; 0 when it cannot be read.
  int QueryState();

  // The failure of the last call that failed, with the manager's words: the number alone says
  // nothing of a failure without a Windows number ("Tervane.service is installed by the package
  // tervane ..."). Ok before any call failed.
  const Status& last_failure() const { return last_failure_; }

  // Runs TervixSrv of `folder` with "-install_noMsg" in `folder`, waits for it to end (at
  // most install_timeout_ms, with the window's events) and collects its standard error; then
  // asks CheckServiceConfig whether the service is there now. A TervixSrv that does not end
  // in time is killed; it is always reaped.
  InstallOutcome InstallService(const std::string& folder);

  void set_install_timeout_ms(int ms) { install_timeout_ms_ = ms; }

 private:
  // The step before every move of the progress bar: WaitWithEvents(200), then the value.
  void Step(int progress);
  // The pattern of the operations that change the service: open the manager (step 1), the
  // service with `access` (step 2), make `call` on it, close (step 3), return (step 4).
  int ChangeService(uint32_t access, const std::function<Status(const svc::ServiceHandle&)>& call);
  // The result number of `status` (0 for success); a failure is kept as last_failure().
  int ResultOf(const Status& status);

  OpenManager open_;
  ServiceSteps& steps_;
  int install_timeout_ms_ = kInstallTimeoutMs;
  Status last_failure_;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_SERVICE_CONTROL_H_
