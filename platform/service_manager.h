// The service manager: installs, starts, stops, queries and removes a background service by
// name. TervixSrv uses it to register and remove itself, the window and tervane-svc to
// control the registered service.
//
// The calls keep the shape of the Windows service control manager (open the manager, open a
// service by name with an access right, query its configuration and status, start, stop,
// delete, close), and failures carry the Windows error numbers and texts (5, 1056, 1058, 1060,
// 1062, 1072, 1073), so that every caller reports the same numbers on every system. Failures that
// have no such number carry the errno value and its text.
//
// Two back ends do the work: systemd when it is the running init, and a built-in registry
// folder everywhere else (containers, CI, development machines). Setting TERVANE_SERVICE_DIR
// always selects the built-in back end with its registry in that folder, so tests and trials
// never touch the system's services.
#ifndef TERVANE_PLATFORM_SERVICE_MANAGER_H_
#define TERVANE_PLATFORM_SERVICE_MANAGER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace tervane::svc {

// Access rights, with the values of the Windows API.
inline constexpr uint32_t kScManagerConnect = 0x0001;
inline constexpr uint32_t kScManagerCreateService = 0x0002;
inline constexpr uint32_t kScManagerAllAccess = 0xF003F;
inline constexpr uint32_t kServiceQueryConfig = 0x0001;
inline constexpr uint32_t kServiceQueryStatus = 0x0004;
inline constexpr uint32_t kServiceStart = 0x0010;
inline constexpr uint32_t kServiceStop = 0x0020;
inline constexpr uint32_t kServiceDelete = 0x10000;
inline constexpr uint32_t kServiceAllAccess = 0xF01FF;

// Current states of a service.
inline constexpr int kServiceStopped = 1;
inline constexpr int kServiceStartPending = 2;
inline constexpr int kServiceStopPending = 3;
inline constexpr int kServiceRunning = 4;
inline constexpr int kServiceContinuePending = 5;
inline constexpr int kServicePausePending = 6;
inline constexpr int kServicePaused = 7;

// Start types.
inline constexpr int kStartAuto = 2;    // started with the system
inline constexpr int kStartDemand = 3;  // started on request only
inline constexpr int kStartDisabled = 4;

// Error numbers.
inline constexpr ErrorCode kErrorAccessDenied = WindowsCode(5);
inline constexpr ErrorCode kErrorInvalidHandle = WindowsCode(6);
inline constexpr ErrorCode kErrorInvalidName = WindowsCode(123);
inline constexpr ErrorCode kErrorServiceAlreadyRunning = WindowsCode(1056);
inline constexpr ErrorCode kErrorServiceDisabled = WindowsCode(1058);
inline constexpr ErrorCode kErrorServiceDoesNotExist = WindowsCode(1060);
inline constexpr ErrorCode kErrorServiceNotActive = WindowsCode(1062);
// A service whose program ended while it was being started.
inline constexpr ErrorCode kErrorProcessAborted = WindowsCode(1067);
inline constexpr ErrorCode kErrorServiceMarkedForDelete = WindowsCode(1072);
inline constexpr ErrorCode kErrorServiceExists = WindowsCode(1073);

// The name the service is registered under.
inline constexpr char kServiceName[] = "Tervane";

// The Windows text of one of the error codes above; null for any other code.
const char* ServiceErrorText(ErrorCode code);
// Status with `code` and its Windows text; `code` must be one of the codes above.
Status ServiceError(ErrorCode code);
// Status for errno value `err`: 5 "Access is denied." for EACCES and EPERM, else the errno
// value with "<what>: <strerror text>".
Status ServiceErrno(int err, const std::string& what);
// `status`, or 5 "Access is denied." in place of an EACCES or EPERM failure.
Status AsServiceError(const Status& status);

// The name of a state as sc and tervane-svc print it ("RUNNING"); "UNKNOWN" for others.
const char* StateName(int state);

// True for names that both back ends accept: 1 to 200 characters of letters, digits and
// "-_.:@", not starting with "." (a name becomes a file name in either back end).
bool IsValidServiceName(const std::string& name);

