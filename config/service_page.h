// The rules of the "Service Control" page, without the widgets: what its two buttons, its
// label lblInfo, its progress bar pgbInfo and the page control tab1 show, and what the
// buttons do. The page is rebuilt from the service manager each time it is selected
// (RefreshServiceStatus) and afterwards changed only by the clicks.
//
// The buttons' captions carry the page's state: a click acts by the caption of its button
// ("Install Service" / "Uninstall Service", "Start Service" / "Stop Service"). From the first
// step of an action to its last, both buttons and tab1 are disabled and a second click is
// ignored, while WaitWithEvents keeps the window painted and answering.
//
// Every outcome is shown as it really is: an install is reported once TervixSrv has ended and
// the service is there; a start is reported once the service has left start pending (at most
// a few seconds), and a service that ended meanwhile reads as a failed start (1067); only
// "does not exist" (1060) reads as not installed, and any other failure to read the service
// shows its number with both buttons disabled. A failed uninstall or start whose number is
// not a Windows one (an errno value, systemctl's exit status) is followed by the manager's
// words, which that number alone does not tell.
#ifndef TERVANE_CONFIG_SERVICE_PAGE_H_
#define TERVANE_CONFIG_SERVICE_PAGE_H_

#include <functional>
#include <string>

#include "config/service_control.h"

namespace tervane::config {

// The page as the window shows it. The initial values are the page's design: the captions
// before the first refresh.
struct ServicePageView {
  std::string lblInfo = "Info";
  int pgbInfo = 0;
  std::string cmdInstall = "&Install Service";
  bool cmdInstall_enabled = true;
  std::string cmdStart = "Start Service";
  bool cmdStart_enabled = true;
  bool tab1_enabled = true;
};

class ServicePage : private ServiceSteps {
 public:
  // How long a started service may stay start pending before the start is reported.
  static constexpr int kStartWaitMs = 5000;

  // The page for the program folder `folder` (where TervixSrv is) on the manager `open` opens.
  explicit ServicePage(std::string folder, OpenManager open = svc::ServiceManager::Open);
  // The operations hold on to the page.
  ServicePage(const ServicePage&) = delete;
  ServicePage& operator=(const ServicePage&) = delete;

  // The window's WaitWithEvents: shows view() as it is, then waits in 20 ms steps handling
  // the window's events after each. Without one (no window), the page just sleeps.
  void SetWaitWithEvents(std::function<void(int ms)> wait) { wait_ = std::move(wait); }

  const ServicePageView& view() const { return view_; }
  // True from the first step of an action or a refresh to its last.
  bool busy() const { return busy_; }

  // The page was selected: pgbInfo 0, then RefreshServiceStatus.
  void PageSelected();
  // Reads the service's configuration and state and sets the page by them.
  void RefreshServiceStatus();
  // Install or uninstall by the button's caption; nothing while busy or disabled.
  void cmdInstall_Click();
  // Start or stop by the button's caption; nothing while busy or disabled.
  void cmdStart_Click();

  ServiceControl& control() { return control_; }

 private:
  void WaitWithEvents(int ms) override;
  void SetProgress(int value) override { view_.pgbInfo = value; }
  // Disables both buttons and tab1, waits, pgbInfo 0.
  void BeginAction();
  void EndAction();
  void Install();
  void Uninstall();
  void Start();
  void Stop();
  // After a start request was taken: the start's own result, once the service has left
  // start pending or kStartWaitMs have passed: 0, or 1067 when it has ended.
  int AwaitStart();

  std::string folder_;
  ServiceControl control_;
  std::function<void(int)> wait_;
  ServicePageView view_;
  bool busy_ = false;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_SERVICE_PAGE_H_
