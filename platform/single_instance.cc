#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/program_folder.h"
#include "platform/sys_error.h"

namespace tervane {

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Result<InstanceLock::Outcome> InstanceLock::Acquire(const std::string& folder) {
  Release();
  const std::string path = JoinPath(folder, kInstanceLockFile);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) return SysError(errno, path);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) return Outcome::kHeldByAnother;
    return SysError(err, path);
  }
  fd_ = fd;
  return Outcome::kAcquired;
}

void InstanceLock::Release() {
  if (fd_ >= 0) close(fd_);  // the lock goes with the last descriptor of this open
  fd_ = -1;
}

}  // namespace tervane
