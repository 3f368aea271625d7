#include "service/relay/debug_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/sys_error.h"

namespace tervane::relay {

Status AppendRecord(const std::string& path, const std::string& record) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return SysError(errno, path);
  size_t done = 0;
  while (done < record.size()) {
    ssize_t n = write(fd, record.data() + done, record.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Status s = SysError(errno, path);
      close(fd);
      return s;
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) return SysError(errno, path);
  return Status::Ok();
}

Status DeleteIfExists(const std::string& path) {
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return Status::Ok();
  return SysError(errno, path);
}

}  // namespace tervane::relay
