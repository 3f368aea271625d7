#include "platform/service_manager.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/builtin_services.h"
#include "platform/service_record.h"
#include "platform/sys_error.h"
#include "platform/systemd_services.h"

namespace tervane::svc {

const char* ServiceErrorText(ErrorCode code) {
  if (code.domain != ErrorDomain::kWindows) return nullptr;
  switch (code.number) {
    case kErrorAccessDenied.number:
      return "Access is denied.";
    case kErrorInvalidHandle.number:
      return "The handle is invalid.";
    case kErrorInvalidName.number:
      return "The filename, directory name, or volume label syntax is incorrect.";
    case kErrorServiceAlreadyRunning.number:
      return "An instance of the service is already running.";
    case kErrorServiceDisabled.number:
      return "The service cannot be started, either because it is disabled or because it has "
             "no enabled devices associated with it.";
    case kErrorServiceDoesNotExist.number:
      return "The specified service does not exist as an installed service.";
    case kErrorServiceNotActive.number:
      return "The service has not been started.";
    case kErrorProcessAborted.number:
      return "The process terminated unexpectedly.";
    case kErrorServiceMarkedForDelete.number:
      return "The specified service has been marked for deletion.";
    case kErrorServiceExists.number:
      return "The specified service already exists.";
    default:
      return nullptr;
  }
}

Status ServiceError(ErrorCode code) {
  const char* text = ServiceErrorText(code);
  return Status::Error(code, text != nullptr ? text : "Unknown service manager error.");
}

Status ServiceErrno(int err, const std::string& what) {
  if (err == EACCES || err == EPERM) return ServiceError(kErrorAccessDenied);
  return SysError(err, what);
}

Status AsServiceError(const Status& status) {
  if (status.error().domain != ErrorDomain::kErrno) return status;
  const int err = status.code();
  return err == EACCES || err == EPERM ? ServiceError(kErrorAccessDenied) : status;
}

const char* StateName(int state) {
  switch (state) {
    case kServiceStopped:
      return "STOPPED";
    case kServiceStartPending:
      return "START_PENDING";
    case kServiceStopPending:
      return "STOP_PENDING";
    case kServiceRunning:
      return "RUNNING";
    case kServiceContinuePending:
      return "CONTINUE_PENDING";
    case kServicePausePending:
      return "PAUSE_PENDING";
    case kServicePaused:
      return "PAUSED";
    default:
      return "UNKNOWN";
  }
}

bool IsValidServiceName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name[0] == '.') return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.' || c == ':' || c == '@';
    if (!ok) return false;
  }
  return true;
}

std::shared_ptr<ServiceBackEnd> SystemBackEnd() {
  const char* dir = std::getenv(kServiceDirVariable);
  struct stat st {};
  // The test systemd itself uses (sd_booted): this folder exists only when it is init.
  const bool systemd = stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
  if ((dir != nullptr && *dir != '\0') || !systemd) {
    return std::make_shared<BuiltinServices>(RegistryDir());
  }
  return std::make_shared<SystemdServices>();
}

Status ServiceHandle::Check(uint32_t right) const {
  if (!back_end_) return ServiceError(kErrorInvalidHandle);
  if ((access_ & right) != right) return ServiceError(kErrorAccessDenied);
  return Status::Ok();
}

Result<ServiceConfig> ServiceHandle::QueryConfig() const {
  if (Status s = Check(kServiceQueryConfig); !s.ok()) return s;
  return back_end_->QueryConfig(name_);
}

Result<int> ServiceHandle::QueryStatus() const {
  if (Status s = Check(kServiceQueryStatus); !s.ok()) return s;
  return back_end_->QueryState(name_);
}

Status ServiceHandle::Start() const {
  if (Status s = Check(kServiceStart); !s.ok()) return s;
  return back_end_->Start(name_);
}

Status ServiceHandle::Stop() const {
  if (Status s = Check(kServiceStop); !s.ok()) return s;
  return back_end_->Stop(name_);
}

Status ServiceHandle::Delete() const {
  if (Status s = Check(kServiceDelete); !s.ok()) return s;
  return back_end_->Delete(name_);
}

Result<ServiceManager> ServiceManager::Open(uint32_t access) {
  return ServiceManager(SystemBackEnd(), access);
}

Result<ServiceHandle> ServiceManager::OpenService(const std::string& name, uint32_t access) const {
  if (!back_end_) return ServiceError(kErrorInvalidHandle);
  if (!IsValidServiceName(name)) return ServiceError(kErrorInvalidName);
  if (Status s = back_end_->Exists(name); !s.ok()) return s;
  return ServiceHandle(back_end_, name, access);
}

Status ServiceManager::Install(const std::string& name, const std::string& program,
                               const std::string& display_name) const {
  if (!back_end_) return ServiceError(kErrorInvalidHandle);
  if ((access_ & kScManagerCreateService) != kScManagerCreateService) {
    return ServiceError(kErrorAccessDenied);
  }
  return back_end_->Install(name, program, display_name);
}

Status ServiceManager::Uninstall(const std::string& name) const {
  Result<ServiceHandle> service = OpenService(name, kServiceDelete);
  if (!service.ok()) return service.status();
  return service->Delete();
}

}  // namespace tervane::svc
