#include "config/service_page.h"

#include <chrono>
#include <thread>

namespace tervane::config {
namespace {

constexpr char kInstallCaption[] = "Install Service";
constexpr char kUninstallCaption[] = "Uninstall Service";
constexpr char kStartCaption[] = "Start Service";
constexpr char kStopCaption[] = "Stop Service";

// "Error [n]  when <what> the service.": two blanks after the bracket.
std::string ErrorText(int number, const char* what) {
  return "Error [" + std::to_string(number) + "]  when " + what + " the service.";
}

// ErrorText for the failure of a call, followed by the manager's words when its number is
// not one of the Windows numbers, whose meaning the number tells.
std::string ErrorText(int number, const char* what, const Status& failure) {
  std::string text = ErrorText(number, what);
  if (failure.error().domain != ErrorDomain::kWindows && !failure.description().empty()) {
    text += " " + failure.description();
  }
  return text;
}

}  // namespace

ServicePage::ServicePage(std::string folder, OpenManager open)
    : folder_(std::move(folder)), control_(std::move(open), *this) {}

void ServicePage::WaitWithEvents(int ms) {
  if (wait_) {
    wait_(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20 * 20));
}

void ServicePage::PageSelected() {
  view_.pgbInfo = 0;
  RefreshServiceStatus();
}

void ServicePage::RefreshServiceStatus() {
  if (busy_) return;
  busy_ = true;
  view_.tab1_enabled = false;
  WaitWithEvents(ServiceControl::kStepMs);
  view_.pgbInfo = 1;
  view_.lblInfo = "Checking service status...";

  const int config = control_.CheckServiceConfig();
  int state = 0;
  if (config == 0) {
    view_.cmdInstall = kUninstallCaption;
    state = control_.GetServiceState();
  }
  WaitWithEvents(ServiceControl::kStepMs);
  view_.pgbInfo = 6;

  if (config == svc::kErrorServiceDoesNotExist.number) {
    view_.lblInfo = "The service is not installed.";
    view_.cmdInstall = kInstallCaption;
    view_.cmdInstall_enabled = true;
    view_.cmdStart_enabled = false;
  } else if (config != 0) {
    // It may well exist: access denied, a manager that does not answer. Offering to install
    // it again would only fail, and offering to start it would hide why.
    view_.lblInfo = ErrorText(config, "query");
    view_.cmdInstall_enabled = false;
    view_.cmdStart_enabled = false;
  } else if (state == svc::kServiceStopped) {
    view_.lblInfo = "The service is stopped.";
    view_.cmdInstall_enabled = true;
    view_.cmdStart = kStartCaption;
    view_.cmdStart_enabled = true;
  } else if (state == svc::kServiceRunning) {
    // It must be stopped before it can be removed.
    view_.lblInfo = "The service is started.";
    view_.cmdInstall_enabled = false;
    view_.cmdStart = kStopCaption;
    view_.cmdStart_enabled = true;
  } else {
    // Pending, paused, or the state could not be read: nothing to offer until it settles.
    view_.lblInfo = "The service is installed. Status unknown.";
    view_.cmdInstall_enabled = false;
    view_.cmdStart_enabled = false;
  }
  view_.tab1_enabled = true;
  busy_ = false;
}

void ServicePage::BeginAction() {
  busy_ = true;
  view_.cmdInstall_enabled = false;
  view_.cmdStart_enabled = false;
  view_.tab1_enabled = false;
  WaitWithEvents(ServiceControl::kStepMs);
  view_.pgbInfo = 0;
}

void ServicePage::EndAction() {
  view_.tab1_enabled = true;
  busy_ = false;
}

void ServicePage::cmdInstall_Click() {
  if (busy_ || !view_.cmdInstall_enabled || !view_.tab1_enabled) return;
  BeginAction();
  if (view_.cmdInstall == kUninstallCaption) {
    Uninstall();
  } else if (view_.cmdInstall == kInstallCaption) {
    Install();
  }
  EndAction();
}

void ServicePage::cmdStart_Click() {
  if (busy_ || !view_.cmdStart_enabled || !view_.tab1_enabled) return;
  BeginAction();
  if (view_.cmdStart == kStopCaption) {
    Stop();
  } else if (view_.cmdStart == kStartCaption) {
    Start();
  }
  EndAction();
}

void ServicePage::Uninstall() {
  view_.lblInfo = "Attempting to uninstall the service...";
  const int result = control_.RemoveService();
  WaitWithEvents(ServiceControl::kStepMs);
  view_.pgbInfo = 6;
  if (result == 0) {
    view_.lblInfo = "The service is uninstalled.";
    view_.cmdInstall = kInstallCaption;
    view_.cmdInstall_enabled = true;
    view_.cmdStart_enabled = false;
  } else {
    view_.lblInfo = ErrorText(result, "uninstall", control_.last_failure());
    view_.cmdInstall_enabled = true;
    view_.cmdStart_enabled = true;
  }
}

void ServicePage::Install() {
  view_.lblInfo = "Attempting to install the service...";
  const InstallOutcome outcome = control_.InstallService(folder_);
  if (outcome.ok()) {
    view_.lblInfo = "Service installed successfully.";
    view_.cmdInstall = kUninstallCaption;
    view_.cmdStart = kStartCaption;
  } else {
    view_.lblInfo = outcome.error != 0 ? ErrorText(outcome.error, "install") : outcome.problem;
  }
  view_.cmdInstall_enabled = true;
  view_.cmdStart_enabled = true;
  WaitWithEvents(ServiceControl::kStepMs);
  view_.pgbInfo = 6;
}

void ServicePage::Stop() {
  view_.lblInfo = "Attempting to stop the service...";
  const int result = control_.RequestServiceStop();
  WaitWithEvents(ServiceControl::kStepMs);
  view_.pgbInfo = 6;
  if (result == 0) {
    view_.lblInfo = "The service is stopped.";
    view_.cmdInstall = kUninstallCaption;
    view_.cmdStart = kStartCaption;
  } else {
    view_.lblInfo = ErrorText(result, "stop");
    view_.cmdStart = kStopCaption;
  }
  view_.cmdInstall_enabled = true;
  view_.cmdStart_enabled = true;
}

void ServicePage::Start() {
  view_.lblInfo = "Attempting to start the service...";
  int result = control_.RequestServiceStart();
  // The manager's words go with its own refusal, not with the program's end seen afterwards.
  const Status refused = result != 0 ? control_.last_failure() : Status::Ok();
  if (result == 0) result = AwaitStart();
  WaitWithEvents(ServiceControl::kStepMs);
  view_.pgbInfo = 6;
  view_.cmdInstall = kUninstallCaption;
  if (result == 0) {
    view_.lblInfo = "Service started successfully.";
    view_.cmdInstall_enabled = false;
    view_.cmdStart = kStopCaption;
  } else {
    // The service's own words on why it could not start are its status text on page 1.
    view_.lblInfo = ErrorText(result, "start", refused);
    view_.cmdInstall_enabled = true;
    view_.cmdStart = kStartCaption;
  }
  view_.cmdStart_enabled = true;
}

int ServicePage::AwaitStart() {
  // The manager takes the request before the program has handled it; a program that cannot
  // start (a setting it cannot use) ends a moment later. Stop pending here is such an end on
  // its way.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartWaitMs);
  int state = control_.QueryState();
  for (int waits = 0; (state == svc::kServiceStartPending || state == svc::kServiceStopPending) &&
                      waits < kStartWaitMs / ServiceControl::kStepMs &&
                      std::chrono::steady_clock::now() < deadline;
       ++waits) {
    WaitWithEvents(ServiceControl::kStepMs);
    state = control_.QueryState();
  }
  const bool ended = state == svc::kServiceStopped || state == svc::kServiceStopPending;
  return ended ? svc::kErrorProcessAborted.number : 0;
}

}  // namespace tervane::config