struct ServiceConfig {
  std::string binary_path;        // the program, started without arguments
  std::string working_directory;  // its current directory: the program folder
  std::string display_name;
  int start_type = kStartDemand;
};

// What a back end does; the handles below add the access checks. Every operation names the
// service it acts on, and fails with 1060 when it is not installed.
class ServiceBackEnd {
 public:
  virtual ~ServiceBackEnd() = default;
  // "systemd" or "built-in", for messages.
  virtual const char* Kind() const = 0;
  // Ok when the service is installed (also when it is marked for delete).
  virtual Status Exists(const std::string& name) = 0;
  // Registers `program` (an absolute path), to be started without arguments in its own
  // folder. 1073 when the name is taken, 1072 when it is marked for delete. Leaves nothing
  // registered on failure.
  virtual Status Install(const std::string& name, const std::string& program,
                         const std::string& display_name) = 0;
  virtual Result<ServiceConfig> QueryConfig(const std::string& name) = 0;
  // The current state, 1 to 7.
  virtual Result<int> QueryState(const std::string& name) = 0;
  // Starts the program; 1056 unless it is stopped, 1072 when marked for delete.
  virtual Status Start(const std::string& name) = 0;
  // Asks the program to stop (SIGTERM) and returns without waiting; 1062 when stopped.
  virtual Status Stop(const std::string& name) = 0;
  // Removes the registration at once when the service is stopped, else marks it and it goes
  // once it has stopped. 1072 when already marked.
  virtual Status Delete(const std::string& name) = 0;
};

// The back end for this machine: built-in when TERVANE_SERVICE_DIR is set or systemd is not
// the running init (no /run/systemd/system), else systemd.
std::shared_ptr<ServiceBackEnd> SystemBackEnd();

// An open service. A default-constructed or closed handle fails every call with 6.
class ServiceHandle {
 public:
  ServiceHandle() = default;
  ServiceHandle(std::shared_ptr<ServiceBackEnd> back_end, std::string name, uint32_t access)
      : back_end_(std::move(back_end)), name_(std::move(name)), access_(access) {}

  // Each needs its access right (kServiceQueryConfig, kServiceQueryStatus, kServiceStart,
  // kServiceStop, kServiceDelete) and fails with 5 without it.
  Result<ServiceConfig> QueryConfig() const;
  // The current state, 1 to 7.
  Result<int> QueryStatus() const;
  Status Start() const;
  // The stop control: SIGTERM to the service, without waiting for it to end.
  Status Stop() const;
  Status Delete() const;
  void Close() { back_end_.reset(); }

  bool is_open() const { return back_end_ != nullptr; }
  const std::string& name() const { return name_; }

 private:
  Status Check(uint32_t right) const;

  std::shared_ptr<ServiceBackEnd> back_end_;
  std::string name_;
  uint32_t access_ = 0;
};

// The open service manager. A default-constructed or closed manager fails every call with 6.
class ServiceManager {
 public:
  ServiceManager() = default;
  ServiceManager(std::shared_ptr<ServiceBackEnd> back_end, uint32_t access)
      : back_end_(std::move(back_end)), access_(access) {}

  // Opens the manager of this machine (SystemBackEnd) with `access`.
  static Result<ServiceManager> Open(uint32_t access = kScManagerConnect);

  // Opens the installed service `name`: 123 for a name no back end accepts, 1060 when it is
  // not installed.
  Result<ServiceHandle> OpenService(const std::string& name, uint32_t access) const;
  // Registers `program` under `name` (needs kScManagerCreateService).
  Status Install(const std::string& name, const std::string& program,
                 const std::string& display_name) const;
  // Deletes the service `name` as ServiceHandle::Delete does.
  Status Uninstall(const std::string& name) const;
  void Close() { back_end_.reset(); }

  bool is_open() const { return back_end_ != nullptr; }
  const char* Kind() const { return back_end_ ? back_end_->Kind() : "closed"; }

 private:
  std::shared_ptr<ServiceBackEnd> back_end_;
  uint32_t access_ = 0;
};

}  // namespace tervane::svc

#endif  // TERVANE_PLATFORM_SERVICE_MANAGER_H_
