// Turns errno values into Status, in one place, with the operating system's own text.
#ifndef TERVANE_PLATFORM_SYS_ERROR_H_
#define TERVANE_PLATFORM_SYS_ERROR_H_

#include <string>

#include "platform/status.h"

namespace tervane {

// Status for errno value `err`: code `err`, description "<what>: <strerror text>".
// When `what` is empty the description is the strerror text alone.
Status SysError(int err, const std::string& what);

}  // namespace tervane

#endif  // TERVANE_PLATFORM_SYS_ERROR_H_
