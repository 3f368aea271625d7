#include "platform/sys_error.h"

#include <cstring>

namespace tervane {

Status SysError(int err, const std::string& what) {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
  const char* text = strerror_r(err, buf, sizeof buf);
  std::string description = what.empty() ? std::string(text) : what + ": " + text;
  return Status::Error(ErrnoCode(err), std::move(description));
}

}  // namespace tervane
