#include "service/host/service_host.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/sys_error.h"

namespace tervane::host {

ServiceHost::ServiceHost(snmp::EventLoop& loop, EventLog& log) : loop_(loop), log_(log) {}

ServiceHost::~ServiceHost() {
  if (signal_fd_ >= 0) {
    loop_.Unwatch(signal_fd_);
    close(signal_fd_);
  }
}

Result<int> ServiceHost::Run() {
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGHUP);
  sigaddset(&mask, SIGUSR1);
  sigaddset(&mask, SIGUSR2);
  if (sigprocmask(SIG_BLOCK, &mask, nullptr) != 0) return SysError(errno, "sigprocmask");
  signal_fd_ = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
  if (signal_fd_ < 0) return SysError(errno, "signalfd");
  loop_.Watch(signal_fd_, [this] { OnSignal(); });

  Report(RunState::kStartPending);
  Raise(kRequestStart);
  while (!stopped_) loop_.RunOnce(-1);
  Report(RunState::kStopped);
  return exit_status_;
}

void ServiceHost::EndProcess(int exit_status) {
  exit_status_ = exit_status;
  stopped_ = true;
  pending_.clear();
}

void ServiceHost::OnSignal() {
  signalfd_siginfo info;
  while (read(signal_fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    switch (info.ssi_signo) {
      case SIGTERM:
      case SIGINT:
      case SIGHUP:
        Raise(kRequestStop);
        break;
      case SIGUSR1:
        Raise(kRequestPause);
        break;
      case SIGUSR2:
        Raise(kRequestResume);
        break;
      default:
        break;
    }
  }
}

void ServiceHost::Raise(int request) {
  if (stopped_) return;
  pending_.push_back(request);
  if (in_handler_) return;  // handled when the running handler returns
  while (!pending_.empty() && !stopped_) {
    requested_ = pending_.front();
    pending_.pop_front();
    if (requested_ == kRequestStop) Report(RunState::kStopPending);
    in_handler_ = true;
    if (on_state_) on_state_();
    in_handler_ = false;
    if (stopped_) break;  // the handler ended the process
    if (requested_ == kRequestStart) Report(RunState::kRunning);
    if (requested_ == kRequestStop) stopped_ = true;
  }
}

void ServiceHost::SetStatusText(std::string text) {
  if (text == status_text_) return;
  status_text_ = std::move(text);
  if (reported_ == RunState::kRunning) Report(RunState::kRunning);
}

void ServiceHost::Report(RunState state) {
  reported_ = state;
  if (on_run_state_) on_run_state_(state, status_text_);
}

}  // namespace tervane::host
