// How a running service tells its service manager how far it is: start pending, running,
// stop pending, stopped (the states of service_manager.h).
//
// The manager that started the process decides how: the built-in manager passes
// TERVANE_SERVICE_NAME and TERVANE_SERVICE_DIR, and the report goes into the service's
// record; systemd passes NOTIFY_SOCKET, and the report is a notification datagram
// ("READY=1" once running, "STOPPING=1" on the stop request) whose status line is what
// `systemctl status` shows ("Listening on 0.0.0.0:162", or why it does not listen). A copy
// started by hand has neither, and reports to nobody.
#ifndef TERVANE_PLATFORM_RUN_STATE_REPORT_H_
#define TERVANE_PLATFORM_RUN_STATE_REPORT_H_

#include <memory>
#include <string>

#include "platform/status.h"

namespace tervane::svc {

class RunStateReporter {
 public:
  virtual ~RunStateReporter() = default;
  // Reports `state` (1 to 7) with the service's own words on it (`text`, possibly empty), for
  // managers that show them. A failed report changes nothing but what the manager shows.
  virtual Status Report(int state, const std::string& text) = 0;
};

// The reporter for the way this process was started; one that reports to nobody when no
// manager started it.
std::unique_ptr<RunStateReporter> ReporterFromEnvironment();

// The systemd notification for `state`; empty when systemd needs none for it. Running carries
// `text` as its status ("Running" when it is empty); the other states have their own.
std::string NotifyMessage(int state, const std::string& text);

// Sends NotifyMessage datagrams to the socket `path` ("@name" for an abstract socket), as
// sd_notify does.
class SystemdNotifier : public RunStateReporter {
 public:
  explicit SystemdNotifier(std::string path) : path_(std::move(path)) {}
  Status Report(int state, const std::string& text) override;

 private:
  std::string path_;
};

}  // namespace tervane::svc

#endif  // TERVANE_PLATFORM_RUN_STATE_REPORT_H_
