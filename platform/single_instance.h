// One running copy per program folder: TervixSrv takes an exclusive lock on the file
// ".TervixSrv.lock" in its program folder and holds it for the life of the process, so a
// second copy of the same folder (whatever its arguments) sees the lock taken and refuses.
// Copies in other folders do not meet: each folder is an installation of its own.
//
// The lock is flock() on an open file: the kernel drops it when the process ends however it
// ends (SIGKILL included), so a stale lock file never blocks a later start. The descriptor is
// close-on-exec, so programs the process starts do not inherit the lock.
//
// A read-only program folder (an installation owned by root, run by a user) still works when
// the lock file exists: flock needs only a descriptor open for reading, and the install step
// creates the file. Without write access and without the file, the check fails.
#ifndef TERVANE_PLATFORM_SINGLE_INSTANCE_H_
#define TERVANE_PLATFORM_SINGLE_INSTANCE_H_

#include <string>

#include "platform/file.h"
#include "platform/status.h"

namespace tervane {

inline constexpr char kInstanceLockFile[] = ".TervixSrv.lock";

class InstanceLock {
 public:
  enum class Outcome { kAcquired, kHeldByAnother };

  InstanceLock() = default;

  // Takes the lock of `folder` without waiting: kAcquired (held until Release or the end of
  // the object), or kHeldByAnother when another open of the lock file holds it (another
  // process, or another InstanceLock of this one). Fails with errno when the lock file can
  // be neither opened nor created; nothing is held then.
  Result<Outcome> Acquire(const std::string& folder);
  void Release();
  bool held() const { return fd_.valid(); }

 private:
  UniqueFd fd_;
};

}  // namespace tervane

#endif  // TERVANE_PLATFORM_SINGLE_INSTANCE_H_
