// What tervane-svc's commands share: how a failure is printed, and which program folder a
// command acts on.
#ifndef TERVANE_ADMIN_SVC_COMMON_H_
#define TERVANE_ADMIN_SVC_COMMON_H_

#include <string>

#include "platform/status.h"

namespace tervane::svc {

// Prints "error <number>: <text>" on standard error and returns the exit status 1.
int Fail(const Status& status);

// The program folder that a command acts on: `given` (--folder) made absolute with the
// current directory and without a trailing "/", or, when `given` is empty, the folder of this
// program. Fails when this program's path cannot be read, or `given` cannot be made absolute.
Result<std::string> ProgramFolderFor(const std::string& given);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_SVC_COMMON_H_
