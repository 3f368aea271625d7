#include "platform/single_instance.h"

#include "platform/program_folder.h"

namespace tervane {

Result<InstanceLock::Outcome> InstanceLock::Acquire(const std::string& folder) {
  Release();
  Result<UniqueFd> fd = LockFile(JoinPath(folder, kInstanceLockFile), false);
  if (!fd.ok()) return fd.status();
  if (!fd->valid()) return Outcome::kHeldByAnother;
  fd_ = std::move(*fd);
  return Outcome::kAcquired;
}

void InstanceLock::Release() { fd_.Reset(); }  // the lock goes with the last descriptor

}  // namespace tervane
