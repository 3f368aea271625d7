// Files as both programs use them: an owned descriptor, whole reads and writes that survive
// signals, appending a record, replacing a file at once, lock files, and the path of the
// running executable. Every failure is an errno Status that names the file.
//
// Files that the programs create are made with mode 0666 less the umask, and the programs
// keep group read and write out of their umask (KeepGroupWritable): the service and the
// administrators who use the window share the program folder through its group, so a file
// made by one must stay writable for the other.
#ifndef TERVANE_PLATFORM_FILE_H_
#define TERVANE_PLATFORM_FILE_H_

#include <string>
#include <string_view>

#include "platform/status.h"

namespace tervane {

// A file descriptor that closes itself.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives up ownership without closing.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held (ignoring close's outcome) and takes `fd`.
  void Reset(int fd = -1);
  // Closes the descriptor and reports close's outcome, which for a written file is the last
  // word on whether the data reached it.
  Status Close(const std::string& what);

 private:
  int fd_ = -1;
};

// Opens `path` close-on-exec; `mode` applies when O_CREAT creates it.
Result<UniqueFd> OpenFile(const std::string& path, int flags, int mode = 0666);

// Writes all of `data` to `fd`, going on after signals and short writes. A write that makes
// no progress fails with EIO. `what` names the file in the failure.
Status WriteAll(int fd, std::string_view data, const std::string& what);

// The whole content of `path`.
Result<std::string> ReadFile(const std::string& path);

// Appends `data` to `path` (created when missing) in one open, write and close. On failure the
// file may hold part of the data. An existing file is opened without O_CREAT, so that a
// sticky folder's protection of other users' files does not refuse a file we may write.
Status AppendToFile(const std::string& path, std::string_view data);

// Replaces `path` with a file holding `data` and permissions `mode`: written beside it under a
// temporary name and renamed over it, so that readers see the old file or the new one, never
// a part. On failure `path` is unchanged and the temporary file is gone. Where the folder is
// sticky and `path` another user's file that we may write, the rename is refused, and `path`
// is written in place instead (keeping its owner and mode; a reader may then see a part).
Status ReplaceFile(const std::string& path, std::string_view data, int mode);

// Deletes `path`; a missing file is no failure.
Status DeleteFileIfExists(const std::string& path);

// Makes the folder `path` and those of its parents that are missing, each with exactly `mode`
// whatever the umask; folders already there are left as they are. On failure the folders
// made before it stay.
Status MakeFolders(const std::string& path, int mode);

// Takes an exclusive lock (flock) on the lock file `path`, creating it when missing. A reader
// without write access to its folder can still lock an existing lock file. With `wait` false
// and the lock held by another open of the file, the result is an empty descriptor. The lock
// lasts as long as the descriptor: the kernel drops it when the process ends, however it ends.
Result<UniqueFd> LockFile(const std::string& path, bool wait);

// The absolute path of the running executable.
Result<std::string> ExecutablePath();

// Takes group read and write out of the process's umask, keeping the rest of it.
void KeepGroupWritable();

}  // namespace tervane

#endif  // TERVANE_PLATFORM_FILE_H_
