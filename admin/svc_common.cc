#include "admin/svc_common.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/file.h"

namespace tervane::svc {

int Fail(const Status& status) {
  std::fprintf(stderr, "error %d: %s\n", status.code(), status.description().c_str());
  return 1;
}

Result<std::string> ProgramFolderFor(const std::string& given) {
  if (given.empty()) {
    // Not ProgramFolder(), which falls back to the current directory: a unit or counters of
    // the wrong folder are worse than a failure.
    Result<std::string> self = ExecutablePath();
    if (!self.ok()) return self.status();
    return self->substr(0, std::max<size_t>(self->rfind('/'), 1));
  }
  std::error_code ec;
  std::string dir = std::filesystem::absolute(given, ec).lexically_normal().string();
  if (ec) return Status::Error(ErrnoCode(ec.value()), given + ": " + ec.message());
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace tervane::svc
