#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/sys_error.h"

namespace tervane {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

Status UniqueFd::Close(const std::string& what) {
  if (fd_ < 0) return Status::Ok();
  // The descriptor is gone after close whatever it returns; EINTR must not be retried.
  const int rc = close(Release());
  if (rc != 0 && errno != EINTR) return SysError(errno, what);
  return Status::Ok();
}

Result<UniqueFd> OpenFile(const std::string& path, int flags, int mode) {
  int fd;
  do {
    fd = open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return SysError(errno, path);
  return UniqueFd(fd);
}

Status WriteAll(int fd, std::string_view data, const std::string& what) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return SysError(errno, what);
    if (n == 0) return SysError(EIO, what);
    data.remove_prefix(static_cast<size_t>(n));
  }
  return Status::Ok();
}

Result<std::string> ReadFile(const std::string& path) {
  Result<UniqueFd> fd = OpenFile(path, O_RDONLY);
  if (!fd.ok()) return fd.status();
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd->get(), buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      return text;
    } else if (errno != EINTR) {
      return SysError(errno, path);
    }
  }
}

Status AppendToFile(const std::string& path, std::string_view data) {
  // O_CREAT only for a missing file: in a sticky, group-writable folder the kernel refuses
  // O_CREAT on another user's existing file (fs.protected_regular = 2) even where its mode
  // lets us write it.
  Result<UniqueFd> fd = OpenFile(path, O_WRONLY | O_APPEND);
  if (!fd.ok() && fd.status().error() == ErrnoCode(ENOENT)) {
    fd = OpenFile(path, O_WRONLY | O_APPEND | O_CREAT);
  }
  if (!fd.ok()) return fd.status();
  if (Status s = WriteAll(fd->get(), data, path); !s.ok()) return s;
  return fd->Close(path);
}

namespace {

// Writes `data` over the existing regular file `path`, keeping its owner and mode; `refused`
// when there is no such file we may write.
Status RewriteInPlace(const std::string& path, std::string_view data, const Status& refused) {
  Result<UniqueFd> fd = OpenFile(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (!fd.ok()) return refused;
  struct stat st {};
  if (fstat(fd->get(), &st) != 0 || !S_ISREG(st.st_mode)) return refused;
  if (ftruncate(fd->get(), 0) != 0) return SysError(errno, path);
  if (Status s = WriteAll(fd->get(), data, path); !s.ok()) return s;
  return fd->Close(path);
}

}  // namespace

Status ReplaceFile(const std::string& path, std::string_view data, int mode) {
  const std::string temp = path + ".tmp" + std::to_string(getpid());
  Status s;
  {
    Result<UniqueFd> fd = OpenFile(temp, O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (!fd.ok()) return fd.status();
    // The umask may have taken bits of `mode` away; the file is to have exactly `mode`.
    if (fchmod(fd->get(), static_cast<mode_t>(mode)) != 0) s = SysError(errno, temp);
    if (s.ok()) s = WriteAll(fd->get(), data, temp);
    if (s.ok()) s = fd->Close(temp);
  }
  if (s.ok() && rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    s = SysError(err, path);
    // A sticky folder lets only a file's owner replace it; a file that we may write is then
    // written in place.
    if (err == EPERM || err == EACCES) s = RewriteInPlace(path, data, s);
  }
  unlink(temp.c_str());
  return s;
}

Status DeleteFileIfExists(const std::string& path) {
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return Status::Ok();
  return SysError(errno, path);
}

Status MakeFolders(const std::string& path, int mode) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0)
    return S_ISDIR(st.st_mode) ? Status::Ok() : SysError(ENOTDIR, path);
  if (errno != ENOENT) return SysError(errno, path);
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    if (Status s = MakeFolders(path.substr(0, slash), mode); !s.ok()) return s;
  }
  if (mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0) {
    if (errno == EEXIST) return Status::Ok();  // made meanwhile by someone else
    return SysError(errno, path);
  }
  // The umask may have taken bits of `mode` away.
  if (chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) return SysError(errno, path);
  return Status::Ok();
}

Result<UniqueFd> LockFile(const std::string& path, bool wait) {
  Result<UniqueFd> fd = OpenFile(path, O_RDWR | O_CREAT);
  if (!fd.ok() &&
      (fd.status().error() == ErrnoCode(EACCES) || fd.status().error() == ErrnoCode(EROFS) ||
       fd.status().error() == ErrnoCode(EPERM))) {
    fd = OpenFile(path, O_RDONLY);  // flock needs no more than a descriptor open for reading
  }
  if (!fd.ok()) return fd.status();
  while (flock(fd->get(), LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK && !wait) return UniqueFd();
    return SysError(errno, path);
  }
  return std::move(*fd);
}

Result<std::string> ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n < 0) return SysError(errno, "/proc/self/exe");
  if (n == 0) return SysError(ENOENT, "/proc/self/exe");
  return std::string(buf, static_cast<size_t>(n));
}

void KeepGroupWritable() {
  const mode_t mask = umask(0);
  umask(mask & ~static_cast<mode_t>(S_IRGRP | S_IWGRP));
}

}  // namespace tervane
