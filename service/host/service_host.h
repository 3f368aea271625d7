// The service host: runs the program as a service in the foreground and turns the
// operating system's requests into state-change events on the program's one thread.
//
// The start request is raised at once when Run begins; SIGTERM, SIGINT and SIGHUP (the
// terminal of a run in the foreground closing) raise the stop request, SIGUSR1 pause and
// SIGUSR2 resume. Signals arrive through a signalfd watched by the event loop, so handlers
// run on the loop's thread like every other event. State requests never nest: one that
// arrives while a state handler runs (for example during its waits) is handled right after
// that handler returns. After the stop request has been handled, Run returns and the
// process ends with status 0; a start handler that cannot start ends it with a status of its
// own through EndProcess, and the service is never reported running.
#ifndef TERVANE_SERVICE_HOST_SERVICE_HOST_H_
#define TERVANE_SERVICE_HOST_SERVICE_HOST_H_

#include <deque>
#include <functional>
#include <string>

#include "platform/status.h"
#include "service/host/event_log.h"
#include "service/snmp/event_loop.h"

namespace tervane::host {

inline constexpr int kRequestStop = 0;
inline constexpr int kRequestPause = 1;
inline constexpr int kRequestStart = 2;
inline constexpr int kRequestResume = 3;

// What the host tells a service manager about the service's progress.
enum class RunState { kStartPending, kRunning, kStopPending, kStopped };

class ServiceHost {
 public:
  ServiceHost(snmp::EventLoop& loop, EventLog& log);
  ~ServiceHost();
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  void SetStateHandler(std::function<void()> handler) { on_state_ = std::move(handler); }
  // Called whenever the reported run state changes, with the status text as it is then.
  void SetRunStateObserver(std::function<void(RunState, const std::string&)> observer) {
    on_run_state_ = std::move(observer);
  }
  // The service's own words on how it runs ("Listening on 0.0.0.0:162"), set by the start
  // handler and reported with the running state; empty until then. A change while the
  // service runs is reported at once, with the running state again.
  void SetStatusText(std::string text);

  // The request being handled, valid inside the state handler.
  int RequestedState() const { return requested_; }

  // Runs the service until its stop request has been handled or a handler ended it, and
  // returns the process's exit status. Fails, without running anything, when the signals
  // cannot be routed to the event loop.
  Result<int> Run();

  // Called from the state handler: ends the process with `exit_status` once the handler
  // returns, without handling further requests.
  void EndProcess(int exit_status);

  void LogEvent(int type, int number, const std::string& text = "") {
    log_.Log(type, number, text);
  }
  EventLog& event_log() { return log_; }

 private:
  void OnSignal();
  void Raise(int request);
  void Report(RunState state);

  snmp::EventLoop& loop_;
  EventLog& log_;
  std::function<void()> on_state_;
  std::function<void(RunState, const std::string&)> on_run_state_;
  std::string status_text_;
  RunState reported_ = RunState::kStopped;  // the last state reported
  int signal_fd_ = -1;
  int requested_ = -1;
  bool in_handler_ = false;
  bool stopped_ = false;
  int exit_status_ = 0;
  std::deque<int> pending_;
};

}  // namespace tervane::host

#endif  // TERVANE_SERVICE_HOST_SERVICE_HOST_H_
