#include "platform/run_state_report.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/builtin_services.h"
#include "platform/file.h"
#include "platform/service_manager.h"
#include "platform/service_record.h"
#include "platform/sys_error.h"

namespace tervane::svc {
namespace {

class NoReporter : public RunStateReporter {
 public:
  Status Report(int, const std::string&) override { return Status::Ok(); }
};

class BuiltinReporter : public RunStateReporter {
 public:
  BuiltinReporter(std::string dir, std::string name)
      : dir_(std::move(dir)), name_(std::move(name)) {}
  // The record holds the state only; the window reads the service's words from the database.
  Status Report(int state, const std::string&) override {
    return ReportBuiltinState(dir_, name_, state, getpid());
  }

 private:
  std::string dir_;
  std::string name_;
};

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::unique_ptr<RunStateReporter> ReporterFromEnvironment() {
  const std::string name = Variable(kServiceNameVariable);
  const std::string dir = Variable(kServiceDirVariable);
  if (!name.empty() && !dir.empty()) return std::make_unique<BuiltinReporter>(dir, name);
  const std::string socket = Variable("NOTIFY_SOCKET");
  if (!socket.empty()) return std::make_unique<SystemdNotifier>(socket);
  return std::make_unique<NoReporter>();
}

std::string NotifyMessage(int state, const std::string& text) {
  switch (state) {
    case kServiceStartPending:
      return "STATUS=Starting";
    case kServiceRunning: {
      // One line: the next would be read as another assignment.
      std::string status = text.empty() ? std::string("Running") : text;
      std::replace(status.begin(), status.end(), '\n', ' ');
      return "READY=1\nSTATUS=" + status;
    }
    case kServiceStopPending:
      return "STOPPING=1\nSTATUS=Stopping";
    default:
      return "";
  }
}

Status SystemdNotifier::Report(int state, const std::string& text) {
  const std::string message = NotifyMessage(state, text);
  if (message.empty()) return Status::Ok();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path_.empty() || path_.size() >= sizeof addr.sun_path ||
      (path_[0] != '/' && path_[0] != '@')) {
    return Status::Error(ErrnoCode(EINVAL), "NOTIFY_SOCKET is not a socket path: " + path_);
  }
  std::memcpy(addr.sun_path, path_.data(), path_.size());
  if (path_[0] == '@') addr.sun_path[0] = '\0';  // abstract namespace
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_.size());
  const UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return SysError(errno, "socket");
  const ssize_t sent = sendto(fd.get(), message.data(), message.size(), MSG_NOSIGNAL,
                              reinterpret_cast<sockaddr*>(&addr), len);
  if (sent != static_cast<ssize_t>(message.size())) return SysError(errno, "notify " + path_);
  return Status::Ok();
}

}  // namespace tervane::svc
